#pragma once

// CPU time and resident memory of a process (and its direct children, for
// nginx's workers), read from /proc.

#include <sys/types.h>

namespace velmarin::bench {

struct process_sample {
    double cpu_seconds = 0; // user + system, process and direct children
    long rss_kib = 0;       // resident set, process and direct children
};

process_sample sample_process(pid_t pid);

// Keeps every thread of `pid` and of its direct children (nginx's workers)
// on processor `cpu`, and the calling process on all the others, so the
// server under test and the load generator do not take turns on one core.
// False when the machine has one processor or the kernel refuses.
bool separate_processors(pid_t pid, int cpu);

// Raises the soft limit on open files to the hard limit; returns the new
// soft limit.
long raise_file_limit();

} // namespace velmarin::bench
