#include "input/XTestInputSink.h"

#include <xcb/xtest.h>

#include <cstdlib>

namespace velmarin::input {

Expected<std::unique_ptr<XTestInputSink>, InputError>
XTestInputSink::open(const std::string& displayName) {
    int screenNumber = 0;
    Connection connection(
        xcb_connect(displayName.empty() ? nullptr : displayName.c_str(), &screenNumber));
    if (xcb_connection_has_error(connection.get()))
        return unexpected(InputError{InputError::Kind::displayUnavailable});

    const xcb_query_extension_reply_t* xtest =
        xcb_get_extension_data(connection.get(), &xcb_test_id);
    if (!xtest || !xtest->present)
        return unexpected(InputError{InputError::Kind::injectionUnsupported});

    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection.get()));
    for (int i = 0; i < screenNumber && screens.rem > 0; ++i)
        xcb_screen_next(&screens);
    if (screens.rem == 0)
        return unexpected(InputError{InputError::Kind::displayUnavailable});
    xcb_screen_t* screen = screens.data;
    return std::unique_ptr<XTestInputSink>(new XTestInputSink(std::move(connection), screen));
}

XTestInputSink::XTestInputSink(Connection connection, xcb_screen_t* screen)
    : m_connection(std::move(connection))
    , m_root(screen->root)
    , m_screenArea{0, 0, screen->width_in_pixels, screen->height_in_pixels} {}

protocol::PixelRect XTestInputSink::screenArea() const {
    return m_screenArea;
}

void XTestInputSink::moveTo(QPoint position) {
    // Detail 0: absolute coordinates on `m_root`.
    xcb_test_fake_input(m_connection.get(), XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, m_root,
                        static_cast<std::int16_t>(position.x()),
                        static_cast<std::int16_t>(position.y()), 0);
}

void XTestInputSink::setButton(int button, bool pressed) {
    xcb_test_fake_input(m_connection.get(), pressed ? XCB_BUTTON_PRESS : XCB_BUTTON_RELEASE,
                        static_cast<std::uint8_t>(button), XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
}

void XTestInputSink::setKey(std::uint8_t keycode, bool pressed) {
    xcb_test_fake_input(m_connection.get(), pressed ? XCB_KEY_PRESS : XCB_KEY_RELEASE, keycode,
                        XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
}

bool XTestInputSink::capsLockOn() {
    const std::unique_ptr<xcb_query_pointer_reply_t, decltype(&std::free)> reply(
        xcb_query_pointer_reply(m_connection.get(), xcb_query_pointer(m_connection.get(), m_root),
                                nullptr),
        &std::free);
    return reply && (reply->mask & XCB_MOD_MASK_LOCK) != 0;
}

void XTestInputSink::flush() {
    xcb_flush(m_connection.get());
}

XTestInputSink::~XTestInputSink() {
    sync();
}

void XTestInputSink::sync() {
    std::free(xcb_get_input_focus_reply(m_connection.get(), xcb_get_input_focus(m_connection.get()),
                                        nullptr));
}

} // namespace velmarin::input
