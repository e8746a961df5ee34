// SecretServiceStore against the real GNOME Keyring that with-keyring starts
// for this process, read back with secret-tool.

#include "secrets/SecretServiceStore.h"

#include "support/keyring/Keyring.h"
#include "support/x11/XvfbProcess.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>

namespace velmarin::secrets {
namespace {

using namespace std::chrono_literals;
namespace keyring = testing::keyring;
using Clock = std::chrono::steady_clock;
using Kind = SecretStoreError::Kind;

const SecretAddress kAddress{"com.tessamund.velmarin.test", "fixedPassword"};
const SecretAddress kMissing{"com.tessamund.velmarin.test", "123456789"};

TEST(SecretServiceStore, KeepsOneSecretPerAddress) {
    SecretServiceStore store;
    EXPECT_TRUE(store.save(kAddress, "eerste-wachtwoord", "Velmarin: test"));
    EXPECT_TRUE(store.save(kAddress, "tweede wachtwoord", "Velmarin: test"));
    EXPECT_EQ(keyring::itemCount(kAddress.service, kAddress.account), 1);
    EXPECT_EQ(keyring::lookup(kAddress.service, kAddress.account), "tweede wachtwoord");
    EXPECT_EQ(store.load(kAddress), "tweede wachtwoord");

    EXPECT_EQ(store.load(kMissing), std::nullopt);
    EXPECT_TRUE(store.remove(kMissing));
    EXPECT_EQ(store.load(kAddress), "tweede wachtwoord") << "another account's removal hit it";
    EXPECT_TRUE(store.remove(kAddress));
    EXPECT_EQ(keyring::lookup(kAddress.service, kAddress.account), std::nullopt);
    EXPECT_EQ(store.load(kAddress), std::nullopt);
}

// Nothing here may wait on the store: a call that does not give up at once
// takes the store's time-out (a minute) or a D-Bus time-out (25 s).
TEST(SecretServiceStore, AnAbsentHungOrLockedStoreGivesNothingWithoutWaiting) {
    constexpr auto kAtOnce = 5s;

    // No Secret Service: D-Bus knows nobody by the name libsecret asks for.
    ::setenv("SECRET_SERVICE_BUS_NAME", "com.tessamund.velmarin.NoSecrets", 1);
    SecretServiceStore absent({.timeout = 60s});
    auto start = Clock::now();
    EXPECT_EQ(absent.load(kAddress), std::nullopt);
    const auto unsaved = absent.save(kAddress, "geheim", "Velmarin: test");
    ASSERT_FALSE(unsaved);
    EXPECT_EQ(unsaved.error().kind, Kind::unavailable) << unsaved.error().description();
    EXPECT_LT(Clock::now() - start, kAtOnce);

    // A Secret Service that never answers: the time-out ends each call.
    const keyring::SilentService silent("com.tessamund.velmarin.Silent");
    ::setenv("SECRET_SERVICE_BUS_NAME", "com.tessamund.velmarin.Silent", 1);
    SecretServiceStore hung({.timeout = 500ms});
    start = Clock::now();
    EXPECT_EQ(hung.load(kAddress), std::nullopt);
    const auto late = hung.save(kAddress, "geheim", "Velmarin: test");
    ASSERT_FALSE(late);
    EXPECT_EQ(late.error().kind, Kind::timedOut) << late.error().description();
    EXPECT_LT(Clock::now() - start, kAtOnce);

    // A locked keyring on a desktop: unlocking it shows a prompt (here on a
    // private X server) that nobody answers.
    ::unsetenv("SECRET_SERVICE_BUS_NAME");
    SecretServiceStore store({.timeout = 60s});
    ASSERT_TRUE(store.save(kAddress, "vergrendeld", "Velmarin: test"));
    const testing::XvfbProcess x(640, 480);
    keyring::setActivationDisplay(x.display());
    keyring::lockDefaultCollection();
    start = Clock::now();
    EXPECT_EQ(store.load(kAddress), std::nullopt);
    const auto refused = store.save(kAddress, "nieuw", "Velmarin: test");
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().kind, Kind::locked) << refused.error().description();
    const auto kept = store.remove(kAddress);
    ASSERT_FALSE(kept);
    EXPECT_EQ(kept.error().kind, Kind::locked) << kept.error().description();
    EXPECT_LT(Clock::now() - start, kAtOnce);
}

} // namespace
} // namespace velmarin::secrets
