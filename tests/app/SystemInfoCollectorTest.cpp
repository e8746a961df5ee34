#include "app/SystemInfoCollector.h"

#include "support/Shell.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

namespace velmarin {
namespace {

namespace fs = std::filesystem;

class FakeRoot : public ::testing::Test {
protected:
    void write(const fs::path& relative, const std::string& content) {
        fs::create_directories((root / relative).parent_path());
        std::ofstream(root / relative) << content;
    }
    SystemInfoCollector collector() {
        return SystemInfoCollector({root / "proc", root / "etc", root});
    }

    QTemporaryDir dir;
    fs::path root = dir.path().toStdString();
};

TEST_F(FakeRoot, CpuLoadIsSinceBootFirstThenPerInterval) {
    // Two processors: user nice system idle iowait irq softirq steal.
    write("proc/stat", "cpu  999 0 0 0 0 0 0 0\n"
                       "cpu0 100 0 100 600 200 0 0 0\n"
                       "cpu1 300 0 0 700 0 0 0 0\n"
                       "intr 12345\n");
    auto c = collector();
    EXPECT_DOUBLE_EQ(c.cpuUsage(), 25.0); // 500 busy of 2000

    write("proc/stat", "cpu0 190 0 100 610 200 0 0 0\n" // +90 busy, +10 idle
                       "cpu1 300 0 0 800 0 0 0 0\n");   // +100 idle
    EXPECT_DOUBLE_EQ(c.cpuUsage(), 45.0);

    // Nothing happened since: no load, and no division by zero.
    EXPECT_DOUBLE_EQ(c.cpuUsage(), 0.0);

    // Unreadable statistics give 0 and keep the previous sample.
    fs::remove(root / "proc/stat");
    EXPECT_DOUBLE_EQ(c.cpuUsage(), 0.0);
    write("proc/stat", "cpu0 200 0 100 610 200 0 0 0\ncpu1 300 0 0 800 0 0 0 0\n");
    EXPECT_DOUBLE_EQ(c.cpuUsage(), 100.0);
}

TEST_F(FakeRoot, ReadsDistributionProcessorAndUptimeWithFallbacksForMissingSources) {
    write("etc/os-release", "NAME=\"Debian GNU/Linux\"\nVERSION_ID=\"12\"\n");
    write("etc/machine-info", "PRETTY_HOSTNAME=\"Werkplek Anna\"\n");
    write("proc/cpuinfo", "processor\t: 0\nmodel name\t: AMD EPYC 7B13 64-Core Processor\n");
    write("proc/meminfo", "MemTotal: 2048 kB\nMemAvailable: 512 kB\n");
    write("proc/uptime", "86399.99 170000.00\n");
    auto c = collector();
    auto info = c.snapshot();
    EXPECT_EQ(info.operatingSystem, "Debian GNU/Linux");
    EXPECT_EQ(info.osVersion, "12");
    EXPECT_EQ(info.deviceName, "Werkplek Anna");
    EXPECT_EQ(info.processorName, "AMD EPYC 7B13 64-Core Processor");
    EXPECT_EQ(info.memoryUsedBytes, 1536 * 1024);
    EXPECT_EQ(info.uptimeSeconds, 86399);

    write("proc/meminfo", "MemTotal:       1000 kB\nMemFree:         100 kB\n");
    write("etc/os-release", "PRETTY_NAME=\"Arch Linux\"\nNAME='Arch Linux'\nBUILD_ID=rolling\n");
    fs::remove(root / "proc/cpuinfo");
    fs::remove(root / "proc/uptime");
    info = c.snapshot();
    EXPECT_EQ(info.memoryUsedBytes, 0); // no MemAvailable: used unknown
    EXPECT_EQ(info.memoryTotalBytes, 1000 * 1024);
    EXPECT_EQ(info.operatingSystem, "Arch Linux");
    EXPECT_FALSE(info.osVersion.empty());             // falls back to the kernel release
    EXPECT_EQ(info.processorName, info.architecture); // no cpuinfo
    EXPECT_EQ(info.cpuUsagePercent, 0.0);
    EXPECT_EQ(info.uptimeSeconds, 0);
    fs::remove(root / "etc/os-release");
    EXPECT_EQ(c.snapshot().operatingSystem, "Linux");
}

TEST(SystemInfoCollector, AgreesWithTheRealSystem) {
    SystemInfoCollector collector;
    const auto info = collector.snapshot();

    EXPECT_EQ(info.logicalProcessorCount, std::stoll(testing::runShell("nproc").first));
    EXPECT_GT(info.memoryTotalBytes, 0);
    EXPECT_GT(info.memoryUsedBytes, 0);
    EXPECT_LT(info.memoryUsedBytes, info.memoryTotalBytes);
    EXPECT_FALSE(info.processorName.empty());
    EXPECT_FALSE(info.deviceName.empty());

    // df's byte counts for the root file system, which change a little as
    // other programs write.
    long long dfSize = 0, dfUsed = 0;
    ASSERT_EQ(std::sscanf(testing::runShell("df -B1 --output=size,used / | tail -1").first.c_str(),
                          "%lld %lld", &dfSize, &dfUsed),
              2);
    EXPECT_EQ(info.diskTotalBytes, dfSize);
    EXPECT_NEAR(static_cast<double>(info.diskUsedBytes), static_cast<double>(dfUsed), 256e6);

    double uptime = 0;
    std::ifstream("/proc/uptime") >> uptime;
    EXPECT_NEAR(static_cast<double>(info.uptimeSeconds), uptime, 5.0);
}

} // namespace
} // namespace velmarin
