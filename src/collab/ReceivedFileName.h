#pragma once

// Names for received files. The peer chooses the offered name, so it is
// made into one harmless name inside the Downloads folder before use.

#include <cstdint>
#include <string>
#include <string_view>

namespace velmarin::collab {

// The longest name we store: room below the usual 255-byte limit for the
// time and counter suffixes and the hidden partial file's decoration.
inline constexpr std::size_t kMaxStoredNameBytes = 200;

// The offered name as one file name: only its last path component ("/" and
// "\" both separate), without control characters, without leading dots,
// dashes or spaces (a hidden file or one that reads as an option), at most
// kMaxStoredNameBytes (cut on a character boundary, the extension kept).
// "bestand" when nothing usable is left.
std::string safeFileName(std::string_view offered);

// The name to try when `name` is taken: "report.pdf" → "report_<seconds>.pdf",
// "README" → "README_<seconds>." (the dot also without extension); from the
// second attempt a counter follows the seconds: "report_<seconds>_2.pdf".
std::string alternativeName(const std::string& name, std::int64_t unixSeconds, int attempt);

} // namespace velmarin::collab
