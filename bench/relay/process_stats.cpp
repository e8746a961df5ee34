#include "process_stats.h"

#include <dirent.h>
#include <fstream>
#include <sched.h>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace velmarin::bench {
namespace {

process_sample sample_one(pid_t pid) {
    process_sample s;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    // Fields after the command name, which may contain spaces: skip to ')'.
    const auto close = line.rfind(')');
    if (close == std::string::npos)
        return s;
    std::istringstream fields(line.substr(close + 2));
    std::string field;
    unsigned long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14)
            utime = std::stoul(field);
        if (i == 15)
            stime = std::stoul(field);
    }
    s.cpu_seconds = double(utime + stime) / double(sysconf(_SC_CLK_TCK));
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string key;
    while (status >> key) {
        if (key == "VmRSS:") {
            status >> s.rss_kib;
            break;
        }
    }
    return s;
}

std::vector<pid_t> children(pid_t pid) {
    std::ifstream list("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) +
                       "/children");
    std::vector<pid_t> out;
    pid_t child = 0;
    while (list >> child)
        out.push_back(child);
    return out;
}

} // namespace

process_sample sample_process(pid_t pid) {
    auto total = sample_one(pid);
    for (const auto child : children(pid)) {
        const auto s = sample_one(child);
        total.cpu_seconds += s.cpu_seconds;
        total.rss_kib += s.rss_kib;
    }
    return total;
}

namespace {

bool pin_tasks(pid_t pid, const cpu_set_t& set) {
    bool ok = true;
    const auto dir = "/proc/" + std::to_string(pid) + "/task/";
    std::vector<pid_t> ids;
    if (auto* listing = ::opendir(dir.c_str())) {
        while (const auto* entry = ::readdir(listing))
            if (entry->d_name[0] != '.')
                ids.push_back(static_cast<pid_t>(std::stol(entry->d_name)));
        ::closedir(listing);
    }
    for (const auto id : ids)
        ok = sched_setaffinity(id, sizeof set, &set) == 0 && ok;
    return ok && !ids.empty();
}

} // namespace

bool separate_processors(pid_t pid, int cpu) {
    const long count = sysconf(_SC_NPROCESSORS_ONLN);
    if (count < 2)
        return false;
    cpu_set_t server;
    cpu_set_t rest;
    CPU_ZERO(&server);
    CPU_ZERO(&rest);
    for (int i = 0; i < count; ++i)
        CPU_SET(i, i == cpu ? &server : &rest);
    bool ok = pin_tasks(::getpid(), rest);
    ok = pin_tasks(pid, server) && ok;
    for (const auto child : children(pid))
        ok = pin_tasks(child, server) && ok;
    return ok;
}

long raise_file_limit() {
    rlimit limit{};
    // Root may also raise the hard limit; everyone else gets the soft limit
    // raised to the hard one.
    const rlimit wanted{200000, 200000};
    if (setrlimit(RLIMIT_NOFILE, &wanted) != 0) {
        getrlimit(RLIMIT_NOFILE, &limit);
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
    getrlimit(RLIMIT_NOFILE, &limit);
    return static_cast<long>(limit.rlim_cur);
}

} // namespace velmarin::bench
