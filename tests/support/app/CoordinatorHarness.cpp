#include "support/app/CoordinatorHarness.h"

#include "app/CancellableSleep.h"
#include "support/video/PatternGenerator.h"

#include <cstdlib>

namespace velmarin::testing {

QCoro::Task<Expected<void, CaptureFailure>> TestCapture::startCapture() {
    if (auto opened = m_encoder.setup(kWidth, kHeight); !opened)
        co_return unexpected(
            CaptureFailure{.kind = CaptureFailure::Kind::encoder,
                           .description = QString::fromStdString(opened.error().description())});
    ++m_log->started;
    m_running = true;
    m_thread = std::thread([this] {
        const auto start = std::chrono::steady_clock::now();
        for (int n = 0; m_running; ++n) {
            m_encoder.encode(video::testing::makePattern(video::testing::Pattern::movingGradient,
                                                         kWidth, kHeight, n,
                                                         m_encoder.inputFormat()),
                             std::chrono::steady_clock::now() - start);
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    });
    co_return {};
}

void TestCapture::stopThread() {
    m_running = false;
    if (m_thread.joinable())
        m_thread.join();
}

QCoro::Task<void> TestCapture::stopCapture() {
    stopThread();
    m_encoder.teardown();
    ++m_log->stopped;
    co_return;
}

Side::Side(Config config) {
    settings =
        std::make_unique<AppSettings>(dir.filePath(QStringLiteral("settings.conf")), nullptr);
    settings->setUseFixedCredentials(config.fixedCredentials);
    settings->setAutoStartHosting(config.autoStart);
    settings->setFixedPassword(config.fixedPassword);
    SessionComponents components;
    if (config.withCapture)
        components.makeCapture = [log = capture] { return std::make_unique<TestCapture>(log); };
    components.makeHostInput = [this] {
        auto input = std::make_unique<RecordedInput>();
        input->keys = &injectedKeys;
        input->modifierReleases = &modifierReleases;
        return input;
    };
    if (config.files) {
        auto manager = std::make_unique<collab::FileTransferManager>(std::move(*config.files));
        files = manager.get();
        components.fileTransfer = std::move(manager);
    }
    coordinator = std::make_unique<AppCoordinator>(commands, std::move(components),
                                                   std::move(config.options));
}

CoordinatorOptions Side::fastOptions() {
    CoordinatorOptions options;
    options.pingInterval = std::chrono::milliseconds(500);
    options.systemInfoInterval = std::chrono::milliseconds(1000);
    options.qualityInterval = std::chrono::milliseconds(200);
    options.reconnectJitter = [] { return 0.0; };
    // The real back-off, ten times faster.
    options.reconnectSleeper = [](std::chrono::nanoseconds delay, std::stop_token stop) {
        return sleepFor(delay / 10, std::move(stop));
    };
    return options;
}

void Side::startHosting() {
    state.setLocalPassword(QStringLiteral("k7m2pq"));
    state.setIsSharing(true);
    commands.post(Command::startHosting);
}

void Side::startViewing(const QString& id, const QString& password) {
    state.setMode(Mode::viewer);
    state.setRemoteID(id);
    state.setRemotePassword(password);
    commands.post(Command::startViewing);
}

RelayEnvironment::RelayEnvironment() {
    ::setenv("VELMARIN_RELAY_HOST", relay.hostPort().c_str(), 1);
    ::setenv("VELMARIN_RELAY_CA", relay.caFile().c_str(), 1);
}

} // namespace velmarin::testing
