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
# opens sites in the browser. The window's icon is an SVG, drawn by Qt's SVG icon engine: a
# plugin that no library links, so that dpkg-shlibdeps cannot find it. Debian 12 ships it in
# libqt6svg6, which the libraries bring already; Debian 13 in qt6-svg-plugins. The package names
# whichever package holds it on the release it is built on.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "ca-certificates, xdg-utils")
execute_process(COMMAND dpkg-query -S "*/qt6/plugins/iconengines/libqsvgicon.so"
    OUTPUT_VARIABLE KORVANE_SVG_ICON_ENGINE ERROR_QUIET)
string(REGEX REPLACE "[:,].*" "" KORVANE_SVG_ICON_ENGINE "${KORVANE_SVG_ICON_ENGINE}")
if(NOT KORVANE_SVG_ICON_ENGINE)
    message(FATAL_ERROR "No Debian package holds Qt's SVG icon engine: install qt6-svg-plugins")
endif()
if(NOT KORVANE_SVG_ICON_ENGINE STREQUAL "libqt6svg6")
    string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", ${KORVANE_SVG_ICON_ENGINE}")
endif()
# Qt's Wayland plugin lets the window run on a Wayland desktop without XWayland. DejaVu Sans
# stands in for the grid's Verdana and Liberation Sans for the dialogs' MS Sans Serif; without
# them the window only looks different, as Qt's fontconfig always brings some font (DejaVu
# first), so they are recommended rather than required.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland, fonts-dejavu-core, fonts-liberation2")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)
