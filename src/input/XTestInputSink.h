#pragma once

// Injected input on an X11 display through the XTEST extension: the events
// are indistinguishable from the local mouse and keyboard for applications.

#include "common/Expected.h"
#include "input/InputError.h"
#include "input/InputSink.h"

#include <xcb/xcb.h>

#include <memory>
#include <string>

namespace velmarin::input {

class XTestInputSink final : public InputSink {
public:
    // Connects to `displayName` (empty: $DISPLAY).
    static Expected<std::unique_ptr<XTestInputSink>, InputError>
    open(const std::string& displayName = {});
    // Waits until the server has acted on what was sent: requests it has
    // not read yet are lost with the connection, and a key release lost
    // that way leaves the key held on this desktop.
    ~XTestInputSink() override;

    protocol::PixelRect screenArea() const override;
    void moveTo(QPoint position) override;
    void setButton(int button, bool pressed) override;
    void setKey(std::uint8_t keycode, bool pressed) override;
    bool capsLockOn() override;
    void flush() override;
    // Returns once the server has acted on everything sent before.
    void sync();

private:
    struct Disconnect {
        void operator()(xcb_connection_t* connection) const { xcb_disconnect(connection); }
    };
    using Connection = std::unique_ptr<xcb_connection_t, Disconnect>;

    XTestInputSink(Connection connection, xcb_screen_t* screen);

    Connection m_connection;
    xcb_window_t m_root;
    protocol::PixelRect m_screenArea;
};

} // namespace velmarin::input
