#include "video/EncoderError.h"

namespace velmarin::video {

std::string EncoderError::description() const {
    switch (kind) {
    case Kind::sessionCreationFailed:
        return "Encoder sessie aanmaken mislukt: " + std::to_string(status);
    }
    return {};
}

} // namespace velmarin::video
