#include "relay/address_keys.h"

#include <boost/asio/ip/address.hpp>

namespace velmarin::relay {

std::string network_key(const std::string& ip) {
    boost::system::error_code ec;
    auto address = boost::asio::ip::make_address(ip, ec);
    if (ec)
        return ip;
    if (address.is_v6() && address.to_v6().is_v4_mapped())
        address = boost::asio::ip::make_address_v4(boost::asio::ip::v4_mapped, address.to_v6());
    if (address.is_v4()) {
        auto bytes = address.to_v4().to_bytes();
        bytes[3] = 0;
        return boost::asio::ip::address_v4(bytes).to_string() + "/24";
    }
    auto bytes = address.to_v6().to_bytes();
    std::fill(bytes.begin() + 8, bytes.end(), 0);
    return boost::asio::ip::address_v6(bytes).to_string() + "/64";
}

} // namespace velmarin::relay
