#include "capture/ScreenCaptureManager.h"

#include "log/LogSink.h"

#include <algorithm>
#include <pthread.h>

namespace velmarin::capture {
namespace {

using Clock = std::chrono::steady_clock;

// Grabs that may fail in a row (a display being resized, say) before the
// stream gives up.
constexpr int kMaxGrabFailures = 30;

} // namespace

std::string StartError::description() const {
    return std::visit([](const auto& error) { return error.description(); }, reason);
}

ScreenCaptureManager::ScreenCaptureManager()
    : ScreenCaptureManager(Options{}) {}

ScreenCaptureManager::ScreenCaptureManager(Options options)
    : m_options(std::move(options))
    , m_encoder(m_options.encoderProfile) {}

ScreenCaptureManager::~ScreenCaptureManager() {
    stopStream();
}

Expected<void, CaptureError> ScreenCaptureManager::ensureSource() {
    if (m_source)
        return {};
    auto source = m_options.makeSource();
    if (!source)
        return unexpected(source.error());
    m_source = std::move(*source);
    m_sourceToWake = m_source.get();
    return {};
}

Expected<void, StartError> ScreenCaptureManager::startCapture() {
    if (auto ready = ensureSource(); !ready)
        return unexpected(StartError{ready.error()});
    m_availableDisplays = m_source->displays();
    const auto byId = [](std::int64_t id) {
        return [id](const DisplayInfo& display) { return display.id == id; };
    };
    auto chosen = m_availableDisplays.end();
    if (m_currentDisplay)
        chosen = std::find_if(m_availableDisplays.begin(), m_availableDisplays.end(),
                              byId(m_currentDisplay->id));
    if (chosen == m_availableDisplays.end())
        chosen = std::find_if(m_availableDisplays.begin(), m_availableDisplays.end(),
                              [](const DisplayInfo& display) { return display.primary; });
    if (chosen == m_availableDisplays.end())
        chosen = m_availableDisplays.begin();
    if (chosen == m_availableDisplays.end())
        return unexpected(StartError{CaptureError{CaptureError::Kind::noDisplay}});
    return startStream(*chosen);
}

Expected<void, StartError> ScreenCaptureManager::startStream(const DisplayInfo& display) {
    stopStream();
    m_currentDisplay = display;
    m_captureSize = captureSizeFor(display.frame.width, display.frame.height);

    m_source->setExcludedWindows(m_excludedWindowIds);
    if (auto started = m_source->start(display); !started)
        return unexpected(StartError{started.error()});
    if (auto opened = m_encoder.setup(m_captureSize.width, m_captureSize.height); !opened) {
        m_source->stop();
        return unexpected(StartError{opened.error()});
    }
    m_encoder.updateFrameRate(m_targetFPS.load());
    if (m_options.capturedArea)
        m_options.capturedArea->set(display.frame);
    m_stopping = false;
    m_thread = std::thread([this] { run(); });
    logging::log(logging::Level::info, "capture", "Screen capture started: %ldx%ld @ %ldfps",
                 static_cast<long>(m_captureSize.width), static_cast<long>(m_captureSize.height),
                 static_cast<long>(m_targetFPS.load()));
    return {};
}

void ScreenCaptureManager::stopStream() {
    if (!m_thread.joinable())
        return;
    {
        const std::lock_guard lock(m_wakeMutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    m_source->wake();
    m_thread.join();
    m_source->stop();
    m_encoder.teardown();
    if (m_options.capturedArea)
        m_options.capturedArea->set(std::nullopt);
}

void ScreenCaptureManager::stopCapture() {
    stopStream();
    logging::log(logging::Level::info, "capture", "Screen capture stopped");
}

void ScreenCaptureManager::selectMonitor(std::int64_t id) {
    const auto found = std::find_if(m_availableDisplays.begin(), m_availableDisplays.end(),
                                    [id](const DisplayInfo& display) { return display.id == id; });
    if (found == m_availableDisplays.end() || (m_currentDisplay && m_currentDisplay->id == id))
        return;
    if (auto started = startStream(*found); !started)
        logging::log(logging::Level::error, "capture", "Failed to switch display: %s",
                     started.error().description().c_str());
    else
        logging::log(logging::Level::info, "capture", "Switched to display %ld",
                     static_cast<long>(id));
}

void ScreenCaptureManager::refreshDisplays() {
    if (!ensureSource())
        return;
    auto displays = m_source->displays();
    if (displays.empty())
        return; // a failed query keeps the old list
    m_availableDisplays = std::move(displays);
    logging::log(logging::Level::info, "capture", "Displays refreshed: %ld attached",
                 static_cast<long>(m_availableDisplays.size()));
}

std::vector<protocol::MonitorInfo> ScreenCaptureManager::monitors() const {
    std::vector<protocol::MonitorInfo> result;
    for (std::size_t i = 0; i < m_availableDisplays.size(); ++i) {
        const DisplayInfo& display = m_availableDisplays[i];
        result.push_back(protocol::MonitorInfo{
            .id = display.id,
            .name = "Scherm " + std::to_string(i + 1),
            .width = display.frame.width,
            .height = display.frame.height,
            .x = display.frame.x,
            .y = display.frame.y,
            .primary = display.primary,
        });
    }
    return result;
}

void ScreenCaptureManager::updateQuality(std::int64_t bitrate, int fps) {
    m_encoder.updateBitrate(bitrate);
    if (!isCapturing())
        return;
    m_targetFPS = std::clamp(fps, 1, 120);
    m_encoder.updateFrameRate(m_targetFPS.load());
    logging::log(logging::Level::info, "capture", "Quality updated: %ld bps, %ld fps",
                 static_cast<long>(bitrate), static_cast<long>(m_targetFPS.load()));
}

std::optional<CapturedScreen> ScreenCaptureManager::screenInfo() const {
    std::optional<DisplayInfo> display = m_currentDisplay;
    if (!display) {
        const auto primary = std::find_if(m_availableDisplays.begin(), m_availableDisplays.end(),
                                          [](const DisplayInfo& d) { return d.primary; });
        if (primary == m_availableDisplays.end())
            return std::nullopt;
        display = *primary;
    }
    return CapturedScreen{
        .width = display->frame.width,
        .height = display->frame.height,
        .scaleFactor = display->scaleFactor,
        .captureWidth = m_captureSize.width,
        .captureHeight = m_captureSize.height,
    };
}

void ScreenCaptureManager::setExcludedWindowIds(std::vector<std::uint32_t> ids) {
    m_excludedWindowIds = std::move(ids);
}

bool ScreenCaptureManager::canExcludeWindows() const {
    return m_source && m_source->canExcludeWindows();
}

void ScreenCaptureManager::setOnEncodedFrame(video::H264Encoder::FrameCallback callback) {
    m_encoder.setOnEncodedFrame(std::move(callback));
}

void ScreenCaptureManager::setOnStopped(std::function<void()> callback) {
    m_onStopped = std::move(callback);
}

void ScreenCaptureManager::setOnFrameTimings(std::function<void(const FrameTimings&)> callback) {
    m_onFrameTimings = std::move(callback);
}

void ScreenCaptureManager::forceNextKeyframe() {
    m_encoder.forceNextKeyframe();
    m_keyframePending = true;
    if (ScreenSource* source = m_sourceToWake.load())
        source->wake();
}

std::chrono::nanoseconds ScreenCaptureManager::frameInterval() const {
    return std::chrono::nanoseconds(std::chrono::seconds(1)) / std::max(1, m_targetFPS.load());
}

void ScreenCaptureManager::run() {
    pthread_setname_np(pthread_self(), "capture");
    const AVPixelFormat format = m_encoder.inputFormat();
    video::Picture last;
    Clock::time_point nextFrame = Clock::now();
    int failures = 0;
    for (;;) {
        {
            // The frame rate is limited here, at the source.
            std::unique_lock lock(m_wakeMutex);
            m_wake.wait_until(lock, nextFrame, [this] { return m_stopping; });
            if (m_stopping)
                return;
        }
        const bool changed = m_source->waitForChange(Clock::now() + frameInterval());
        {
            const std::lock_guard lock(m_wakeMutex);
            if (m_stopping)
                return;
        }
        if (!changed && m_source->lost()) {
            logging::log(logging::Level::error, "capture", "Stream stopped: the display is gone");
            if (m_onStopped)
                m_onStopped();
            return;
        }
        const bool repeat = !changed && !last.isNull() && m_keyframePending.exchange(false);
        if (!changed && !repeat)
            continue;

        const Clock::time_point started = Clock::now();
        FrameTimings timings{.repeated = repeat};
        if (changed) {
            m_keyframePending = false; // this picture carries a requested key frame
            auto grabbed = m_source->grab();
            if (!grabbed) {
                if (++failures > kMaxGrabFailures) {
                    logging::log(logging::Level::error, "capture", "Stream stopped with error: %s",
                                 grabbed.error().description().c_str());
                    if (m_onStopped)
                        m_onStopped();
                    return;
                }
                nextFrame = started + frameInterval();
                continue;
            }
            failures = 0;
            const Clock::time_point grabbedAt = Clock::now();
            video::Picture picture =
                m_converter.convert(*grabbed, m_captureSize, format);
            timings.grab = grabbedAt - started;
            timings.convert = Clock::now() - grabbedAt;
            if (picture.isNull())
                continue;
            last = std::move(picture);
        }
        const Clock::time_point encodeStart = Clock::now();
        m_encoder.encode(last, encodeStart.time_since_epoch());
        timings.encode = Clock::now() - encodeStart;
        if (m_onFrameTimings)
            m_onFrameTimings(timings);
        // The limit holds on average: a picture taken after the slot it
        // waited for does not push the next slot back (up to one interval of
        // credit). Otherwise content that changes at the frame rate falls
        // into step just behind the slots and every change waits for almost
        // a whole interval.
        nextFrame = std::max(nextFrame + frameInterval(), started);
    }
}

} // namespace velmarin::capture
