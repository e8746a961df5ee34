#include "support/x11/XvfbProcess.h"

#include <cstdlib>
#include <poll.h>
#include <signal.h>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace velmarin::testing {

XvfbProcess::XvfbProcess(int width, int height, int depth, int dpi) {
    int fds[2];
    if (pipe(fds) != 0)
        throw std::runtime_error("pipe failed");

    const std::string screen =
        std::to_string(width) + "x" + std::to_string(height) + "x" + std::to_string(depth);
    const std::string displayFd = std::to_string(fds[1]);
    const std::string dpiText = std::to_string(dpi);
    m_pid = fork();
    if (m_pid < 0)
        throw std::runtime_error("fork failed");
    if (m_pid == 0) {
        close(fds[0]);
        // Xvfb writes the display number it chose to -displayfd once it
        // accepts connections; no guessing at free numbers, no lock races.
        if (dpi > 0)
            execlp("Xvfb", "Xvfb", "-displayfd", displayFd.c_str(), "-screen", "0", screen.c_str(),
                   "-dpi", dpiText.c_str(), "-nolisten", "tcp", "-noreset", "+extension", "RANDR",
                   static_cast<char*>(nullptr));
        else
            execlp("Xvfb", "Xvfb", "-displayfd", displayFd.c_str(), "-screen", "0", screen.c_str(),
                   "-nolisten", "tcp", "-noreset", "+extension", "RANDR",
                   static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);

    std::string number;
    pollfd pfd{fds[0], POLLIN, 0};
    while (poll(&pfd, 1, 15000) > 0) {
        char c;
        if (read(fds[0], &c, 1) != 1 || c == '\n')
            break;
        number.push_back(c);
    }
    close(fds[0]);
    if (number.empty()) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
        m_pid = -1;
        throw std::runtime_error("Xvfb did not start (is the xvfb package installed?)");
    }
    m_display = ":" + number;
}

XvfbProcess::~XvfbProcess() {
    if (m_pid <= 0)
        return;
    kill(m_pid, SIGTERM);
    for (int i = 0; i < 50; ++i) {
        if (waitpid(m_pid, nullptr, WNOHANG) == m_pid)
            return;
        usleep(100'000);
    }
    kill(m_pid, SIGKILL);
    waitpid(m_pid, nullptr, 0);
}

int XvfbProcess::run(const std::string& command) const {
    const std::string withDisplay = "DISPLAY=" + m_display + " " + command;
    const int status = std::system(withDisplay.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace velmarin::testing
