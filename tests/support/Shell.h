#pragma once

// Running a shell command from a test, for programs that read back what the
// code under test did (df, ffprobe, secret-tool, ...).

#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>

namespace velmarin::testing {

// `text` as one word for the shell.
inline std::string shellQuoted(const std::string& text) {
    std::string out = "'";
    for (const char c : text)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// The command's standard output and its exit status (as pclose gives it).
inline std::pair<std::string, int> runShell(const std::string& command) {
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    if (!pipe)
        throw std::runtime_error("cannot run " + command);
    std::string out;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe.get())) > 0;)
        out.append(buffer, n);
    return {out, pclose(pipe.release())};
}

} // namespace velmarin::testing
