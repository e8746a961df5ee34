#include "relay/command_line.h"

#include <algorithm>
#include <charconv>
#include <functional>
#include <map>
#include <string_view>
#include <thread>

namespace velmarin::relay {
namespace {

template <class Int> bool parse_number(std::string_view text, Int min, Int max, Int& out) {
    Int value{};
    const auto* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc{} || ptr != end || value < min || value > max)
        return false;
    out = value;
    return true;
}

bool parse_seconds(std::string_view text, long long min, std::chrono::seconds& out) {
    long long value = 0;
    if (!parse_number<long long>(text, min, 86400LL * 365, value))
        return false;
    out = std::chrono::seconds{value};
    return true;
}

bool parse_size(std::string_view text, std::size_t min, std::size_t& out) {
    return parse_number<std::size_t>(text, min, std::size_t{1} << 40, out);
}

bool parse_count(std::string_view text, unsigned min, unsigned& out) {
    return parse_number<unsigned>(text, min, 1u << 20, out);
}

} // namespace

std::string usage_text() {
    return R"(Gebruik: velmarin-relay [--listen ADRES] [--port N] --cert BESTAND --key BESTAND [--threads N] [opties]

Relayserver voor Velmarin: beveiligde WebSocket (wss) op het hoofdpad.

  --listen ADRES              luisteradres (standaard 0.0.0.0)
  --port N                    poort (standaard 8766)
  --cert BESTAND              certificaatketen in PEM-formaat
  --key BESTAND               privésleutel in PEM-formaat
  --threads N                 aantal threads (standaard: aantal kernen)
  --max-connections N         maximaal aantal gelijktijdige verbindingen (20000)
  --max-message-bytes N       grootste bericht in bytes (5242880)
  --handshake-timeout S       seconden voor TLS- en WebSocket-handshake (10)
  --idle-timeout S            seconden zonder verkeer voordat de verbinding sluit; ping na de helft (30)
  --auth-timeout S            seconden om te registreren, verbinden of status te vragen (30)
  --max-presence-ids N        ID's per statusverzoek (256)
  --video-queue-bytes N       videobuffer per verbinding; daarboven vallen frames weg (4194304)
  --control-queue-bytes N     berichtenbuffer per verbinding; daarboven sluit de verbinding (16777216)
  --queue-budget-bytes N      alle buffers samen; daarboven worden nieuwe sessies geweigerd (536870912)
  --write-timeout S           seconden voor één schrijfactie; daarna sluit de verbinding (30)
  --unregistered-message-bytes N
                              grootste tekstbericht vóór registratie of koppeling (16384)
  --address-failures N        mislukte wachtwoordpogingen per adres vóór de wachttijd (5)
  --address-refill S          seconden per extra poging per adres (12)
  --target-failures N         mislukte wachtwoordpogingen per ID vóór de wachttijd (10)
  --target-refill S           seconden per extra poging per ID (6); vanaf 10× en 100× het
                              aantal mislukte pogingen 10× en 100× zo lang (60, 600);
                              terug naar nul na een geslaagde aanmelding of een dag rust
  --network-failures N        mislukte wachtwoordpogingen per /24 (IPv4) of /64 (IPv6) (20)
  --network-refill S          seconden per extra poging per netwerk (3)
  --presence-per-connection N ID's per minuut in statusverzoeken per verbinding (1000)
  --presence-per-address N    ID's per minuut in statusverzoeken per adres (12000)
  --presence-per-network N    ID's per minuut in statusverzoeken per /24 of /64 (48000)
  --connections-per-address N gelijktijdige verbindingen per adres (1000)
  --connections-per-network N gelijktijdige verbindingen per /24 of /64 (4000)
  --state BESTAND             bewaart per ID met welk wachtwoord het laatst geregistreerd
                              werd (een sleutel-hash, niet het wachtwoord); zonder deze optie
                              alleen in het geheugen, dus weg na een herstart
  --reservation-days N        zo lang blijft een ID na het laatste gebruik bewaard (30)
  --max-reservations N        grootste aantal bewaarde ID's (200000)
  --stats-interval S          tellers elke S seconden loggen; 0 = uit (60); SIGUSR1: nu
  --quiet                     geen logregel per sessiegebeurtenis
  --check-config              controleert de opties, het certificaat en de sleutel en
                              stopt: 0 als de relay zo kan starten, anders 1 met de reden
  --help                      deze hulp
  --version                   versie
)";
}

std::variant<relay_config, command_line_exit> parse_command_line(int argc,
                                                                 const char* const* argv) {
    relay_config config;
    using setter = std::function<bool(std::string_view)>;
    const std::map<std::string_view, setter> with_value = {
        {"--listen", [&](auto v) { return !(config.listen_address = v).empty(); }},
        {"--port", [&](auto v) { return parse_number<std::uint16_t>(v, 0, 65535, config.port); }},
        {"--cert", [&](auto v) { return !(config.cert_file = v).empty(); }},
        {"--key", [&](auto v) { return !(config.key_file = v).empty(); }},
        {"--threads", [&](auto v) { return parse_count(v, 1, config.threads); }},
        {"--max-connections", [&](auto v) { return parse_size(v, 1, config.max_connections); }},
        {"--max-message-bytes",
         [&](auto v) { return parse_size(v, 1024, config.max_message_bytes); }},
        {"--handshake-timeout",
         [&](auto v) { return parse_seconds(v, 1, config.handshake_timeout); }},
        {"--idle-timeout", [&](auto v) { return parse_seconds(v, 2, config.idle_timeout); }},
        {"--auth-timeout",
         [&](auto v) { return parse_seconds(v, 1, config.unauthenticated_timeout); }},
        {"--max-presence-ids", [&](auto v) { return parse_size(v, 1, config.max_presence_ids); }},
        {"--video-queue-bytes",
         [&](auto v) { return parse_size(v, 1024, config.video_queue_bytes); }},
        {"--control-queue-bytes",
         [&](auto v) { return parse_size(v, 64 * 1024, config.control_queue_bytes); }},
        {"--queue-budget-bytes",
         [&](auto v) { return parse_size(v, 64 * 1024, config.queue_budget_bytes); }},
        {"--write-timeout", [&](auto v) { return parse_seconds(v, 1, config.write_timeout); }},
        {"--unregistered-message-bytes",
         [&](auto v) { return parse_size(v, 1024, config.unregistered_message_bytes); }},
        {"--address-failures",
         [&](auto v) { return parse_count(v, 1, config.address_failure_burst); }},
        {"--address-refill", [&](auto v) { return parse_seconds(v, 1, config.address_refill); }},
        {"--target-failures",
         [&](auto v) { return parse_count(v, 1, config.target_failure_burst); }},
        {"--target-refill", [&](auto v) { return parse_seconds(v, 1, config.target_refill); }},
        {"--network-failures",
         [&](auto v) { return parse_count(v, 1, config.network_failure_burst); }},
        {"--network-refill", [&](auto v) { return parse_seconds(v, 1, config.network_refill); }},
        {"--presence-per-connection",
         [&](auto v) { return parse_size(v, 1, config.presence_per_connection); }},
        {"--presence-per-address",
         [&](auto v) { return parse_size(v, 1, config.presence_per_address); }},
        {"--presence-per-network",
         [&](auto v) { return parse_size(v, 1, config.presence_per_network); }},
        {"--connections-per-address",
         [&](auto v) { return parse_size(v, 1, config.connections_per_address); }},
        {"--connections-per-network",
         [&](auto v) { return parse_size(v, 1, config.connections_per_network); }},
        {"--state", [&](auto v) { return !(config.state_file = v).empty(); }},
        {"--reservation-days",
         [&](auto v) {
             unsigned days = 0;
             const bool ok = parse_count(v, 1, days);
             config.reservation_keep = std::chrono::seconds{86400LL * days};
             return ok && days <= 3650;
         }},
        {"--max-reservations", [&](auto v) { return parse_size(v, 1, config.max_reservations); }},
        {"--stats-interval", [&](auto v) { return parse_seconds(v, 0, config.stats_interval); }},
    };

    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h")
            return command_line_exit{0, usage_text()};
        if (arg == "--version")
            return command_line_exit{0, std::string("velmarin-relay ") + VELMARIN_VERSION + "\n"};
        if (arg == "--quiet") {
            config.quiet = true;
            continue;
        }
        if (arg == "--check-config") {
            config.check_only = true;
            continue;
        }
        std::string_view name = arg;
        std::string_view value;
        bool has_value = false;
        if (const auto eq = arg.find('='); arg.starts_with("--") && eq != std::string_view::npos) {
            name = arg.substr(0, eq);
            value = arg.substr(eq + 1);
            has_value = true;
        }
        const auto it = with_value.find(name);
        if (it == with_value.end())
            return command_line_exit{2,
                                     "Onbekende optie: " + std::string(arg) + "\n" + usage_text()};
        if (!has_value) {
            if (i + 1 >= argc)
                return command_line_exit{2,
                                         "Optie " + std::string(name) + " verwacht een waarde.\n"};
            value = argv[++i];
        }
        if (!it->second(value))
            return command_line_exit{2, "Ongeldige waarde voor " + std::string(name) + ": " +
                                            std::string(value) + "\n"};
    }
    if (config.cert_file.empty() || config.key_file.empty())
        return command_line_exit{2, "--cert en --key zijn verplicht.\n" + usage_text()};
    if (config.threads == 0)
        config.threads = std::max(1u, std::thread::hardware_concurrency());
    return config;
}

} // namespace velmarin::relay
