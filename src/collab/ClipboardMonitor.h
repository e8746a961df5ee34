#pragma once

// Keeps the local clipboard and the peer's in step: a poll notices text the
// user copied, and text written on the peer's behalf is not sent back.
// Plain text only; images, files and rich text are never read or written.
//
// Not thread-safe: polls and writes come from one thread.

#include <cstdint>
#include <optional>
#include <string>

namespace velmarin::collab {

// The platform's clipboard.
class Pasteboard {
public:
    virtual ~Pasteboard() = default;
    // Changes whenever the content does, by this process or another.
    virtual std::uint64_t changeCount() const = 0;
    // The plain text on the clipboard, if it holds any.
    virtual std::optional<std::string> text() const = 0;
    virtual void setText(const std::string& text) = 0;
};

class ClipboardMonitor {
public:
    explicit ClipboardMonitor(Pasteboard& pasteboard) : m_pasteboard(pasteboard) {}

    // What is on the clipboard when polling starts is not sent.
    void start();
    void stop() { m_running = false; }
    bool isRunning() const { return m_running; }

    // One poll: the text the user copied since the last one, when it is to
    // be sent to the peer. Several copies between two polls give the last.
    std::optional<std::string> checkClipboard();

    // Writes the peer's text, running or not; the next polls do not report it.
    void setClipboard(const std::string& text);

private:
    Pasteboard& m_pasteboard;
    std::uint64_t m_lastChangeCount = 0;
    // The peer's text as last written, until the user copies it again.
    std::optional<std::string> m_lastSetContent;
    bool m_running = false;
};

} // namespace velmarin::collab
