#pragma once

// The application's log categories, all under "com.tessamund.velmarin".
// Developer lines are English with printf-style placeholders:
//   qCInfo(velmarin::Log::network, "WebSocket connected to %s", url);

#include <QLoggingCategory>

namespace velmarin::Log {

Q_DECLARE_LOGGING_CATEGORY(capture)
Q_DECLARE_LOGGING_CATEGORY(encoding)
Q_DECLARE_LOGGING_CATEGORY(decoding)
Q_DECLARE_LOGGING_CATEGORY(network)
Q_DECLARE_LOGGING_CATEGORY(input)
Q_DECLARE_LOGGING_CATEGORY(permissions)
Q_DECLARE_LOGGING_CATEGORY(settings)
Q_DECLARE_LOGGING_CATEGORY(ui)

} // namespace velmarin::Log
