#include "input/RemoteInputCapture.h"

#include "interfaces/Log.h"
#include "input/KeyCodeTable.h"
#include "input/ScrollAccumulator.h"
#include "protocol/KeyCodes.h"
#include "protocol/ProtocolEncoder.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPointer>
#include <QStyleHints>
#include <QWheelEvent>
#include <QWindow>

#include <cmath>
#include <optional>

namespace velmarin::input {

namespace {

// X core modifier state bit of Caps Lock, as in the native modifiers of Qt's
// key events on X11 and Wayland.
constexpr std::uint32_t kNativeLockMask = 0x2;
// Further apart than this, two presses are two single clicks.
constexpr double kClickSlop = 5.0;

std::uint64_t flagsFor(const QKeyEvent& event) {
    std::uint64_t flags = 0;
    const Qt::KeyboardModifiers modifiers = event.modifiers();
    if (modifiers & Qt::ShiftModifier)
        flags |= protocol::ModifierFlag::shift;
    if (modifiers & Qt::ControlModifier)
        flags |= protocol::ModifierFlag::control;
    if (modifiers & Qt::AltModifier)
        flags |= protocol::ModifierFlag::option;
    if (modifiers & Qt::MetaModifier)
        flags |= protocol::ModifierFlag::command;
    if (event.nativeModifiers() & kNativeLockMask)
        flags |= protocol::ModifierFlag::capsLock;
    return flags;
}

std::chrono::milliseconds doubleClickInterval() {
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return std::chrono::milliseconds(QGuiApplication::styleHints()->mouseDoubleClickInterval());
    return std::chrono::milliseconds(400);
}

} // namespace

RemoteInputCapture::RemoteInputCapture(Sender send, std::function<QSizeF()> hostScreenSize,
                                       HandlerInstaller installHandlers, Clock clock)
    : m_send(std::move(send))
    , m_hostScreenSize(std::move(hostScreenSize))
    , m_installHandlers(std::move(installHandlers))
    , m_clock(std::move(clock)) {}

RemoteInputCapture::~RemoteInputCapture() {
    disconnect(m_focusObserver);
}

void RemoteInputCapture::startCapturing() {
    m_capturing = true;
    if (m_installHandlers) {
        const QPointer<RemoteInputCapture> self(this);
        m_installHandlers(
            [self](const QInputEvent& event, const QRectF& bounds) {
                if (self)
                    self->handleMouseEvent(event, bounds);
            },
            [self](const QKeyEvent& event) {
                if (self)
                    self->handleKeyEvent(event);
            });
    }
    if (auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        disconnect(m_focusObserver);
        m_focusObserver = connect(app, &QGuiApplication::focusWindowChanged, this,
                                  [this] { releaseHeldModifiers(); });
    }
}

void RemoteInputCapture::stopCapturing() {
    releaseHeldModifiers();
    m_capturing = false;
    disconnect(m_focusObserver);
    m_focusObserver = {};
}

CoordinateTransformer RemoteInputCapture::transformer() const {
    CoordinateTransformer transformer;
    if (m_hostScreenSize) {
        const QSizeF size = m_hostScreenSize();
        if (size.width() > 0 && size.height() > 0)
            transformer.hostScreenSize = size;
    }
    return transformer;
}

void RemoteInputCapture::handleMouseEvent(const QInputEvent& event, const QRectF& viewBounds) {
    if (!m_capturing)
        return;
    switch (event.type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseMove:
        handlePointer(static_cast<const QMouseEvent&>(event), viewBounds);
        break;
    case QEvent::Wheel:
        handleWheel(static_cast<const QWheelEvent&>(event), viewBounds);
        break;
    default:
        break;
    }
}

void RemoteInputCapture::handlePointer(const QMouseEvent& event, const QRectF& viewBounds) {
    const QPointF point = event.position() - viewBounds.topLeft();
    const QSizeF viewSize = viewBounds.size();

    protocol::MouseEventMessage message;
    int button = -1;
    bool press = false;
    bool release = false;
    switch (event.type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick: // Qt's name for the second press
        press = true;
        [[fallthrough]];
    case QEvent::MouseButtonRelease:
        release = !press;
        if (event.button() == Qt::LeftButton)
            button = 0;
        else if (event.button() == Qt::RightButton)
            button = 1;
        else
            return;
        message.action = std::string(button == 0 ? "left" : "right") + (press ? "Down" : "Up");
        break;
    default:
        if (event.buttons() & Qt::LeftButton) {
            button = 0;
            message.action = "leftDrag";
        } else if (event.buttons() & Qt::RightButton) {
            button = 1;
            message.action = "rightDrag";
        } else {
            button = 0;
            message.action = "move";
        }
        break;
    }

    std::optional<QPointF> position = transformer().viewerToNormalized(point, viewSize);
    if (!position && release && m_pressedButtons.contains(button))
        position = transformer().viewerToNormalizedClamped(point, viewSize);
    if (!position)
        return;

    if (message.action == "move") {
        const auto now = m_clock();
        if (m_movedBefore && now - m_lastMouseMoveTime < kMouseMoveMinInterval)
            return;
        m_movedBefore = true;
        m_lastMouseMoveTime = now;
    }

    if (press) {
        m_pressedButtons.insert(button);
        const int count = countClick(button, point);
        if (count >= 2)
            message.clickCount = count;
    } else if (release) {
        m_pressedButtons.erase(button);
        if (button == m_lastClickButton && m_clickCount >= 2)
            message.clickCount = m_clickCount;
    }

    message.x = position->x();
    message.y = position->y();
    message.button = button;
    if (auto json = protocol::ProtocolEncoder::encode(message))
        m_send(std::move(*json), MessageKind::mouse);
}

int RemoteInputCapture::countClick(int button, QPointF position) {
    const auto now = m_clock();
    const QPointF moved = position - m_lastClickPosition;
    if (button == m_lastClickButton && m_clickCount > 0 &&
        now - m_lastClickTime <= doubleClickInterval() &&
        std::hypot(moved.x(), moved.y()) <= kClickSlop)
        ++m_clickCount;
    else
        m_clickCount = 1;
    m_lastClickButton = button;
    m_lastClickTime = now;
    m_lastClickPosition = position;
    return m_clickCount;
}

void RemoteInputCapture::handleWheel(const QWheelEvent& event, const QRectF& viewBounds) {
    const auto position = transformer().viewerToNormalized(event.position() - viewBounds.topLeft(),
                                                           viewBounds.size());
    if (!position)
        return;
    // Touchpads report pixels; wheels report eighths of a degree, 120 per
    // notch. Positive is up and left in both.
    QPointF delta = event.pixelDelta().toPointF();
    if (delta.isNull())
        delta = event.angleDelta().toPointF() / 120.0 * kScrollPixelsPerNotch;
    if (delta.isNull())
        return;

    protocol::MouseEventMessage message{.action = "scroll",
                                        .x = position->x(),
                                        .y = position->y(),
                                        .button = 0,
                                        .scrollDeltaX = delta.x(),
                                        .scrollDeltaY = delta.y()};
    if (auto json = protocol::ProtocolEncoder::encode(message))
        m_send(std::move(*json), MessageKind::mouse);
}

void RemoteInputCapture::handleKeyEvent(const QKeyEvent& event) {
    if (!m_capturing)
        return;
    const bool press = event.type() == QEvent::KeyPress;
    if (!press && event.type() != QEvent::KeyRelease)
        return;
    const quint32 scanCode = event.nativeScanCode();
    const auto keyCode = scanCode <= 0xFF
                             ? macKeyCodeForXKeycode(static_cast<std::uint8_t>(scanCode))
                             : std::nullopt;
    if (!keyCode) {
        qCDebug(Log::input, "Dropping key with unknown native scan code %u", scanCode);
        return;
    }

    std::uint64_t flags = flagsFor(event);
    bool down = press;
    if (*keyCode == protocol::MacKey::capsLock) {
        // The lock toggles on the press; the state before it says which way.
        if (!press)
            return;
        down = (event.nativeModifiers() & kNativeLockMask) == 0;
        flags = down ? flags | protocol::ModifierFlag::capsLock
                     : flags & ~protocol::ModifierFlag::capsLock;
    } else if (protocol::modifierFlag(*keyCode) == 0 && !press && event.isAutoRepeat()) {
        // A held key repeats as further presses, as the Host expects.
        return;
    }

    if (protocol::modifierFlag(*keyCode) != 0) {
        if (down)
            m_heldModifiers.insert(*keyCode);
        else
            m_heldModifiers.erase(*keyCode);
    }
    // Qt's modifiers miss a modifier still held on the other side of the
    // keyboard and AltGr; the recorded keys supply them.
    flags |= heldFlags();
    if (!down && protocol::modifierFlag(*keyCode) != 0 && *keyCode != protocol::MacKey::capsLock &&
        (heldFlags() & protocol::modifierFlag(*keyCode)) == 0)
        flags &= ~protocol::modifierFlag(*keyCode);

    protocol::KeyEventMessage message{
        .action = down ? "down" : "up", .keyCode = *keyCode, .flags = flags};
    if (press && !event.text().isEmpty())
        message.characters = event.text().toStdString();
    if (auto json = protocol::ProtocolEncoder::encode(message))
        m_send(std::move(*json), MessageKind::key);
}

std::uint64_t RemoteInputCapture::heldFlags() const {
    std::uint64_t flags = 0;
    for (const std::uint16_t keyCode : m_heldModifiers)
        flags |= protocol::modifierFlag(keyCode);
    return flags;
}

void RemoteInputCapture::releaseHeldModifiers() {
    // Caps Lock is recorded while the lock is on, but it is a lock, not a
    // held key: an "up" would switch it off on the Host while it stays on
    // here. It is forgotten without a message; later keys carry the lock
    // from their own native modifiers.
    m_heldModifiers.erase(protocol::MacKey::capsLock);
    if (m_heldModifiers.empty())
        return;
    const std::set<std::uint16_t> released = std::exchange(m_heldModifiers, {});
    for (const std::uint16_t keyCode : released) {
        const protocol::KeyEventMessage message{.action = "up", .keyCode = keyCode, .flags = 0};
        if (auto json = protocol::ProtocolEncoder::encode(message))
            m_send(std::move(*json), MessageKind::modifierRelease);
    }
    qCInfo(Log::input, "Released %ld stuck modifier(s)", static_cast<long>(released.size()));
}

} // namespace velmarin::input
