#pragma once

// The clipboard component on Qt: the CLIPBOARD selection (not the X primary
// selection) through QClipboard, polled twice a second while a session runs.
// Needs a QGuiApplication.

#include "collab/ClipboardMonitor.h"
#include "interfaces/SessionComponents.h"

#include <QObject>
#include <QTimer>

namespace velmarin::collab {

// QClipboard with a change counter: every dataChanged counts, including the
// one our own write causes (Qt emits it during setText).
class QtPasteboard : public QObject, public Pasteboard {
    Q_OBJECT

public:
    explicit QtPasteboard(QObject* parent = nullptr);
    std::uint64_t changeCount() const override { return m_changeCount; }
    std::optional<std::string> text() const override;
    void setText(const std::string& text) override;

private:
    std::uint64_t m_changeCount = 0;
};

class QtClipboardSync : public ClipboardSync {
public:
    QtClipboardSync();
    void start() override;
    void stop() override;
    void setClipboard(const QString& content, const QString& clipId) override;

private:
    QtPasteboard m_pasteboard;
    ClipboardMonitor m_monitor{m_pasteboard};
    QTimer m_timer;
};

} // namespace velmarin::collab
