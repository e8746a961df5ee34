#pragma once

// What the relay tells users in "error" messages; clients show these as is.

#include <string>
#include <string_view>

namespace velmarin::relay::texts {

inline constexpr std::string_view not_found = "Apparaat niet gevonden of offline.";
inline constexpr std::string_view wrong_password = "Onjuist wachtwoord.";
inline constexpr std::string_view host_busy = "Dit apparaat heeft al een actieve sessie.";
inline constexpr std::string_view malformed = "Ongeldig bericht.";
inline constexpr std::string_view unexpected =
    "Onverwacht bericht: registreer eerst of maak verbinding met een apparaat.";
inline constexpr std::string_view already_registered = "Deze verbinding is al geregistreerd.";
inline constexpr std::string_view only_hosts_register = "Alleen een host kan zich registreren.";
inline constexpr std::string_view bad_password_hash =
    "Registratie geweigerd: ongeldige wachtwoord-hash.";
inline constexpr std::string_view host_cannot_connect =
    "Een host kan geen verbinding maken met een ander apparaat.";
inline constexpr std::string_view already_connected = "Er is al een sessie actief.";
inline constexpr std::string_view no_challenge =
    "Onverwacht antwoord: vraag eerst een verbinding aan.";
inline constexpr std::string_view relay_overloaded =
    "De relayserver is op dit moment overbelast. Probeer het later opnieuw.";

inline std::string too_many_attempts(long long seconds) {
    return "Te veel mislukte pogingen. Probeer het over " + std::to_string(seconds) +
           (seconds == 1 ? " seconde" : " seconden") + " opnieuw.";
}

inline std::string too_many_presence_requests(long long seconds) {
    return "Te veel statusverzoeken. Probeer het over " + std::to_string(seconds) +
           (seconds == 1 ? " seconde" : " seconden") + " opnieuw.";
}

inline std::string too_many_ids(std::size_t limit) {
    return "Te veel apparaten in één statusverzoek (maximaal " + std::to_string(limit) + ").";
}

} // namespace velmarin::relay::texts
