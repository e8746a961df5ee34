#pragma once

// The `type` of a control message, read without building the document: the
// relay forwards most messages as they are and only needs to know which
// ones are its own. Those it then decodes in full, once.

#include <optional>
#include <string_view>

namespace velmarin::relay {

// The top-level "type" member of a JSON object. Nothing when the text is not
// an object, "type" is missing, appears twice, is not a plain string, or a
// member name has escapes (which could spell "type" to a full parser). Values
// are skipped by their structure, not validated.
std::optional<std::string_view> scan_message_type(std::string_view text);

} // namespace velmarin::relay
