// The Viewer's screen on a private Xvfb with the real display widget and
// bridge: tools holding the pointer back, files dropped as Qt delivers them,
// the toolbar's commands, the chat button and the transfer capsule.

#include "app/CommandBus.h"
#include "app/ConnectionState.h"
#include "support/WaitUntil.h"
#include "ui/viewer/DisplayViewFactory.h"
#include "ui/viewer/RemoteDisplayBridge.h"
#include "ui/viewer/ViewerScreen.h"

#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QProgressBar>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>
#include <QUrl>
#include <gtest/gtest.h>

namespace velmarin::ui {
namespace {

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

    // A drag shows the hint; the drop of three files offers the first one.
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile("/tmp/a.txt"), QUrl::fromLocalFile("/tmp/b.txt"),
                  QUrl::fromLocalFile("/tmp/c.txt")});
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
    ASSERT_EQ(posted.size(), 2);
    EXPECT_EQ(posted[0][0].toString(), Command::selectMonitor);
    EXPECT_EQ(posted[0][1].toMap().value("monitorId").toLongLong(), 2);
    EXPECT_EQ(state.selectedMonitorId(), 2);
    EXPECT_EQ(posted[1][0].toString(), Command::sendQualitySetting);
    EXPECT_EQ(posted[1][1].toMap().value("level").toString(), "very_low");

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
    tool("Chat")->click();
    EXPECT_FALSE(screen->chatPanel()->isVisible());

    EXPECT_FALSE(screen->transferCapsule()->isVisible());
    state.setFileTransferName(QStringLiteral("rapport.pdf"));
    state.setFileTransferProgress(0.427);
    ASSERT_TRUE(screen->transferCapsule()->isVisible());
    QStringList texts;
    for (auto* label : screen->transferCapsule()->findChildren<QLabel*>())
        texts.append(label->text());
    EXPECT_TRUE(texts.contains("rapport.pdf") && texts.contains("42%")) << texts.join('|').toStdString();
    // A notice (a second file refused) shows for a moment, then the progress again.
    state.setFileTransferNotice(QStringLiteral("Er loopt al een bestandsoverdracht."));
    auto* bar = screen->transferCapsule()->findChild<QProgressBar*>();
    EXPECT_TRUE(screen->transferCapsule()->isVisible());
    EXPECT_FALSE(bar->isVisible());
    EXPECT_TRUE(velmarin::testing::waitUntil([&] { return bar->isVisible(); },
                                             std::chrono::seconds(8)));
    state.setFileTransferProgress(std::nullopt);
    EXPECT_FALSE(screen->transferCapsule()->isVisible());
}

} // namespace
} // namespace velmarin::ui
