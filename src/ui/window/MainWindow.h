#pragma once

// The one main window: the branding panel beside the three tabs (sharing,
// connecting, devices), or only the remote screen while a viewing session is
// connected; the alert for an ended session, the size rules, and the
// application menu with About and the relay settings.

#include "ui/window/AboutWindow.h"

#include <QMainWindow>
#include <QMessageBox>
#include <QPointer>

#include <functional>

class QButtonGroup;
class QMenu;
class QPropertyAnimation;

class QStackedWidget;
class QToolButton;

namespace velmarin {
class AppSettings;
class CommandBus;
class ConnectionState;
} // namespace velmarin

namespace velmarin::ui {

class PermissionManager;

inline constexpr QSize kMainWindowSize{820, 550};
inline constexpr QSize kMinimumContentSize{500, 500};
inline constexpr int kResizeAnimationMs = 200;

// `size` centred in `area`: the exact middle, where QRect::center() would
// round towards the top left.
QRect centredFrame(const QSize& size, const QRect& area);

class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    enum class Tab { sharing, connecting, devices };

    MainWindow(ConnectionState& state, AppSettings& settings, PermissionManager& permissions,
               CommandBus& commands, BuildInfo buildInfo, QWidget* parent = nullptr);
    ~MainWindow() override;

    void selectTab(Tab tab);
    Tab selectedTab() const { return m_tab; }
    // The role is viewer, the status connected and a session is viewing.
    bool isViewerConnected() const;
    // The widget that shows the Host's screen while viewing.
    void setRemoteScreen(QWidget* screen);
    // The devices tab; the window takes it.
    void setDevicesScreen(QWidget* screen);
    // The connecting tab's form, shown while not sharing; the window takes it.
    void setConnectScreen(QWidget* screen);

    // The usable part of the screen the window is on.
    QRect availableArea() const;

    // Full screen and back (the Viewer toolbar's button).
    void toggleFullScreen();

    void showAbout();
    void showSettings();
    AboutWindow* aboutWindow() const { return m_about; }
    QMessageBox* alert() const { return m_alert; }
    QMenu* applicationMenu() const { return m_menu; }

    // Asked before the window closes; false keeps it open.
    std::function<bool()> shouldClose;

signals:
    // The first time the window appears (the coordinator's setup runs then).
    void firstAppeared();
    void viewerConnectedChanged(bool connected);

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* buildBrandingPanel();
    QWidget* buildTabArea();
    QWidget* buildBlockedView();
    void buildMenu();
    void applyFirstAppearanceRules();
    void updateConnectingTab();
    void updateViewerConnected();
    void showDisconnectAlert();
    void animateGeometry(const QRect& frame);

    ConnectionState& m_state;
    AppSettings& m_settings;
    PermissionManager& m_permissions;
    CommandBus& m_commands;
    const BuildInfo m_buildInfo;

    Tab m_tab = Tab::sharing;
    bool m_appeared = false;
    bool m_viewerConnected = false;
    QStackedWidget* m_pages = nullptr;
    QWidget* m_home = nullptr;
    QStackedWidget* m_tabs = nullptr;
    QStackedWidget* m_connecting = nullptr;
    QButtonGroup* m_tabButtons = nullptr;
    QWidget* m_remoteScreen = nullptr;
    QMenu* m_menu = nullptr;
    QPointer<QMessageBox> m_alert;
    QPointer<AboutWindow> m_about;
    QPropertyAnimation* m_resize = nullptr;
    QRect m_normalFrame; // before full screen
};

} // namespace velmarin::ui
