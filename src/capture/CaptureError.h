#pragma once

#include <string>

namespace velmarin::capture {

// Why the screen cannot be captured. The description is the Dutch text the
// user sees.
struct CaptureError {
    enum class Kind {
        noDisplay,           // "Geen scherm gevonden"
        captureNotAvailable, // "Schermopname niet beschikbaar"
    };

    Kind kind = Kind::captureNotAvailable;

    std::string description() const;

    bool operator==(const CaptureError&) const = default;
};

} // namespace velmarin::capture
