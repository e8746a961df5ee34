#pragma once

// The Viewer's H.264 decoder. `decode` copies the frame message into a
// bounded queue and returns at once; the decode thread works through the
// queue and calls `onDecodedFrame` for every picture (off the GUI thread:
// hand the picture on, do not touch UI state there).
//
// Bad input never stops it: malformed messages are dropped, a corrupt frame
// costs at most the pictures up to the next key frame. When the Viewer falls
// so far behind that the queue is full, new frames are dropped until the next
// frame that carries parameter sets (a key frame), which replaces the backlog:
// decoding on from a gap would only show damaged pictures.

#include "protocol/NALUParser.h"
#include "video/DecoderSession.h"
#include "video/Picture.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace velmarin::video {

class H264Decoder {
public:
    using FrameCallback = std::function<void(Picture picture, std::uint32_t timestampMs)>;

    static constexpr std::size_t kMaxQueuedFrames = 30;
    static constexpr std::size_t kMaxQueuedBytes = 64u << 20;

    // `threadCount` slice threads per decoder; 0 lets the decoder choose.
    explicit H264Decoder(int threadCount = 0);
    ~H264Decoder();
    H264Decoder(const H264Decoder&) = delete;
    H264Decoder& operator=(const H264Decoder&) = delete;

    // Called on the decode thread. Must not call back into this decoder's
    // `teardown` or `waitUntilIdle`.
    void setOnDecodedFrame(FrameCallback callback);

    // One complete binary frame message (header and payload). Copies it.
    void decode(protocol::ByteView frameData);

    // Drops queued frames and all stream state; waits for a frame being
    // decoded. After it returns no picture of an earlier frame is delivered,
    // and frames are dropped until the next one with parameter sets.
    void teardown();

    // Blocks until every frame queued so far has been decoded and delivered.
    void waitUntilIdle();

    // How often the decoder was opened (first parameter sets and changes).
    std::uint64_t sessionsCreated() const { return m_sessionsCreated.load(); }

private:
    void run();
    void deliver(Picture picture, std::uint32_t timestampMs);

    DecoderSession m_session; // decode thread only
    std::atomic<std::uint64_t> m_sessionsCreated{0};

    std::mutex m_mutex;
    std::condition_variable m_workAvailable;
    std::condition_variable m_idle;
    std::deque<protocol::Bytes> m_queue;
    std::size_t m_queuedBytes = 0;
    bool m_busy = false;
    bool m_resetRequested = false;
    bool m_skipUntilParameterSets = false;
    bool m_stopping = false;

    std::mutex m_callbackMutex;
    FrameCallback m_onDecodedFrame;

    std::thread m_thread; // last: starts once everything above exists
};

} // namespace velmarin::video
