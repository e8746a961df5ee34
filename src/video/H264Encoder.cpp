#include "video/H264Encoder.h"

#include "log/LogSink.h"
#include "protocol/VideoFrame.h"
#include "video/CodecLog.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/dict.h>
}

#include <algorithm>
#include <thread>

namespace velmarin::video {
namespace {

// Presentation times in microseconds: fine enough for any capture rate, and
// the rate control works from real time stamps, so a screen that only sends
// frames when something changes still gets its bitrate.
constexpr AVRational kTimeBase{1, 1'000'000};

} // namespace

H264Encoder::H264Encoder(EncoderProfile profile)
    : m_profile(std::move(profile)) {
    routeCodecLogs();
}

H264Encoder::~H264Encoder() = default;

Expected<void, EncoderError> H264Encoder::setup(std::int32_t width, std::int32_t height,
                                                AVPixelFormat format) {
    std::vector<protocol::Bytes> flushed;
    Expected<void, EncoderError> opened;
    {
        const std::lock_guard lock(m_mutex);
        if (m_context)
            closeLocked(flushed);
        opened = openLocked(width, height, format);
    }
    deliverFrames(flushed);
    return opened;
}

Expected<void, EncoderError> H264Encoder::openLocked(std::int32_t width, std::int32_t height,
                                                     AVPixelFormat format) {
    m_width = width;
    m_height = height;
    const auto fail = [](int status) {
        return unexpected(
            EncoderError{.kind = EncoderError::Kind::sessionCreationFailed, .status = status});
    };

    if (format == AV_PIX_FMT_NONE)
        format = preferredFormat();
    const auto& formats = m_profile.pixelFormats;
    if (std::find(formats.begin(), formats.end(), format) == formats.end() || width <= 0 ||
        height <= 0)
        return fail(AVERROR(EINVAL));

    const AVCodec* codec = avcodec_find_encoder_by_name(m_profile.codecName.c_str());
    if (!codec)
        return fail(AVERROR_ENCODER_NOT_FOUND);
    AVCodecContextPtr context(avcodec_alloc_context3(codec));
    AVPacketPtr packet(av_packet_alloc());
    if (!context || !packet)
        return fail(AVERROR(ENOMEM));

    context->width = width;
    context->height = height;
    context->pix_fmt = format;
    context->time_base = kTimeBase;
    context->framerate = AVRational{kExpectedFrameRate, 1};
    // x264 can change the average bitrate of a running stream only when the
    // peak rate equals it, so the cap is built from the buffer instead: a
    // buffer of (cap - average) lets any one-second window carry at most the
    // cap of twice the average, while the long-run rate stays the average.
    // A later bitrate change moves the average and keeps this buffer.
    context->bit_rate = rateForCodec(m_bitrate);
    context->rc_max_rate = context->bit_rate;
    context->rc_buffer_size = static_cast<int>(
        std::clamp<std::int64_t>(dataRateLimitBytesPerSecond(m_bitrate) * 8 - m_bitrate, 1000,
                                 std::numeric_limits<int>::max()));
    context->gop_size = kMaxKeyframeInterval;
    context->max_b_frames = 0;
    context->profile = FF_PROFILE_H264_HIGH;
    // Sliced threads: each one cuts the picture into one more slice, which
    // costs a little compression, and the capture thread needs a core too.
    context->thread_count =
        m_profile.threadCount > 0
            ? m_profile.threadCount
            : static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 4u));

    AVDictionary* rawOptions = nullptr;
    for (const auto& [key, value] : m_profile.options)
        av_dict_set(&rawOptions, key.c_str(), value.c_str(), 0);
    const int status = avcodec_open2(context.get(), codec, &rawOptions);
    const AVDictionaryPtr unused(rawOptions);
    if (status < 0)
        return fail(status);
    for (const AVDictionaryEntry* entry = nullptr;
         (entry = av_dict_get(unused.get(), "", entry, AV_DICT_IGNORE_SUFFIX));)
        logging::log(logging::Level::warning, "encoding", "Encoder option %s not recognised",
                     entry->key);

    m_context = std::move(context);
    m_packet = std::move(packet);
    m_hasPts = false;
    logging::log(logging::Level::info, "encoding", "H264 encoder setup: %dx%d @ %ld bps", width,
                 height, static_cast<long>(m_bitrate));
    return {};
}

void H264Encoder::encode(const Picture& picture, std::chrono::nanoseconds presentationTime) {
    std::vector<protocol::Bytes> messages;
    {
        const std::lock_guard lock(m_mutex);
        if (!m_context || picture.isNull() || picture.width() != m_width ||
            picture.height() != m_height || picture.format() != m_context->pix_fmt)
            return;

        // A reference of our own: the picture is shared and stays untouched.
        AVFramePtr frame(av_frame_alloc());
        if (!frame || av_frame_ref(frame.get(), picture.avFrame()) < 0)
            return;
        std::int64_t pts =
            std::chrono::duration_cast<std::chrono::microseconds>(presentationTime).count();
        if (m_hasPts && pts <= m_lastPts)
            pts = m_lastPts + 1;
        m_lastPts = pts;
        m_hasPts = true;
        frame->pts = pts;
        frame->pict_type =
            m_forceNextKeyframe.exchange(false) ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;

        if (avcodec_send_frame(m_context.get(), frame.get()) < 0)
            return;
        drainPackets(messages);
    }
    deliverFrames(messages);
}

void H264Encoder::drainPackets(std::vector<protocol::Bytes>& out) {
    while (avcodec_receive_packet(m_context.get(), m_packet.get()) == 0) {
        const protocol::EncodedFrame encoded{
            .isKeyframe = (m_packet->flags & AV_PKT_FLAG_KEY) != 0,
            .units = protocol::ByteView(m_packet->data, static_cast<std::size_t>(m_packet->size)),
            .format = protocol::NalFormat::annexB,
            .timestampMs =
                protocol::frameTimestampMs(std::chrono::steady_clock::now() - m_startTime),
            .sequenceNumber = m_sequenceNumber,
        };
        out.push_back(protocol::packageFrame(encoded));
        ++m_sequenceNumber;
        av_packet_unref(m_packet.get());
    }
}

void H264Encoder::updateBitrate(std::int64_t bitsPerSecond) {
    const std::lock_guard lock(m_mutex);
    m_bitrate = bitsPerSecond;
    if (m_context) {
        // libx264 picks the new rate up with the next frame, without a key
        // frame; the buffer of setup stays.
        m_context->bit_rate = rateForCodec(bitsPerSecond);
        m_context->rc_max_rate = m_context->bit_rate;
        logging::log(logging::Level::info, "encoding", "Bitrate updated to %ld",
                     static_cast<long>(bitsPerSecond));
    }
}

void H264Encoder::updateFrameRate(int framesPerSecond) {
    const std::lock_guard lock(m_mutex);
    m_frameRate = std::clamp(framesPerSecond, 1, 240);
    if (m_context) {
        m_context->bit_rate = rateForCodec(m_bitrate);
        m_context->rc_max_rate = m_context->bit_rate;
    }
}

std::int64_t H264Encoder::rateForCodec(std::int64_t bitrate) const {
    // The low-latency rate control counts frames, not time: it gives each
    // frame bitrate / 30 bits. At 15 frames per second that would halve the
    // stream, so the rate it is told is scaled by the frames really coming.
    return std::max<std::int64_t>(bitrate, kMinimumBitrate) * kExpectedFrameRate / m_frameRate;
}

void H264Encoder::teardown() {
    std::vector<protocol::Bytes> flushed;
    {
        const std::lock_guard lock(m_mutex);
        closeLocked(flushed);
    }
    deliverFrames(flushed);
    logging::log(logging::Level::info, "encoding", "Encoder torn down");
}

void H264Encoder::closeLocked(std::vector<protocol::Bytes>& out) {
    if (m_context && avcodec_send_frame(m_context.get(), nullptr) == 0)
        drainPackets(out);
    m_context.reset();
    m_packet.reset();
    m_sequenceNumber = 0;
}

void H264Encoder::deliverFrames(std::vector<protocol::Bytes>& messages) {
    if (messages.empty())
        return;
    const std::lock_guard lock(m_callbackMutex);
    if (!m_onEncodedFrame)
        return;
    for (auto& message : messages)
        m_onEncodedFrame(std::move(message));
}

void H264Encoder::setOnEncodedFrame(FrameCallback callback) {
    const std::lock_guard lock(m_callbackMutex);
    m_onEncodedFrame = std::move(callback);
}

std::int64_t H264Encoder::bitrate() const {
    const std::lock_guard lock(m_mutex);
    return m_bitrate;
}

std::int32_t H264Encoder::width() const {
    const std::lock_guard lock(m_mutex);
    return m_width;
}

std::int32_t H264Encoder::height() const {
    const std::lock_guard lock(m_mutex);
    return m_height;
}

AVPixelFormat H264Encoder::inputFormat() const {
    const std::lock_guard lock(m_mutex);
    return m_context ? m_context->pix_fmt : AV_PIX_FMT_NONE;
}

AVPixelFormat H264Encoder::preferredFormat() const {
    return m_profile.pixelFormats.empty() ? AV_PIX_FMT_NONE : m_profile.pixelFormats.front();
}

} // namespace velmarin::video
