#pragma once

// The Viewer's side of remote input: mouse, wheel and key events over the
// picture of the Host's screen become "mouse" and "key" messages.
//
// Pointer motion is limited to one message per 1/60 s; presses, releases,
// drags and wheel turns are never held back. Modifier keys reported as
// pressed are remembered and reported released when the application's
// focus window changes or capture stops, so nothing stays pressed on the
// Host. A release whose press was sent is always sent, at the nearest edge
// of the picture when the pointer has left it.
//
// GUI thread only.

#include "interfaces/SessionComponents.h"
#include "input/CoordinateTransformer.h"

#include <QMetaObject>
#include <QObject>
#include <QRectF>

#include <chrono>
#include <cstdint>
#include <functional>
#include <set>
#include <string>

class QInputEvent;
class QKeyEvent;
class QMouseEvent;
class QWheelEvent;

namespace velmarin::input {

class RemoteInputCapture final : public QObject, public ViewerInput {
public:
    enum class MessageKind { mouse, key, modifierRelease };
    // Sends one encoded message; `kind` decides how a failure is logged.
    using Sender = std::function<void(std::string json, MessageKind kind)>;
    using MouseHandler = std::function<void(const QInputEvent& event, const QRectF& viewBounds)>;
    using KeyHandler = std::function<void(const QKeyEvent& event)>;
    // Installs the handlers on the display view's event source.
    using HandlerInstaller = std::function<void(MouseHandler, KeyHandler)>;
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    static constexpr std::chrono::nanoseconds kMouseMoveMinInterval{16'666'667};

    RemoteInputCapture(Sender send, std::function<QSizeF()> hostScreenSize,
                       HandlerInstaller installHandlers = {},
                       Clock clock = &std::chrono::steady_clock::now);
    ~RemoteInputCapture() override;

    void startCapturing() override;
    void stopCapturing() override;

    // Mouse presses, releases, moves and wheel turns, with the view's bounds.
    void handleMouseEvent(const QInputEvent& event, const QRectF& viewBounds);
    void handleKeyEvent(const QKeyEvent& event);
    // Reports every modifier recorded as pressed as released; Caps Lock's
    // lock state is left as it is.
    void releaseHeldModifiers();

    bool isCapturing() const { return m_capturing; }
    const std::set<std::uint16_t>& heldModifiers() const { return m_heldModifiers; }

private:
    void handlePointer(const QMouseEvent& event, const QRectF& viewBounds);
    void handleWheel(const QWheelEvent& event, const QRectF& viewBounds);
    // The number of this press in a run of quick presses of one button.
    int countClick(int button, QPointF position);
    std::uint64_t heldFlags() const;
    CoordinateTransformer transformer() const;

    Sender m_send;
    std::function<QSizeF()> m_hostScreenSize;
    HandlerInstaller m_installHandlers;
    Clock m_clock;

    bool m_capturing = false;
    std::chrono::steady_clock::time_point m_lastMouseMoveTime{};
    bool m_movedBefore = false;
    std::set<std::uint16_t> m_heldModifiers;
    QMetaObject::Connection m_focusObserver;

    // Buttons whose press was sent (0 left, 1 right) and the click run.
    std::set<int> m_pressedButtons;
    int m_lastClickButton = -1;
    int m_clickCount = 0;
    QPointF m_lastClickPosition;
    std::chrono::steady_clock::time_point m_lastClickTime{};
};

} // namespace velmarin::input
