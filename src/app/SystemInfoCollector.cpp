#include "app/SystemInfoCollector.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <fstream>
#include <sstream>
#include <sys/statvfs.h>
#include <sys/utsname.h>
#include <unistd.h>

namespace velmarin {
namespace {

std::string trim(std::string text) {
    const auto isSpace = [](unsigned char c) { return std::isspace(c) != 0; };
    text.erase(text.begin(), std::find_if_not(text.begin(), text.end(), isSpace));
    text.erase(std::find_if_not(text.rbegin(), text.rend(), isSpace).base(), text.end());
    return text;
}

// Value of KEY=VALUE in an os-release style file, quotes removed.
std::optional<std::string> shellVariable(const std::filesystem::path& file, std::string_view key) {
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
        if (line.size() <= key.size() || line.compare(0, key.size(), key) != 0 ||
            line[key.size()] != '=')
            continue;
        std::string value = trim(line.substr(key.size() + 1));
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
            value.back() == value.front())
            value = value.substr(1, value.size() - 2);
        if (!value.empty())
            return value;
    }
    return std::nullopt;
}

// "key : value" lines of /proc/cpuinfo and /proc/meminfo.
std::optional<std::string> colonField(const std::filesystem::path& file, std::string_view key) {
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
        const auto colon = line.find(':');
        if (colon == std::string::npos || trim(line.substr(0, colon)) != key)
            continue;
        return trim(line.substr(colon + 1));
    }
    return std::nullopt;
}

std::optional<std::int64_t> meminfoBytes(const std::filesystem::path& file, std::string_view key) {
    const auto value = colonField(file, key); // "16318420 kB"
    if (!value)
        return std::nullopt;
    std::istringstream in(*value);
    std::int64_t kib = 0;
    if (!(in >> kib) || kib < 0)
        return std::nullopt;
    return kib * 1024;
}

std::string hostName() {
    std::array<char, 256> name{};
    if (gethostname(name.data(), name.size() - 1) != 0)
        return "localhost";
    return name.data();
}

std::int64_t physicalMemory() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGESIZE);
    return pages > 0 && pageSize > 0 ? std::int64_t{pages} * pageSize : 0;
}

} // namespace

std::optional<std::vector<SystemInfoCollector::CpuTicks>>
SystemInfoCollector::readCpuTicks() const {
    std::ifstream in(m_paths.proc / "stat");
    std::vector<CpuTicks> cpus;
    std::string line;
    while (std::getline(in, line)) {
        // Per-processor lines only ("cpu0 …"); the "cpu " line is their sum.
        if (line.size() < 4 || line.compare(0, 3, "cpu") != 0 || !std::isdigit(line[3]))
            continue;
        std::istringstream fields(line.substr(line.find(' ')));
        // user nice system idle iowait irq softirq steal; guest time is
        // already part of user and nice.
        std::array<std::uint64_t, 8> t{};
        std::size_t read = 0;
        while (read < t.size() && fields >> t[read])
            ++read;
        if (read < 4)
            return std::nullopt;
        const std::uint64_t idle = t[3] + t[4]; // waiting for I/O is idle too
        const std::uint64_t busy = t[0] + t[1] + t[2] + t[5] + t[6] + t[7];
        cpus.push_back({busy, idle});
    }
    if (cpus.empty())
        return std::nullopt;
    return cpus;
}

double SystemInfoCollector::cpuUsage() {
    auto current = readCpuTicks();
    if (!current)
        return 0.0;
    // A processor brought on- or offline changes the list: measure afresh.
    const bool comparable = m_previousCpuTicks && m_previousCpuTicks->size() == current->size();
    std::uint64_t total = 0;
    std::uint64_t idle = 0;
    for (std::size_t i = 0; i < current->size(); ++i) {
        CpuTicks now = (*current)[i];
        if (comparable) {
            const CpuTicks before = (*m_previousCpuTicks)[i];
            now.busy = now.busy >= before.busy ? now.busy - before.busy : 0;
            now.idle = now.idle >= before.idle ? now.idle - before.idle : 0;
        }
        total += now.busy + now.idle;
        idle += now.idle;
    }
    m_previousCpuTicks = std::move(current);
    if (total == 0)
        return 0.0;
    const double usage = static_cast<double>(total - idle) / static_cast<double>(total) * 100.0;
    return std::clamp(usage, 0.0, 100.0);
}

std::pair<std::int64_t, std::int64_t> SystemInfoCollector::memoryUsage() const {
    const auto meminfo = m_paths.proc / "meminfo";
    const std::int64_t total = meminfoBytes(meminfo, "MemTotal").value_or(physicalMemory());
    const auto available = meminfoBytes(meminfo, "MemAvailable");
    if (!available)
        return {0, total};
    return {std::max<std::int64_t>(total - *available, 0), total};
}

std::pair<std::int64_t, std::int64_t> SystemInfoCollector::diskUsage() const {
    struct statvfs fs {};
    if (statvfs(m_paths.disk.c_str(), &fs) != 0)
        return {0, 0};
    const auto total = static_cast<std::int64_t>(fs.f_blocks * fs.f_frsize);
    const auto free = static_cast<std::int64_t>(fs.f_bfree * fs.f_frsize);
    return {std::max<std::int64_t>(total - free, 0), total};
}

protocol::SystemInfoMessage SystemInfoCollector::snapshot() {
    protocol::SystemInfoMessage info;

    // The name people gave the machine, else its host name.
    info.deviceName =
        shellVariable(m_paths.etc / "machine-info", "PRETTY_HOSTNAME").value_or(hostName());

    struct utsname uts {};
    const bool haveUname = uname(&uts) == 0;
    const auto osRelease = m_paths.etc / "os-release";
    info.operatingSystem = shellVariable(osRelease, "NAME").value_or("Linux");
    // Rolling distributions have no VERSION_ID; the kernel release is the
    // best version they can give.
    info.osVersion =
        shellVariable(osRelease, "VERSION_ID")
            .value_or(shellVariable(osRelease, "VERSION").value_or(haveUname ? uts.release : ""));
    info.architecture = haveUname && uts.machine[0] ? uts.machine : "Onbekend";
    info.processorName =
        colonField(m_paths.proc / "cpuinfo", "model name").value_or(info.architecture);

    const long cpus = sysconf(_SC_NPROCESSORS_ONLN);
    info.logicalProcessorCount = cpus > 0 ? cpus : 1;
    info.cpuUsagePercent = cpuUsage();
    std::tie(info.memoryUsedBytes, info.memoryTotalBytes) = memoryUsage();
    std::tie(info.diskUsedBytes, info.diskTotalBytes) = diskUsage();

    std::ifstream uptime(m_paths.proc / "uptime");
    double seconds = 0;
    if (uptime >> seconds && seconds > 0)
        info.uptimeSeconds = static_cast<std::int64_t>(seconds);
    return info;
}

} // namespace velmarin
