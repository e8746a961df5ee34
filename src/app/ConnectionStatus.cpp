#include "app/ConnectionStatus.h"

namespace velmarin {

QString rawValue(Mode mode) {
    return mode == Mode::host ? QStringLiteral("Host") : QStringLiteral("Viewer");
}

std::optional<Mode> modeFromRawValue(const QString& raw) {
    for (const Mode mode : kAllModes) {
        if (rawValue(mode) == raw)
            return mode;
    }
    return std::nullopt;
}

QString Status::displayText() const {
    switch (m_kind) {
    case Kind::info:
        return m_text;
    case Kind::error:
        return QStringLiteral("Fout: ") + m_text;
    case Kind::disconnected:
        return QStringLiteral("Niet verbonden");
    case Kind::registering:
        return QStringLiteral("Registreren...");
    case Kind::waitingForViewer:
        return QStringLiteral("Wachten op verbinding...");
    case Kind::connecting:
        return QStringLiteral("Verbinden...");
    case Kind::authenticating:
        return QStringLiteral("Authenticeren...");
    case Kind::connected:
        return QStringLiteral("Verbonden");
    }
    return {};
}

} // namespace velmarin
