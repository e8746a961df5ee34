// The Viewer's screen on a private Xvfb: both display widgets (pictures
// letterboxed, input and dropped files through the bridge), the annotation
// canvas over one, and the whole screen: tools holding the pointer back,
// files dropped as Qt delivers them, the toolbar's commands, the transfer
// capsule, the chat panel (what is sent and what stays typed, the side of
// each bubble on the Host and on the Viewer, following the newest message)
// and the Host's system information.

#include "ui/viewer/ViewerScreen.h"

#include "TestPictures.h"
#include "app/CommandBus.h"
#include "app/ConnectionState.h"
#include "support/WaitUntil.h"
#include "ui/common/ChatPanel.h"
#include "ui/viewer/AnnotationCanvas.h"
#include "ui/viewer/DisplayViewFactory.h"
#include "ui/viewer/GLDisplayWidget.h"
#include "ui/viewer/RemoteDisplayBridge.h"
#include "ui/viewer/SoftwareDisplayWidget.h"
#include "ui/viewer/SystemInfoView.h"

#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QProgressBar>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>
#include <QUrl>
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

namespace velmarin::ui {
namespace {

enum class Kind { openGL, software };

bool isBlack(QColor c) {
    return c.red() < 16 && c.green() < 16 && c.blue() < 16;
}
bool isRed(QColor c) {
    return c.red() > 200 && c.green() < 60 && c.blue() < 60;
}
bool isBlue(QColor c) {
    return c.blue() > 200 && c.red() < 60 && c.green() < 60;
}

// One of the two display widgets, 400 × 400, shown.
class DisplayWidgetTest : public ::testing::TestWithParam<Kind> {
protected:
    void SetUp() override {
        if (GetParam() == Kind::openGL && !openGLAvailable())
            GTEST_SKIP() << "no OpenGL on this X server (install libgl1-mesa-dri)";
        if (GetParam() == Kind::openGL)
            view = std::make_unique<GLDisplayWidget>(bridge);
        else
            view = std::make_unique<SoftwareDisplayWidget>(bridge);
        view->resize(400, 400);
        view->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(view.get()));
    }
    QImage readBack() {
        QApplication::processEvents();
        if (GetParam() == Kind::openGL)
            return static_cast<GLDisplayWidget&>(*view).grabFramebuffer();
        return view->grab().toImage();
    }

    RemoteDisplayBridge bridge;
    std::unique_ptr<QWidget> view;
};

TEST_P(DisplayWidgetTest, AKnownPictureAppearsLetterboxedOnBlack) {
    // 16:9, red above blue: fits as 400 × 225 from y = 87.
    for (const AVPixelFormat format : {AV_PIX_FMT_YUV420P, AV_PIX_FMT_NV12}) {
        bridge.displayFrame(
            fixtures::twoColourPicture(640, 360, fixtures::kRed, fixtures::kBlue, format));
        const QImage image = readBack();
        ASSERT_EQ(image.size(), QSize(400, 400) * view->devicePixelRatioF());
        EXPECT_TRUE(isBlack(image.pixelColor(200, 40))) << "bar above";
        EXPECT_TRUE(isBlack(image.pixelColor(200, 360))) << "bar below";
        EXPECT_TRUE(isRed(image.pixelColor(200, 130))) << "upper half, format " << format;
        EXPECT_TRUE(isBlue(image.pixelColor(200, 270))) << "lower half, format " << format;
        EXPECT_TRUE(isRed(image.pixelColor(2, 100))) << "picture spans the full width";
    }

    // A tall picture gets bars left and right instead.
    bridge.displayFrame(fixtures::twoColourPicture(200, 400, fixtures::kBlue, fixtures::kBlue));
    const QImage tall = readBack();
    EXPECT_TRUE(isBlack(tall.pixelColor(20, 200)));
    EXPECT_TRUE(isBlue(tall.pixelColor(200, 200)));

    // The end of the session leaves the view black.
    bridge.reset();
    EXPECT_TRUE(isBlack(readBack().pixelColor(200, 200)));
}

// Dropped files are the Viewer's screen's (through the same event code) and
// DesktopEndToEnd's (a real drag).
TEST_P(DisplayWidgetTest, ForwardsMouseAndKeysThroughTheBridge) {
    std::vector<std::pair<QEvent::Type, QRectF>> mouse;
    std::vector<int> keys;
    bridge.onMouseEvent = [&](const QInputEvent& event, const QRectF& bounds) {
        mouse.emplace_back(event.type(), bounds);
    };
    bridge.onKeyEvent = [&](const QKeyEvent& event) { keys.push_back(event.key()); };

    QTest::mouseClick(view.get(), Qt::LeftButton, Qt::NoModifier, QPoint(50, 60));
    QTest::keyClick(view.get(), Qt::Key_Tab); // Tab goes to the Host, not to focus
    const QRectF bounds(0, 0, 400, 400);
    EXPECT_EQ(mouse,
              (std::vector<std::pair<QEvent::Type, QRectF>>{{QEvent::MouseButtonPress, bounds},
                                                            {QEvent::MouseButtonRelease, bounds}}));
    EXPECT_EQ(keys, (std::vector<int>{Qt::Key_Tab, Qt::Key_Tab}));

    dynamic_cast<DisplayView&>(*view).captureSuspended = true;
    QTest::mouseClick(view.get(), Qt::LeftButton, Qt::NoModifier, QPoint(50, 60));
    QTest::keyClick(view.get(), Qt::Key_B);
    EXPECT_EQ(mouse.size(), 2u) << "mouse forwarded while an annotation tool is active";
    EXPECT_EQ(keys.size(), 4u);
}

INSTANTIATE_TEST_SUITE_P(Views, DisplayWidgetTest, ::testing::Values(Kind::openGL, Kind::software),
                         [](const auto& info) {
                             return info.param == Kind::openGL ? "OpenGL" : "Software";
                         });

// The tool holding the pointer back is ViewerScreenTest's (over the same display).
TEST(AnnotationCanvas, StrokesAndTheSpotlightLandWhereDrawn) {
    ::setenv("VELMARIN_DISPLAY", "software", 1);
    RemoteDisplayBridge bridge;
    const std::unique_ptr<QWidget> display = makeRemoteDisplayView(bridge);
    // A window much wider than the Host's 16:10 screen: bars left and right.
    display->resize(900, 300);
    display->show();
    collab::AnnotationStore store;
    std::vector<protocol::DrawMessage> sent;
    store.onSend = [&](const protocol::DrawMessage& m) { sent.push_back(m); };
    AnnotationCanvas canvas(
        store, [] { return QSizeF(1280, 800); }, display.get());
    ASSERT_TRUE(QTest::qWaitForWindowExposed(display.get()));
    EXPECT_EQ(canvas.pictureRect(), QRectF(210, 0, 480, 300));

    canvas.setTool(collab::AnnotationTool::pen);
    // The picture's corners, and a drag on into the bar on the left.
    QTest::mousePress(&canvas, Qt::LeftButton, {}, QPoint(210, 0));
    QTest::mouseMove(&canvas, QPoint(689, 299));
    QTest::mouseMove(&canvas, QPoint(100, 150));
    QTest::mouseRelease(&canvas, Qt::LeftButton, {}, QPoint(100, 150));
    ASSERT_EQ(sent.size(), 4u);
    EXPECT_EQ(sent[0].points[0], (protocol::DrawPoint{0, 0}));
    EXPECT_NEAR(sent[1].points[0].x, 1.0, 1.0 / 480);
    EXPECT_NEAR(sent[1].points[0].y, 1.0, 1.0 / 300);
    EXPECT_EQ(sent[2].points[0], (protocol::DrawPoint{0, 0.5}));
    EXPECT_TRUE(sent[3].ended);

    // A spotlight, then the tool cleared: the spotlight ends, clicks go through.
    canvas.setTool(collab::AnnotationTool::spotlight);
    QTest::mouseMove(&canvas, QPoint(450, 150));
    ASSERT_TRUE(store.spotlightPoint());
    EXPECT_NEAR(store.spotlightPoint()->x, 0.5, 1e-9);
    canvas.setTool(std::nullopt);
    EXPECT_FALSE(store.spotlightPoint());
    EXPECT_TRUE(canvas.testAttribute(Qt::WA_TransparentForMouseEvents));
}

class ViewerScreenTest : public ::testing::Test {
protected:
    ViewerScreenTest() {
        ViewerActions actions;
        actions.sendSpecialKeys = [this](const QString& combo) { specialKeys.append(combo); };
        actions.setRecording = [this](bool on) { recording.push_back(on); };
        actions.sendFile = [this](const QString& path) {
            sentFiles.append(path);
            return true;
        };
        actions.sendDrawClear = [this] { ++clears; };
        screen = std::make_unique<ViewerScreen>(state, commands, std::move(actions),
                                                makeRemoteDisplayView(bridge).release(),
                                                [] { return QSizeF(1280, 800); });
        bridge.onFilesDropped = [this](const QStringList& paths) { screen->dropFiles(paths); };
        bridge.onMouseEvent = [this](const QInputEvent&, const QRectF&) { ++forwarded; };
        screen->resize(1000, 640);
        screen->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(screen.get()));
    }
    QToolButton* tool(const QString& help) {
        for (auto* button : screen->toolbar()->findChildren<QToolButton*>())
            if (button->toolTip() == help)
                return button;
        ADD_FAILURE() << "no button " << help.toStdString();
        return nullptr;
    }
    void clickDisplay() {
        QTest::mouseClick(screen->display(), Qt::LeftButton, {}, QPoint(500, 400));
    }
    // Picks `text` from the menu of the toolbar button `help`.
    void choose(const QString& help, const QString& text) {
        QMenu* menu = tool(help)->menu();
        emit menu->aboutToShow();
        for (QAction* action : menu->actions())
            if (action->text().startsWith(text))
                return action->trigger();
        ADD_FAILURE() << "no menu entry " << text.toStdString();
    }
    // Opened from the toolbar.
    ChatPanelView& chatPanel() {
        if (!state.showChat())
            tool("Chat")->click();
        return static_cast<ChatPanelView&>(*screen->chatPanel());
    }
    // Each bubble's side in the list: R(ight), L(eft) or ? when neither
    // edge keeps its place with the gap of 40 on the other side.
    QString sides() {
        QApplication::processEvents();
        const QWidget* list = chatPanel().findChild<QWidget*>("chatList");
        QString result;
        for (QWidget* bubble : chatPanel().findChildren<QWidget*>("chatBubble")) {
            const int left = bubble->mapTo(list, QPoint(0, 0)).x();
            const int right = list->width() - left - bubble->width();
            result += left <= 10 && right >= 50 ? 'L' : right <= 10 && left >= 50 ? 'R' : '?';
        }
        return result;
    }

    ConnectionState state;
    CommandBus commands;
    QSignalSpy posted{&commands, &CommandBus::posted};
    RemoteDisplayBridge bridge;
    std::unique_ptr<ViewerScreen> screen;
    QStringList specialKeys, sentFiles;
    std::vector<bool> recording;
    int forwarded = 0, clears = 0;
};

TEST_F(ViewerScreenTest, AToolHoldsThePointerBackAndADropSendsOnlyTheFirstFile) {
    clickDisplay();
    const int before = forwarded;
    EXPECT_GT(before, 0);
    tool("Pen / tekenen")->click();
    EXPECT_EQ(screen->drawTool(), collab::AnnotationTool::pen);
    clickDisplay();
    EXPECT_EQ(forwarded, before);
    tool("Pen / tekenen")->click(); // the same tool again: off
    EXPECT_FALSE(screen->drawTool());
    clickDisplay();
    EXPECT_GT(forwarded, before);

    // A drag shows the hint; the drop offers the first of the files, not
    // what is not a file.
    QMimeData data;
    data.setUrls({QUrl("https://example.org/x"), QUrl::fromLocalFile("/tmp/a.txt"),
                  QUrl::fromLocalFile("/tmp/b.txt"), QUrl::fromLocalFile("/tmp/c.txt")});
    QDragEnterEvent enter(QPoint(300, 300), Qt::CopyAction, &data, Qt::LeftButton, {});
    QCoreApplication::sendEvent(screen->display(), &enter);
    EXPECT_TRUE(screen->isDragOver());
    QDropEvent drop(QPointF(300, 300), Qt::CopyAction, &data, Qt::LeftButton, {});
    QCoreApplication::sendEvent(screen->display(), &drop);
    EXPECT_FALSE(screen->isDragOver());
    EXPECT_EQ(sentFiles, QStringList{"/tmp/a.txt"});
}

TEST_F(ViewerScreenTest, TheToolbarPostsItsCommands) {
    state.setAvailableMonitors({{.id = 1, .name = "DP-1", .width = 1920, .height = 1080},
                                {.id = 2, .name = "HDMI-1", .width = 1280, .height = 1024}});
    choose("Monitor", "Wissel naar HDMI-1");
    choose("Kwaliteit", "Zeer laag");
    EXPECT_EQ(posted, (QList<QVariantList>{
                          {Command::selectMonitor, QVariantMap{{"monitorId", 2}}},
                          {Command::sendQualitySetting, QVariantMap{{"level", "very_low"}}}}));
    EXPECT_EQ(state.selectedMonitorId(), 2);

    tool("Ctrl-Alt-Del verzenden")->click();
    EXPECT_EQ(specialKeys, QStringList{"ctrl_alt_del"});
    tool("Wis tekening")->click();
    EXPECT_EQ(clears, 1);
    // The recording button follows the state, not its own clicks.
    tool("Start opname")->click();
    state.setIsRecording(true);
    tool("Stop opname")->click();
    EXPECT_EQ(recording, (std::vector<bool>{true, false}));
    tool("Verbinding verbreken")->click();
    EXPECT_EQ(posted.back()[0].toString(), Command::stopViewing);
}

TEST_F(ViewerScreenTest, ChatAndTransfersShowOverThePicture) {
    state.setUnreadChatCount(2);
    tool("Chat")->click();
    EXPECT_TRUE(state.showChat());
    EXPECT_EQ(state.unreadChatCount(), 0);
    EXPECT_TRUE(screen->chatPanel()->isVisible());
    EXPECT_EQ(screen->focusWidget(), chatPanel().input());
    tool("Chat")->click();
    EXPECT_FALSE(screen->chatPanel()->isVisible());

    EXPECT_FALSE(screen->transferCapsule()->isVisible());
    state.setFileTransferName(QStringLiteral("rapport.pdf"));
    state.setFileTransferProgress(0.427);
    ASSERT_TRUE(screen->transferCapsule()->isVisible());
    QStringList texts;
    for (auto* label : screen->transferCapsule()->findChildren<QLabel*>())
        texts.append(label->text());
    EXPECT_TRUE(texts.contains("rapport.pdf") && texts.contains("42%"))
        << texts.join('|').toStdString();
    // A notice (a second file refused) shows for a moment, then the progress again.
    state.setFileTransferNotice(QStringLiteral("Er loopt al een bestandsoverdracht."));
    auto* bar = screen->transferCapsule()->findChild<QProgressBar*>();
    EXPECT_TRUE(screen->transferCapsule()->isVisible());
    EXPECT_FALSE(bar->isVisible());
    EXPECT_TRUE(
        velmarin::testing::waitUntil([&] { return bar->isVisible(); }, std::chrono::seconds(8)));
    state.setFileTransferProgress(std::nullopt);
    EXPECT_FALSE(screen->transferCapsule()->isVisible());
}

TEST_F(ViewerScreenTest, TheChatSendsTheTrimmedTextAndLeavesBlankInputAsTyped) {
    ChatPanelView& panel = chatPanel();
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
    EXPECT_EQ(posted, (QList<QVariantList>{{Command::sendChat, QVariantMap{{"text", "hallo daar"}}},
                                           {Command::sendChat, QVariantMap{{"text", "tot zo"}}}}));
    EXPECT_TRUE(input->text().isEmpty());
    EXPECT_FALSE(panel.sendButton()->isEnabled());
}

TEST_F(ViewerScreenTest, OwnChatMessagesGoRightAndEqualTimeStampsAllShow) {
    const std::uint64_t at = 1'800'000'000'000;
    state.setIsSharing(true);
    // A link longer than a line wraps inside its bubble as well.
    const std::string link = "https://velmarin.app/hulp/" + std::string(90, 'x');
    state.setChatMessages(
        {{"viewer", "hoi", at}, {"host", "hallo", at}, {"host", "hallo", at}, {"host", link, at}});
    EXPECT_EQ(sides(), QStringLiteral("LRRR"));
    // … all of it: its lines (10 and 6 padding) hold the text's whole length.
    const QWidget* wrapped = chatPanel().findChildren<QWidget*>("chatBubble").back();
    const QFontMetrics metrics(wrapped->font());
    EXPECT_TRUE(QTest::qWaitFor([&] {
        return (wrapped->width() - 20) * ((wrapped->height() - 12) / metrics.height()) >=
               metrics.horizontalAdvance(QString::fromStdString(link));
    }));
    state.setIsSharing(false);
    EXPECT_EQ(sides(), QStringLiteral("RLLL"));

    // A long conversation scrolls to its newest message.
    QScrollBar* bar = chatPanel().findChild<QScrollArea*>()->verticalScrollBar();
    auto messages = state.chatMessages();
    for (int i = 0; i < 20; ++i)
        messages.append({"host", "bericht " + std::to_string(i), at + i});
    state.setChatMessages(messages);
    EXPECT_TRUE(
        QTest::qWaitFor([bar] { return bar->maximum() > 0 && bar->value() == bar->maximum(); }));
    const auto bubbles = chatPanel().findChildren<QWidget*>("chatBubble");
    ASSERT_EQ(bubbles.size(), 24);
    EXPECT_EQ(bubbles.back()->accessibleName(), QStringLiteral("bericht 19"));
}

// A share of nothing and 1u 0m are TheSystemInformationFollowsEachReport's.
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

TEST_F(ViewerScreenTest, TheSystemInformationFollowsEachReportAndSaysWhenThereIsNone) {
    tool("Systeeminformatie")->click();
    QLabel* none = nullptr;
    for (QLabel* label : screen->findChildren<QLabel*>())
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
    QStringList values;
    for (const char* row : {"Processor", "Logische cores", "Geheugen", "Schijf", "Uptime"})
        for (QLabel* label : screen->findChildren<QLabel*>())
            if (label->accessibleName() == row)
                values << label->text();
    EXPECT_EQ(values, QStringList({"37%", "8", "0%", "25%", "1u 0m"}));
    state.setRemoteSystemInfo(std::nullopt);
    EXPECT_TRUE(none->isVisible());
}

} // namespace
} // namespace velmarin::ui
