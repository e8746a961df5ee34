#pragma once

// The Host's side of remote input: "mouse" and "key" messages become input
// events on this machine's display.
//
// Positions land inside the monitor being captured (not the whole X screen),
// so a click lands where the Viewer saw it. Keys arrive as Mac key codes and
// Mac modifier bits; before each key the modifiers this injector holds are
// made to match the message's flags. Modifiers pressed only to match the
// flags of a key are let go with that key's release; those the Viewer
// pressed itself stay down until it releases them or leaves.
//
// Called on the GUI thread.

#include "interfaces/SessionComponents.h"
#include "input/CoordinateTransformer.h"
#include "input/InputSink.h"
#include "input/ScrollAccumulator.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>

namespace velmarin::input {

class InputInjector final : public HostInput {
public:
    // The rectangle of the captured monitor in the X screen; nothing while
    // none is captured (positions then span the whole screen).
    using AreaProvider = std::function<std::optional<protocol::PixelRect>()>;

    explicit InputInjector(std::unique_ptr<InputSink> sink, AreaProvider capturedArea = {},
                           ScrollAccumulator::Clock scrollClock = std::chrono::steady_clock::now);

    void injectMouseEvent(const protocol::MouseEventMessage& message) override;
    void injectKeyEvent(const protocol::KeyEventMessage& message) override;
    // Lets go of every key and button this injector holds.
    void releaseAllModifiers() override;

    void setCapturedArea(AreaProvider capturedArea) { m_capturedArea = std::move(capturedArea); }

private:
    void press(int button);
    void release(int button);
    void click(int button, int count);
    void scroll(const protocol::MouseEventMessage& message);
    void pressKey(std::uint8_t keycode);
    void releaseKey(std::uint8_t keycode);
    // Presses or releases modifier keys so that the held ones match `flags`.
    void matchModifiers(std::uint64_t flags);
    void setCapsLock(bool on);

    std::unique_ptr<InputSink> m_sink;
    AreaProvider m_capturedArea;
    ScrollAccumulator m_scroll;
    std::set<int> m_pressedButtons;
    std::set<std::uint8_t> m_pressedKeys;
    // Modifiers pressed only to give a key the flags it came with.
    std::set<std::uint8_t> m_flagModifiers;
};

} // namespace velmarin::input
