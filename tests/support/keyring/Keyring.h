#pragma once

// The real keyring of a suite that runs through with-keyring (velmarin_test's
// KEYRING option), seen from outside the code under test.
//
// Usage (link the CMake target `velmarin_test_keyring`):
//
//     #include "support/keyring/Keyring.h"
//
//     EXPECT_EQ(keyring::lookup("com.tessamund.velmarin.host", "fixedPassword"), "k7m9pq");
//     keyring::lockDefaultCollection();   // as after a screen lock
//     keyring::SilentService hung("com.example.Hung");  // never answers

#include <memory>
#include <optional>
#include <string>

namespace velmarin::testing::keyring {

// What `secret-tool lookup service S account A` prints; nothing when it
// finds no secret. Both readers ask the real Secret Service, also while the
// test points libsecret elsewhere through SECRET_SERVICE_BUS_NAME.
std::optional<std::string> lookup(const std::string& service, const std::string& account);

// How many items `secret-tool search --all` finds under service and account.
int itemCount(const std::string& service, const std::string& account);

// Locks the default collection through the Secret Service's own Lock call.
void lockDefaultCollection();

// Owns `busName` on the session bus and leaves every call to the Secret
// Service's objects unanswered: a Secret Service that hangs.
class SilentService {
public:
    explicit SilentService(const std::string& busName);
    ~SilentService();
    SilentService(const SilentService&) = delete;
    SilentService& operator=(const SilentService&) = delete;

private:
    struct State;
    std::unique_ptr<State> m_state;
};

// Programs the session bus starts from now on (the keyring's unlock prompt
// among them) see DISPLAY=display.
void setActivationDisplay(const std::string& display);

} // namespace velmarin::testing::keyring
