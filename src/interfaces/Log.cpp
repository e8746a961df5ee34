#include "interfaces/Log.h"

namespace velmarin::Log {

Q_LOGGING_CATEGORY(capture, "com.tessamund.velmarin.capture")
Q_LOGGING_CATEGORY(encoding, "com.tessamund.velmarin.encoding")
Q_LOGGING_CATEGORY(decoding, "com.tessamund.velmarin.decoding")
Q_LOGGING_CATEGORY(network, "com.tessamund.velmarin.network")
Q_LOGGING_CATEGORY(input, "com.tessamund.velmarin.input")
Q_LOGGING_CATEGORY(permissions, "com.tessamund.velmarin.permissions")
Q_LOGGING_CATEGORY(settings, "com.tessamund.velmarin.settings")
Q_LOGGING_CATEGORY(ui, "com.tessamund.velmarin.ui")

} // namespace velmarin::Log
