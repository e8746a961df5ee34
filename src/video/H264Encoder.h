#pragma once

// Turns the Host's captured pictures into H.264 access units and packages each
// one as a binary video frame message (14-byte header + Annex-B payload,
// parameter sets first on key frames).
//
// Threads: `setup`, `encode` and `teardown` are called on the capture thread;
// `encode` and `teardown` call `onEncodedFrame` on that same thread before
// they return (with low-latency tuning the encoder holds no frames back, so
// each picture comes out at once). `forceNextKeyframe` and `updateBitrate`
// may be called from any thread.

#include "common/Expected.h"
#include "protocol/NALUParser.h"
#include "video/EncoderError.h"
#include "video/EncoderProfile.h"
#include "video/FFmpegHandles.h"
#include "video/Picture.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

namespace velmarin::video {

class H264Encoder {
public:
    using FrameCallback = std::function<void(protocol::Bytes message)>;

    static constexpr std::int64_t kDefaultBitrate = 3'000'000;
    static constexpr int kMaxKeyframeInterval = 90;
    static constexpr int kExpectedFrameRate = 30;
    // Below this the rate control has nothing to work with.
    static constexpr std::int64_t kMinimumBitrate = 10'000;

    // The data-rate cap in bytes per one-second window: twice the average,
    // with the byte count truncated before doubling (3,000,000 bps → 750,000).
    static constexpr std::int64_t dataRateLimitBytesPerSecond(std::int64_t bitrate) {
        return bitrate / 8 * 2;
    }

    explicit H264Encoder(EncoderProfile profile = libx264Profile());
    ~H264Encoder();
    H264Encoder(const H264Encoder&) = delete;
    H264Encoder& operator=(const H264Encoder&) = delete;

    // Opens the encoder for pictures of this size in `format` (the profile's
    // preferred format when AV_PIX_FMT_NONE). An encoder that is already set
    // up is torn down first.
    Expected<void, EncoderError> setup(std::int32_t width, std::int32_t height,
                                       AVPixelFormat format = AV_PIX_FMT_NONE);

    // Encodes one picture. Dropped without a word when the encoder is not set
    // up or the picture's size or format is not the one of `setup`.
    // `presentationTime` is the capture time on a monotonic clock; times that
    // do not increase are nudged forward.
    void encode(const Picture& picture, std::chrono::nanoseconds presentationTime);

    // The next submitted picture becomes an IDR frame. Requests made before
    // that picture is encoded fold into one.
    void forceNextKeyframe() { m_forceNextKeyframe.store(true); }

    // New average bitrate, in effect from the next picture without a new key
    // frame. The data-rate cap of `setup` stays. Before `setup` the value is
    // only stored and used by the next `setup`.
    void updateBitrate(std::int64_t bitsPerSecond);

    // The rate at which pictures come (the capture's frame rate), so that the
    // bitrate is spent per second and not per 30 frames. Default 30; takes
    // effect from the next picture, before `setup` at the next `setup`.
    void updateFrameRate(int framesPerSecond);

    // Flushes pending frames (emitted through `onEncodedFrame`), closes the
    // encoder and restarts sequence numbers at 0. Timestamps keep counting
    // from the encoder's creation.
    void teardown();

    // The callback must not block (hand the message on) and must not call
    // `setOnEncodedFrame` itself.
    void setOnEncodedFrame(FrameCallback callback);

    std::int64_t bitrate() const;
    std::int32_t width() const;
    std::int32_t height() const;
    // The format `encode` takes; AV_PIX_FMT_NONE while not set up.
    AVPixelFormat inputFormat() const;
    // The format the capture should convert to before `setup`.
    AVPixelFormat preferredFormat() const;

private:
    Expected<void, EncoderError> openLocked(std::int32_t width, std::int32_t height,
                                            AVPixelFormat format);
    // Both need m_mutex held; they append finished messages to `out`.
    void drainPackets(std::vector<protocol::Bytes>& out);
    void closeLocked(std::vector<protocol::Bytes>& out);
    void deliverFrames(std::vector<protocol::Bytes>& messages);
    std::int64_t rateForCodec(std::int64_t bitrate) const;

    const EncoderProfile m_profile;
    const std::chrono::steady_clock::time_point m_startTime = std::chrono::steady_clock::now();
    std::atomic<bool> m_forceNextKeyframe{false};

    mutable std::mutex m_mutex;
    AVCodecContextPtr m_context;
    AVPacketPtr m_packet;
    std::uint32_t m_sequenceNumber = 0;
    std::int64_t m_bitrate = kDefaultBitrate;
    int m_frameRate = kExpectedFrameRate;
    std::int32_t m_width = 0;
    std::int32_t m_height = 0;
    std::int64_t m_lastPts = 0;
    bool m_hasPts = false;

    std::mutex m_callbackMutex;
    FrameCallback m_onEncodedFrame;
};

} // namespace velmarin::video
