// The desktop screens on a private Xvfb through the xcb platform: real
// widgets over real state objects, driven by clicks.

#include "../app/AppTestSupport.h"
#include "app/AppSettings.h"
#include "app/CommandBus.h"
#include "app/ConnectionState.h"
#include "ui/common/ChatPanel.h"
#include "ui/host/HostView.h"
#include "ui/permissions/PermissionManager.h"
#include "ui/window/MainWindow.h"
#include "ui/window/SettingsDialog.h"
#include "ui/window/SharingIndicator.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using namespace velmarin;
using namespace velmarin::ui;
using velmarin::testing::waitUntil;

namespace {

// By its text, or by its tool tip (the icon buttons).
template <class W = QAbstractButton> W* find(QWidget& root, const QString& text) {
    for (W* widget : root.findChildren<W*>())
        if (widget->text() == text || widget->toolTip() == text)
            return widget;
    return nullptr;
}

bool visible(QWidget& root, const QString& text) {
    auto* label = find<QLabel>(root, text);
    return label && label->isVisible();
}

struct Probe {
    bool screen = true;
    bool input = true;
    int checks = 0;
};

class DesktopScreens : public ::testing::Test {
protected:
    void SetUp() override { settings.setRelayServer({}, {}); }

    std::unique_ptr<MainWindow> openWindow() {
        auto window = std::make_unique<MainWindow>(state, settings, permissions, commands,
                                                   BuildInfo{"0.1.0", "abc123"});
        window->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        return window;
    }

    QTemporaryDir dir;
    AppSettings settings{dir.filePath("velmarin.conf"), nullptr};
    ConnectionState state;
    CommandBus commands;
    Probe probe;
    PermissionManager permissions{PermissionManager::Probes{
        [this] { return ++probe.checks, probe.screen; }, [this] { return probe.input; }, {}, {}}};
    QStringList posted;
    QMetaObject::Connection recorder = QObject::connect(
        &commands, &CommandBus::posted, [this](const QString& name) { posted << name; });
};

TEST_F(DesktopScreens, TabsSetTheModeAndSharingBlocksTheViewer) {
    auto window = openWindow();
    EXPECT_EQ(window->size(), kMainWindowSize);
    find(*window, "Verbinden")->click();
    EXPECT_EQ(state.mode(), Mode::viewer);
    EXPECT_FALSE(visible(*window, "Viewer niet beschikbaar"));
    find(*window, "Apparaten")->click();
    EXPECT_EQ(window->selectedTab(), MainWindow::Tab::devices);

    // Sharing: the connecting tab shows why it cannot be used, and the way back.
    find(*window, "Delen")->click();
    EXPECT_EQ(state.mode(), Mode::host);
    find(*window, "Start delen")->click();
    EXPECT_TRUE(find(*window, "Stop delen"));
    find(*window, "Verbinden")->click();
    ASSERT_TRUE(visible(*window, "Viewer niet beschikbaar"));
    find(*window, "Ga naar Host")->click();
    EXPECT_EQ(window->selectedTab(), MainWindow::Tab::sharing);
    EXPECT_EQ(state.mode(), Mode::host);
}

TEST_F(DesktopScreens, FirstAppearanceGivesAPasswordOnceAndAFixedOneWins) {
    int appeared = 0;
    {
        MainWindow window(state, settings, permissions, commands, {});
        QObject::connect(&window, &MainWindow::firstAppeared, [&] { ++appeared; });
        window.show();
        const QString first = state.localPassword();
        EXPECT_EQ(first.size(), 6);
        window.hide();
        window.show();
        EXPECT_EQ(state.localPassword(), first);
        EXPECT_TRUE(visible(window, first));
        EXPECT_TRUE(visible(window, kNoIDPlaceholder));
    }
    EXPECT_EQ(appeared, 1);

    settings.setUseFixedCredentials(true);
    settings.setFixedPassword("fixed9");
    auto window = openWindow();
    EXPECT_EQ(state.localPassword(), "fixed9");
    state.setLocalID("123456789");
    EXPECT_TRUE(visible(*window, "123-456-789"));
    state.setLocalPassword({});
    EXPECT_TRUE(visible(*window, kNoPasswordPlaceholder));
}

TEST_F(DesktopScreens, HostControlsWriteTheStateAndSettingsAtOnce) {
    auto window = openWindow();
    // Fixed credentials on keep the shown password; off clears them and
    // shows a new one at once.
    const QString password = state.localPassword();
    find(*window, "Vast ID & wachtwoord")->click();
    EXPECT_TRUE(settings.useFixedCredentials());
    EXPECT_EQ(settings.fixedPassword(), password);
    settings.setFixedID("123456789");
    find(*window, "Vast ID & wachtwoord")->click();
    EXPECT_FALSE(settings.useFixedCredentials());
    EXPECT_TRUE(settings.fixedPassword().isEmpty());
    EXPECT_TRUE(settings.fixedID().isEmpty());
    EXPECT_NE(state.localPassword(), password);
    EXPECT_TRUE(visible(*window, state.localPassword()));

    // The copy button is DesktopEndToEnd's (it connects with what it copied).
    const QString shown = state.localPassword();
    find(*window, "Genereer nieuw wachtwoord")->click();
    EXPECT_NE(state.localPassword(), shown);
    EXPECT_EQ(state.localPassword().size(), 6);

    find(*window, "Automatisch starten")->click();
    EXPECT_TRUE(settings.autoStartHosting());

    // The status line follows the state; the latency shows only while a
    // Viewer is connected to this Host.
    state.setLatencyMs(23.4);
    EXPECT_FALSE(visible(*window, "23 ms"));
    state.setIsSharing(true);
    state.setStatus(Status::connected());
    EXPECT_TRUE(visible(*window, Status::connected().displayText()));
    EXPECT_TRUE(visible(*window, "23 ms"));

    // The chat opens inside the tab; its cross closes it.
    auto* chat = window->findChild<ChatPanelView*>();
    ASSERT_TRUE(chat);
    EXPECT_FALSE(chat->isVisible());
    find(*window, "Chat")->click();
    EXPECT_TRUE(chat->isVisible());
    EXPECT_TRUE(chat->parentWidget()->rect().contains(chat->geometry()));
    chat->findChild<QAbstractButton*>("closeChat")->click();
    EXPECT_FALSE(state.showChat());
    EXPECT_FALSE(chat->isVisible());
}

// The window's size while viewing and after is DesktopEndToEnd's.
TEST_F(DesktopScreens, AnEndedSessionIsNoLongerViewingAndAlertsWithItsMessage) {
    auto window = openWindow();
    window->setRemoteScreen(new QLabel("remote"));
    find(*window, "Verbinden")->click();
    bool viewerActive = false;
    QObject::connect(window.get(), &MainWindow::viewerConnectedChanged,
                     [&](bool connected) { viewerActive = connected; });
    state.setIsViewing(true);
    state.setStatus(Status::connected());
    EXPECT_TRUE(viewerActive);
    state.setDisconnectMessage(QStringLiteral("De host heeft de verbinding verbroken."));
    state.setIsViewing(false);
    EXPECT_FALSE(viewerActive);
    ASSERT_TRUE(waitUntil([&] { return window->alert() && window->alert()->isVisible(); }));
    EXPECT_EQ(window->alert()->informativeText(), "De host heeft de verbinding verbroken.");
    QTest::keyClick(window->alert(), Qt::Key_Return);
    EXPECT_TRUE(waitUntil([&] { return !state.disconnectMessage(); }));
}

TEST_F(DesktopScreens, AboutOpensOnceAndTheMenuReachesIt) {
    auto window = openWindow();
    const auto actions = window->applicationMenu()->actions();
    ASSERT_FALSE(actions.isEmpty());
    EXPECT_EQ(actions.front()->text(), "Over Velmarin");
    actions.front()->trigger();
    AboutWindow* about = window->aboutWindow();
    ASSERT_NE(about, nullptr);
    EXPECT_TRUE(QTest::qWaitForWindowExposed(about));
    window->showAbout();
    EXPECT_EQ(window->aboutWindow(), about);
    int aboutWindows = 0;
    for (QWidget* top : QApplication::topLevelWidgets())
        aboutWindows += qobject_cast<AboutWindow*>(top) && top->isVisible();
    EXPECT_EQ(aboutWindows, 1);
    EXPECT_TRUE(visible(*about, "abc123"));
}

TEST_F(DesktopScreens, PermissionPollRunsOnceLogsEachCheckAndStopsWhenGranted) {
    probe.screen = false;
    velmarin::testing::LogCapture log("com.tessamund.velmarin.permissions");
    auto window = openWindow();
    EXPECT_TRUE(visible(*window, "Permissies Vereist"));
    EXPECT_TRUE(find(*window, "Toestaan")->isVisible());
    EXPECT_TRUE(permissions.isPolling());
    // Asking twice still polls once a second: one check on appearing, then
    // at most two ticks in 2.3 s (two timers would make four).
    find(*window, "Toestaan")->click();
    find(*window, "Toestaan")->click();
    velmarin::testing::pumpFor(std::chrono::milliseconds(2300));
    EXPECT_GE(probe.checks, 2);
    EXPECT_LE(probe.checks, 3);
    EXPECT_EQ(log.count("Screen Recording: false, Accessibility: true"), probe.checks);

    probe.screen = true;
    ASSERT_TRUE(waitUntil([&] { return !permissions.isPolling(); }));
    EXPECT_FALSE(visible(*window, "Permissies Vereist"));
    const int checks = probe.checks;
    velmarin::testing::pumpFor(std::chrono::milliseconds(1200));
    EXPECT_EQ(probe.checks, checks);
    EXPECT_EQ(log.count("Screen Recording: true, Accessibility: true"), 1);
}

TEST_F(DesktopScreens, ADesktopThatCannotShareSaysSoWithoutPolling) {
    PermissionManager wayland({[] { return true; },
                               [] { return true; },
                               [] { return std::optional<QString>("Kan niet op Wayland."); },
                               {}});
    HostView view(state, settings, wayland, commands);
    view.show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&view));
    EXPECT_TRUE(visible(view, "Kan niet op Wayland."));
    EXPECT_FALSE(wayland.isPolling());
    EXPECT_FALSE(wayland.allGranted());
}

TEST_F(DesktopScreens, TrayAndNotificationsFollowSharingAndTheViewer) {
    QStringList notices;
    SharingIndicator indicator(state, commands,
                               [&](const QString& summary, const QString&) { notices << summary; });
    EXPECT_FALSE(indicator.trayIcon().isVisible());
    state.setIsSharing(true);
    EXPECT_TRUE(indicator.trayIcon().isVisible());
    state.setStatus(Status::waitingForViewer());
    state.setStatus(Status::connected());
    EXPECT_TRUE(indicator.viewerWatching());
    state.setStatus(Status::waitingForViewer());
    EXPECT_EQ(notices, QStringList({"Een Viewer kijkt mee", "Viewer vertrokken"}));

    state.setStatus(Status::connected());
    indicator.stopAction().trigger();
    EXPECT_FALSE(state.isSharing());
    EXPECT_EQ(posted, QStringList({"stopHosting"}));
    EXPECT_FALSE(indicator.trayIcon().isVisible());
    EXPECT_EQ(notices.size(), 4);
}

TEST_F(DesktopScreens, RelaySettingsRefuseWhatCannotWorkAndKeepWhatCan) {
    EXPECT_FALSE(relayServerProblem("", ""));
    EXPECT_FALSE(relayServerProblem("relay.example.org:9000", ""));
    EXPECT_FALSE(relayServerProblem("[::1]:8766", dir.filePath("velmarin.conf")));
    EXPECT_TRUE(relayServerProblem("relay example", ""));
    EXPECT_TRUE(relayServerProblem("wss://relay/x", ""));
    EXPECT_TRUE(relayServerProblem("relay:poort", ""));
    EXPECT_TRUE(relayServerProblem("relay", dir.filePath("geen.pem")));

    SettingsDialog dialog(settings);
    auto* host = dialog.findChildren<QLineEdit*>().value(0);
    ASSERT_NE(host, nullptr);
    host->setText("relay example");
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_TRUE(settings.relayHost().isEmpty());
    host->setText(" relay.example.org:9000 ");
    dialog.accept();
    EXPECT_EQ(settings.relayHost(), "relay.example.org:9000");
    EXPECT_EQ(QSettings(settings.fileName(), QSettings::IniFormat).value("relayHost"),
              "relay.example.org:9000");
}

} // namespace
