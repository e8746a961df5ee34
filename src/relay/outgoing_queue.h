#pragma once

// What one connection still has to send, with one write outstanding at the
// head. Control (text) messages are never dropped; past `control_limit`
// queued bytes the connection is declared unable to keep up. Binary (video)
// messages past `video_limit` queued bytes are dropped, and so is every later
// frame up to the next keyframe, since the decoder cannot use them anyway. A
// keyframe that does not fit replaces the queued frames it makes obsolete.
// Not thread-safe: owned by one connection's strand. What it holds is also
// added to a relay-wide total, if given, and taken off again when it is sent
// or the queue goes away.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>

namespace velmarin::relay {

struct outgoing_message {
    std::shared_ptr<const std::string> data;
    bool binary = false;
    bool keyframe = false;
    // When the relay took it from the other side's socket; unset for its own.
    std::chrono::steady_clock::time_point received{};
};

class outgoing_queue {
public:
    using clock = std::chrono::steady_clock;

    enum class push_result {
        queued,
        dropped,          // a video frame was left out
        dropped_need_key, // ... and the sender should be asked for a keyframe now
        overflow,         // control messages past the limit: close the connection
    };

    outgoing_queue(std::size_t video_limit, std::size_t control_limit,
                   std::atomic<std::int64_t>* total = nullptr);
    ~outgoing_queue();
    outgoing_queue(const outgoing_queue&) = delete;
    outgoing_queue& operator=(const outgoing_queue&) = delete;

    push_result push_control(std::shared_ptr<const std::string> text,
                             clock::time_point received = {});
    // `now` is when the frame reached the relay.
    push_result push_video(std::shared_ptr<const std::string> frame, bool keyframe,
                           clock::time_point now = clock::now());

    // The message to write next, or nothing while one is still in flight
    // (until finish_write()).
    const outgoing_message* start_write();
    void finish_write();
    // Drops everything but a message still being written.
    void clear();
    bool writing() const { return in_flight_; }
    // The message being written, if any.
    const outgoing_message* in_flight() const { return in_flight_ ? &items_.front() : nullptr; }
    bool empty() const { return items_.empty(); }
    // Another message waits behind the head.
    bool more_after_head() const { return items_.size() > 1; }
    std::size_t queued_bytes() const { return video_bytes_ + control_bytes_; }

    // How long to wait before asking for another keyframe while frames are
    // still being dropped (the first request may have crossed a keyframe).
    static constexpr std::chrono::milliseconds kKeyframeRetry{1000};

private:
    void evict_queued_video();
    void count(std::int64_t bytes) {
        if (total_)
            total_->fetch_add(bytes, std::memory_order_relaxed);
    }

    std::deque<outgoing_message> items_;
    std::size_t video_limit_;
    std::size_t control_limit_;
    std::atomic<std::int64_t>* total_;
    std::size_t video_bytes_ = 0;
    std::size_t control_bytes_ = 0;
    bool in_flight_ = false;
    bool awaiting_keyframe_ = false;
    clock::time_point last_keyframe_request_{};
};

} // namespace velmarin::relay
