// A 2 GiB file from a headless Viewer to a headless Host through the real
// relay: the file streams from disk to disk, so neither side's resident
// memory grows with it.

#include "support/WaitUntil.h"
#include "support/host/HostProcess.h"
#include "support/x11/XvfbProcess.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace velmarin::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// The peak resident set of a running process, in MiB (VmHWM); 0 once gone.
long peakMib(qint64 pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.starts_with("VmHWM:"))
            return std::stol(line.substr(6)) / 1024;
    return 0;
}

TEST(FileTransferMemory, TwoGibibytesPassWithBoundedMemoryOnBothSides) {
    constexpr std::int64_t kSize = std::int64_t{2} << 30;
    const RelayProcess relay;
    const XvfbProcess x(320, 240);
    QTemporaryDir dir;
    const fs::path root = dir.path().toStdString(), downloads = root / "Downloads";
    fs::create_directories(root / "config");
    std::ofstream(root / "config" / "user-dirs.dirs")
        << "XDG_DOWNLOAD_DIR=\"" << downloads.string() << "\"\n";
    // Sparse: the source costs no disk, only the received copy does.
    const fs::path source = root / "groot.bin";
    std::ofstream(source).close();
    fs::resize_file(source, kSize);

    HostProcess host(x.display(), relay, QString::fromStdString((root / "config").string()));
    const auto credentials = host.readCredentials();
    ASSERT_FALSE(credentials.password.isEmpty()) << host.transcript().toStdString();
    QProcess viewer;
    QProcessEnvironment environment = host.environment();
    environment.remove(QStringLiteral("DISPLAY"));
    viewer.setProcessEnvironment(environment);
    viewer.start(QStringLiteral(VELMARIN_BINARY),
                 {"view", credentials.id, credentials.password, "--send-file",
                  QString::fromStdString(source.string())});
    ASSERT_TRUE(viewer.waitForStarted());

    // The high-water marks only grow: the last reading before each exits
    // is (within a tenth of a second) the peak.
    long hostPeak = 0, viewerPeak = 0;
    const auto start = std::chrono::steady_clock::now();
    while (!viewer.waitForFinished(100) && std::chrono::steady_clock::now() - start < 8min) {
        hostPeak = std::max(hostPeak, peakMib(host.process().processId()));
        viewerPeak = std::max(viewerPeak, peakMib(viewer.processId()));
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const QString output = QString::fromUtf8(viewer.readAll() + viewer.readAllStandardError());
    ASSERT_EQ(viewer.exitCode(), 0) << output.toStdString();
    EXPECT_TRUE(output.contains(QStringLiteral("Voortgang: ")) &&
                output.contains(QStringLiteral("Bestand verstuurd: groot.bin")))
        << output.toStdString();
    EXPECT_EQ(host.readUntil(QStringLiteral("Bestand ontvangen: ")).toStdString(),
              (downloads / "groot.bin").string());
    EXPECT_EQ(fs::file_size(downloads / "groot.bin"), static_cast<std::uintmax_t>(kSize));
    std::printf("2 GiB in %.1f s; peak resident memory: Host %ld MiB, Viewer %ld MiB\n", seconds,
                hostPeak, viewerPeak);
    EXPECT_GT(hostPeak, 0);
    EXPECT_LT(hostPeak, 200);
    EXPECT_LT(viewerPeak, 200);
}

} // namespace
} // namespace velmarin::testing
