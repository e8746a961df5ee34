#pragma once

// Coordinators against a real relay, for tests: a Host or Viewer side with
// its own state, settings file and command bus, and a capture source that
// encodes a moving test picture with the real encoder (this machine may
// have no display to capture).

#include "app/AppCoordinator.h"
#include "collab/FileTransferManager.h"
#include "support/WaitUntil.h"
#include "support/relay/RelayProcess.h"
#include "video/H264Encoder.h"

#include <QTemporaryDir>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

namespace velmarin::testing {

// What the coordinator asked of the capture source, readable from the test.
struct CaptureLog {
    std::atomic<int> keyframeRequests{0};
    std::atomic<int> started{0};
    std::atomic<int> stopped{0};
    std::atomic<std::int64_t> selectedMonitor{0};
    std::atomic<std::int64_t> bitrate{0};
    std::atomic<int> fps{0};
};

class TestCapture final : public HostCapture {
public:
    static constexpr int kWidth = 320;
    static constexpr int kHeight = 240;

    explicit TestCapture(std::shared_ptr<CaptureLog> log)
        : m_log(std::move(log)) {}
    ~TestCapture() override { stopThread(); }

    QCoro::Task<Expected<void, CaptureFailure>> startCapture() override;
    QCoro::Task<void> stopCapture() override;
    QCoro::Task<void> refreshDisplays() override { co_return; }
    std::vector<protocol::MonitorInfo> monitors() const override {
        return {{.id = 7, .name = "HDMI-1", .width = kWidth, .height = kHeight, .primary = true},
                {.id = 8, .name = "DP-2", .width = 1024, .height = 768, .x = kWidth}};
    }
    std::optional<ScreenInfo> screenInfo() const override {
        return m_running ? std::optional(ScreenInfo{kWidth, kHeight, 1.0}) : std::nullopt;
    }
    QCoro::Task<void> selectMonitor(std::int64_t id) override {
        m_log->selectedMonitor = id;
        co_return;
    }
    void updateQuality(std::int64_t bitrate, int fps) override {
        m_log->bitrate = bitrate;
        m_log->fps = fps;
    }
    void setExcludedWindowIds(std::vector<std::uint32_t>) override {}
    void setOnEncodedFrame(EncodedFrameHandler handler) override {
        m_encoder.setOnEncodedFrame(std::move(handler));
    }
    void setOnStopped(std::function<void()>) override {}
    void forceNextKeyframe() override {
        ++m_log->keyframeRequests;
        m_encoder.forceNextKeyframe();
    }

private:
    void stopThread();

    std::shared_ptr<CaptureLog> m_log;
    video::H264Encoder m_encoder;
    std::atomic<bool> m_running{false};
    std::thread m_thread; // the "capture thread"
};

struct RecordedInput final : HostInput {
    std::vector<protocol::KeyEventMessage>* keys;
    int* modifierReleases;
    void injectMouseEvent(const protocol::MouseEventMessage&) override {}
    void injectKeyEvent(const protocol::KeyEventMessage& m) override { keys->push_back(m); }
    void releaseAllModifiers() override { ++*modifierReleases; }
};

// One installation: settings file, state, command bus and coordinator.
class Side {
public:
    struct Config {
        bool withCapture = true;
        bool fixedCredentials = false;
        bool autoStart = false;
        QString fixedPassword;
        CoordinatorOptions options = fastOptions();
        // With a file transfer manager receiving into `downloads`.
        std::optional<collab::FileTransferManager::Options> files;
    };

    explicit Side(Config config);

    // Shorter periods than the product's, so tests take seconds.
    static CoordinatorOptions fastOptions();

    QTemporaryDir dir;
    std::unique_ptr<AppSettings> settings;
    ConnectionState state;
    CommandBus commands;
    std::shared_ptr<CaptureLog> capture = std::make_shared<CaptureLog>();
    std::vector<protocol::KeyEventMessage> injectedKeys;
    int modifierReleases = 0;
    collab::FileTransferManager* files = nullptr; // owned by the coordinator
    std::unique_ptr<AppCoordinator> coordinator;

    void setup() { coordinator->setup(state, *settings, nullptr); }
    void startHosting();
    void startViewing(const QString& id, const QString& password);
    Status::Kind status() const { return state.status().kind(); }
};

// A relay on a free port, and the environment pointing clients at it.
class RelayEnvironment {
public:
    RelayEnvironment();
    RelayProcess relay;
};

} // namespace velmarin::testing
