// Any text handed to the control-message decoder: it must never crash, never
// throw, and whatever it accepts must encode and decode back to itself.

#include "protocol/ProtocolEncoder.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

using namespace velmarin::protocol;

namespace {

template <class M> void roundTrip(std::string_view text) {
    const auto message = ProtocolEncoder::decode<M>(text);
    if (!message)
        return;
    const auto encoded = ProtocolEncoder::encode(*message);
    if (!encoded)
        std::abort(); // accepted input must be representable again
    const auto again = ProtocolEncoder::decode<M>(*encoded);
    if (!again || !(*again == *message))
        std::abort();
}

template <class... M> void roundTripAll(std::string_view text) {
    (roundTrip<M>(text), ...);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    (void)ProtocolEncoder::decodeType(text);
    roundTripAll<RegisterMessage, RegisteredMessage, ConnectMessage, ChallengeMessage,
                 ChallengeResponseMessage, ConnectedMessage, ErrorMessage, PingMessage, PongMessage,
                 MouseEventMessage, KeyEventMessage, SpecialKeysMessage, ScreenInfoMessage,
                 QualitySettingMessage, MonitorListMessage, SelectMonitorMessage, SystemInfoMessage,
                 ChatMessage, ClipboardMessage, DrawMessage, SpotlightMessage, FileOfferMessage,
                 FileChunkMessage, FileAckMessage, PresenceMessage, PresenceResultMessage>(text);
    return 0;
}
