#pragma once

// Parses the relay's command line. --help and --version are answered here,
// as is every malformed option, with a text for the terminal and an exit
// code; the caller only prints and exits.

#include "relay/relay_config.h"

#include <string>
#include <variant>

namespace velmarin::relay {

struct command_line_exit {
    int code = 0;
    std::string text; // goes to stdout when code is 0, to stderr otherwise
};

std::variant<relay_config, command_line_exit> parse_command_line(int argc, const char* const* argv);

std::string usage_text();

} // namespace velmarin::relay
