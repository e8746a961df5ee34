#include "input/InputError.h"

namespace velmarin::input {

QString InputError::description() const {
    switch (kind) {
    case Kind::displayUnavailable:
        return QStringLiteral("Kan het beeldscherm niet openen: bediening op afstand is niet "
                              "mogelijk.");
    case Kind::injectionUnsupported:
        return QStringLiteral("De X-server ondersteunt geen XTEST: bediening op afstand is niet "
                              "mogelijk.");
    }
    return {};
}

} // namespace velmarin::input
