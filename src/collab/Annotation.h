#pragma once

// What both ends of an annotation agree on: the tools and their wire names,
// how long a stroke stays visible, and how a colour text is read. The Viewer
// previews its own strokes with these rules and the Host's overlay fades the
// received ones with the same ones.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velmarin::collab {

enum class AnnotationTool { laser, pen, spotlight };

std::string_view toString(AnnotationTool tool);
std::optional<AnnotationTool> annotationToolFromString(std::string_view text);

// A position in normalised Host-screen coordinates: 0 to 1, origin top-left.
struct NormalizedPoint {
    double x = 0;
    double y = 0;
    bool operator==(const NormalizedPoint&) const = default;
};

// Fade times, seconds.
inline constexpr double kLaserLife = 0.8;
inline constexpr double kPenPersist = 4.0;
inline constexpr double kPenFade = 1.5;
// At or below this a stroke counts as gone.
inline constexpr double kInvisibleAlpha = 0.01;
// Spotlight radius as a fraction of the smaller side of the picture.
inline constexpr double kDefaultSpotlightRadius = 0.12;

// How visible a stroke is `age` seconds after its last change: a laser
// trail fades at once, a finished pen line after a pause, an unfinished
// one never.
double strokeAlpha(bool laser, bool ended, double age);

struct RgbColor {
    std::uint8_t red = 0;
    std::uint8_t green = 0;
    std::uint8_t blue = 0;
    bool operator==(const RgbColor&) const = default;
};

// "#RRGGBB" (white space around it and the "#" optional); anything else is
// pure red, so a peer's odd colour still draws.
RgbColor parseAnnotationColor(std::string_view text);

// Clamped to [0, 1]; a coordinate that is not a number becomes 0.
NormalizedPoint clampToUnit(NormalizedPoint point);

} // namespace velmarin::collab
