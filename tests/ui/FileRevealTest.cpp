#include "support/video/PatternGenerator.h"
#include "ui/viewer/RecordingManager.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QUrl>
#include <gtest/gtest.h>

#include <cstdlib>

using namespace velmarin;
using namespace std::chrono_literals;

namespace {

// Stands in for the desktop's file manager on a private session bus.
class FileManager : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")

public:
    QStringList shown;

public slots:
    void ShowItems(const QStringList& uris, const QString&) { shown += uris; }
};

} // namespace

TEST(FileReveal, AFinishedRecordingIsShownInTheFileManager) {
    QProcess bus;
    bus.start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
    ASSERT_TRUE(bus.waitForReadyRead(10'000));
    const QString address = QString::fromUtf8(bus.readLine()).trimmed();
    {
        QDBusConnection connection = QDBusConnection::connectToBus(address, "reveal-test");
        ASSERT_TRUE(connection.isConnected());
        FileManager fileManager;
        ASSERT_TRUE(connection.registerService("org.freedesktop.FileManager1"));
        ASSERT_TRUE(connection.registerObject("/org/freedesktop/FileManager1", &fileManager,
                                              QDBusConnection::ExportAllSlots));
        ::setenv("DBUS_SESSION_BUS_ADDRESS", address.toLocal8Bit().constData(), 1);

        QTemporaryDir dir;
        ui::RecordingManager::Options options;
        options.folder = dir.path();
        ui::RecordingManager manager(options);
        QString finished;
        manager.onFinished = [&](const QString& path) { finished = path; };

        // Nothing recorded: nothing to show.
        manager.start({});
        manager.stop();
        manager.start({});
        for (int i = 0; i < 5; ++i)
            manager.append(
                video::testing::makePattern(video::testing::Pattern::staticText, 160, 120, i));
        manager.stop();
        manager.waitUntilIdle();
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (fileManager.shown.isEmpty() && std::chrono::steady_clock::now() < deadline)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        ASSERT_FALSE(finished.isEmpty());
        EXPECT_EQ(fileManager.shown, QStringList{QUrl::fromLocalFile(finished).toString()});
        connection.unregisterObject("/org/freedesktop/FileManager1");
    }
    QDBusConnection::disconnectFromBus("reveal-test");
    bus.kill();
    bus.waitForFinished();
}

#include "FileRevealTest.moc"
