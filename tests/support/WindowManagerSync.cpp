#include "support/WindowManagerSync.h"
#include <QElapsedTimer>
#include <QThread>
#include <cstdlib>
#include <cstring>
#include <xcb/xcb.h>

namespace corvane::testsupport {

namespace {
xcb_atom_t atom(xcb_connection_t* c, const char* name) {
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(std::strlen(name)), name), nullptr);
    const xcb_atom_t out = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return out;
}
} // namespace

bool windowManagerRoundTrip(int timeoutMs) {
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c)) {
        xcb_disconnect(c);
        return false;
    }
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    const xcb_atom_t request = atom(c, "_NET_REQUEST_FRAME_EXTENTS"), extents = atom(c, "_NET_FRAME_EXTENTS");
    // A window that is never shown, only asked about.
    const xcb_window_t window = xcb_generate_id(c);
    const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_create_window(c, XCB_COPY_FROM_PARENT, window, root, 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                      XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK, &mask);
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = window;
    message.type = request;
    xcb_send_event(c, 0, root, XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&message));
    xcb_flush(c);
    bool answered = false;
    QElapsedTimer clock;
    clock.start();
    while (!answered && clock.elapsed() < timeoutMs && !xcb_connection_has_error(c)) {
        xcb_generic_event_t* event = xcb_poll_for_event(c);
        if (!event) {
            QThread::msleep(5);
            continue;
        }
        if ((event->response_type & 0x7f) == XCB_PROPERTY_NOTIFY)
            answered = reinterpret_cast<xcb_property_notify_event_t*>(event)->atom == extents;
        std::free(event);
    }
    xcb_destroy_window(c, window);
    xcb_flush(c);
    xcb_disconnect(c);
    return answered;
}

} // namespace corvane::testsupport
