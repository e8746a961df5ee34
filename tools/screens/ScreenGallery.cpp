// Renders every state of the desktop screens into PNG files, for people to
// look at without a desktop: `velmarin_screen_gallery DIR SUFFIX` on an X
// display (scripts/screenshots runs it on a private Xvfb per palette and
// scale). The state objects are real; no relay or session is involved.

#include "app/AppSettings.h"
#include "app/CommandBus.h"
#include "app/ConnectionState.h"
#include "app/PresenceManager.h"
#include "devices/DeviceBookManager.h"
#include "devices/RecentConnectionsManager.h"
#include "secrets/SecretServiceStore.h"
#include "ui/common/Appearance.h"
#include "ui/devices/DevicesView.h"
#include "ui/permissions/PermissionManager.h"
#include "ui/viewer/ConnectView.h"
#include "ui/viewer/SystemInfoView.h"
#include "ui/viewer/ViewerScreen.h"
#include "ui/window/MainWindow.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QBuffer>
#include <QDateTime>
#include <QDir>
#include <QDragEnterEvent>
#include <QLabel>
#include <QMimeData>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <cstdio>
#include <functional>

using namespace velmarin;

namespace {

struct Gallery {
    QString dir;
    QString suffix;

    void save(const QString& name, const QPixmap& picture) const {
        const QString file = QDir(dir).filePath(name + QLatin1Char('-') + suffix + ".png");
        if (!picture.save(file))
            std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
        else
            std::printf("%s\n", qPrintable(file));
    }
};

void settle() {
    for (int i = 0; i < 5; ++i) {
        QApplication::processEvents();
        QTest::qWait(40);
    }
}

// What is on the screen where the window is, dialogs on top included.
QPixmap screenOf(const QWidget& window) {
    return window.screen()->grabWindow(0, window.x(), window.y(), window.width(),
                                       window.height());
}

ui::PermissionManager::Probes probes(bool granted) {
    return {[granted] { return granted; }, [] { return true; }, {}, {}};
}

// The saved devices of a window, in a settings file of its own; passwords
// go nowhere.
struct Devices {
    explicit Devices(const QString& file)
        : store(file, QSettings::IniFormat) {}
    QSettings store;
    secrets::SecretServiceStore secrets{{.timeout = std::chrono::milliseconds(200)}};
    devices::DeviceBookManager book{store, secrets};
    PresenceManager presence{"wss://127.0.0.1:1", std::chrono::hours(1)};
    // When the recent connections saved next happened.
    QDateTime now = QDateTime::currentDateTimeUtc();
    devices::RecentConnectionsManager recents{store, secrets, [this] { return now; }};
};

// A small made-up desktop with one window on it, as the Viewer would keep
// it of a Host's screen.
QByteArray sampleThumbnail() {
    QImage screen(160, 100, QImage::Format_RGB32);
    QPainter painter(&screen);
    QLinearGradient sky(0, 0, 160, 100);
    sky.setColorAt(0, QColor(0x2b, 0x5f, 0x8a));
    sky.setColorAt(1, QColor(0x6a, 0x3d, 0x8f));
    painter.fillRect(screen.rect(), sky);
    painter.fillRect(QRect(0, 92, 160, 8), QColor(0x20, 0x20, 0x24));
    painter.fillRect(QRect(28, 16, 96, 64), QColor(0xf4, 0xf4, 0xf6));
    painter.fillRect(QRect(28, 16, 96, 10), QColor(0xd8, 0xd8, 0xdd));
    for (int line = 0; line < 5; ++line)
        painter.fillRect(QRect(36, 34 + line * 8, 50 + (line * 17) % 30, 3), QColor(0x9a, 0x9a, 0xa2));
    painter.end();
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    screen.save(&buffer, "JPEG", 80);
    return jpeg;
}

// One window per state, built from fresh state objects.
void render(const Gallery& gallery, const QString& name, bool permissionsGranted,
            const std::function<void(ConnectionState&, ui::MainWindow&)>& prepare,
            const std::function<QPixmap(ui::MainWindow&)>& grab = screenOf,
            const std::function<void(devices::DeviceBookManager&)>& saved = {},
            const std::function<void(Devices&)>& recent = {}) {
    QTemporaryDir dir;
    AppSettings settings(dir.filePath(QStringLiteral("velmarin.conf")), nullptr);
    ConnectionState state;
    CommandBus commands;
    ui::PermissionManager permissions(probes(permissionsGranted));
    Devices devices(dir.filePath(QStringLiteral("devices.conf")));
    if (saved)
        saved(devices.book);
    if (recent)
        recent(devices);
    ui::MainWindow window(state, settings, permissions, commands,
                          {QStringLiteral("0.1.0"), QStringLiteral("1a2b3c4d5e6f")});
    window.setDevicesScreen(new ui::DevicesView(state, commands, devices.book, devices.presence,
                                                devices.secrets));
    window.setConnectScreen(
        new ui::ConnectView(state, commands, devices.recents, devices.secrets));
    window.move(40, 40);
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        std::fprintf(stderr, "window not exposed\n");
    state.setLocalPassword(QStringLiteral("k7m2pq"));
    prepare(state, window);
    settle();
    gallery.save(name, grab(window));
    permissions.stopPolling();
}

// The Viewer's system information popover alone, with a plausible report.
protocol::SystemInfoMessage sampleSystemInfo() {
    protocol::SystemInfoMessage info;
    info.deviceName = "Kantoor-pc";
    info.operatingSystem = "Linux";
    info.osVersion = "6.1.0";
    info.architecture = "x86_64";
    info.processorName = "AMD Ryzen 7 5800U with Radeon Graphics";
    info.logicalProcessorCount = 16;
    info.cpuUsagePercent = 37.4;
    info.memoryUsedBytes = 9'663'676'416;
    info.memoryTotalBytes = 16'518'803'456;
    info.diskUsedBytes = 187'904'819'200;
    info.diskTotalBytes = 502'468'108'288;
    info.uptimeSeconds = 2 * 86400 + 5 * 3600 + 17 * 60;
    return info;
}

void renderSystemInfo(const Gallery& gallery) {
    ConnectionState state;
    state.setRemoteSystemInfo(sampleSystemInfo());
    ui::RemoteSystemInfoView view(state);
    view.move(40, 40);
    view.show();
    if (!QTest::qWaitForWindowExposed(&view))
        std::fprintf(stderr, "window not exposed\n");
    settle();
    gallery.save(QStringLiteral("system-info"), view.grab());
}

// A Host's desktop as the Viewer shows it: a plain stand-in for the
// display widget with a made-up 1280 × 800 screen.
QWidget* sampleRemoteDisplay() {
    QImage screen(1280, 800, QImage::Format_RGB32);
    QPainter painter(&screen);
    painter.drawImage(screen.rect(), QImage::fromData(sampleThumbnail()));
    painter.end();
    auto* display = new QLabel;
    display->setPixmap(QPixmap::fromImage(screen.scaled(1000, 625)));
    display->setAlignment(Qt::AlignCenter);
    display->setAcceptDrops(true); // as the real display widget
    return display;
}

// The Viewer's screen while connected, as the window shows it.
void renderViewing(const Gallery& gallery, const QString& name,
                   const std::function<void(ConnectionState&, ui::ViewerScreen&)>& prepare) {
    ConnectionState state;
    CommandBus commands;
    state.setIsViewing(true);
    state.setStatus(Status::connected());
    ui::ViewerScreen screen(state, commands, {}, sampleRemoteDisplay(),
                            [] { return QSizeF(1280, 800); });
    screen.resize(1000, 625);
    screen.move(40, 40);
    screen.show();
    if (!QTest::qWaitForWindowExposed(&screen))
        std::fprintf(stderr, "window not exposed\n");
    prepare(state, screen);
    settle();
    gallery.save(name, screenOf(screen));
}

void renderViewerStates(const Gallery& gallery) {
    renderViewing(gallery, QStringLiteral("viewing"), [](ConnectionState&, ui::ViewerScreen&) {});
    renderViewing(gallery, QStringLiteral("viewing-annotations"),
                  [](ConnectionState& state, ui::ViewerScreen& screen) {
                      state.setUnreadChatCount(1);
                      screen.toggleTool(collab::AnnotationTool::pen);
                      auto& store = screen.annotationStore();
                      for (int i = 0; i <= 20; ++i)
                          store.addPoint({0.25 + i * 0.01, 0.35 + 0.05 * std::sin(i / 3.0)});
                      store.endStroke();
                      screen.setDrawColor(QStringLiteral("#0A84FF"));
                      for (int i = 0; i <= 12; ++i)
                          store.addPoint({0.6, 0.3 + i * 0.02});
                      store.endStroke();
                  });
    renderViewing(gallery, QStringLiteral("viewing-chat"),
                  [](ConnectionState& state, ui::ViewerScreen&) {
                      state.setChatMessages({
                          {"host", "Zie je mijn scherm?", 1'700'000'000'000},
                          {"viewer", "Ja, scherp en vlot. Ik teken even waar je moet klikken.",
                           1'700'000'060'000},
                      });
                      state.setShowChat(true);
                  });
    renderViewing(gallery, QStringLiteral("viewing-transfer"),
                  [](ConnectionState& state, ui::ViewerScreen&) {
                      state.setFileTransferName(QStringLiteral("Kwartaalrapport 2026-Q3.pdf"));
                      state.setFileTransferProgress(0.42);
                  });
    renderViewing(gallery, QStringLiteral("viewing-system-info"),
                  [](ConnectionState& state, ui::ViewerScreen& screen) {
                      state.setRemoteSystemInfo(sampleSystemInfo());
                      screen.toggleSystemInfo();
                  });
    renderViewing(gallery, QStringLiteral("viewing-drop"),
                  [](ConnectionState&, ui::ViewerScreen& screen) {
                      QMimeData data;
                      data.setUrls({QUrl::fromLocalFile(QStringLiteral("/tmp/notities.txt"))});
                      QDragEnterEvent enter(QPoint(300, 300), Qt::CopyAction, &data,
                                            Qt::LeftButton, {});
                      QCoreApplication::sendEvent(screen.display(), &enter);
                  });
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: velmarin_screen_gallery DIR SUFFIX\n");
        return 2;
    }
    if (const auto scheme = ui::preferredColorScheme())
        ui::applyColorScheme(app, *scheme);
    const Gallery gallery{QString::fromLocal8Bit(argv[1]), QString::fromLocal8Bit(argv[2])};
    QDir().mkpath(gallery.dir);

    render(gallery, QStringLiteral("host-idle"), true, [](ConnectionState&, ui::MainWindow&) {});
    render(gallery, QStringLiteral("host-sharing-viewer-connected"), true,
           [](ConnectionState& state, ui::MainWindow&) {
               state.setIsSharing(true);
               state.setLocalID(QStringLiteral("482913067"));
               state.setStatus(Status::connected());
               state.setLatencyMs(23.4);
               state.setUnreadChatCount(2);
           });
    render(gallery, QStringLiteral("host-registering"), true,
           [](ConnectionState& state, ui::MainWindow&) {
               state.setIsSharing(true);
               state.setStatus(Status::registering());
           });
    render(gallery, QStringLiteral("permissions-missing"), false,
           [](ConnectionState&, ui::MainWindow&) {});
    render(gallery, QStringLiteral("blocked-view"), true,
           [](ConnectionState& state, ui::MainWindow& window) {
               state.setIsSharing(true);
               window.selectTab(ui::MainWindow::Tab::connecting);
           });
    render(gallery, QStringLiteral("connecting-tab"), true,
           [](ConnectionState&, ui::MainWindow& window) {
               window.selectTab(ui::MainWindow::Tab::connecting);
           });
    render(gallery, QStringLiteral("alert"), true, [](ConnectionState& state, ui::MainWindow&) {
        state.setDisconnectMessage(QStringLiteral("De host heeft de verbinding verbroken."));
    });
    render(
        gallery, QStringLiteral("about"), true,
        [](ConnectionState&, ui::MainWindow& window) { window.showAbout(); },
        [](ui::MainWindow& window) { return window.aboutWindow()->grab(); });
    render(
        gallery, QStringLiteral("menu"), true,
        [](ConnectionState&, ui::MainWindow& window) {
            window.applicationMenu()->popup(window.mapToGlobal(QPoint(24, 48)));
        });
    const auto devicesTab = [](const QString& buttonName) {
        return [buttonName](ConnectionState&, ui::MainWindow& window) {
            window.selectTab(ui::MainWindow::Tab::devices);
            settle();
            if (buttonName.isEmpty())
                return;
            // The first row's or the header's button of that name.
            if (auto* button = window.findChild<QAbstractButton*>(buttonName))
                button->click();
        };
    };
    const auto twoDevices = [](devices::DeviceBookManager& book) {
        book.add(QStringLiteral("Kantoor-pc"), QStringLiteral("482913067"), QStringLiteral("x"));
        book.add(QString(), QStringLiteral("731004592"), QStringLiteral("x"));
        book.markConnected(QStringLiteral("482913067"));
    };
    render(gallery, QStringLiteral("devices-empty"), true, devicesTab({}));
    render(gallery, QStringLiteral("devices-add-form"), true, devicesTab("formButton"));
    render(gallery, QStringLiteral("devices-list"), true, devicesTab({}), screenOf, twoDevices);
    render(gallery, QStringLiteral("devices-rename"), true, devicesTab("rename"), screenOf,
           twoDevices);
    render(gallery, QStringLiteral("devices-confirm-delete"), true, devicesTab("delete"), screenOf,
           twoDevices);
    const auto connectTab = [](ConnectionState&, ui::MainWindow& window) {
        window.selectTab(ui::MainWindow::Tab::connecting);
    };
    const auto threeRecents = [](Devices& devices) {
        const QDateTime now = devices.now;
        devices.now = now.addDays(-9);
        devices.recents.save(QStringLiteral("731004592"), QStringLiteral("x"), {});
        devices.now = now.addSecs(-3 * 3600);
        devices.recents.save(QStringLiteral("205118734"), QStringLiteral("x"), {});
        devices.now = now.addSecs(-5 * 60);
        devices.recents.save(QStringLiteral("482913067"), QStringLiteral("x"), sampleThumbnail());
    };
    render(gallery, QStringLiteral("connect-recents"), true, connectTab, screenOf, {},
           threeRecents);
    render(
        gallery, QStringLiteral("connect-confirm-delete"), true,
        [](ConnectionState&, ui::MainWindow& window) {
            window.selectTab(ui::MainWindow::Tab::connecting);
            settle();
            // The first row's delete button.
            window.findChild<QWidget*>(QStringLiteral("recentList"))
                ->findChild<QAbstractButton*>(QStringLiteral("delete"))
                ->click();
        },
        screenOf, {}, threeRecents);
    render(gallery, QStringLiteral("connect-typed"), true,
           [](ConnectionState&, ui::MainWindow& window) {
               window.selectTab(ui::MainWindow::Tab::connecting);
               settle();
               QTest::keyClicks(window.findChild<QLineEdit*>(QStringLiteral("partnerID")),
                                QStringLiteral("482913067"));
               QTest::keyClicks(window.findChild<QLineEdit*>(QStringLiteral("password")),
                                QStringLiteral("k7m2pq"));
               window.findChild<QAction*>(QStringLiteral("togglePassword"))->trigger();
           });
    render(gallery, QStringLiteral("connect-error"), true,
           [](ConnectionState& state, ui::MainWindow& window) {
               window.selectTab(ui::MainWindow::Tab::connecting);
               state.setStatus(Status::error(QStringLiteral("Onjuist wachtwoord.")));
           });
    render(gallery, QStringLiteral("chat-open"), true, [](ConnectionState& state, ui::MainWindow&) {
        state.setIsSharing(true);
        state.setLocalID(QStringLiteral("482913067"));
        state.setStatus(Status::connected());
        state.setLatencyMs(23.4);
        const auto at = [](int hour, int minute) {
            return static_cast<std::uint64_t>(
                QDateTime(QDate::currentDate(), QTime(hour, minute)).toMSecsSinceEpoch());
        };
        state.setChatMessages({
            {"viewer", "Hoi! Ik zie je scherm nu.", at(14, 2)},
            {"host", "Top. Het gaat om de printerinstellingen.", at(14, 3)},
            {"viewer", "Open eens het menu rechtsboven, dan kijk ik mee.", at(14, 3)},
            {"host", "Gedaan", at(14, 5)},
        });
        state.setShowChat(true);
    });
    renderSystemInfo(gallery);
    renderViewerStates(gallery);
    return 0;
}
