#pragma once

// A snapshot of this computer for the Viewer's information panel: name,
// distribution, processor, load, memory, disk and uptime.
//
// Everything comes from the kernel's text interfaces, read under a root that
// tests can point elsewhere. Every measurement has a fallback, so a snapshot
// never fails. Used from the GUI thread only.

#include "protocol/ProtocolMessages.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace velmarin {

class SystemInfoCollector {
public:
    struct Paths {
        std::filesystem::path proc = "/proc";
        std::filesystem::path etc = "/etc";
        std::filesystem::path disk = "/"; // the system volume
    };

    SystemInfoCollector() = default;
    explicit SystemInfoCollector(Paths paths)
        : m_paths(std::move(paths)) {}

    protocol::SystemInfoMessage snapshot();

    // Percent of processor time spent busy since the previous call, over all
    // processors, 0 to 100. The first call measures the average since boot.
    double cpuUsage();

    // (used, total) bytes. Used memory is what is not available to new
    // programs without swapping (MemTotal − MemAvailable).
    std::pair<std::int64_t, std::int64_t> memoryUsage() const;

    // (used, total) bytes of the system volume, as `df` reports them.
    std::pair<std::int64_t, std::int64_t> diskUsage() const;

private:
    struct CpuTicks {
        std::uint64_t busy = 0;
        std::uint64_t idle = 0;
    };

    std::optional<std::vector<CpuTicks>> readCpuTicks() const;

    Paths m_paths;
    std::optional<std::vector<CpuTicks>> m_previousCpuTicks;
};

} // namespace velmarin
