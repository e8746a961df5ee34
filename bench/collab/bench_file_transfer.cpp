// bench_file_transfer: a file from a headless Viewer (`--send-file`) to a
// headless Host sharing a private Xvfb, through a relay on loopback:
//
//   - MB/s (10^6 bytes per second) from the session standing ("Status:
//     Verbonden" on the Viewer) to the Viewer's exit after file_complete,
//     with the sender's window of 8 chunks and with one chunk per
//     acknowledgement (VELMARIN_FILE_WINDOW=1, what a strict peer does);
//   - the peak resident memory (VmHWM) of both processes;
//   - processor time of the Host, the Viewer and the relay over the same
//     span, in ms per MiB: what the transfer costs whatever else the
//     machine is doing (on a busy machine MB/s falls, these do not).
//
//   build/bench/collab/bench_file_transfer [--mib 1024] [--runs 1]
//
// The source is sparse; the Host writes a real copy into a temporary
// Downloads folder, removed after each run. Target: at least 50 MB/s with
// the window.

#include "ProcessProbe.h"
#include "support/host/HostProcess.h"
#include "support/x11/XvfbProcess.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

namespace {

using namespace velmarin::testing;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// The peak resident set in MiB; 0 once the process is gone.
long peakMib(qint64 pid) {
    return std::max(0L, velmarin::bench::statusKib(static_cast<pid_t>(pid), "VmHWM:") / 1024);
}

struct Run {
    bool ok = false;
    double seconds = 0;
    long hostMib = 0;
    long viewerMib = 0;
    // Processor time from the session standing to the end.
    double hostCpuMs = 0;
    double viewerCpuMs = 0;
    double relayCpuMs = 0;
};

Run transfer(const RelayProcess& relay, const XvfbProcess& x, const fs::path& root,
             const fs::path& source, int window) {
    Run run;
    HostProcess host(x.display(), relay, QString::fromStdString((root / "config").string()));
    const auto credentials = host.readCredentials();
    if (credentials.password.isEmpty()) {
        std::fprintf(stderr, "Host did not start:\n%s\n", qPrintable(host.transcript()));
        return run;
    }
    QProcess viewer;
    QProcessEnvironment environment = host.environment();
    environment.remove(QStringLiteral("DISPLAY"));
    environment.insert(QStringLiteral("VELMARIN_FILE_WINDOW"), QString::number(window));
    viewer.setProcessEnvironment(environment);
    viewer.start(QStringLiteral(VELMARIN_BINARY),
                 {"view", credentials.id, credentials.password, "--send-file",
                  QString::fromStdString(source.string())});
    std::optional<Clock::time_point> connected;
    QString output;
    const auto hostPid = static_cast<pid_t>(host.process().processId());
    const auto viewerPid = static_cast<pid_t>(viewer.processId());
    double hostStart = 0, viewerStart = 0, relayStart = 0;
    while (viewer.state() != QProcess::NotRunning || viewer.canReadLine()) {
        viewer.waitForReadyRead(100);
        while (viewer.canReadLine()) {
            const QString line = QString::fromUtf8(viewer.readLine());
            output += line;
            if (!connected && line.startsWith(QStringLiteral("Status: Verbonden"))) {
                connected = Clock::now();
                hostStart = velmarin::bench::cpuMs(hostPid);
                viewerStart = velmarin::bench::cpuMs(viewerPid);
                relayStart = velmarin::bench::cpuMs(relay.pid());
            }
        }
        // The last readings before the Viewer exits count.
        if (connected && viewer.state() != QProcess::NotRunning) {
            run.hostCpuMs = velmarin::bench::cpuMs(hostPid) - hostStart;
            run.viewerCpuMs =
                std::max(run.viewerCpuMs, velmarin::bench::cpuMs(viewerPid) - viewerStart);
            run.relayCpuMs = velmarin::bench::cpuMs(relay.pid()) - relayStart;
        }
        run.hostMib = std::max(run.hostMib, peakMib(host.process().processId()));
        run.viewerMib = std::max(run.viewerMib, peakMib(viewer.processId()));
    }
    const auto end = Clock::now();
    run.ok = viewer.exitCode() == 0 && connected;
    if (!run.ok)
        std::fprintf(stderr, "Viewer failed:\n%s%s\n", qPrintable(output),
                     viewer.readAllStandardError().constData());
    if (connected)
        run.seconds = std::chrono::duration<double>(end - *connected).count();
    fs::remove_all(root / "Downloads");
    return run;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    long mib = 1024;
    int runs = 1;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--mib") == 0)
            mib = std::stol(argv[i + 1]);
        else if (std::strcmp(argv[i], "--runs") == 0)
            runs = std::stoi(argv[i + 1]);
    }
    QTemporaryDir dir;
    const fs::path root = dir.path().toStdString();
    fs::create_directories(root / "config");
    std::ofstream(root / "config" / "user-dirs.dirs")
        << "XDG_DOWNLOAD_DIR=\"" << (root / "Downloads").string() << "\"\n";
    const fs::path source = root / "bron.bin";
    std::ofstream(source).close();
    fs::resize_file(source, static_cast<std::uintmax_t>(mib) << 20);

    const RelayProcess relay;
    const XvfbProcess x(320, 240);
    std::printf("%-24s %8s %8s %9s %11s %22s\n", "run", "seconds", "MB/s", "Host MiB", "Viewer MiB",
                "ms CPU/MiB H / V / R");
    bool ok = true;
    for (const int window : {8, 1}) {
        for (int i = 0; i < runs; ++i) {
            const Run run = transfer(relay, x, root, source, window);
            ok = ok && run.ok;
            const double mbps =
                run.seconds > 0 ? static_cast<double>(mib << 20) / 1e6 / run.seconds : 0;
            const auto perMib = [&](double ms) { return ms / static_cast<double>(mib); };
            std::printf("%-24s %8.1f %8.1f %9ld %11ld %8.1f / %4.1f / %4.1f\n",
                        (std::to_string(mib) + " MiB, window " + std::to_string(window)).c_str(),
                        run.seconds, mbps, run.hostMib, run.viewerMib, perMib(run.hostCpuMs),
                        perMib(run.viewerCpuMs), perMib(run.relayCpuMs));
            std::fflush(stdout);
        }
    }
    return ok ? 0 : 1;
}
