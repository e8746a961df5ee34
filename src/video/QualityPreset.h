#pragma once

// The quality choices a Viewer can send in "quality_setting" and that are
// stored as "preferredQuality". The raw values are the wire strings.

#include <optional>
#include <string_view>

namespace velmarin::video {

enum class QualityPreset { automatic, high, medium, low, veryLow };

// "auto", "high", "medium", "low", "very_low".
std::string_view toString(QualityPreset preset);

// Nothing for any other string (case matters).
std::optional<QualityPreset> qualityPresetFromString(std::string_view text);

// The ladder rung a manually chosen preset stands for; nothing for automatic.
std::optional<int> levelIndex(QualityPreset preset);

} // namespace velmarin::video
