#pragma once

// What the benchmarks read about a process under test from /proc.

#include <string>
#include <sys/types.h>

namespace velmarin::bench {

// utime + stime of `pid`, in milliseconds (clock-tick resolution).
double cpuMs(pid_t pid);

// A "kB" field of /proc/PID/status ("VmRSS:", "VmHWM:"); -1 when absent.
long statusKib(pid_t pid, const std::string& field);

} // namespace velmarin::bench
