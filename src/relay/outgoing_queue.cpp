#include "relay/outgoing_queue.h"

#include <algorithm>

namespace velmarin::relay {

outgoing_queue::outgoing_queue(std::size_t video_limit, std::size_t control_limit,
                               std::atomic<std::int64_t>* total)
    : video_limit_(video_limit)
    , control_limit_(control_limit)
    , total_(total) {}

outgoing_queue::~outgoing_queue() {
    count(-static_cast<std::int64_t>(queued_bytes()));
}

outgoing_queue::push_result outgoing_queue::push_control(std::shared_ptr<const std::string> text,
                                                         clock::time_point received) {
    if (control_bytes_ + text->size() > control_limit_)
        return push_result::overflow;
    control_bytes_ += text->size();
    count(static_cast<std::int64_t>(text->size()));
    items_.push_back({std::move(text), false, false, received});
    return push_result::queued;
}

outgoing_queue::push_result outgoing_queue::push_video(std::shared_ptr<const std::string> frame,
                                                       bool keyframe, clock::time_point now) {
    const auto drop = [&] {
        const bool first = !awaiting_keyframe_;
        awaiting_keyframe_ = true;
        if (first || now - last_keyframe_request_ >= kKeyframeRetry) {
            last_keyframe_request_ = now;
            return push_result::dropped_need_key;
        }
        return push_result::dropped;
    };

    if (keyframe) {
        // Everything queued before a keyframe is obsolete once it is shown, so
        // when it does not fit it takes their place rather than being lost.
        if (video_bytes_ + frame->size() > video_limit_)
            evict_queued_video();
        awaiting_keyframe_ = false;
    } else if (awaiting_keyframe_ || video_bytes_ + frame->size() > video_limit_) {
        return drop();
    }
    video_bytes_ += frame->size();
    count(static_cast<std::int64_t>(frame->size()));
    items_.push_back({std::move(frame), true, keyframe, now});
    return push_result::queued;
}

void outgoing_queue::evict_queued_video() {
    // The head stays when a write of it is in progress.
    const auto first = items_.begin() + (in_flight_ ? 1 : 0);
    const auto kept =
        std::stable_partition(first, items_.end(), [](const auto& m) { return !m.binary; });
    for (auto it = kept; it != items_.end(); ++it) {
        video_bytes_ -= it->data->size();
        count(-static_cast<std::int64_t>(it->data->size()));
    }
    items_.erase(kept, items_.end());
}

void outgoing_queue::clear() {
    // The head stays while it is written: the write still reads its bytes.
    const auto first = items_.begin() + (in_flight_ ? 1 : 0);
    for (auto it = first; it != items_.end(); ++it) {
        (it->binary ? video_bytes_ : control_bytes_) -= it->data->size();
        count(-static_cast<std::int64_t>(it->data->size()));
    }
    items_.erase(first, items_.end());
}

const outgoing_message* outgoing_queue::start_write() {
    if (in_flight_ || items_.empty())
        return nullptr;
    in_flight_ = true;
    return &items_.front();
}

void outgoing_queue::finish_write() {
    if (!in_flight_)
        return;
    const auto& head = items_.front();
    (head.binary ? video_bytes_ : control_bytes_) -= head.data->size();
    count(-static_cast<std::int64_t>(head.data->size()));
    items_.pop_front();
    in_flight_ = false;
}

} // namespace velmarin::relay
