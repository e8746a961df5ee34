#include "ProcessProbe.h"

#include <fstream>
#include <sstream>
#include <unistd.h>

namespace velmarin::bench {

double cpuMs(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    std::istringstream fields(line.substr(line.rfind(')') + 2));
    std::string skip;
    for (int i = 0; i < 11; ++i) // state .. cmajflt
        fields >> skip;
    long utime = 0, stime = 0;
    fields >> utime >> stime;
    return 1000.0 * static_cast<double>(utime + stime) /
           static_cast<double>(::sysconf(_SC_CLK_TCK));
}

long statusKib(pid_t pid, const std::string& field) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string key;
    long value = -1;
    while (status >> key) {
        if (key == field && status >> value)
            return value;
    }
    return -1;
}

} // namespace velmarin::bench
