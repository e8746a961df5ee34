#pragma once

// The connection status the window shows, with its Dutch display text.

#include <QString>

#include <optional>

namespace velmarin {

enum class Mode { host, viewer };

// "Host" / "Viewer"; any other text gives no mode.
QString rawValue(Mode mode);
std::optional<Mode> modeFromRawValue(const QString& raw);
inline constexpr Mode kAllModes[] = {Mode::host, Mode::viewer};

class Status {
public:
    enum class Kind {
        info,
        error,
        disconnected,
        registering,
        waitingForViewer,
        connecting,
        authenticating,
        connected,
    };

    // Why an error status was set, for code that must react to it; the
    // text is for people.
    enum class Reason {
        other,
        captureUnavailable,
        reconnecting,
        reconnectGaveUp,
    };

    Status() = default;
    static Status info(QString text) { return {Kind::info, std::move(text)}; }
    static Status error(QString text, Reason reason = Reason::other) {
        return {Kind::error, std::move(text), reason};
    }
    static Status disconnected() { return {Kind::disconnected, {}}; }
    static Status registering() { return {Kind::registering, {}}; }
    static Status waitingForViewer() { return {Kind::waitingForViewer, {}}; }
    static Status connecting() { return {Kind::connecting, {}}; }
    static Status authenticating() { return {Kind::authenticating, {}}; }
    static Status connected() { return {Kind::connected, {}}; }

    Kind kind() const { return m_kind; }
    // The text of info and error; empty for the other cases.
    const QString& text() const { return m_text; }
    Reason reason() const { return m_reason; }
    QString displayText() const;

    bool operator==(const Status&) const = default;

private:
    Status(Kind kind, QString text, Reason reason = Reason::other)
        : m_kind(kind)
        , m_text(std::move(text))
        , m_reason(reason) {}

    Kind m_kind = Kind::disconnected;
    QString m_text;
    Reason m_reason = Reason::other;
};

} // namespace velmarin
