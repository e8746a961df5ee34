#include "collab/ReceivedFileName.h"

namespace velmarin::collab {

namespace {

// The last complete UTF-8 character boundary at or before `limit`.
std::size_t utf8Boundary(std::string_view text, std::size_t limit) {
    if (limit >= text.size())
        return text.size();
    while (limit > 0 && (static_cast<unsigned char>(text[limit]) & 0xC0) == 0x80)
        --limit;
    return limit;
}

} // namespace

std::string safeFileName(std::string_view offered) {
    if (const auto slash = offered.find_last_of("/\\"); slash != std::string_view::npos)
        offered.remove_prefix(slash + 1);
    std::string name;
    for (const char c : offered) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte != 0x7F)
            name += c;
    }
    const auto start = name.find_first_not_of(".- ");
    name = start == std::string::npos ? std::string() : name.substr(start);
    while (!name.empty() && name.back() == ' ')
        name.pop_back();
    if (name.empty())
        return "bestand";
    if (name.size() > kMaxStoredNameBytes) {
        const auto dot = name.rfind('.');
        const std::string extension =
            dot != std::string::npos && name.size() - dot <= 16 ? name.substr(dot) : std::string();
        const std::string_view stem(name.data(), name.size() - extension.size());
        name = std::string(
                   stem.substr(0, utf8Boundary(stem, kMaxStoredNameBytes - extension.size()))) +
               extension;
    }
    return name;
}

std::string alternativeName(const std::string& name, std::int64_t unixSeconds, int attempt) {
    const auto dot = name.rfind('.');
    const std::string stem = dot == std::string::npos ? name : name.substr(0, dot);
    const std::string extension = dot == std::string::npos ? std::string() : name.substr(dot + 1);
    std::string result = stem + "_" + std::to_string(unixSeconds);
    if (attempt > 1)
        result += "_" + std::to_string(attempt);
    return result + "." + extension;
}

} // namespace velmarin::collab
