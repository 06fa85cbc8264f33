# SPDX-License-Identifier: MIT
# `make package`: korvane_<version>_amd64.deb through CPack's DEB generator. Depends is the
# shared libraries dpkg-shlibdeps finds, plus what the program needs that no library names.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME korvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# The project has no host of its own: an address that can never reach a stranger's (RFC 2606).
set(CPACK_PACKAGE_CONTACT "The Korvane developers <korvane@packages.invalid>")
set(CPACK_PACKAGE_VENDOR "The Korvane developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "watch a list of web pages and see which ones changed")
set(CPACK_PACKAGE_DESCRIPTION
    "Korvane keeps a list of web page addresses in a small window. On request it\n"
    "downloads every page in turn, reduces it to its plain text and marks each site\n"
    "as changed or not since the last check. A double click opens a site in the\n"
    "web browser.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION web)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# libcurl only recommends the CA certificates, without which every https page fails; xdg-open
# opens sites in the browser.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "ca-certificates, xdg-utils")
# Qt's Wayland plugin lets the window run on a Wayland desktop without XWayland. DejaVu Sans
# stands in for the grid's Verdana and Liberation Sans for the dialogs' MS Sans Serif; without
# them the window only looks different, as Qt's fontconfig always brings some font (DejaVu
# first), so they are recommended rather than required.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland, fonts-dejavu-core, fonts-liberation2")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)
