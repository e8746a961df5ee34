#include "capture/CaptureError.h"

namespace velmarin::capture {

std::string CaptureError::description() const {
    switch (kind) {
    case Kind::noDisplay:
        return "Geen scherm gevonden";
    case Kind::captureNotAvailable:
        break;
    }
    return "Schermopname niet beschikbaar";
}

} // namespace velmarin::capture
