#include "collab/ClipboardMonitor.h"

namespace velmarin::collab {

void ClipboardMonitor::start() {
    if (m_running)
        return;
    m_running = true;
    m_lastChangeCount = m_pasteboard.changeCount();
}

std::optional<std::string> ClipboardMonitor::checkClipboard() {
    const std::uint64_t count = m_pasteboard.changeCount();
    if (count == m_lastChangeCount)
        return std::nullopt;
    m_lastChangeCount = count;
    std::optional<std::string> text = m_pasteboard.text();
    if (!text || text->empty())
        return std::nullopt;
    // The user copied the peer's text again: that copy is not news to the
    // peer, but the next one is.
    if (m_lastSetContent == text) {
        m_lastSetContent.reset();
        return std::nullopt;
    }
    return text;
}

void ClipboardMonitor::setClipboard(const std::string& text) {
    m_lastSetContent = text;
    m_pasteboard.setText(text);
    m_lastChangeCount = m_pasteboard.changeCount();
}

} // namespace velmarin::collab
