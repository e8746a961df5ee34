#include "relay/presence_limiter.h"

#include <algorithm>

namespace velmarin::relay {

presence_limiter::presence_limiter(std::size_t per_address_per_minute,
                                   std::size_t per_network_per_minute)
    : by_address_(per_minute(per_address_per_minute))
    , by_network_(per_minute(per_network_per_minute)) {}

long long presence_limiter::take(const std::string& address, const std::string& network,
                                 std::size_t ids, clock::time_point now) {
    const std::lock_guard lock(mutex_);
    const double amount = static_cast<double>(ids);
    const double wait = std::max(by_address_.wait_for(address, amount, now),
                                 by_network_.wait_for(network, amount, now));
    if (wait > 0)
        return wait_seconds(wait);
    by_address_.take(address, amount, now);
    by_network_.take(network, amount, now);
    if (++operations_ % 1024 == 0) {
        by_address_.forget_full(now);
        by_network_.forget_full(now);
    }
    return 0;
}

} // namespace velmarin::relay
