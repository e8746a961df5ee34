#include "secrets/SecretStore.h"

namespace velmarin::secrets {

std::string SecretStoreError::description() const {
    const char* what = "";
    switch (kind) {
    case Kind::unavailable:
        what = "no Secret Service reachable";
        break;
    case Kind::locked:
        what = "the Secret Service is locked";
        break;
    case Kind::timedOut:
        what = "the Secret Service did not answer in time";
        break;
    case Kind::failed:
        what = "the Secret Service refused";
        break;
    }
    return detail.empty() ? what : std::string(what) + " (" + detail + ")";
}

} // namespace velmarin::secrets
