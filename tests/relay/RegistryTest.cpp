#include "relay/registry.h"

#include <gtest/gtest.h>

#include <regex>

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

TEST(Registry, AssignsNineDigitIdsAndHonoursFreeRequestedIds) {
    counters stats;
    registry r(stats);
    auto a = std::make_shared<recording_peer>();
    auto b = std::make_shared<recording_peer>();
    const auto random = r.register_host(a, std::nullopt, kHash);
    EXPECT_TRUE(std::regex_match(random, std::regex("[1-9][0-9]{8}")));
    EXPECT_EQ(r.register_host(b, random, kHash) == random, false); // held by a live Host
    auto c = std::make_shared<recording_peer>();
    r.unregister_host(random, a.get());
    EXPECT_EQ(r.register_host(c, random, kHash), random);
    EXPECT_EQ(stats.hosts.load(), 2);
}

TEST(Registry, PairingTellsBothSidesAndDrivesPresence) {
    counters stats;
    registry r(stats);
    auto host = std::make_shared<recording_peer>();
    auto viewer = std::make_shared<recording_peer>();
    const auto id = r.register_host(host, std::nullopt, kHash);
    const auto target = r.lookup(id);
    EXPECT_EQ(target.password_hash, kHash);
    EXPECT_EQ(r.pair(id, target.host, viewer), host_status::online);
    EXPECT_EQ(r.status(id), host_status::busy);
    EXPECT_EQ(r.pair(id, target.host, std::make_shared<recording_peer>()), host_status::busy);

    r.unpair(id, host.get()); // not the Viewer: nothing changes
    EXPECT_EQ(r.status(id), host_status::busy);
    r.unpair(id, viewer.get());
    EXPECT_EQ(r.status(id), host_status::online);
    EXPECT_EQ(host->events, (std::vector<std::string>{"paired", "viewer_left"}));

    r.pair(id, target.host, viewer);
    r.unregister_host(id, host.get());
    EXPECT_EQ(viewer->events, (std::vector<std::string>{"host_left"}));
    EXPECT_EQ(r.statuses({id, "x"}),
              (std::map<std::string, std::string>{{id, "offline"}, {"x", "offline"}}));
    EXPECT_EQ(stats.sessions.load(), 0);
}

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
