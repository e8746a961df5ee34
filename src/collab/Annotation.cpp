#include "collab/Annotation.h"

#include <algorithm>
#include <cctype>
#include <cmath>

namespace velmarin::collab {

namespace {

constexpr std::array<std::string_view, 3> kToolNames{"laser", "pen", "spotlight"};

int hexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

double clampUnit(double value) {
    if (!std::isfinite(value))
        return value > 0 ? 1.0 : 0.0;
    return std::clamp(value, 0.0, 1.0);
}

} // namespace

std::string_view toString(AnnotationTool tool) {
    return kToolNames[static_cast<std::size_t>(tool)];
}

std::optional<AnnotationTool> annotationToolFromString(std::string_view text) {
    for (std::size_t i = 0; i < kToolNames.size(); ++i)
        if (kToolNames[i] == text)
            return static_cast<AnnotationTool>(i);
    return std::nullopt;
}

double strokeAlpha(bool laser, bool ended, double age) {
    if (laser)
        return std::max(0.0, 1.0 - age / kLaserLife);
    if (!ended || age <= kPenPersist)
        return 1.0;
    return std::max(0.0, 1.0 - (age - kPenPersist) / kPenFade);
}

RgbColor parseAnnotationColor(std::string_view text) {
    const auto space = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
    while (!text.empty() && space(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && space(text.back()))
        text.remove_suffix(1);
    if (!text.empty() && text.front() == '#')
        text.remove_prefix(1);
    constexpr RgbColor red{255, 0, 0};
    if (text.size() != 6)
        return red;
    std::array<std::uint8_t, 3> bytes{};
    for (std::size_t i = 0; i < 3; ++i) {
        const int high = hexDigit(text[2 * i]);
        const int low = hexDigit(text[2 * i + 1]);
        if (high < 0 || low < 0)
            return red;
        bytes[i] = static_cast<std::uint8_t>(high * 16 + low);
    }
    return {bytes[0], bytes[1], bytes[2]};
}

NormalizedPoint clampToUnit(NormalizedPoint point) {
    return {clampUnit(point.x), clampUnit(point.y)};
}

} // namespace velmarin::collab
