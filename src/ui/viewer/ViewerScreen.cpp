#include "ui/viewer/ViewerScreen.h"

#include "app/CommandBus.h"
#include "app/ConnectionState.h"
#include "ui/common/ChatPanel.h"
#include "ui/common/Symbols.h"
#include "ui/common/Widgets.h"
#include "ui/viewer/AnnotationCanvas.h"
#include "ui/viewer/SystemInfoView.h"

#include <QActionGroup>
#include <QDragEnterEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QProgressBar>
#include <QToolButton>
#include <QUrl>

namespace velmarin::ui {

using collab::AnnotationTool;

namespace {

constexpr int kMargin = 10;
constexpr int kIconSize = 18;
constexpr int kNoticeMs = 5000;
const QColor kToolbarText(Qt::white);
const QColor kAccent(0x0a, 0x84, 0xff);
const QColor kRed(0xff, 0x3b, 0x30);

// The toolbar floats over any picture the Host shows, so it has one look in
// both palettes: light symbols on a dark, slightly transparent pill.
class ToolbarPanel : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QColor(255, 255, 255, 40));
        painter.setBrush(QColor(28, 28, 30, 225));
        const qreal radius = height() / 2.0;
        painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), radius, radius);
    }
};

// A toolbar button: its symbol in white, in the accent colour while active,
// and a red dot while something waits (unread chat).
class ToolbarButton : public BadgeButton {
public:
    ToolbarButton(Symbol symbol, const QString& help, QWidget* parent)
        : BadgeButton(parent)
        , m_symbol(symbol) {
        setToolTip(help);
        setAccessibleName(help);
        setAutoRaise(true);
        setCursor(Qt::PointingHandCursor);
        // Clicks leave the keyboard with the remote screen.
        setFocusPolicy(Qt::NoFocus);
        setIconSize(QSize(kIconSize, kIconSize));
        updateIcon();
    }
    void setSymbol(Symbol symbol) {
        m_symbol = symbol;
        updateIcon();
    }
    void setActive(bool active) {
        m_active = active;
        setChecked(active);
        updateIcon();
    }

private:
    void updateIcon() { setIcon(bundledSymbolIcon(m_symbol, m_active ? kAccent : kToolbarText)); }

    Symbol m_symbol;
    bool m_active = false;
};

// A colour choice: a filled circle, ringed while selected.
class Swatch : public QAbstractButton {
public:
    Swatch(const QString& hex, QWidget* parent)
        : QAbstractButton(parent)
        , m_color(hex) {
        setCheckable(true);
        setFocusPolicy(Qt::NoFocus);
        setCursor(Qt::PointingHandCursor);
        setToolTip(hex);
        setAccessibleName(hex);
        setFixedSize(22, 26);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QPointF centre = QRectF(rect()).center();
        if (isChecked()) {
            painter.setPen(QPen(kToolbarText, 2));
            painter.setBrush(Qt::NoBrush);
            painter.drawEllipse(centre, 9, 9);
        }
        painter.setPen(Qt::NoPen);
        painter.setBrush(m_color);
        painter.drawEllipse(centre, 6, 6);
    }

private:
    QColor m_color;
};

QWidget* divider(QWidget* parent) {
    auto* line = new QWidget(parent);
    line->setFixedSize(1, 18);
    line->setStyleSheet(QStringLiteral("background: rgba(255, 255, 255, 60);"));
    return line;
}

QStringList localFiles(const QMimeData* data) {
    QStringList paths;
    if (data)
        for (const QUrl& url : data->urls())
            if (url.isLocalFile())
                paths.append(url.toLocalFile());
    return paths;
}

QString percentText(double progress) {
    return QString::number(static_cast<int>(progress * 100)) + QLatin1Char('%');
}

} // namespace

ViewerScreen::ViewerScreen(ConnectionState& state, CommandBus& commands, ViewerActions actions,
                           QWidget* display, std::function<QSizeF()> hostScreenSize,
                           QWidget* parent)
    : QWidget(parent)
    , m_state(state)
    , m_commands(commands)
    , m_actions(std::move(actions))
    , m_display(display) {
    m_display->setParent(this);
    m_display->installEventFilter(this);
    m_store.onSend = [this](const protocol::DrawMessage& message) {
        if (m_actions.sendDraw)
            m_actions.sendDraw(message);
    };
    m_store.onClear = [this] {
        if (m_actions.sendDrawClear)
            m_actions.sendDrawClear();
    };
    m_store.onSpotlight = [this](const protocol::SpotlightMessage& message) {
        if (m_actions.sendSpotlight)
            m_actions.sendSpotlight(message);
    };
    m_canvas = new AnnotationCanvas(m_store, std::move(hostScreenSize), m_display);

    m_toolbar = buildToolbar();

    auto* chat = new ChatPanelView(m_state, m_commands, this);
    m_chatPanel = chat;
    m_chatPanel->hide();

    // A popover: the report on a rounded card of the window's colour.
    m_systemInfo = new RoundedPanel(10, QPalette::Window, this);
    {
        auto* layout = new QVBoxLayout(m_systemInfo);
        layout->setContentsMargins(16, 14, 16, 14);
        layout->addWidget(new RemoteSystemInfoView(m_state, m_systemInfo));
        addShadow(m_systemInfo, 64, 18, 3);
    }
    m_systemInfo->hide();

    m_dropHint = new QWidget(this);
    m_dropHint->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_dropHint->setStyleSheet(QStringLiteral(
        "background: rgba(0, 0, 0, 150); border: 2px dashed rgba(255, 255, 255, 170);"
        "border-radius: 14px; color: white;"));
    {
        auto* layout = new QVBoxLayout(m_dropHint);
        layout->setAlignment(Qt::AlignCenter);
        auto* icon = new QLabel(m_dropHint);
        icon->setStyleSheet(QStringLiteral("border: none; background: transparent;"));
        icon->setPixmap(bundledSymbolIcon(Symbol::documentDrop, kAccent)
                            .pixmap(QSize(28, 28), devicePixelRatioF()));
        icon->setAlignment(Qt::AlignCenter);
        auto* text = new QLabel(QStringLiteral("Sleep bestand om te versturen"), m_dropHint);
        text->setStyleSheet(QStringLiteral("border: none; background: transparent; font-size: 15px;"));
        layout->addWidget(icon);
        layout->addWidget(text);
    }
    m_dropHint->hide();

    m_capsule = new QWidget(this);
    m_capsule->setAttribute(Qt::WA_StyledBackground);
    m_capsule->setObjectName(QStringLiteral("transferCapsule"));
    m_capsule->setStyleSheet(QStringLiteral(
        "#transferCapsule { background: rgba(28, 28, 30, 225); border-radius: 16px; }"
        "QLabel { color: white; }"));
    {
        auto* layout = new QHBoxLayout(m_capsule);
        layout->setContentsMargins(12, 6, 14, 6);
        layout->setSpacing(8);
        m_capsuleIcon = new QLabel(m_capsule);
        m_capsuleIcon->setPixmap(
            bundledSymbolIcon(Symbol::document, kToolbarText).pixmap(QSize(14, 14), devicePixelRatioF()));
        m_capsuleName = new QLabel(m_capsule);
        QFont small = m_capsuleName->font();
        small.setPixelSize(11);
        m_capsuleName->setFont(small);
        m_capsuleName->setMaximumWidth(260);
        m_capsulePercent = new QLabel(m_capsule);
        m_capsulePercent->setFont(small);
        m_capsuleBar = new QProgressBar(m_capsule);
        m_capsuleBar->setRange(0, 1000);
        m_capsuleBar->setTextVisible(false);
        m_capsuleBar->setFixedSize(120, 6);
        layout->addWidget(m_capsuleIcon);
        layout->addWidget(m_capsuleName);
        layout->addWidget(m_capsulePercent);
        layout->addWidget(m_capsuleBar);
    }
    m_capsule->hide();
    m_noticeTimer.setSingleShot(true);
    m_noticeTimer.setInterval(kNoticeMs);
    connect(&m_noticeTimer, &QTimer::timeout, this, [this] {
        m_state.setFileTransferNotice(std::nullopt);
    });

    connect(&m_state, &ConnectionState::isRecordingChanged, this, &ViewerScreen::showRecording);
    connect(&m_state, &ConnectionState::showChatChanged, this, &ViewerScreen::showChat);
    connect(&m_state, &ConnectionState::unreadChatCountChanged, this, &ViewerScreen::showChat);
    connect(&m_state, &ConnectionState::fileTransferProgressChanged, this,
            &ViewerScreen::showTransfer);
    connect(&m_state, &ConnectionState::fileTransferNameChanged, this,
            &ViewerScreen::showTransfer);
    connect(&m_state, &ConnectionState::fileTransferNoticeChanged, this, [this] {
        if (m_state.fileTransferNotice())
            m_noticeTimer.start();
        showTransfer();
    });
    // A new session starts without the last one's drawing and tools.
    connect(&m_state, &ConnectionState::isViewingChanged, this, [this](bool viewing) {
        if (!viewing) {
            if (m_drawTool)
                toggleTool(*m_drawTool);
            m_systemInfo->hide();
        }
    });
    showRecording();
    showChat();
    showTransfer();
}

ViewerScreen::~ViewerScreen() {
    m_store.onSend = nullptr;
    m_store.onClear = nullptr;
    m_store.onSpotlight = nullptr;
}

QToolButton* ViewerScreen::addToolButton(QHBoxLayout* row, Symbol symbol, const QString& help) {
    auto* button = new ToolbarButton(symbol, help, m_toolbar);
    row->addWidget(button);
    return button;
}

QWidget* ViewerScreen::buildToolbar() {
    m_toolbar = new ToolbarPanel(this);
    m_toolbar->setStyleSheet(QStringLiteral(
        "QToolButton { border: none; border-radius: 6px; padding: 3px; }"
        "QToolButton:hover { background: rgba(255, 255, 255, 36); }"
        "QToolButton:checked { background: rgba(10, 132, 255, 70); }"
        "QToolButton::menu-indicator { image: none; }"));
    auto* row = new QHBoxLayout(m_toolbar);
    row->setContentsMargins(12, 3, 12, 3);
    row->setSpacing(2);

    m_monitorButton = addToolButton(row, Symbol::monitor, QStringLiteral("Monitor"));
    m_monitorMenu = new QMenu(m_monitorButton);
    m_monitorButton->setMenu(m_monitorMenu);
    m_monitorButton->setPopupMode(QToolButton::InstantPopup);
    connect(m_monitorMenu, &QMenu::aboutToShow, this, &ViewerScreen::fillMonitorMenu);
    row->addWidget(divider(m_toolbar));

    m_laserButton = addToolButton(row, Symbol::laser, QStringLiteral("Laser-pointer"));
    m_penButton = addToolButton(row, Symbol::penTip, QStringLiteral("Pen / tekenen"));
    m_spotlightButton = addToolButton(row, Symbol::spotlight,
                                      QStringLiteral("Spotlight — dim alles behalve je cursor"));
    for (auto [button, tool] : {std::pair{m_laserButton, AnnotationTool::laser},
                                {m_penButton, AnnotationTool::pen},
                                {m_spotlightButton, AnnotationTool::spotlight}}) {
        button->setCheckable(true);
        connect(button, &QToolButton::clicked, this, [this, tool] { toggleTool(tool); });
    }
    for (const char* hex : kDrawColors) {
        auto* swatch = new Swatch(QLatin1String(hex), m_toolbar);
        m_swatches.append(swatch);
        row->addWidget(swatch);
        connect(swatch, &QAbstractButton::clicked, this,
                [this, hex] { setDrawColor(QLatin1String(hex)); });
    }
    auto* clear = addToolButton(row, Symbol::trash, QStringLiteral("Wis tekening"));
    connect(clear, &QToolButton::clicked, this, [this] { m_store.clear(); });
    row->addWidget(divider(m_toolbar));

    auto* keys = addToolButton(row, Symbol::keyboard, QStringLiteral("Ctrl-Alt-Del verzenden"));
    connect(keys, &QToolButton::clicked, this, [this] {
        if (m_actions.sendSpecialKeys)
            m_actions.sendSpecialKeys(QStringLiteral("ctrl_alt_del"));
    });
    m_infoButton = addToolButton(row, Symbol::info, QStringLiteral("Systeeminformatie"));
    connect(m_infoButton, &QToolButton::clicked, this, &ViewerScreen::toggleSystemInfo);
    auto* quality = addToolButton(row, Symbol::gauge, QStringLiteral("Kwaliteit"));
    m_qualityMenu = new QMenu(quality);
    quality->setMenu(m_qualityMenu);
    quality->setPopupMode(QToolButton::InstantPopup);
    connect(m_qualityMenu, &QMenu::aboutToShow, this, &ViewerScreen::fillQualityMenu);
    m_recordButton = addToolButton(row, Symbol::record, QStringLiteral("Start opname"));
    connect(m_recordButton, &QToolButton::clicked, this, [this] {
        if (m_actions.setRecording)
            m_actions.setRecording(!m_state.isRecording());
    });
    auto* full = addToolButton(row, Symbol::fullScreen, QStringLiteral("Volledig scherm"));
    connect(full, &QToolButton::clicked, this, [this] {
        if (toggleFullScreen)
            toggleFullScreen();
    });
    row->addWidget(divider(m_toolbar));

    m_chatButton = addToolButton(row, Symbol::chat, QStringLiteral("Chat"));
    m_chatButton->setIconSize(QSize(14, 14));
    connect(m_chatButton, &QToolButton::clicked, this, [this] {
        m_state.setShowChat(!m_state.showChat());
        if (m_state.showChat())
            m_state.setUnreadChatCount(0);
    });
    auto* disconnect = addToolButton(row, Symbol::closeCircle,
                                     QStringLiteral("Verbinding verbreken"));
    static_cast<ToolbarButton*>(disconnect)->setIcon(
        bundledSymbolIcon(Symbol::closeCircle, kRed));
    connect(disconnect, &QToolButton::clicked, this,
            [this] { m_commands.post(Command::stopViewing); });

    showTools();
    m_toolbar->adjustSize();
    return m_toolbar;
}

void ViewerScreen::fillMonitorMenu() {
    m_monitorMenu->clear();
    const auto& monitors = m_state.availableMonitors();
    if (monitors.isEmpty()) {
        m_monitorMenu->addAction(QStringLiteral("Geen andere monitor"))->setEnabled(false);
        return;
    }
    auto* group = new QActionGroup(m_monitorMenu);
    for (const protocol::MonitorInfo& monitor : monitors) {
        QString name = QString::fromStdString(monitor.name);
        if (name.isEmpty())
            name = QStringLiteral("Monitor %1").arg(monitor.id);
        auto* action = m_monitorMenu->addAction(
            QStringLiteral("Wissel naar %1 (%2 × %3)").arg(name).arg(monitor.width).arg(monitor.height));
        action->setCheckable(true);
        action->setChecked(monitor.id == m_state.selectedMonitorId());
        group->addAction(action);
        connect(action, &QAction::triggered, this, [this, monitor] { switchMonitor(monitor); });
    }
}

void ViewerScreen::fillQualityMenu() {
    m_qualityMenu->clear();
    auto* group = new QActionGroup(m_qualityMenu);
    for (const QualityChoice& choice : kQualityChoices) {
        auto* action = m_qualityMenu->addAction(QString::fromUtf8(choice.label));
        action->setCheckable(true);
        action->setChecked(m_quality == QLatin1String(choice.level));
        group->addAction(action);
        const QString level = QLatin1String(choice.level);
        connect(action, &QAction::triggered, this, [this, level] { setQuality(level); });
    }
}

void ViewerScreen::switchMonitor(const protocol::MonitorInfo& monitor) {
    m_state.setSelectedMonitorId(monitor.id);
    m_commands.post(Command::selectMonitor, {{QStringLiteral("monitorId"), qint64(monitor.id)}});
}

void ViewerScreen::setQuality(const QString& level) {
    m_quality = level;
    m_commands.post(Command::sendQualitySetting, {{QStringLiteral("level"), level}});
}

void ViewerScreen::toggleTool(AnnotationTool tool) {
    m_drawTool = m_drawTool == tool ? std::nullopt : std::optional(tool);
    m_canvas->setTool(m_drawTool);
    showTools();
}

void ViewerScreen::setDrawColor(const QString& hex) {
    m_store.setColorHex(hex.toStdString());
    showTools();
}

void ViewerScreen::showTools() {
    static_cast<ToolbarButton*>(m_laserButton)->setActive(m_drawTool == AnnotationTool::laser);
    static_cast<ToolbarButton*>(m_penButton)->setActive(m_drawTool == AnnotationTool::pen);
    static_cast<ToolbarButton*>(m_spotlightButton)
        ->setActive(m_drawTool == AnnotationTool::spotlight);
    for (QAbstractButton* swatch : m_swatches)
        swatch->setChecked(swatch->toolTip().compare(drawColor(), Qt::CaseInsensitive) == 0);
}

void ViewerScreen::showRecording() {
    auto* button = static_cast<ToolbarButton*>(m_recordButton);
    const bool recording = m_state.isRecording();
    button->setSymbol(recording ? Symbol::recordStop : Symbol::record);
    const QString help = recording ? QStringLiteral("Stop opname") : QStringLiteral("Start opname");
    button->setToolTip(help);
    button->setAccessibleName(help);
}

void ViewerScreen::showChat() {
    auto* button = static_cast<ToolbarButton*>(m_chatButton);
    button->setActive(m_state.showChat());
    button->setBadge(m_state.unreadChatCount() >= 1);
    if (m_state.showChat() && !m_chatPanel->isVisible()) {
        placeOverlays();
        m_chatPanel->show();
        m_chatPanel->raise();
    } else if (!m_state.showChat()) {
        m_chatPanel->hide();
        m_display->setFocus();
    }
}

void ViewerScreen::toggleSystemInfo() {
    if (m_systemInfo->isVisible()) {
        m_systemInfo->hide();
        return;
    }
    placeOverlays();
    m_systemInfo->show();
    m_systemInfo->raise();
}

void ViewerScreen::showTransfer() {
    const auto& notice = m_state.fileTransferNotice();
    const auto& progress = m_state.fileTransferProgress();
    const auto& name = m_state.fileTransferName();
    // How a transfer ended (or why a second one was refused) shows for a
    // moment before the progress again.
    if (notice) {
        m_capsuleIcon->show();
        m_capsuleName->setText(*notice);
        m_capsuleName->setToolTip(*notice);
        m_capsulePercent->hide();
        m_capsuleBar->hide();
    } else if (progress && name) {
        m_capsuleIcon->show();
        m_capsuleName->setText(
            m_capsuleName->fontMetrics().elidedText(*name, Qt::ElideMiddle, 260));
        m_capsuleName->setToolTip(*name);
        m_capsulePercent->setText(percentText(*progress));
        m_capsulePercent->show();
        m_capsuleBar->setValue(static_cast<int>(*progress * 1000));
        m_capsuleBar->show();
    } else {
        m_capsule->hide();
        return;
    }
    m_capsuleName->setMaximumWidth(notice ? 480 : 260);
    m_capsule->adjustSize();
    placeOverlays();
    m_capsule->show();
    m_capsule->raise();
}

void ViewerScreen::dropFiles(const QStringList& paths) {
    setDragOver(false);
    if (paths.isEmpty() || !m_actions.sendFile)
        return;
    m_actions.sendFile(paths.front());
}

void ViewerScreen::setDragOver(bool over) {
    if (m_dragOver == over)
        return;
    m_dragOver = over;
    m_dropHint->setVisible(over);
    if (over) {
        placeOverlays();
        m_dropHint->raise();
    }
}

bool ViewerScreen::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_display) {
        switch (event->type()) {
        case QEvent::DragEnter:
            setDragOver(!localFiles(static_cast<QDragEnterEvent*>(event)->mimeData()).isEmpty());
            break;
        case QEvent::DragLeave:
        case QEvent::Drop: // the display hands the files to dropFiles
            setDragOver(false);
            break;
        default:
            break;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void ViewerScreen::placeOverlays() {
    m_display->setGeometry(rect());
    m_toolbar->adjustSize();
    const QSize bar = m_toolbar->sizeHint();
    m_toolbar->setGeometry((width() - bar.width()) / 2, kMargin, bar.width(), bar.height());
    const int below = m_toolbar->geometry().bottom() + kMargin;
    m_chatPanel->move(width() - m_chatPanel->width() - kMargin, below);
    m_systemInfo->adjustSize();
    const QPoint infoCentre = m_infoButton->mapTo(this, m_infoButton->rect().center());
    const int x = std::clamp(infoCentre.x() - m_systemInfo->width() / 2, kMargin,
                             std::max(kMargin, width() - m_systemInfo->width() - kMargin));
    m_systemInfo->move(x, below);
    m_dropHint->setGeometry(rect().adjusted(40, 70, -40, -40));
    m_capsule->move((width() - m_capsule->width()) / 2,
                    height() - m_capsule->height() - 2 * kMargin);
}

void ViewerScreen::paintEvent(QPaintEvent*) {
    // Black around the picture, whatever the palette (the overlays keep it).
    QPainter(this).fillRect(rect(), Qt::black);
}

void ViewerScreen::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    placeOverlays();
}

void ViewerScreen::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    placeOverlays();
    m_toolbar->raise();
    m_display->setFocus();
}

} // namespace velmarin::ui
