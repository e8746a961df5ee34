#pragma once

// The network an address belongs to, for limits that an attacker must not
// escape by moving to the next address: an IPv4 /24 or an IPv6 /64 (the
// block one subscriber usually gets). IPv4-mapped IPv6 counts as IPv4.

#include <string>

namespace velmarin::relay {

// "192.0.2.0/24", "2001:db8:1:2::/64"; the text itself when it is no address.
std::string network_key(const std::string& ip);

} // namespace velmarin::relay
