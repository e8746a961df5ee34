#include "support/capture/CaptureProbe.h"

#include "capture/X11ScreenSource.h"
#include "protocol/VideoFrame.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace velmarin::testing {

capture::ScreenCaptureManager::Options captureOptionsOn(const std::string& display) {
    using namespace capture;
    ScreenCaptureManager::Options options;
    options.makeSource = [display]() -> Expected<std::unique_ptr<ScreenSource>, CaptureError> {
        auto source = X11ScreenSource::open(display);
        if (!source)
            return unexpected(source.error());
        return std::unique_ptr<ScreenSource>(std::move(*source));
    };
    return options;
}

CaptureProbe::CaptureProbe(capture::ScreenCaptureManager& manager)
    : m_manager(manager) {
    manager.setOnEncodedFrame([this](protocol::Bytes message) {
        const auto parsed = protocol::parseFrame(message);
        const std::lock_guard lock(m_mutex);
        if (parsed && parsed->isKeyframe)
            m_keyframes.push_back(m_frames.size());
        m_frames.push_back(std::move(message));
        m_arrived.notify_all();
    });
}

std::size_t CaptureProbe::frameCount() const {
    const std::lock_guard lock(m_mutex);
    return m_frames.size();
}

std::size_t CaptureProbe::keyframeCount() const {
    const std::lock_guard lock(m_mutex);
    return m_keyframes.size();
}

bool CaptureProbe::waitForFrames(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(m_mutex);
    return m_arrived.wait_for(lock, timeout, [&] { return m_frames.size() > count; });
}

bool CaptureProbe::waitForKeyframeAfter(std::size_t count,
                                        std::chrono::milliseconds timeout) const {
    std::unique_lock lock(m_mutex);
    return m_arrived.wait_for(lock, timeout,
                              [&] { return !m_keyframes.empty() && m_keyframes.back() >= count; });
}

video::Picture CaptureProbe::latestPicture() const {
    std::vector<protocol::Bytes> frames;
    {
        const std::lock_guard lock(m_mutex);
        if (m_keyframes.empty())
            return {};
        frames.assign(m_frames.begin() + static_cast<std::ptrdiff_t>(m_keyframes.back()),
                      m_frames.end());
    }
    video::H264Decoder decoder(1);
    video::Picture latest;
    std::mutex latestMutex;
    decoder.setOnDecodedFrame([&](video::Picture picture, std::uint32_t) {
        const std::lock_guard lock(latestMutex);
        latest = std::move(picture);
    });
    for (const auto& frame : frames)
        decoder.decode(frame);
    decoder.waitUntilIdle();
    const std::lock_guard lock(latestMutex);
    return latest;
}

Rgb colourAt(const video::Picture& picture, int x, int y) {
    const double luma = picture.plane(0)[y * picture.stride(0) + x];
    const bool nv12 = picture.format() == AV_PIX_FMT_NV12; // U and V interleaved
    const std::uint8_t* u =
        picture.plane(1) + (y / 2) * picture.stride(1) + (x / 2) * (nv12 ? 2 : 1);
    const std::uint8_t* v = nv12 ? u + 1 : picture.plane(2) + (y / 2) * picture.stride(2) + x / 2;
    const double c = 1.164 * (luma - 16);
    const auto clamp = [](double value) {
        return static_cast<int>(std::lround(std::clamp(value, 0.0, 255.0)));
    };
    return Rgb{clamp(c + 1.596 * (*v - 128)), clamp(c - 0.813 * (*v - 128) - 0.391 * (*u - 128)),
               clamp(c + 2.018 * (*u - 128))};
}

bool near(const Rgb& colour, std::uint32_t rgb, int tolerance) {
    return std::abs(colour.r - static_cast<int>((rgb >> 16) & 0xff)) <= tolerance &&
           std::abs(colour.g - static_cast<int>((rgb >> 8) & 0xff)) <= tolerance &&
           std::abs(colour.b - static_cast<int>(rgb & 0xff)) <= tolerance;
}

} // namespace velmarin::testing
