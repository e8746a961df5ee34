// The chat panel on a private Xvfb: what is sent and what stays typed, the
// side of each bubble on the Host and on the Viewer, following the newest
// message, marking read, opening and closing on the sharing tab; and the
// Host's system information as the Viewer shows it.

#include "app/AppSettings.h"
#include "app/CommandBus.h"
#include "app/ConnectionState.h"
#include "ui/common/ChatPanel.h"
#include "ui/host/HostView.h"
#include "ui/permissions/PermissionManager.h"
#include "ui/viewer/SystemInfoView.h"

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>

namespace velmarin::ui {
namespace {

class ChatPanel : public ::testing::Test {
protected:
    ChatPanel() {
        screen.resize(500, 400);
        panel.anchorBottomRight(12, 12);
        screen.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&screen));
    }
    // Each bubble's side in the list: R(ight), L(eft) or ? when neither
    // edge keeps its place with the gap of 40 on the other side.
    QString sides() {
        QApplication::processEvents();
        const QWidget* list = panel.findChild<QWidget*>("chatList");
        QString result;
        for (QWidget* bubble : panel.findChildren<QWidget*>("chatBubble")) {
            const int left = bubble->mapTo(list, QPoint(0, 0)).x();
            const int right = list->width() - left - bubble->width();
            result += left <= 10 && right >= 50 ? 'L' : right <= 10 && left >= 50 ? 'R' : '?';
        }
        return result;
    }

    ConnectionState state;
    CommandBus commands;
    QSignalSpy posted{&commands, &CommandBus::posted};
    QWidget screen;
    ChatPanelView panel{state, commands, &screen};
};

TEST_F(ChatPanel, SendsTheTrimmedTextAndLeavesBlankInputAsTyped) {
    QLineEdit* input = panel.input();
    EXPECT_FALSE(panel.sendButton()->isEnabled());
    QTest::keyClicks(input, QStringLiteral("   "));
    ASSERT_TRUE(panel.sendButton()->isEnabled());
    QTest::mouseClick(panel.sendButton(), Qt::LeftButton);
    QTest::keyClick(input, Qt::Key_Return);
    EXPECT_TRUE(posted.isEmpty());
    EXPECT_EQ(input->text(), QStringLiteral("   "));

    QTest::keyClicks(input, QStringLiteral("hallo daar  "));
    QTest::keyClick(input, Qt::Key_Return);
    QTest::keyClicks(input, QStringLiteral(" tot zo"));
    QTest::mouseClick(panel.sendButton(), Qt::LeftButton);
    ASSERT_EQ(posted.size(), 2);
    EXPECT_EQ(posted[0][0].toString(), Command::sendChat);
    EXPECT_EQ(posted[0][1].toMap().value("text").toString(), QStringLiteral("hallo daar"));
    EXPECT_EQ(posted[1][1].toMap().value("text").toString(), QStringLiteral("tot zo"));
    EXPECT_TRUE(input->text().isEmpty());
    EXPECT_FALSE(panel.sendButton()->isEnabled());
}

TEST_F(ChatPanel, OwnMessagesGoRightAndEqualTimeStampsAllShow) {
    const std::uint64_t at = 1'800'000'000'000;
    state.setIsSharing(true);
    // A link longer than a line wraps inside its bubble as well.
    const std::string link = "https://velmarin.app/hulp/" + std::string(90, 'x');
    state.setChatMessages(
        {{"viewer", "hoi", at}, {"host", "hallo", at}, {"host", "hallo", at}, {"host", link, at}});
    EXPECT_EQ(sides(), QStringLiteral("LRRR"));
    // … all of it: its lines (10 and 6 padding) hold the text's whole length.
    const QWidget* wrapped = panel.findChildren<QWidget*>("chatBubble").back();
    const QFontMetrics metrics(wrapped->font());
    EXPECT_TRUE(QTest::qWaitFor([&] {
        return (wrapped->width() - 20) * ((wrapped->height() - 12) / metrics.height()) >=
               metrics.horizontalAdvance(QString::fromStdString(link));
    }));
    state.setIsSharing(false);
    EXPECT_EQ(sides(), QStringLiteral("RLLL"));

    // A long conversation scrolls to its newest message.
    QScrollBar* bar = panel.findChild<QScrollArea*>()->verticalScrollBar();
    auto messages = state.chatMessages();
    for (int i = 0; i < 20; ++i)
        messages.append({"host", "bericht " + std::to_string(i), at + i});
    state.setChatMessages(messages);
    EXPECT_TRUE(
        QTest::qWaitFor([bar] { return bar->maximum() > 0 && bar->value() == bar->maximum(); }));
    const auto bubbles = panel.findChildren<QWidget*>("chatBubble");
    ASSERT_EQ(bubbles.size(), 24);
    EXPECT_EQ(bubbles.back()->accessibleName(), QStringLiteral("bericht 19"));
}

TEST_F(ChatPanel, ShowingMarksReadAndFocusesTheField) {
    panel.hide();
    state.setUnreadChatCount(3);
    panel.show();
    EXPECT_EQ(state.unreadChatCount(), 0);
    EXPECT_EQ(screen.focusWidget(), panel.input());
}

TEST(HostChat, TheChatButtonOpensThePanelInsideTheTabAndTheCrossClosesIt) {
    QTemporaryDir dir;
    AppSettings settings(dir.filePath("velmarin.conf"), nullptr);
    PermissionManager permissions({[] { return true; }, [] { return true; }, {}, {}});
    ConnectionState state;
    CommandBus commands;
    HostView view(state, settings, permissions, commands);
    view.resize(580, 500);
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    auto* panel = view.findChild<ChatPanelView*>();
    ASSERT_TRUE(panel);
    EXPECT_FALSE(panel->isVisible());
    for (QToolButton* button : view.findChildren<QToolButton*>())
        if (button->text() == QStringLiteral("Chat"))
            button->click();
    EXPECT_TRUE(panel->isVisible());
    EXPECT_TRUE(view.rect().contains(panel->geometry()));
    panel->findChild<QAbstractButton*>("closeChat")->click();
    EXPECT_FALSE(state.showChat());
    EXPECT_FALSE(panel->isVisible());
}

// A share of nothing and 1u 0m are RemoteSystemInfo's.
TEST(SystemInfoFormat, UptimeInTheTwoLargestUnitsAndRoundedPercentages) {
    EXPECT_EQ(formatUptime(2 * 86400 + 5 * 3600 + 59 * 60), QStringLiteral("2d 5u"));
    EXPECT_EQ(formatUptime(86400 + 3600 + 60), QStringLiteral("1d 1u"));
    EXPECT_EQ(formatUptime(3 * 3600 + 12 * 60 + 59), QStringLiteral("3u 12m"));
    EXPECT_EQ(formatUptime(45 * 60 + 30), QStringLiteral("45m"));
    EXPECT_EQ(formatUptime(59), QStringLiteral("0m"));
    EXPECT_EQ(formatUptime(-120), QStringLiteral("0m"));
    EXPECT_EQ(formatPercent(36.5), QStringLiteral("37%"));
    EXPECT_EQ(formatPercent(usageShare(2, 3)), QStringLiteral("67%"));
}

TEST(RemoteSystemInfo, FollowsEachReportAndSaysWhenThereIsNone) {
    ConnectionState state;
    RemoteSystemInfoView view(state);
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    const auto value = [&](const QString& row) {
        for (QLabel* label : view.findChildren<QLabel*>())
            if (label->accessibleName() == row)
                return label->text();
        return QString();
    };
    QLabel* none = nullptr;
    for (QLabel* label : view.findChildren<QLabel*>())
        if (label->text() == QStringLiteral("Geen systeeminformatie ontvangen"))
            none = label;
    ASSERT_TRUE(none);
    EXPECT_TRUE(none->isVisible());

    protocol::SystemInfoMessage info;
    info.cpuUsagePercent = 36.6;
    info.logicalProcessorCount = 8;
    info.memoryUsedBytes = 5; // of nothing
    info.diskUsedBytes = 1;
    info.diskTotalBytes = 4;
    info.uptimeSeconds = 3600;
    state.setRemoteSystemInfo(info);
    EXPECT_FALSE(none->isVisible());
    EXPECT_EQ(value("Processor"), QStringLiteral("37%"));
    EXPECT_EQ(value("Logische cores"), QStringLiteral("8"));
    EXPECT_EQ(value("Geheugen"), QStringLiteral("0%"));
    EXPECT_EQ(value("Schijf"), QStringLiteral("25%"));
    EXPECT_EQ(value("Uptime"), QStringLiteral("1u 0m"));
    state.setRemoteSystemInfo(std::nullopt);
    EXPECT_TRUE(none->isVisible());
}

} // namespace
} // namespace velmarin::ui
