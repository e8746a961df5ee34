#include "relay/id_reservations.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

using velmarin::relay::id_reservations;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

const std::string kHash(64, 'a');
const std::string kOtherHash(64, 'b');

struct TempDir {
    fs::path path =
        fs::temp_directory_path() / ("velmarin-reservations-" + std::to_string(::getpid()));
    TempDir() { fs::create_directories(path); }
    ~TempDir() { fs::remove_all(path); }
};

} // namespace

TEST(IdReservations, AMissingOrDamagedFileStartsEmpty) {
    TempDir dir;
    const auto file = (dir.path / "state").string();
    id_reservations reservations(720h, 100);
    EXPECT_NE(reservations.load(file).find("not found"), std::string::npos);

    reservations.record("123456789", kHash);
    std::string error;
    ASSERT_TRUE(reservations.save(file, error));
    std::stringstream saved;
    saved << std::ifstream(file).rdbuf();
    const auto good = saved.str();
    for (const auto& damaged : {good.substr(0, good.size() - 5) + "zz\n", std::string("\0x", 2),
                                good + "12345 abc 1\n"}) {
        std::ofstream(file, std::ios::trunc) << damaged;
        id_reservations loaded(720h, 100);
        EXPECT_NE(loaded.load(file).find("damaged"), std::string::npos) << damaged;
        EXPECT_EQ(loaded.size(), 0u);
    }
}

TEST(IdReservations, AnIdIsHeldForItsPasswordUntilItsTimeIsUpAndTheLongestUnusedGoFirst) {
    const auto now = id_reservations::clock::now();
    id_reservations timed(60s, 10);
    timed.record("700000004", kHash, now - 61s);
    EXPECT_FALSE(timed.held_for_other("700000004", kOtherHash, now));
    EXPECT_TRUE(timed.held_for_other("700000004", kOtherHash, now - 30s));
    EXPECT_FALSE(timed.held_for_other("700000004", kHash, now - 30s));

    id_reservations full(720h, 2);
    full.record("111111111", kHash, now - 3h);
    full.record("222222222", kHash, now - 2h);
    full.touch("111111111", kHash, now - 1h);
    full.record("333333333", kHash, now);
    EXPECT_EQ(full.size(), 2u);
    EXPECT_TRUE(full.held_for_other("111111111", kOtherHash, now));
    EXPECT_FALSE(full.held_for_other("222222222", kOtherHash, now));
}
