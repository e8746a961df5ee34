#pragma once

// The Viewer's screen while a session is connected, back to front: the
// remote display, the annotation canvas, the floating toolbar, the chat
// panel, the drop hint and the transfer capsule. Like the other screens it
// keeps little state of its own: it shows the connection state, posts
// commands, and reaches the coordinator only through `ViewerActions`.

#include "collab/AnnotationStore.h"
#include "protocol/ProtocolMessages.h"
#include "ui/common/Symbols.h"

#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <optional>

class QAbstractButton;
class QHBoxLayout;
class QLabel;
class QMenu;
class QProgressBar;
class QToolButton;

namespace velmarin {
class CommandBus;
class ConnectionState;
} // namespace velmarin

namespace velmarin::ui {

class AnnotationCanvas;

// What the screen asks of the coordinator.
struct ViewerActions {
    std::function<void(const protocol::DrawMessage&)> sendDraw;
    std::function<void()> sendDrawClear;
    std::function<void(const protocol::SpotlightMessage&)> sendSpotlight;
    std::function<void(const QString& combo)> sendSpecialKeys;
    std::function<void(bool on)> setRecording;
    // Offers a file to the Host; false when it does not start.
    std::function<bool(const QString& path)> sendFile;
};

// The choices of the quality menu and the level each posts.
struct QualityChoice {
    const char* label;
    const char* level;
};
inline constexpr QualityChoice kQualityChoices[] = {
    {"Auto", "auto"}, {"Hoog", "high"}, {"Gemiddeld", "medium"}, {"Laag", "low"},
    {"Zeer laag", "very_low"}};

// The annotation colours, the first one selected.
inline constexpr const char* kDrawColors[] = {"#FF3B30", "#FFCC00", "#34C759", "#0A84FF"};

class ViewerScreen : public QWidget {
    Q_OBJECT

public:
    // `display` is the remote display widget; the screen takes it.
    // `hostScreenSize` answers the size the Host reported last.
    ViewerScreen(ConnectionState& state, CommandBus& commands, ViewerActions actions,
                 QWidget* display, std::function<QSizeF()> hostScreenSize,
                 QWidget* parent = nullptr);
    ~ViewerScreen() override;

    QWidget* display() const { return m_display; }
    QWidget* toolbar() const { return m_toolbar; }
    collab::AnnotationStore& annotationStore() { return m_store; }
    std::optional<collab::AnnotationTool> drawTool() const { return m_drawTool; }
    // Selects the tool, or clears it when it is the one selected.
    void toggleTool(collab::AnnotationTool tool);
    void setDrawColor(const QString& hex);
    QString drawColor() const { return QString::fromStdString(m_store.colorHex()); }
    void switchMonitor(const protocol::MonitorInfo& monitor);
    void setQuality(const QString& level);
    QString selectedQuality() const { return m_quality; }
    // The first local file is sent, the rest ignored.
    void dropFiles(const QStringList& paths);
    bool isDragOver() const { return m_dragOver; }
    QWidget* chatPanel() const { return m_chatPanel; }
    QWidget* systemInfo() const { return m_systemInfo; }
    QWidget* transferCapsule() const { return m_capsule; }
    void toggleSystemInfo();

    // Asked to go to or leave full screen (the window decides how).
    std::function<void()> toggleFullScreen;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    QWidget* buildToolbar();
    QToolButton* addToolButton(QHBoxLayout* row, Symbol symbol, const QString& help);
    void fillMonitorMenu();
    void fillQualityMenu();
    void showTools();
    void showRecording();
    void showChat();
    void showTransfer();
    void setDragOver(bool over);
    void placeOverlays();

    ConnectionState& m_state;
    CommandBus& m_commands;
    ViewerActions m_actions;
    QWidget* m_display;
    collab::AnnotationStore m_store;
    AnnotationCanvas* m_canvas = nullptr;
    std::optional<collab::AnnotationTool> m_drawTool;
    QString m_quality = QStringLiteral("auto");
    bool m_dragOver = false;

    QWidget* m_toolbar = nullptr;
    QToolButton* m_monitorButton = nullptr;
    QMenu* m_monitorMenu = nullptr;
    QMenu* m_qualityMenu = nullptr;
    QToolButton* m_laserButton = nullptr;
    QToolButton* m_penButton = nullptr;
    QToolButton* m_spotlightButton = nullptr;
    QList<QAbstractButton*> m_swatches;
    QToolButton* m_infoButton = nullptr;
    QToolButton* m_recordButton = nullptr;
    QToolButton* m_chatButton = nullptr;
    QWidget* m_chatPanel = nullptr;
    QWidget* m_systemInfo = nullptr;
    QWidget* m_dropHint = nullptr;
    QWidget* m_capsule = nullptr;
    QLabel* m_capsuleIcon = nullptr;
    QLabel* m_capsuleName = nullptr;
    QLabel* m_capsulePercent = nullptr;
    QProgressBar* m_capsuleBar = nullptr;
    QTimer m_noticeTimer;
};

} // namespace velmarin::ui
