#pragma once

// Captures one display of the Host and feeds every changed picture, scaled
// to at most 1920 × 1080, to the H.264 encoder it owns. It lists the
// displays as "Scherm 1", "Scherm 2", …, switches the captured one, applies
// the quality controller's bitrate and frame rate, and describes the
// captured screen for "screen_info". One manager per hosting session.
//
// Threads: the public methods are for one controlling thread (the GUI
// thread), except forceNextKeyframe (any thread). Grabs, conversion and
// encoding run on the manager's own "capture" thread, which also calls the
// encoder's frame callback. Nothing changed on screen means no grab and no
// frame; a requested key frame still goes out within a frame interval, made
// from the last picture.

#include "capture/CaptureError.h"
#include "capture/CapturedArea.h"
#include "capture/FrameConverter.h"
#include "capture/ScreenSource.h"
#include "protocol/ProtocolMessages.h"
#include "video/EncoderError.h"
#include "video/H264Encoder.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <variant>
#include <vector>

namespace velmarin::capture {

// A failed start: the capture's own reason or the encoder's.
struct StartError {
    std::variant<CaptureError, video::EncoderError> reason;
    std::string description() const;
};

// The captured screen as "screen_info" describes it, plus the encoded size.
struct CapturedScreen {
    int width = 0;
    int height = 0;
    double scaleFactor = 1.0;
    int captureWidth = 0;
    int captureHeight = 0;
    bool operator==(const CapturedScreen&) const = default;
};

// Where the time of one frame went (capture thread), for benchmarks.
struct FrameTimings {
    std::chrono::nanoseconds grab{0};
    std::chrono::nanoseconds convert{0};
    std::chrono::nanoseconds encode{0};
    bool repeated = false; // the last picture again, for a key frame
};

class ScreenCaptureManager {
public:
    using SourceFactory =
        std::function<Expected<std::unique_ptr<ScreenSource>, CaptureError>()>;

    static constexpr int kDefaultFPS = 30;

    struct Options {
        SourceFactory makeSource = makeScreenSource;
        video::EncoderProfile encoderProfile = video::libx264Profile();
        // Told where the captured display lies; may be null.
        std::shared_ptr<CapturedArea> capturedArea;
    };

    ScreenCaptureManager();
    explicit ScreenCaptureManager(Options options);
    ~ScreenCaptureManager();
    ScreenCaptureManager(const ScreenCaptureManager&) = delete;
    ScreenCaptureManager& operator=(const ScreenCaptureManager&) = delete;

    // Picks the display (the current one if still attached, else the
    // primary, else the first) and starts capturing it.
    Expected<void, StartError> startCapture();
    void stopCapture();
    // Unknown IDs and the current display change nothing.
    void selectMonitor(std::int64_t id);
    void refreshDisplays();
    std::vector<protocol::MonitorInfo> monitors() const;
    // The bitrate always; the frame rate only while capturing.
    void updateQuality(std::int64_t bitrate, int fps);
    std::optional<CapturedScreen> screenInfo() const;

    // Set before startCapture.
    void setExcludedWindowIds(std::vector<std::uint32_t> ids);
    void setOnEncodedFrame(video::H264Encoder::FrameCallback callback);
    void setOnFrameTimings(std::function<void(const FrameTimings&)> callback);
    // Called on the capture thread when the capture ends by itself (the
    // display or the compositor's cast is gone); set before starting.
    void setOnStopped(std::function<void()> callback);

    // Any thread.
    void forceNextKeyframe();

    bool isCapturing() const { return m_thread.joinable(); }
    int targetFPS() const { return m_targetFPS.load(); }
    PictureSize captureSize() const { return m_captureSize; }
    std::optional<DisplayInfo> currentDisplay() const { return m_currentDisplay; }
    // False where the platform cannot leave windows out (X11).
    bool canExcludeWindows() const;

private:
    Expected<void, CaptureError> ensureSource();
    Expected<void, StartError> startStream(const DisplayInfo& display);
    void stopStream();
    void run();
    std::chrono::nanoseconds frameInterval() const;

    Options m_options;
    std::unique_ptr<ScreenSource> m_source;
    // m_source for forceNextKeyframe, which may run on any thread while the
    // controlling thread creates the source; set once, lives as long as it.
    std::atomic<ScreenSource*> m_sourceToWake{nullptr};
    video::H264Encoder m_encoder;
    FrameConverter m_converter; // capture thread
    std::vector<DisplayInfo> m_availableDisplays;
    std::optional<DisplayInfo> m_currentDisplay;
    PictureSize m_captureSize{kMaxCaptureWidth, kMaxCaptureHeight};
    std::vector<std::uint32_t> m_excludedWindowIds;
    std::function<void(const FrameTimings&)> m_onFrameTimings;
    std::function<void()> m_onStopped;

    std::atomic<int> m_targetFPS{kDefaultFPS};
    std::atomic<bool> m_keyframePending{false};
    std::mutex m_wakeMutex;
    std::condition_variable m_wake;
    bool m_stopping = false;
    std::thread m_thread;
};

} // namespace velmarin::capture
