// The frame payloads, joined, must be a plain H.264 stream that FFmpeg's own
// tools accept, as any Viewer or recording relies on.

#include "protocol/VideoFrame.h"
#include "support/Shell.h"
#include "support/video/CodecHarness.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

namespace velmarin::video {
namespace {

using namespace testing;

// ffprobe's output lines, its complaints included.
std::vector<std::string> ffprobe(const std::string& arguments) {
    std::istringstream out(
        velmarin::testing::runShell("ffprobe -v error " + arguments + " 2>&1").first);
    std::vector<std::string> lines;
    for (std::string line; std::getline(out, line);)
        lines.push_back(line);
    return lines;
}

TEST(StreamValidity, JoinedPayloadsAreAnH264StreamWithKeyframesWhereExpected) {
    constexpr int kFrames = 200;
    H264Encoder encoder;
    ASSERT_TRUE(encoder.setup(320, 240));
    const auto messages = encodeFrames(encoder, Pattern::scrollingText, 0, kFrames, 30, {37, 150});
    ASSERT_EQ(messages.size(), static_cast<std::size_t>(kFrames));

    const auto path = std::filesystem::temp_directory_path() /
                      ("velmarin-stream-" + std::to_string(getpid()) + ".h264");
    std::vector<int> flaggedKeyframes;
    {
        std::ofstream out(path, std::ios::binary);
        for (std::size_t i = 0; i < messages.size(); ++i) {
            const auto frame = protocol::parseFrame(messages[i]);
            out.write(reinterpret_cast<const char*>(frame->payload.data()),
                      static_cast<std::streamsize>(frame->payload.size()));
            if (frame->isKeyframe)
                flaggedKeyframes.push_back(static_cast<int>(i));
        }
    }

    EXPECT_EQ(ffprobe("-f h264 -show_entries stream=profile,width,height -of default=nw=1 " +
                      path.string()),
              (std::vector<std::string>{"profile=High", "width=320", "height=240"}));

    const auto output =
        ffprobe("-f h264 -show_entries frame=key_frame -of default=nw=1 " + path.string());
    std::filesystem::remove(path);
    // One "key_frame=" line per frame (the first frame's SEI adds a side-data
    // block); complaints would start with "[h264 @".
    std::vector<int> keyframes;
    int frames = 0;
    for (const auto& line : output) {
        EXPECT_FALSE(line.starts_with("[")) << line;
        if (line == "key_frame=1")
            keyframes.push_back(frames);
        frames += line.starts_with("key_frame=");
    }
    ASSERT_EQ(frames, kFrames);

    // Our headers and the decoder agree on which frames are key frames (that
    // the first and the forced ones are is the encoder test's), and no
    // stretch without one is longer than three seconds.
    EXPECT_EQ(keyframes, flaggedKeyframes);
    keyframes.push_back(kFrames);
    for (std::size_t i = 1; i < keyframes.size(); ++i)
        EXPECT_LE(keyframes[i] - keyframes[i - 1], 90);
}

} // namespace
} // namespace velmarin::video
