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
};

const std::string kHash(64, 'a');

} // namespace

TEST(Registry, ChallengeIssuedToAnEarlierHostCannotPairWithItsSuccessor) {
    counters stats;
    registry r(stats);
    auto first = std::make_shared<recording_peer>();
    const auto id = r.register_host(first, "700000001", kHash);
    const auto target = r.lookup(id);
    r.unregister_host(id, first.get());
    auto second = std::make_shared<recording_peer>();
    ASSERT_EQ(r.register_host(second, "700000001", std::string(64, 'b')), id);
    EXPECT_EQ(r.pair(id, target.host, std::make_shared<recording_peer>()), host_status::offline);
    EXPECT_TRUE(second->events.empty());
}
