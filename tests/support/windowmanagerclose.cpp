// SPDX-License-Identifier: MIT
// A WM_PROTOCOLS client message over a connection of its own to the X server.
#include "windowmanagerclose.h"

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>

namespace {

xcb_atom_t atom(xcb_connection_t* connection, const char* name)
{
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, uint16_t(std::strlen(name)), name), nullptr);
    const xcb_atom_t value = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return value;
}

} // namespace

bool closeAsWindowManager(const QString& display, unsigned long window)
{
    xcb_connection_t* connection = xcb_connect(display.toLocal8Bit().constData(), nullptr);
    bool sent = false;
    if (!xcb_connection_has_error(connection)) {
        xcb_client_message_event_t message{};
        message.response_type = XCB_CLIENT_MESSAGE;
        message.format = 32;
        message.window = xcb_window_t(window);
        message.type = atom(connection, "WM_PROTOCOLS");
        message.data.data32[0] = atom(connection, "WM_DELETE_WINDOW");
        message.data.data32[1] = XCB_CURRENT_TIME;
        sent = message.type != XCB_ATOM_NONE && message.data.data32[0] != XCB_ATOM_NONE &&
               !xcb_request_check(connection,
                                  xcb_send_event_checked(connection, 0, xcb_window_t(window),
                                                         XCB_EVENT_MASK_NO_EVENT,
                                                         reinterpret_cast<const char*>(&message)));
    }
    xcb_disconnect(connection);
    return sent;
}
