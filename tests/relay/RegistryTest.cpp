#include "relay/registry.h"

#include <gtest/gtest.h>

using namespace velmarin::relay;
using namespace std::chrono_literals;

namespace {

// Records what the registry tells a connection.
struct recording_peer : registry_peer {
    std::vector<std::string> events;
    void on_viewer_paired(std::shared_ptr<registry_peer>) override { events.push_back("paired"); }
    void on_viewer_left(const registry_peer*) override { events.push_back("viewer_left"); }
    void on_host_left(const registry_peer*) override { events.push_back("host_left"); }
    void on_replaced() override { events.push_back("replaced"); }
};

const std::string kHash(64, 'a');
const std::string kOtherHash(64, 'b');

struct Fixture : ::testing::Test {
    counters stats;
    id_reservations reservations{std::chrono::hours(24 * 30), 1000};
    registry r{stats, reservations};
};

using Registry = Fixture;

} // namespace

TEST_F(Registry, SamePasswordTakesOverALiveHostsIdAndItsViewerIsTold) {
    auto old_host = std::make_shared<recording_peer>();
    auto viewer = std::make_shared<recording_peer>();
    const auto id = r.register_host(old_host, "700000002", kHash).id;
    ASSERT_EQ(r.pair(id, r.lookup(id).host, viewer), host_status::online);

    auto new_host = std::make_shared<recording_peer>();
    const auto again = r.register_host(new_host, id, kHash);
    EXPECT_EQ(again.id, id);
    EXPECT_EQ(again.how, registry::outcome::took_over);
    EXPECT_EQ(old_host->events, (std::vector<std::string>{"paired", "replaced"}));
    EXPECT_EQ(viewer->events, (std::vector<std::string>{"host_left"}));
    EXPECT_EQ(r.status(id), host_status::online);
    EXPECT_EQ(stats.hosts.load(), 1);
    EXPECT_EQ(stats.sessions.load(), 0);

    // The old connection closing afterwards leaves the newcomer registered.
    r.unregister_host(id, old_host.get());
    EXPECT_EQ(r.lookup(id).host.lock(), new_host);
}

TEST_F(Registry, AnIdStaysWithItsPasswordWhileItsHostIsAway) {
    const auto id = r.register_host(std::make_shared<recording_peer>(), "700000003", kHash).id;
    r.unregister_host(id, nullptr); // its connection is gone
    const auto squatter = r.register_host(std::make_shared<recording_peer>(), id, kOtherHash);
    EXPECT_NE(squatter.id, id);
    EXPECT_EQ(squatter.how, registry::outcome::reserved);
    EXPECT_EQ(r.register_host(std::make_shared<recording_peer>(), id, kHash).how,
              registry::outcome::requested);
    // Once its time is up the ID is anyone's.
    id_reservations brief(std::chrono::seconds(60), 10);
    brief.record("700000004", kHash, id_reservations::clock::now() - 61s);
    EXPECT_FALSE(brief.held_for_other("700000004", kOtherHash));
    EXPECT_TRUE(brief.held_for_other("700000004", kOtherHash, id_reservations::clock::now() - 30s));
}

TEST_F(Registry, PairingTellsBothSidesAndDrivesPresence) {
    auto host = std::make_shared<recording_peer>();
    auto viewer = std::make_shared<recording_peer>();
    const auto id = r.register_host(host, std::nullopt, kHash).id;
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

TEST_F(Registry, ChallengeIssuedToAnEarlierHostCannotPairWithItsSuccessor) {
    auto first = std::make_shared<recording_peer>();
    const auto id = r.register_host(first, "700000001", kHash).id;
    const auto target = r.lookup(id);
    auto second = std::make_shared<recording_peer>();
    ASSERT_EQ(r.register_host(second, "700000001", kHash).id, id); // takes over
    EXPECT_EQ(r.pair(id, target.host, std::make_shared<recording_peer>()), host_status::offline);
    EXPECT_TRUE(second->events.empty());
}
