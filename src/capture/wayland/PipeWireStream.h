#pragma once

// A PipeWire video stream consumed on a thread of its own (pw_thread_loop):
// 32-bit BGRx/BGRA/RGBx/RGBA frames in shared memory, converted to B, G, R, X
// order as they arrive. Only the newest frame is kept; a producer that sends
// nothing while the picture stands still (mutter) costs nothing.

#include "common/Expected.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace velmarin::capture {

struct PipeWireFrame {
    std::vector<std::uint8_t> pixels; // B, G, R, X; rows of width * 4 bytes
    int width = 0;
    int height = 0;
};

class PipeWireStream {
public:
    // Connects to `node` through `remote` (a PipeWire connection the
    // stream takes over, e.g. the portal's) or, with -1, the PipeWire of
    // XDG_RUNTIME_DIR, and waits until the format (and so the size) is agreed.
    static Expected<std::unique_ptr<PipeWireStream>, std::string>
    open(std::uint32_t node, int remote = -1,
         std::chrono::milliseconds timeout = std::chrono::seconds(5));
    ~PipeWireStream();
    PipeWireStream(const PipeWireStream&) = delete;
    PipeWireStream& operator=(const PipeWireStream&) = delete;

    // The agreed frame size; it follows the producer when it changes.
    int width() const;
    int height() const;
    // False after the stream failed or was closed by the producer.
    bool healthy() const;

    // Blocks until a frame arrived that takeNewest() has not taken, until
    // `deadline`, or until wake(). True when there is such a frame.
    bool waitForFrame(std::chrono::steady_clock::time_point deadline);
    void wake();
    // Moves the newest untaken frame into `frame` (its old storage is
    // reused); false, leaving `frame` alone, when there is none.
    bool takeNewest(PipeWireFrame& frame);

private:
    struct Pw;
    PipeWireStream();
    void onFormat(std::uint32_t format, int width, int height);
    void onFrame(const std::uint8_t* data, int stride, std::uint32_t format);
    void onFailed(const char* reason);

    std::unique_ptr<Pw> m_pw;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::uint32_t m_format = 0;
    int m_width = 0;
    int m_height = 0;
    bool m_failed = false;
    bool m_fresh = false;
    bool m_woken = false;
    PipeWireFrame m_newest;
    PipeWireFrame m_filling; // PipeWire thread only
};

} // namespace velmarin::capture
