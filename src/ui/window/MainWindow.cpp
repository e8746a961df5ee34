#include "ui/window/MainWindow.h"

#include "app/AppSettings.h"
#include "app/CommandBus.h"
#include "app/ConnectionState.h"
#include "interfaces/Log.h"
#include "ui/common/Symbols.h"
#include "ui/common/Widgets.h"
#include "ui/host/HostView.h"
#include "ui/window/SettingsDialog.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPropertyAnimation>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QStackedWidget>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

namespace velmarin::ui {

namespace {

// The branding panel: the accent colour, darker towards the bottom.
class BrandingPanel : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        const QColor accent = palette().color(QPalette::Highlight);
        QLinearGradient gradient(0, 0, 0, height());
        gradient.setColorAt(0, accent);
        gradient.setColorAt(1, accent.darker(160));
        painter.fillRect(rect(), gradient);
    }
};

QLabel* placeholder(const QString& text, QWidget* parent) {
    auto* label = secondaryLabel(text, 13, parent);
    label->setAlignment(Qt::AlignCenter);
    label->setWordWrap(true);
    return label;
}

} // namespace

QRect centredFrame(const QSize& size, const QRect& area) {
    const int midX = area.x() + area.width() / 2;
    const int midY = area.y() + area.height() / 2;
    return QRect(QPoint(midX - size.width() / 2, midY - size.height() / 2), size);
}

MainWindow::MainWindow(ConnectionState& state, AppSettings& settings,
                       PermissionManager& permissions, CommandBus& commands, BuildInfo buildInfo,
                       QWidget* parent)
    : QMainWindow(parent)
    , m_state(state)
    , m_settings(settings)
    , m_permissions(permissions)
    , m_commands(commands)
    , m_buildInfo(std::move(buildInfo)) {
    setWindowTitle(QStringLiteral("Velmarin"));
    setWindowIcon(bundledSymbolIcon(Symbol::logo, QColor(0x0a, 0x84, 0xff)));
    m_pages = new QStackedWidget(this);
    m_home = new QWidget(m_pages);
    m_home->setMinimumSize(kMinimumContentSize);
    auto* homeLayout = new QHBoxLayout(m_home);
    homeLayout->setContentsMargins(0, 0, 0, 0);
    homeLayout->setSpacing(0);
    homeLayout->addWidget(buildBrandingPanel());
    homeLayout->addWidget(buildTabArea(), 1);
    m_pages->addWidget(m_home);
    setCentralWidget(m_pages);
    // Start-up time is measured up to the first picture of the window
    // (bench/ui/bench_startup); eventFilter reports it once.
    m_pages->installEventFilter(this);
    buildMenu();
    resize(kMainWindowSize);

    connect(&state, &ConnectionState::isSharingChanged, this, &MainWindow::updateConnectingTab);
    connect(&state, &ConnectionState::modeChanged, this, &MainWindow::updateViewerConnected);
    connect(&state, &ConnectionState::statusChanged, this, &MainWindow::updateViewerConnected);
    connect(&state, &ConnectionState::isViewingChanged, this, &MainWindow::updateViewerConnected);
    connect(&state, &ConnectionState::disconnectMessageChanged, this,
            &MainWindow::showDisconnectAlert);
    selectTab(Tab::sharing);
    updateConnectingTab();
}

MainWindow::~MainWindow() {
    delete m_about;
}

QWidget* MainWindow::buildBrandingPanel() {
    auto* panel = new BrandingPanel(m_home);
    panel->setFixedWidth(240);
    auto* layout = new QVBoxLayout(panel);
    layout->setContentsMargins(24, 12, 24, 24);
    auto* menuButton = new QToolButton(panel);
    menuButton->setObjectName(QStringLiteral("menuButton"));
    menuButton->setIcon(bundledSymbolIcon(Symbol::menu, Qt::white));
    menuButton->setToolTip(QStringLiteral("Menu"));
    menuButton->setAccessibleName(QStringLiteral("Menu"));
    menuButton->setAutoRaise(true);
    menuButton->setPopupMode(QToolButton::InstantPopup);
    menuButton->setStyleSheet(QStringLiteral("QToolButton::menu-indicator { image: none; }"));
    layout->addWidget(menuButton, 0, Qt::AlignLeft);
    layout->addStretch(1);
    layout->addWidget(symbolLabel(bundledSymbolIcon(Symbol::logo, Qt::white), 72, panel), 0,
                      Qt::AlignHCenter);
    auto* name = headingLabel(QStringLiteral("Velmarin"), 26, panel);
    auto* tagline = new QLabel(QStringLiteral("Hulp op afstand.\nSnel, veilig en eenvoudig."), panel);
    tagline->setAlignment(Qt::AlignCenter);
    for (QLabel* label : {name, tagline}) {
        QPalette white = label->palette();
        white.setColor(QPalette::WindowText, Qt::white);
        label->setPalette(white);
        layout->addWidget(label, 0, Qt::AlignHCenter);
    }
    layout->addStretch(2);
    return panel;
}

QWidget* MainWindow::buildTabArea() {
    auto* area = new QWidget(m_home);
    auto* layout = new QVBoxLayout(area);
    layout->setContentsMargins(0, 12, 0, 0);
    layout->setSpacing(4);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    m_tabButtons = new QButtonGroup(area);
    const struct {
        Tab tab;
        QString label;
        Symbol symbol;
    } tabs[] = {{Tab::sharing, QStringLiteral("Delen"), Symbol::share},
                {Tab::connecting, QStringLiteral("Verbinden"), Symbol::link},
                {Tab::devices, QStringLiteral("Apparaten"), Symbol::desktop}};
    for (const auto& tab : tabs) {
        auto* button = new QToolButton(area);
        button->setText(tab.label);
        button->setIcon(symbolIcon(tab.symbol));
        button->setIconSize(QSize(20, 20));
        button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        button->setCheckable(true);
        button->setAutoRaise(true);
        button->setMinimumWidth(84);
        button->setCursor(Qt::PointingHandCursor);
        m_tabButtons->addButton(button, static_cast<int>(tab.tab));
        buttons->addWidget(button);
    }
    buttons->addStretch(1);
    connect(m_tabButtons, &QButtonGroup::idClicked, this,
            [this](int id) { selectTab(static_cast<Tab>(id)); });
    layout->addLayout(buttons);

    m_tabs = new QStackedWidget(area);
    m_tabs->addWidget(new HostView(m_state, m_settings, m_permissions, m_commands, m_tabs));
    m_connecting = new QStackedWidget(m_tabs);
    m_connecting->addWidget(placeholder(
        QStringLiteral("Verbinden met een ander apparaat kan in deze versie alleen vanaf de "
                       "opdrachtregel:\nvelmarin view ID WACHTWOORD"),
        m_connecting));
    m_connecting->addWidget(buildBlockedView());
    m_tabs->addWidget(m_connecting);
    m_tabs->addWidget(placeholder(
        QStringLiteral("Opgeslagen apparaten zijn hier niet beschikbaar."), m_tabs));
    layout->addWidget(m_tabs, 1);
    return area;
}

QWidget* MainWindow::buildBlockedView() {
    auto* view = new QWidget(m_connecting);
    view->setObjectName(QStringLiteral("blockedView"));
    auto* layout = new QVBoxLayout(view);
    layout->addStretch(1);
    layout->addWidget(symbolLabel(bundledSymbolIcon(Symbol::warning, QColor(0xff, 0x95, 0x00)), 48,
                                  view),
                      0, Qt::AlignHCenter);
    layout->addWidget(headingLabel(QStringLiteral("Viewer niet beschikbaar"), 17, view), 0,
                      Qt::AlignHCenter);
    auto* text = secondaryLabel(
        QStringLiteral("Stop eerst het delen in Host mode\nvoordat je als Viewer kunt verbinden."),
        13, view);
    text->setAlignment(Qt::AlignCenter);
    layout->addWidget(text, 0, Qt::AlignHCenter);
    auto* back = new QPushButton(QStringLiteral("Ga naar Host"), view);
    connect(back, &QPushButton::clicked, this, [this] { selectTab(Tab::sharing); });
    layout->addWidget(back, 0, Qt::AlignHCenter);
    layout->addStretch(1);
    return view;
}

void MainWindow::buildMenu() {
    m_menu = new QMenu(QStringLiteral("Velmarin"), this);
    QAction* about = m_menu->addAction(QStringLiteral("Over Velmarin"));
    connect(about, &QAction::triggered, this, &MainWindow::showAbout);
    m_menu->addSeparator();
    QAction* settings = m_menu->addAction(QStringLiteral("Instellingen…"));
    connect(settings, &QAction::triggered, this, &MainWindow::showSettings);
    m_menu->addSeparator();
    QAction* quit = m_menu->addAction(QStringLiteral("Afsluiten"));
    quit->setShortcut(QKeySequence::Quit);
    connect(quit, &QAction::triggered, qApp, &QApplication::quit);
    addAction(quit);
    // A desktop with a global menu bar shows the menu there; elsewhere the
    // menu button in the branding panel carries it.
    menuBar()->addMenu(m_menu);
    auto* menuButton = findChild<QToolButton*>(QStringLiteral("menuButton"));
    const bool nativeMenuBar = menuBar()->isNativeMenuBar();
    menuBar()->setVisible(nativeMenuBar);
    menuButton->setVisible(!nativeMenuBar);
    menuButton->setMenu(m_menu);
}

void MainWindow::selectTab(Tab tab) {
    m_tab = tab;
    m_tabButtons->button(static_cast<int>(tab))->setChecked(true);
    m_tabs->setCurrentIndex(static_cast<int>(tab));
    m_state.setMode(tab == Tab::sharing ? Mode::host : Mode::viewer);
}

bool MainWindow::isViewerConnected() const {
    return m_state.mode() == Mode::viewer && m_state.status().kind() == Status::Kind::connected &&
           m_state.isViewing();
}

void MainWindow::setRemoteScreen(QWidget* screen) {
    if (m_remoteScreen)
        m_pages->removeWidget(m_remoteScreen);
    m_remoteScreen = screen;
    if (screen)
        m_pages->addWidget(screen);
    updateViewerConnected();
}

void MainWindow::setDevicesScreen(QWidget* screen) {
    const int index = static_cast<int>(Tab::devices);
    QWidget* old = m_tabs->widget(index);
    m_tabs->insertWidget(index, screen);
    m_tabs->removeWidget(old);
    delete old;
    m_tabs->setCurrentIndex(static_cast<int>(m_tab));
}

void MainWindow::setConnectScreen(QWidget* screen) {
    QWidget* old = m_connecting->widget(0);
    m_connecting->insertWidget(0, screen);
    m_connecting->removeWidget(old);
    delete old;
    updateConnectingTab();
}

void MainWindow::updateConnectingTab() {
    m_connecting->setCurrentIndex(m_state.isSharing() ? 1 : 0);
}

void MainWindow::updateViewerConnected() {
    const bool connected = isViewerConnected();
    if (connected == m_viewerConnected)
        return;
    m_viewerConnected = connected;
    if (connected && m_remoteScreen) {
        m_home->setMinimumSize(0, 0);
        m_pages->setCurrentWidget(m_remoteScreen);
    } else {
        m_home->setMinimumSize(kMinimumContentSize);
        m_pages->setCurrentWidget(m_home);
    }
    emit viewerConnectedChanged(connected);
    if (!isVisible() || isMinimized())
        return;
    if (!connected && isFullScreen())
        showNormal();
    if (isFullScreen())
        return;
    // Connected: most of the screen for the Host's picture; afterwards the
    // window's own size again.
    const QRect area = availableArea();
    const QSize size = connected ? QSize(area.width() * 8 / 10, area.height() * 8 / 10)
                                 : kMainWindowSize;
    animateGeometry(centredFrame(size, area));
}

void MainWindow::animateGeometry(const QRect& frame) {
    if (!m_resize) {
        m_resize = new QPropertyAnimation(this, "geometry", this);
        m_resize->setDuration(kResizeAnimationMs);
        m_resize->setEasingCurve(QEasingCurve::OutCubic);
    }
    m_resize->stop();
    m_resize->setStartValue(geometry());
    m_resize->setEndValue(frame);
    m_resize->start();
}

void MainWindow::toggleFullScreen() {
    if (m_resize)
        m_resize->stop();
    if (isFullScreen()) {
        showNormal();
        // Without a window manager nobody gives the old frame back.
        if (m_normalFrame.isValid() && geometry() != m_normalFrame)
            setGeometry(m_normalFrame);
        return;
    }
    m_normalFrame = geometry();
    showFullScreen();
    // … nor the screen's.
    QTimer::singleShot(300, this, [this] {
        const QRect area = screen()->geometry();
        if (isFullScreen() && geometry() != area)
            setGeometry(area);
    });
}

void MainWindow::applyFirstAppearanceRules() {
    if (m_settings.useFixedCredentials() && !m_settings.fixedPassword().isEmpty())
        m_state.setLocalPassword(m_settings.fixedPassword());
    else if (m_state.localPassword().isEmpty())
        m_state.setLocalPassword(ConnectionState::newSessionPassword());
}

void MainWindow::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (m_appeared)
        return;
    m_appeared = true;
    applyFirstAppearanceRules();
    emit firstAppeared();
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_pages && event->type() == QEvent::Paint) {
        m_pages->removeEventFilter(this);
        // Queued: it runs once this paint has been flushed to the screen.
        QMetaObject::invokeMethod(
            this, [] { qCDebug(Log::ui, "Main window painted for the first time"); },
            Qt::QueuedConnection);
    }
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (shouldClose && !shouldClose()) {
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
}

void MainWindow::showDisconnectAlert() {
    const auto& message = m_state.disconnectMessage();
    if (!message) {
        if (m_alert)
            m_alert->close();
        return;
    }
    if (!m_alert) {
        // The title also inside: not every desktop shows a dialog's title.
        m_alert = new QMessageBox(QMessageBox::Information, QStringLiteral("Verbinding verbroken"),
                                  QStringLiteral("Verbinding verbroken"), QMessageBox::Ok, this);
        m_alert->setAttribute(Qt::WA_DeleteOnClose);
        m_alert->setWindowModality(Qt::WindowModal);
        connect(m_alert, &QMessageBox::finished, this,
                [this] { m_state.setDisconnectMessage(std::nullopt); });
    }
    m_alert->setInformativeText(*message);
    m_alert->open();
}

void MainWindow::showAbout() {
    if (!m_about)
        m_about = new AboutWindow(m_buildInfo);
    m_about->present(availableArea());
}

QRect MainWindow::availableArea() const {
    const QScreen* current = screen() ? screen() : QGuiApplication::primaryScreen();
    return current->availableGeometry();
}

void MainWindow::showSettings() {
    SettingsDialog dialog(m_settings, this);
    dialog.exec();
}

} // namespace velmarin::ui
