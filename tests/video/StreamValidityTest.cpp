// The frame messages, stripped of their headers and joined, must be a plain
// H.264 stream that FFmpeg's own tools accept: that is what any Viewer, and
// any recording made from the stream, relies on.

#include "protocol/VideoFrame.h"
#include "support/video/CodecHarness.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <unistd.h>

namespace velmarin::video {
namespace {

using namespace testing;

struct PipeCloser {
    void operator()(std::FILE* pipe) const { pclose(pipe); }
};

// Runs ffprobe and returns its output (stderr included) as lines.
std::vector<std::string> ffprobe(const std::string& arguments) {
    const std::string command = "ffprobe -v error " + arguments + " 2>&1";
    std::unique_ptr<std::FILE, PipeCloser> pipe(popen(command.c_str(), "r"));
    std::vector<std::string> lines;
    if (!pipe)
        return lines;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe.get())) {
        std::string line(buffer);
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

TEST(StreamValidity, JoinedPayloadsAreAnH264StreamWithKeyframesWhereExpected) {
    constexpr int kFrames = 200;
    const std::set<int> forced{37, 150};
    H264Encoder encoder;
    ASSERT_FALSE(encoder.setup(320, 240));
    const auto messages = encodeFrames(encoder, Pattern::scrollingText, 0, kFrames, 30, forced);
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

    const auto stream = ffprobe("-f h264 -show_entries stream=profile,width,height "
                                "-of default=nw=1 " +
                                path.string());
    EXPECT_EQ(stream, (std::vector<std::string>{"profile=High", "width=320", "height=240"}));

    const auto output =
        ffprobe("-f h264 -show_entries frame=key_frame -of default=nw=1 " + path.string());
    std::filesystem::remove(path);
    // One "key_frame=" line per frame; ffprobe's complaints would start with
    // "[h264 @"; the first frame's SEI adds a side-data block.
    std::vector<std::string> frames;
    for (const auto& line : output) {
        EXPECT_FALSE(line.starts_with("[")) << line;
        if (line.starts_with("key_frame="))
            frames.push_back(line.substr(10));
    }
    ASSERT_EQ(frames.size(), static_cast<std::size_t>(kFrames));
    std::vector<int> keyframes;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        if (frames[i] == "1")
            keyframes.push_back(static_cast<int>(i));
    }

    // Our headers and the decoder agree on which frames are key frames.
    EXPECT_EQ(keyframes, flaggedKeyframes);
    ASSERT_FALSE(keyframes.empty());
    EXPECT_EQ(keyframes.front(), 0);
    for (const int index : forced)
        EXPECT_NE(std::find(keyframes.begin(), keyframes.end(), index), keyframes.end()) << index;
    keyframes.push_back(kFrames);
    for (std::size_t i = 1; i < keyframes.size(); ++i)
        EXPECT_LE(keyframes[i] - keyframes[i - 1], 90);
}

} // namespace
} // namespace velmarin::video
