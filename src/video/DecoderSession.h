#pragma once

// The decoder's stream state, run on one thread: the current parameter sets,
// the libavcodec h264 decoder opened for them, and the decoding of one frame
// message at a time. H264Decoder runs it on its decode thread.
//
// Frames are dropped until an SPS and a PPS are known. The decoder is opened
// on the first pair and reopened only when a pair arrives whose bytes differ;
// the parameter sets are given to it once, out of band, and left out of the
// data it decodes.

#include "protocol/NALUParser.h"
#include "video/FFmpegHandles.h"
#include "video/Picture.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace velmarin::video {

class DecoderSession {
public:
    using Output = std::function<void(Picture picture, std::uint32_t timestampMs)>;

    // `threadCount` slice threads for the decoder; 0 lets it choose.
    explicit DecoderSession(int threadCount = 0);
    ~DecoderSession();
    DecoderSession(const DecoderSession&) = delete;
    DecoderSession& operator=(const DecoderSession&) = delete;

    // One complete binary frame message. Anything malformed is dropped.
    void decode(protocol::ByteView message, const Output& output);

    // Back to waiting for parameter sets.
    void reset();

    // How often a decoder has been opened since construction.
    std::uint64_t sessionsCreated() const { return m_sessionsCreated; }

private:
    void extractParameterSets(protocol::ByteView payload);
    void recreateSessionIfNeeded();
    void decodePayload(protocol::ByteView payload, std::uint32_t timestampMs, const Output& output);

    const int m_threadCount;
    std::optional<protocol::Bytes> m_currentSPS;
    std::optional<protocol::Bytes> m_currentPPS;
    // The pair the decoder was last opened (or tried to be opened) with.
    std::optional<std::pair<protocol::Bytes, protocol::Bytes>> m_sessionParameterSets;
    AVCodecContextPtr m_context;
    AVPacketPtr m_packet;
    AVFramePtr m_frame;
    std::uint64_t m_sessionsCreated = 0;
    bool m_reportedFormat = false;
};

} // namespace velmarin::video
