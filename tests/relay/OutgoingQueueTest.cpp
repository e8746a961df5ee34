#include "relay/counters.h"
#include "relay/outgoing_queue.h"

#include <gtest/gtest.h>

using velmarin::relay::outgoing_queue;
using result = outgoing_queue::push_result;
using namespace std::chrono_literals;

namespace {

std::shared_ptr<const std::string> bytes(std::size_t n, char fill = 'x') {
    return std::make_shared<const std::string>(n, fill);
}

// Writes everything queued; returns the fill characters in send order.
std::string drain(outgoing_queue& q) {
    std::string order;
    while (const auto* m = q.start_write()) {
        order += m->data->front();
        q.finish_write();
    }
    return order;
}

const auto t0 = outgoing_queue::clock::time_point{} + 1h;

} // namespace

TEST(OutgoingQueue, RelayWideTotalFollowsEveryWayBytesLeave) {
    std::atomic<std::int64_t> total{0};
    {
        outgoing_queue q(1000, 10000, &total);
        q.push_control(bytes(100, 'a'));
        q.push_video(bytes(600, 'k'), true, t0);
        q.push_video(bytes(300, 'v'), false, t0);
        EXPECT_EQ(total, 1000);
        q.push_video(bytes(700, 'K'), true, t0); // evicts both frames
        EXPECT_EQ(total, 800);
        ASSERT_NE(q.start_write(), nullptr);
        q.finish_write();
        EXPECT_EQ(total, 700);
        q.push_control(bytes(50, 'b'));
        ASSERT_NE(q.start_write(), nullptr); // the keyframe stays while written
        q.clear();
        EXPECT_EQ(total, 700);
        q.push_control(bytes(25, 'c'));
        EXPECT_EQ(total, 725);
    }
    EXPECT_EQ(total, 0) << "a closed connection keeps nothing counted";
}

TEST(OutgoingQueue, DropsVideoPastTheLimitUntilTheNextKeyframeAndAsksOnce) {
    outgoing_queue q(1000, 10000);
    EXPECT_EQ(q.push_video(bytes(400, 'a'), false, t0), result::queued);
    EXPECT_EQ(q.push_video(bytes(400, 'b'), false, t0), result::queued);
    EXPECT_EQ(q.push_video(bytes(400, 'c'), false, t0), result::dropped_need_key);
    // Room again, but a frame after a gap cannot be decoded: still dropped.
    drain(q);
    EXPECT_EQ(q.push_video(bytes(10, 'd'), false, t0 + 10ms), result::dropped);
    EXPECT_EQ(q.push_video(bytes(10, 'e'), false, t0 + 1100ms), result::dropped_need_key);
    EXPECT_EQ(q.push_video(bytes(10, 'K'), true, t0 + 1200ms), result::queued);
    EXPECT_EQ(q.push_video(bytes(10, 'f'), false, t0 + 1200ms), result::queued);
    EXPECT_EQ(drain(q), "Kf");
}

TEST(OutgoingQueue, KeyframeReplacesQueuedVideoButNotControlOrTheWriteInFlight) {
    outgoing_queue q(1000, 10000);
    q.push_video(bytes(300, 'a'), false, t0);
    ASSERT_NE(q.start_write(), nullptr); // 'a' is being written
    q.push_control(bytes(50, 'C'));
    q.push_video(bytes(300, 'b'), false, t0);
    q.push_video(bytes(300, 'c'), false, t0);
    EXPECT_EQ(q.push_video(bytes(600, 'K'), true, t0), result::queued);
    q.finish_write();
    EXPECT_EQ(drain(q), "CK");
    EXPECT_EQ(q.queued_bytes(), 0u);
}

TEST(OutgoingQueue, ControlMessagesAreKeptInOrderUntilTheirLimit) {
    outgoing_queue q(100, 1000);
    EXPECT_EQ(q.push_control(bytes(600, '1')), result::queued);
    EXPECT_EQ(q.push_video(bytes(200, 'v'), false, t0), result::dropped_need_key);
    EXPECT_EQ(q.push_control(bytes(400, '2')), result::queued);
    EXPECT_EQ(q.push_control(bytes(1, '3')), result::overflow);
    EXPECT_EQ(drain(q), "12");
}

TEST(ForwardLatency, StepsAreContiguousAndPercentilesLandWithinAStep) {
    using velmarin::relay::latency_histogram;
    for (std::uint64_t us = 0; us < 70000; ++us) {
        const auto b = latency_histogram::bucket(us);
        ASSERT_LE(us, latency_histogram::upper_edge(b)) << us;
        ASSERT_TRUE(b == 0 || us > latency_histogram::upper_edge(b - 1)) << us;
    }

    latency_histogram h;
    for (int i = 1; i <= 1000; ++i)
        h.record(std::chrono::microseconds(i)); // 1 .. 1000 us
    const auto f = h.take();
    EXPECT_EQ(f.count, 1000u);
    EXPECT_GE(f.p50_us, 500u);
    EXPECT_LE(f.p50_us, 500u * 9 / 8);
    EXPECT_GE(f.p99_us, 990u);
    EXPECT_LE(f.p99_us, 990u * 9 / 8);
    EXPECT_GE(f.max_us, 1000u);
    EXPECT_EQ(h.take().count, 0u) << "take() starts a new window";
}
