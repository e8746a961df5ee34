#include "relay/registry.h"

#include <gtest/gtest.h>

using namespace velmarin::relay;

namespace {

// Records what the registry tells a connection.
struct recording_peer : registry_peer {
    std::vector<std::string> events;
    void on_viewer_paired(std::shared_ptr<registry_peer>) override { events.push_back("paired"); }
    void on_viewer_left(const registry_peer*) override { events.push_back("viewer_left"); }
    void on_host_left(const registry_peer*) override { events.push_back("host_left"); }
    void on_replaced() override { events.push_back("replaced"); }
};

} // namespace

// Taking over an ID, freeing it and pairing are the relay integration tests'
// (RelayIds, RelayExchange); this race needs a challenge held across a
// takeover, which a client cannot time.
TEST(Registry, ChallengeIssuedToAnEarlierHostCannotPairWithItsSuccessor) {
    counters stats;
    id_reservations reservations{std::chrono::hours(24 * 30), 1000};
    registry r{stats, reservations};
    const std::string hash(64, 'a');
    auto first = std::make_shared<recording_peer>();
    const auto id = r.register_host(first, "700000001", hash).id;
    const auto target = r.lookup(id);
    auto second = std::make_shared<recording_peer>();
    ASSERT_EQ(r.register_host(second, "700000001", hash).id, id); // takes over
    EXPECT_EQ(r.pair(id, target.host, std::make_shared<recording_peer>()), host_status::offline);
    EXPECT_TRUE(second->events.empty());
}
