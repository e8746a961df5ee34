#pragma once

// Host IDs: stored as their digits only, shown as "123-456-789".

#include <QString>

namespace velmarin::IDFormatter {

// Every character that is numeric in the Unicode sense, in order; everything
// else (spaces, dashes, letters, punctuation) is dropped. Characters are
// whole grapheme clusters, judged by their first code point.
QString normalize(const QString& text);

// Nine digits as three groups joined by "-"; any other input comes back
// unchanged, spaces and all.
QString format(const QString& text);

// True when the normalised form is a complete nine-digit ID.
bool isComplete(const QString& text);

} // namespace velmarin::IDFormatter
