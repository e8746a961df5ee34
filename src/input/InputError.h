#pragma once

#include <QString>

namespace velmarin::input {

// Why input cannot be injected on this display.
struct InputError {
    enum class Kind { displayUnavailable, injectionUnsupported };

    Kind kind = Kind::displayUnavailable;

    // The Dutch text shown to the user.
    QString description() const;

    bool operator==(const InputError&) const = default;
};

} // namespace velmarin::input
