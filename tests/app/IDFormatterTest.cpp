#include "app/IDFormatter.h"

#include <gtest/gtest.h>

namespace velmarin {
namespace {

TEST(IDFormatter, NormalizeKeepsOnlyNumericCharacters) {
    EXPECT_EQ(IDFormatter::normalize("123 456 789"), "123456789");
    EXPECT_EQ(IDFormatter::normalize("123-456-789"), "123456789");
    EXPECT_EQ(IDFormatter::normalize(" ID: 12a3\t45-6.789 "), "123456789");
    EXPECT_EQ(IDFormatter::normalize("geen cijfers"), "");
    EXPECT_EQ(IDFormatter::normalize(""), "");
    // Digits of other scripts and other numeric characters count too.
    EXPECT_EQ(IDFormatter::normalize(QString::fromUtf8("١٢٣-½-x")), QString::fromUtf8("١٢٣½"));
    // Astral-plane digits (MATHEMATICAL BOLD DIGIT ONE) are kept whole.
    EXPECT_EQ(IDFormatter::normalize(QString::fromUtf8("a\U0001D7CFb")),
              QString::fromUtf8("\U0001D7CF"));
}

TEST(IDFormatter, FormatGroupsNineDigitsOnly) {
    EXPECT_EQ(IDFormatter::format("123456789"), "123-456-789");
    EXPECT_EQ(IDFormatter::format("123 456 789"), "123-456-789");
    EXPECT_EQ(IDFormatter::format("123-456-789"), "123-456-789");
    EXPECT_EQ(IDFormatter::format("1234 5678"), "1234 5678");   // eight: unchanged, spaces kept
    EXPECT_EQ(IDFormatter::format("1234567890"), "1234567890"); // ten
    EXPECT_EQ(IDFormatter::format(""), "");
    EXPECT_TRUE(IDFormatter::isComplete("123 456 789"));
    EXPECT_FALSE(IDFormatter::isComplete("12345678"));
}

} // namespace
} // namespace velmarin
