#include "video/QualityPreset.h"

#include <array>
#include <utility>

namespace velmarin::video {
namespace {

constexpr std::array<std::pair<QualityPreset, std::string_view>, 5> kNames{{
    {QualityPreset::automatic, "auto"},
    {QualityPreset::high, "high"},
    {QualityPreset::medium, "medium"},
    {QualityPreset::low, "low"},
    {QualityPreset::veryLow, "very_low"},
}};

} // namespace

std::string_view toString(QualityPreset preset) {
    for (const auto& [value, name] : kNames) {
        if (value == preset)
            return name;
    }
    return {};
}

std::optional<QualityPreset> qualityPresetFromString(std::string_view text) {
    for (const auto& [value, name] : kNames) {
        if (name == text)
            return value;
    }
    return std::nullopt;
}

std::optional<int> levelIndex(QualityPreset preset) {
    switch (preset) {
    case QualityPreset::automatic:
        return std::nullopt;
    case QualityPreset::high:
        return 0;
    case QualityPreset::medium:
        return 1;
    case QualityPreset::low:
        return 2;
    case QualityPreset::veryLow:
        return 3;
    }
    return std::nullopt;
}

} // namespace velmarin::video
