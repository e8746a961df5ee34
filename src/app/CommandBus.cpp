#include "app/CommandBus.h"

#include <limits>

namespace velmarin {

void CommandBus::post(const QString& name, const QVariantMap& userInfo) {
    emit posted(name, userInfo);
}

std::optional<QString> CommandBus::stringArgument(const QVariantMap& userInfo, const QString& key) {
    const auto it = userInfo.constFind(key);
    if (it == userInfo.constEnd() || it->typeId() != QMetaType::QString)
        return std::nullopt;
    return it->toString();
}

std::optional<qint64> CommandBus::integerArgument(const QVariantMap& userInfo, const QString& key) {
    const auto it = userInfo.constFind(key);
    if (it == userInfo.constEnd())
        return std::nullopt;
    switch (it->typeId()) {
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::Short:
    case QMetaType::Long:
        return it->toLongLong();
    case QMetaType::UInt:
    case QMetaType::ULongLong:
    case QMetaType::UShort:
    case QMetaType::ULong: {
        const qulonglong value = it->toULongLong();
        if (value > static_cast<qulonglong>(std::numeric_limits<qint64>::max()))
            return std::nullopt;
        return static_cast<qint64>(value);
    }
    default:
        return std::nullopt;
    }
}

} // namespace velmarin
