#include "app/IDFormatter.h"

#include <gtest/gtest.h>

namespace velmarin {
namespace {

TEST(IDFormatter, NormalizeKeepsNumericCharactersAndFormatGroupsNineDigits) {
    // Digits of other scripts and numeric characters count; astral-plane
    // digits (MATHEMATICAL BOLD DIGIT ONE) are kept whole.
    const std::pair<const char*, const char*> normalized[] = {
        {"123-456-789", "123456789"}, {" ID: 12a3\t45-6.789 ", "123456789"},
        {"geen cijfers", ""},         {"١٢٣-½-x", "١٢٣½"},
        {"a\U0001D7CFb", "\U0001D7CF"}};
    for (const auto& [in, out] : normalized)
        EXPECT_EQ(IDFormatter::normalize(QString::fromUtf8(in)), QString::fromUtf8(out)) << in;
    // Only nine digits are grouped; others keep their own spacing.
    const std::pair<const char*, const char*> formatted[] = {
        {"123 456 789", "123-456-789"}, {"1234 5678", "1234 5678"}, {"1234567890", "1234567890"}};
    for (const auto& [in, out] : formatted)
        EXPECT_EQ(IDFormatter::format(in), out) << in;
    EXPECT_TRUE(IDFormatter::isComplete("123 456 789"));
    EXPECT_FALSE(IDFormatter::isComplete("12345678"));
}

} // namespace
} // namespace velmarin
