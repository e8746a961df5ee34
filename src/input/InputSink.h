#pragma once

// Where the Host's injected input goes: one operation per call, in X terms
// (pixels of the X screen, X button numbers, X keycodes). XTestInputSink is
// the X11 backend; a Wayland backend will sit behind the same interface.
//
// Called on the GUI thread.

#include "input/CoordinateTransformer.h"

#include <QPoint>

#include <cstdint>

namespace velmarin::input {

namespace XButton {
constexpr int left = 1;
constexpr int right = 3;
constexpr int wheelUp = 4;
constexpr int wheelDown = 5;
constexpr int wheelLeft = 6;
constexpr int wheelRight = 7;
} // namespace XButton

class InputSink {
public:
    virtual ~InputSink() = default;

    // The whole screen, for when no captured monitor is known.
    virtual protocol::PixelRect screenArea() const = 0;
    virtual void moveTo(QPoint position) = 0;
    virtual void setButton(int button, bool pressed) = 0;
    virtual void setKey(std::uint8_t keycode, bool pressed) = 0;
    // Whether Caps Lock is on now.
    virtual bool capsLockOn() = 0;
    // Sends what the calls above queued.
    virtual void flush() = 0;
};

} // namespace velmarin::input
