#include "support/x11/XvfbProcess.h"

#include "support/Process.h"

#include <cstdlib>
#include <poll.h>
#include <unistd.h>

namespace velmarin::testing {

XvfbProcess::XvfbProcess(int width, int height, int depth, int dpi) {
    int fds[2];
    if (pipe(fds) != 0)
        throw std::runtime_error("pipe failed");
    fcntl(fds[0], F_SETFD, FD_CLOEXEC);
    // Xvfb writes the display number it chose to -displayfd once it accepts
    // connections; no guessing at free numbers, no lock races.
    std::vector<std::string> command{"Xvfb",
                                     "-displayfd",
                                     std::to_string(fds[1]),
                                     "-screen",
                                     "0",
                                     std::to_string(width) + "x" + std::to_string(height) + "x" +
                                         std::to_string(depth),
                                     "-nolisten",
                                     "tcp",
                                     "-noreset",
                                     "+extension",
                                     "RANDR"};
    if (dpi > 0)
        command.insert(command.end(), {"-dpi", std::to_string(dpi)});
    m_pid = spawnProcess(command);
    close(fds[1]);

    std::string number;
    pollfd pfd{fds[0], POLLIN, 0};
    for (char c; poll(&pfd, 1, 15000) > 0 && read(fds[0], &c, 1) == 1 && c != '\n';)
        number.push_back(c);
    close(fds[0]);
    if (number.empty()) {
        stopProcess(m_pid, SIGKILL);
        throw std::runtime_error("Xvfb did not start (is the xvfb package installed?)");
    }
    m_display = ":" + number;
}

XvfbProcess::~XvfbProcess() {
    stopProcess(m_pid);
}

int XvfbProcess::run(const std::string& command) const {
    const int status = std::system(("DISPLAY=" + m_display + " " + command).c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace velmarin::testing
