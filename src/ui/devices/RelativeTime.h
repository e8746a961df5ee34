#pragma once

// "5 min. geleden": how long ago something happened, in Dutch, in the short
// units people read at a glance in a list.

#include <QDateTime>
#include <QString>

namespace velmarin::ui {

// `date` relative to `now`, in whole units rounded down: seconds, minutes,
// hours, days, weeks, months (30 days) and years (365 days). A date in the
// future (a clock that was set back) counts as now.
QString relativeDescription(const QDateTime& date, const QDateTime& now);

} // namespace velmarin::ui
