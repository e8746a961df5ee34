// Recordings, checked with the real ffprobe and ffmpeg: the movie writer on
// its own (a crash, a full disk), the manager (its thread, file names and
// rights, the file manager) and where recordings go.

#include "FfprobeRunner.h"
#include "support/WaitUntil.h"
#include "support/video/PatternGenerator.h"
#include "ui/viewer/RecordingLocation.h"
#include "ui/viewer/RecordingManager.h"
#include "video/playback/MovieWriter.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QUrl>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace velmarin;
using namespace velmarin::ui;
using namespace velmarin::ui::fixtures;
using velmarin::testing::waitUntil;
using video::testing::makePattern;
using video::testing::Pattern;
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

class RecordingManagerTest : public ::testing::Test {
protected:
    RecordingManagerTest() { open(false); }
    void open(bool reveal) {
        RecordingManager::Options options;
        options.folder = dir.path();
        options.revealInFileManager = reveal;
        options.clock = [this] {
            return std::chrono::steady_clock::time_point(std::chrono::nanoseconds(nowNs.load()));
        };
        manager = std::make_unique<RecordingManager>(options);
        manager->onStateChange = [this](bool recording) { states.push_back(recording); };
        manager->onFinished = [this](const QString& path) { finished.push_back(path); };
        manager->onError = [this](const QString& message) { errors.push_back(message); };
    }

    // Feeds pictures 1/30 s apart, each one taken by the recording thread
    // before the next (a live Viewer may drop some; the test must not).
    void feed(Pattern pattern, int width, int height, int count) {
        for (int i = 0; i < count; ++i) {
            manager->append(makePattern(pattern, width, height, i));
            manager->waitUntilIdle();
            nowNs += 1'000'000'000 / 30;
        }
    }

    void settle() {
        manager->waitUntilIdle();
        QCoreApplication::processEvents();
    }

    QStringList files() const { return QDir(dir.path()).entryList(QDir::Files); }
    QByteArray contents(const QString& name) const {
        QFile file(dir.filePath(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    void write(const QString& name, const QByteArray& data) const {
        QFile file(dir.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(data);
    }
    static unsigned mode(const QString& path) {
        struct stat info {};
        return ::lstat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode & 0777 : 0;
    }

    QTemporaryDir dir;
    std::atomic<std::int64_t> nowNs{1'000'000'000'000};
    std::unique_ptr<RecordingManager> manager;
    std::vector<bool> states;
    std::vector<QString> finished;
    std::vector<QString> errors;
};

} // namespace

TEST(MovieWriterTest, ACrashLeavesAFileThatPlaysUpToItsLastFragment) {
    QTemporaryDir dir;
    const QString path = dir.filePath("crash.mp4");
    // The child writes 150 pictures (key frames at 0, 60, 120) and dies
    // without closing anything.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        auto created = video::MovieWriter::create(path.toStdString(), 320, 240);
        if (!created)
            _exit(3);
        for (int i = 0; i < 150; ++i)
            if (!(*created)->write(makePattern(Pattern::movingGradient, 320, 240, i), i * 33ms))
                _exit(4);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    const auto facts = probeMovie(path);
    ASSERT_TRUE(facts) << "a crashed recording does not open";
    EXPECT_EQ(facts->size, QSize(320, 240));
    EXPECT_GE(facts->frames, 60);
    EXPECT_LE(facts->frames, 150);
}

TEST(MovieWriterTest, AFullDiskIsReportedNotCrashedOn) {
    // /dev/full takes the open and refuses every write with ENOSPC: the
    // failure shows up at creation or at the first flush, as on a real disk.
    const int full = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
    ASSERT_GE(full, 0);
    auto created = video::MovieWriter::create(video::OutputFile(full), 640, 480);
    std::optional<video::RecordingError> error;
    const auto failure = [&](const auto& result) {
        if (!result)
            error = result.error();
    };
    if (!created) {
        error = created.error();
    } else {
        auto& writer = **created;
        for (int i = 0; i < 90 && !error; ++i)
            failure(writer.write(makePattern(Pattern::fullMotion, 640, 480, i), i * 33ms));
        if (!error)
            failure(writer.finish());
        // Further pictures are refused, not written into a broken file.
        EXPECT_FALSE(writer.write(makePattern(Pattern::fullMotion, 640, 480, 0), 5s));
    }
    ASSERT_TRUE(error);
    EXPECT_NE(error->description.find("schijf is vol"), std::string::npos) << error->description;
}

TEST_F(RecordingManagerTest,
       AnEmptyRecordingMakesNoFileAndTheFinishedOnesAreShownInTheFileManager) {
    QProcess bus;
    bus.start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
    ASSERT_TRUE(bus.waitForReadyRead(10'000));
    const QString address = QString::fromUtf8(bus.readLine()).trimmed();
    ::setenv("DBUS_SESSION_BUS_ADDRESS", address.toLocal8Bit().constData(), 1);
    QDBusConnection connection = QDBusConnection::connectToBus(address, "file-manager");
    FileManager fileManager;
    ASSERT_TRUE(connection.registerService("org.freedesktop.FileManager1"));
    ASSERT_TRUE(connection.registerObject("/org/freedesktop/FileManager1", &fileManager,
                                          QDBusConnection::ExportAllSlots));
    open(true);

    // The caller runs ahead of the recording thread: the first stop is
    // carried out after the second start has been asked for.
    QStringList revealed;
    for (int round = 0; round < 20; ++round) {
        manager->start({});
        manager->stop();
        manager->start({});
        EXPECT_TRUE(manager->isRecording()) << "round " << round;
        for (int i = 0; i < 3; ++i)
            manager->append(makePattern(Pattern::staticText, 160, 120, i));
        manager->stop();
        settle();
        ASSERT_EQ(finished.size(), std::size_t(round + 1)) << "round " << round;
        revealed << QUrl::fromLocalFile(finished.back()).toString();
    }
    EXPECT_TRUE(errors.empty());
    // The empty recordings made no file and showed nothing, and pictures
    // while not recording are ignored.
    EXPECT_EQ(files().size(), 20) << files().join(", ").toStdString();
    feed(Pattern::staticText, 160, 120, 3);
    settle();
    EXPECT_EQ(files().size(), 20);
    EXPECT_EQ(states.back(), false);
    EXPECT_TRUE(waitUntil([&] { return fileManager.shown.size() >= 20; }, 10s));
    EXPECT_EQ(fileManager.shown, revealed);
    connection.unregisterObject("/org/freedesktop/FileManager1");
    bus.kill();
    bus.waitForFinished();
}

TEST_F(RecordingManagerTest, OddAndChangingSizesFitTheTrackAndDestroyingTheManagerFinishesIt) {
    const QString path = dir.filePath("switch.mp4");
    manager->start(path);
    // 4:2:0 takes even sizes only: the track is 320 × 240.
    feed(Pattern::movingGradient, 321, 241, 30);
    // The Host switched to a wide display.
    feed(Pattern::movingGradient, 640, 360, 30);
    manager.reset();
    EXPECT_FALSE(QFileInfo::exists(unfinishedPath(path)));

    const auto facts = probeMovie(path);
    ASSERT_TRUE(facts);
    EXPECT_EQ(facts->size, QSize(320, 240));
    EXPECT_EQ(facts->frames, 60);
    // 640 × 360 fits as 320 × 180 with 30-pixel bars above and below.
    const QByteArray luma = lumaOfFrame(path, 50);
    ASSERT_EQ(luma.size(), 320 * 240);
    const auto at = [&](int x, int y) { return static_cast<unsigned char>(luma[y * 320 + x]); };
    EXPECT_LE(at(160, 10), 20);
    EXPECT_LE(at(160, 230), 20);
    int brightInPicture = 0;
    for (int x = 0; x < 320; x += 8)
        brightInPicture += at(x, 120) > 40;
    EXPECT_GT(brightInPicture, 20);
}

TEST_F(RecordingManagerTest, FilesAreOwnerOnlyAndNeverReplaceAnother) {
    ::umask(022); // what most sessions have: new files readable by all
    // Someone planted a link under the unfinished name, to have another
    // file overwritten.
    write("doelwit.txt", "niet overschrijven");
    ASSERT_TRUE(QFile::link(dir.filePath("doelwit.txt"), dir.filePath("opname-onvoltooid.mp4")));
    manager->start(dir.filePath("opname.mp4"));
    feed(Pattern::staticText, 160, 120, 5);
    const QString writing = unfinishedPath(manager->outputPath());
    EXPECT_EQ(QFileInfo(writing).fileName(), "opname-2-onvoltooid.mp4");
    EXPECT_EQ(mode(writing), 0600u);
    // Another program takes the final name meanwhile.
    write("opname-2.mp4", "van een ander");
    manager->stop();
    settle();

    EXPECT_EQ(contents("doelwit.txt"), "niet overschrijven");
    EXPECT_EQ(contents("opname-2.mp4"), "van een ander");
    ASSERT_EQ(finished.size(), 1u) << (errors.empty() ? "" : errors[0].toStdString());
    EXPECT_EQ(finished[0].toStdString(), dir.filePath("opname-3.mp4").toStdString());
    EXPECT_EQ(manager->outputPath(), finished[0]);
    EXPECT_EQ(mode(finished[0]), 0600u);
    const auto facts = probeMovie(finished[0]);
    ASSERT_TRUE(facts);
    EXPECT_EQ(facts->frames, 5);
}

TEST_F(RecordingManagerTest, AnUnwritableFileIsReportedOnceAndEndsTheRecording) {
    manager->start(dir.filePath("missing/folder/x.mp4"));
    feed(Pattern::staticText, 160, 120, 3);
    manager->stop();
    settle();
    ASSERT_EQ(errors.size(), 1u) << "reported once, not per picture";
    EXPECT_TRUE(errors[0].contains("kan niet worden aangemaakt")) << errors[0].toStdString();
    EXPECT_EQ(states, (std::vector<bool>{true, false}));
    EXPECT_TRUE(finished.empty());
}

// Free names and the unfinished name are FilesAreOwnerOnlyAndNeverReplaceAnother's.
TEST(RecordingLocationTest, NamesCarryTheTimeAndTheFolderIsNeverShared) {
    QTemporaryDir dir;
    EXPECT_EQ(recordingFileName(QDateTime(QDate(2024, 3, 5), QTime(14, 7, 9))),
              "Velmarin-2024-03-05_14-07-09.mp4");

    // No Videos folder can be made: home, never a shared temporary folder.
    const QByteArray home = qgetenv("HOME");
    QFile(dir.filePath("Videos")).open(QIODevice::WriteOnly);
    ::setenv("HOME", QFile::encodeName(dir.path()).constData(), 1);
    const QString folder = recordingFolder();
    ::setenv("HOME", home.constData(), 1);
    EXPECT_EQ(folder, dir.path());
}

#include "RecordingTest.moc"
