// Who gets which ID, and how much a client may learn or guess: the real
// relay over TLS, clients written from the protocol alone.

#include "RelaySessionHelpers.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

using namespace velmarin::testing;
using namespace std::chrono_literals;

namespace {

// The answer to a presence request for `count` IDs from `first` on.
std::string presence(RelayTestClient& client, std::size_t count, std::size_t first = 0) {
    std::vector<std::string> ids;
    for (std::size_t i = 0; i < count; ++i)
        ids.push_back(std::to_string(100'000'000 + first + i));
    client.send(proto::PresenceMessage{ids});
    return answerOf(client.receive());
}

} // namespace

TEST(RelayIds, HostWithTheSamePasswordTakesOverItsIdFromADeadConnection) {
    RelayProcess relay;
    PairedSession first(relay, "vast22");
    const auto id = first.id;

    // The Host's network blinked: its old connection is still open at the
    // relay when it registers again.
    auto second = client(relay);
    EXPECT_EQ(registerHost(*second, "vast22", id), id);
    EXPECT_EQ(first.viewer->receiveType(), "host_disconnected");
    EXPECT_TRUE(first.host->waitClosed());

    // Anyone else asking for the ID gets another one.
    auto other = client(relay);
    EXPECT_NE(registerHost(*other, "anders", id), id);

    auto next = client(relay);
    EXPECT_EQ(connectViewer(*next, id, "vast22"), "connected");
    EXPECT_EQ(second->receiveType(), "viewer_connected");
    EXPECT_NE(relay.logText().find("taken over"), std::string::npos);
}

TEST(RelayIds, AnIdIsKeptForItsPasswordAcrossARestartInAnOwnerOnlyStateFile) {
    const auto dir = std::filesystem::temp_directory_path() /
                     ("velmarin-relay-state-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const auto state = (dir / "reservations").string();
    RelayProcess relay({"--state", state});
    auto host = client(relay);
    const auto id = registerHost(*host, "vast22");
    host->close();

    relay.restart(); // a clean stop writes the file
    struct stat info {};
    ASSERT_EQ(::stat(state.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    std::stringstream text;
    text << std::ifstream(state).rdbuf();
    EXPECT_EQ(text.str().find(proto::CryptoHelper::sha256hex("vast22")), std::string::npos);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 1); // no temporary left

    // Someone else asks first: the ID stays free for its Host.
    auto squatter = client(relay);
    EXPECT_NE(registerHost(*squatter, "anders", id), id);
    auto back = client(relay);
    EXPECT_EQ(registerHost(*back, "vast22", id), id);
    EXPECT_NE(relay.logText().find("1 IDs read"), std::string::npos);
    relay.stop();
    std::filesystem::remove_all(dir);
}

TEST(RelayIds, PresenceReportsEachStatusWithinLimitsPerRequestConnectionAndAddress) {
    RelayProcess relay({"--presence-per-connection", "300", "--presence-per-address", "500"});
    auto poller = client(relay);
    EXPECT_EQ(presence(*poller, 257), "Te veel apparaten in één statusverzoek (maximaal 256).");
    EXPECT_EQ(presence(*poller, 256), "presence_result");
    const auto refused = presence(*poller, 100, 256);
    EXPECT_TRUE(refused.starts_with("Te veel statusverzoeken. Probeer het over ")) << refused;
    EXPECT_TRUE(poller->isOpen());
    // A new connection from the same address has only the address's rest.
    auto fresh = client(relay);
    EXPECT_EQ(presence(*fresh, 200, 1000), "presence_result");
    EXPECT_TRUE(presence(*fresh, 100, 2000).starts_with("Te veel statusverzoeken"));

    // What is left still serves a client that asks about a few devices.
    auto idle = client(relay);
    const auto idleId = registerHost(*idle, "vast22");
    PairedSession busy(relay);
    auto other = client(relay);
    other->send(proto::PresenceMessage{{idleId, busy.id, "100000000", "niet-een-id"}});
    EXPECT_EQ(other->receiveAs<proto::PresenceResultMessage>(),
              (proto::PresenceResultMessage{{{idleId, "online"},
                                             {busy.id, "busy"},
                                             {"100000000", "offline"},
                                             {"niet-een-id", "offline"}}}));
    // Also on a registered Host's connection, and not forwarded to its Viewer.
    busy.host->send(proto::PresenceMessage{{idleId}});
    EXPECT_EQ(busy.host->receiveAs<proto::PresenceResultMessage>(),
              (proto::PresenceResultMessage{{{idleId, "online"}}}));
    EXPECT_FALSE(busy.viewer->receive(200ms).has_value());
}
