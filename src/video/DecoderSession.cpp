#include "video/DecoderSession.h"

#include "log/LogSink.h"
#include "protocol/VideoFrame.h"
#include "video/CodecLog.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/mem.h>
}

#include <array>
#include <cstring>

namespace velmarin::video {
namespace {

constexpr std::array<std::uint8_t, 4> kStartCode{0, 0, 0, 1};

// Pictures larger than 8K are refused: the Host never sends them, and a
// hostile parameter set must not make the Viewer allocate gigabytes.
constexpr std::int64_t kMaxPixels = 7680LL * 4320LL;

void appendUnit(protocol::Bytes& out, protocol::ByteView unit) {
    out.insert(out.end(), kStartCode.begin(), kStartCode.end());
    out.insert(out.end(), unit.begin(), unit.end());
}

bool isRenderableFormat(int format) {
    return format == AV_PIX_FMT_YUV420P || format == AV_PIX_FMT_YUVJ420P ||
           format == AV_PIX_FMT_NV12;
}

} // namespace

DecoderSession::DecoderSession(int threadCount)
    : m_threadCount(threadCount)
    , m_packet(av_packet_alloc())
    , m_frame(av_frame_alloc()) {
    routeCodecLogs();
}

DecoderSession::~DecoderSession() = default;

void DecoderSession::decode(protocol::ByteView message, const Output& output) {
    const auto frame = protocol::parseFrame(message);
    if (!frame)
        return;
    if (frame->hasParameterSets) {
        extractParameterSets(frame->payload);
        recreateSessionIfNeeded();
    }
    if (!m_context)
        return;
    decodePayload(frame->payload, frame->timestampMs, output);
}

void DecoderSession::reset() {
    m_context.reset();
    m_currentSPS.reset();
    m_currentPPS.reset();
    m_sessionParameterSets.reset();
}

void DecoderSession::extractParameterSets(protocol::ByteView payload) {
    for (const protocol::ByteView unit : protocol::NALUParser::extractNALUnits(payload)) {
        const auto type = protocol::NALUParser::unitType(unit);
        if (type == protocol::NALUParser::kTypeSPS)
            m_currentSPS.emplace(unit.begin(), unit.end());
        else if (type == protocol::NALUParser::kTypePPS)
            m_currentPPS.emplace(unit.begin(), unit.end());
    }
}

void DecoderSession::recreateSessionIfNeeded() {
    if (!m_currentSPS || !m_currentPPS)
        return;
    if (m_sessionParameterSets && m_sessionParameterSets->first == *m_currentSPS &&
        m_sessionParameterSets->second == *m_currentPPS)
        return;
    m_sessionParameterSets.emplace(*m_currentSPS, *m_currentPPS);
    m_context.reset();
    m_reportedFormat = false;

    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    AVCodecContextPtr context(codec ? avcodec_alloc_context3(codec) : nullptr);
    if (!context || !m_packet || !m_frame) {
        logging::log(logging::Level::error, "decoding", "Decompression session creation failed: %d",
                     AVERROR(ENOMEM));
        return;
    }

    // The parameter sets go in as Annex-B extradata, so the decoder reads the
    // frames as Annex-B too.
    protocol::Bytes extradata;
    appendUnit(extradata, *m_currentSPS);
    appendUnit(extradata, *m_currentPPS);
    context->extradata =
        static_cast<std::uint8_t*>(av_mallocz(extradata.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    if (!context->extradata) {
        logging::log(logging::Level::error, "decoding", "Decompression session creation failed: %d",
                     AVERROR(ENOMEM));
        return;
    }
    std::memcpy(context->extradata, extradata.data(), extradata.size());
    context->extradata_size = static_cast<int>(extradata.size());

    // Frame threads would add one frame of delay each; slice threads add none.
    context->thread_type = FF_THREAD_SLICE;
    context->thread_count = m_threadCount;
    context->flags |= AV_CODEC_FLAG_LOW_DELAY;
    context->max_pixels = kMaxPixels;

    const int status = avcodec_open2(context.get(), codec, nullptr);
    if (status < 0) {
        logging::log(logging::Level::error, "decoding", "Decompression session creation failed: %d",
                     status);
        return;
    }
    m_context = std::move(context);
    ++m_sessionsCreated;
}

void DecoderSession::decodePayload(protocol::ByteView payload, std::uint32_t timestampMs,
                                   const Output& output) {
    protocol::Bytes annexB;
    annexB.reserve(payload.size());
    for (const protocol::ByteView unit : protocol::NALUParser::extractNALUnits(payload)) {
        if (!unit.empty() && !protocol::NALUParser::isParameterSet(unit))
            appendUnit(annexB, unit);
    }
    if (annexB.empty())
        return;

    if (av_new_packet(m_packet.get(), static_cast<int>(annexB.size())) < 0)
        return;
    std::memcpy(m_packet->data, annexB.data(), annexB.size());
    m_packet->pts = timestampMs;
    const int sent = avcodec_send_packet(m_context.get(), m_packet.get());
    av_packet_unref(m_packet.get());
    if (sent < 0 && sent != AVERROR(EAGAIN))
        return;

    while (avcodec_receive_frame(m_context.get(), m_frame.get()) == 0) {
        if (!isRenderableFormat(m_frame->format)) {
            // Our Host sends 4:2:0 only; another encoder's 4:2:2 or 4:4:4
            // stream would need a conversion nobody downstream expects.
            if (!m_reportedFormat)
                logging::log(logging::Level::warning, "decoding",
                             "Unsupported decoded pixel format %d", m_frame->format);
            m_reportedFormat = true;
            av_frame_unref(m_frame.get());
            continue;
        }
        const std::uint32_t pts =
            m_frame->pts == AV_NOPTS_VALUE ? timestampMs : static_cast<std::uint32_t>(m_frame->pts);
        AVFramePtr picture(av_frame_alloc());
        if (!picture) {
            av_frame_unref(m_frame.get());
            continue;
        }
        av_frame_move_ref(picture.get(), m_frame.get());
        if (output)
            output(Picture::adopt(std::move(picture)), pts);
    }
}

} // namespace velmarin::video
