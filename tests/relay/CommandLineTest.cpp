#include "relay/command_line.h"

#include <gtest/gtest.h>

using namespace velmarin::relay;

namespace {

std::variant<relay_config, command_line_exit> parse(std::vector<const char*> args) {
    args.insert(args.begin(), "velmarin-relay");
    return parse_command_line(static_cast<int>(args.size()), args.data());
}

} // namespace

TEST(CommandLine, OptionsInBothSpellings) {
    const auto parsed = parse({"--cert", "c.pem", "--key=k.pem", "--port", "9000", "--threads=3",
                               "--auth-timeout", "5", "--quiet"});
    const auto& config = std::get<relay_config>(parsed);
    EXPECT_EQ(config.port, 9000);
    EXPECT_EQ(config.threads, 3u);
    EXPECT_EQ(config.key_file, "k.pem");
    EXPECT_EQ(config.unauthenticated_timeout, std::chrono::seconds(5));
    EXPECT_TRUE(config.quiet);
}

TEST(CommandLine, RejectsWhatItCannotUseWithADutchText) {
    EXPECT_EQ(std::get<command_line_exit>(parse({"--key", "k"})).code, 2);
    const auto bad =
        std::get<command_line_exit>(parse({"--cert", "c", "--key", "k", "--port", "70000"}));
    EXPECT_EQ(bad.code, 2);
    EXPECT_NE(bad.text.find("Ongeldige waarde voor --port"), std::string::npos);
    EXPECT_NE(std::get<command_line_exit>(parse({"--frobnicate"})).text.find("Onbekende optie"),
              std::string::npos);
    EXPECT_EQ(std::get<command_line_exit>(parse({"--cert", "c", "--key"})).code, 2);
    EXPECT_EQ(std::get<command_line_exit>(parse({"--help"})).code, 0);
    EXPECT_EQ(std::get<command_line_exit>(parse({"--version"})).text.rfind("velmarin-relay ", 0),
              0u);
}
