#include "ui/devices/RelativeTime.h"

#include <algorithm>

namespace velmarin::ui {

QString relativeDescription(const QDateTime& date, const QDateTime& now) {
    const qint64 seconds = std::max<qint64>(0, date.secsTo(now));
    constexpr qint64 minute = 60, hour = 60 * minute, day = 24 * hour, week = 7 * day,
                     month = 30 * day, year = 365 * day;
    const auto ago = [](qint64 count, const char* unit) {
        return QStringLiteral("%1 %2 geleden").arg(count).arg(QLatin1String(unit));
    };
    if (seconds < minute)
        return ago(seconds, "sec.");
    if (seconds < hour)
        return ago(seconds / minute, "min.");
    if (seconds < day)
        return ago(seconds / hour, "u");
    if (seconds < week)
        return ago(seconds / day, seconds / day == 1 ? "dag" : "dagen");
    if (seconds < month)
        return ago(seconds / week, "wk.");
    if (seconds < year)
        return ago(seconds / month, "mnd.");
    return ago(seconds / year, "jaar");
}

} // namespace velmarin::ui
