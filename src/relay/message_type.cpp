#include "relay/message_type.h"

namespace velmarin::relay {
namespace {

struct scanner {
    std::string_view s;
    std::size_t i = 0;

    void skip_space() {
        while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\n' || s[i] == '\r'))
            ++i;
    }
    bool eat(char c) {
        skip_space();
        if (i < s.size() && s[i] == c) {
            ++i;
            return true;
        }
        return false;
    }
    // A string at s[i]: its raw contents and whether it has escapes.
    bool string(std::string_view& raw, bool& escaped) {
        skip_space();
        if (i >= s.size() || s[i] != '"')
            return false;
        const auto start = ++i;
        escaped = false;
        while (i < s.size()) {
            const char c = s[i];
            if (c == '"') {
                raw = s.substr(start, i - start);
                ++i;
                return true;
            }
            if (static_cast<unsigned char>(c) < 0x20)
                return false;
            if (c == '\\') {
                escaped = true;
                ++i;
            }
            ++i;
        }
        return false;
    }
    bool skip_string() {
        std::string_view raw;
        bool escaped = false;
        return string(raw, escaped);
    }
    bool skip_value() {
        skip_space();
        if (i >= s.size())
            return false;
        if (s[i] == '"')
            return skip_string();
        if (s[i] == '{' || s[i] == '[') {
            std::size_t depth = 0;
            while (i < s.size()) {
                const char c = s[i];
                if (c == '"') {
                    if (!skip_string())
                        return false;
                    continue;
                }
                if (c == '{' || c == '[') {
                    ++depth;
                } else if (c == '}' || c == ']') {
                    ++i;
                    if (--depth == 0)
                        return true;
                    continue;
                }
                ++i;
            }
            return false;
        }
        // Number, true, false or null.
        const auto start = i;
        while (i < s.size() && s[i] != ',' && s[i] != '}' && s[i] != ']' && s[i] != ' ' &&
               s[i] != '\t' && s[i] != '\n' && s[i] != '\r')
            ++i;
        return i > start;
    }
};

} // namespace

std::optional<std::string_view> scan_message_type(std::string_view text) {
    scanner p{text};
    if (!p.eat('{') || p.eat('}'))
        return std::nullopt;
    std::optional<std::string_view> type;
    do {
        std::string_view key;
        bool escaped = false;
        if (!p.string(key, escaped) || escaped || !p.eat(':'))
            return std::nullopt;
        if (key == "type") {
            std::string_view value;
            if (type || !p.string(value, escaped) || escaped)
                return std::nullopt;
            type = value;
        } else if (!p.skip_value()) {
            return std::nullopt;
        }
    } while (p.eat(','));
    if (!p.eat('}'))
        return std::nullopt;
    p.skip_space();
    if (p.i != text.size())
        return std::nullopt;
    return type;
}

} // namespace velmarin::relay
