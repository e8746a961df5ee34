#include "collab/QtClipboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

namespace velmarin::collab {

namespace {

constexpr auto kPollInterval = std::chrono::milliseconds(500);

} // namespace

QtPasteboard::QtPasteboard(QObject* parent) : QObject(parent) {
    connect(QGuiApplication::clipboard(), &QClipboard::dataChanged, this,
            [this] { ++m_changeCount; });
}

std::optional<std::string> QtPasteboard::text() const {
    const QMimeData* data = QGuiApplication::clipboard()->mimeData(QClipboard::Clipboard);
    if (!data || !data->hasText())
        return std::nullopt;
    return data->text().toStdString();
}

void QtPasteboard::setText(const std::string& text) {
    QGuiApplication::clipboard()->setText(QString::fromStdString(text), QClipboard::Clipboard);
}

QtClipboardSync::QtClipboardSync() {
    m_timer.setInterval(kPollInterval);
    QObject::connect(&m_timer, &QTimer::timeout, [this] {
        if (const auto text = m_monitor.checkClipboard(); text && onClipboardChanged)
            onClipboardChanged(QString::fromStdString(*text));
    });
}

void QtClipboardSync::start() {
    if (m_monitor.isRunning())
        return;
    m_monitor.start();
    m_timer.start();
}

void QtClipboardSync::stop() {
    m_timer.stop();
    m_monitor.stop();
}

void QtClipboardSync::setClipboard(const QString& content, const QString&) {
    m_monitor.setClipboard(content.toStdString());
}

} // namespace velmarin::collab
