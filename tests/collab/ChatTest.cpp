#include "collab/Chat.h"

#include <QList>
#include <gtest/gtest.h>

#include <ctime>

using namespace velmarin;

// Which messages are one's own: ViewerScreenTest (the bubbles' sides).
TEST(Chat, TimeLabelsAndTheBound) {
    // 14:05 and 09:07 local time, whatever the zone.
    std::tm local{.tm_sec = 30, .tm_min = 5, .tm_hour = 14, .tm_mday = 6, .tm_mon = 11,
                  .tm_year = 126, .tm_isdst = -1};
    const auto ms = [&] { return std::uint64_t(std::mktime(&local)) * 1000 + 999; };
    EXPECT_EQ(collab::formatTime(ms()), "14:05");
    local.tm_hour = 9;
    local.tm_min = 7;
    EXPECT_EQ(collab::formatTime(ms()), "09:07");

    QList<protocol::ChatMessage> messages;
    for (std::uint64_t i = 0; i < 1005; ++i)
        collab::appendChatMessage(messages, {.sender = "host", .text = "hoi", .timestamp = i});
    ASSERT_EQ(messages.size(), collab::kMaxChatMessages);
    EXPECT_EQ(messages.front().timestamp, 5u);
    EXPECT_EQ(messages.back().timestamp, 1004u);
}
