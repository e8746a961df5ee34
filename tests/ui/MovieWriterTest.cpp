#include "video/playback/MovieWriter.h"

#include "FfprobeRunner.h"
#include "support/video/PatternGenerator.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace velmarin;
using namespace velmarin::ui::fixtures;
using video::testing::makePattern;
using video::testing::Pattern;
using namespace std::chrono_literals;

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
