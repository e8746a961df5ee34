// SecretServiceStore against the real GNOME Keyring that with-keyring starts
// for this process. Keeping, replacing and removing secrets is the device
// book's and the fixed password's tests' (the same store and keyring).

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

// Nothing here may wait on the store: a call that does not give up at once
// takes the store's time-out (a minute) or a D-Bus time-out (25 s).
TEST(SecretServiceStore, AnAbsentHungOrLockedStoreGivesNothingWithoutWaiting) {
    // Nothing to read, and writes refused for `kind`, all at once.
    const auto expectRefusedAtOnce = [](SecretServiceStore& store, Kind kind, bool remove) {
        const auto start = Clock::now();
        EXPECT_EQ(store.load(kAddress), std::nullopt);
        const auto saved = store.save(kAddress, "nieuw", "Velmarin: test");
        ASSERT_FALSE(saved);
        EXPECT_EQ(saved.error().kind, kind) << saved.error().description();
        if (remove) {
            const auto kept = store.remove(kAddress);
            ASSERT_FALSE(kept);
            EXPECT_EQ(kept.error().kind, kind) << kept.error().description();
        }
        EXPECT_LT(Clock::now() - start, 5s);
    };

    // No Secret Service: D-Bus knows nobody by the name libsecret asks for.
    ::setenv("SECRET_SERVICE_BUS_NAME", "com.tessamund.velmarin.NoSecrets", 1);
    SecretServiceStore absent({.timeout = 60s});
    expectRefusedAtOnce(absent, Kind::unavailable, false);

    // A Secret Service that never answers: the time-out ends each call.
    const keyring::SilentService silent("com.tessamund.velmarin.Silent");
    ::setenv("SECRET_SERVICE_BUS_NAME", "com.tessamund.velmarin.Silent", 1);
    SecretServiceStore hung({.timeout = 500ms});
    expectRefusedAtOnce(hung, Kind::timedOut, false);

    // A locked keyring on a desktop: unlocking it shows a prompt (here on a
    // private X server) that nobody answers.
    ::unsetenv("SECRET_SERVICE_BUS_NAME");
    SecretServiceStore store({.timeout = 60s});
    ASSERT_TRUE(store.save(kAddress, "vergrendeld", "Velmarin: test"));
    const testing::XvfbProcess x(640, 480);
    keyring::setActivationDisplay(x.display());
    keyring::lockDefaultCollection();
    expectRefusedAtOnce(store, Kind::locked, true);
}

} // namespace
} // namespace velmarin::secrets
