#include "video/H264Decoder.h"

#include "protocol/VideoFrame.h"

namespace velmarin::video {

H264Decoder::H264Decoder(int threadCount)
    : m_session(threadCount)
    , m_thread([this] { run(); }) {}

H264Decoder::~H264Decoder() {
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
        m_queue.clear();
    }
    m_workAvailable.notify_all();
    m_thread.join();
}

void H264Decoder::setOnDecodedFrame(FrameCallback callback) {
    const std::lock_guard lock(m_callbackMutex);
    m_onDecodedFrame = std::move(callback);
}

void H264Decoder::decode(protocol::ByteView frameData) {
    const auto frame = protocol::parseFrame(frameData);
    if (!frame)
        return;
    {
        const std::lock_guard lock(m_mutex);
        if (m_skipUntilParameterSets && !frame->hasParameterSets)
            return;
        m_skipUntilParameterSets = false;
        if (m_queue.size() >= kMaxQueuedFrames ||
            m_queuedBytes + frameData.size() > kMaxQueuedBytes) {
            if (!frame->hasParameterSets) {
                m_skipUntilParameterSets = true;
                return;
            }
            m_queue.clear();
            m_queuedBytes = 0;
        }
        m_queue.emplace_back(frameData.begin(), frameData.end());
        m_queuedBytes += frameData.size();
    }
    m_workAvailable.notify_one();
}

void H264Decoder::teardown() {
    std::unique_lock lock(m_mutex);
    m_queue.clear();
    m_queuedBytes = 0;
    m_skipUntilParameterSets = false;
    m_resetRequested = true;
    m_workAvailable.notify_one();
    m_idle.wait(lock, [this] { return !m_resetRequested; });
}

void H264Decoder::waitUntilIdle() {
    std::unique_lock lock(m_mutex);
    m_idle.wait(lock, [this] { return m_queue.empty() && !m_busy && !m_resetRequested; });
}

void H264Decoder::run() {
    const DecoderSession::Output output = [this](Picture picture, std::uint32_t timestampMs) {
        deliver(std::move(picture), timestampMs);
    };
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_workAvailable.wait(lock,
                             [this] { return m_stopping || m_resetRequested || !m_queue.empty(); });
        if (m_stopping)
            return;
        if (m_resetRequested) {
            m_session.reset();
            m_resetRequested = false;
            m_idle.notify_all();
            continue;
        }
        protocol::Bytes message = std::move(m_queue.front());
        m_queue.pop_front();
        m_queuedBytes -= message.size();
        m_busy = true;
        lock.unlock();
        m_session.decode(message, output);
        m_sessionsCreated.store(m_session.sessionsCreated());
        lock.lock();
        m_busy = false;
        m_idle.notify_all();
    }
}

void H264Decoder::deliver(Picture picture, std::uint32_t timestampMs) {
    FrameCallback callback;
    {
        const std::lock_guard lock(m_callbackMutex);
        callback = m_onDecodedFrame;
    }
    if (callback)
        callback(std::move(picture), timestampMs);
}

} // namespace velmarin::video
