#include "ui/viewer/ConnectView.h"

#include "app/CommandBus.h"
#include "app/ConnectionState.h"
#include "app/IDFormatter.h"
#include "devices/DeviceConnect.h"
#include "devices/RecentConnectionsManager.h"
#include "ui/common/IDInput.h"
#include "ui/common/ListRows.h"
#include "ui/common/Symbols.h"
#include "ui/common/Widgets.h"
#include "ui/devices/RelativeTime.h"

#include <QAction>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

#include <algorithm>

namespace velmarin::ui {

namespace {

constexpr int kColumnWidth = 440;

// The remote screen as it was last seen, cropped to fill a small rounded
// box; a neutral box with a screen symbol when there is no picture or it
// cannot be read.
class ThumbnailBox : public QWidget {
public:
    ThumbnailBox(const std::optional<QByteArray>& encoded, QWidget* parent)
        : QWidget(parent) {
        setObjectName(QStringLiteral("thumbnail"));
        setFixedSize(64, 40);
        if (encoded)
            m_picture = QImage::fromData(*encoded);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        QPainterPath box;
        box.addRoundedRect(QRectF(rect()), 6, 6);
        painter.setClipPath(box);
        if (m_picture.isNull()) {
            // A tint of the secondary text colour suits light and dark alike.
            const QColor ink = palette().color(QPalette::PlaceholderText);
            QColor tint = ink;
            tint.setAlphaF(ink.alphaF() * 0.25f);
            painter.fillRect(rect(), tint);
            const QRect symbol(QPoint(0, 0), QSize(20, 20));
            // Symbols are drawn opaque: the colour's own transparency (the
            // default secondary text has some) goes to the painter.
            painter.setOpacity(ink.alphaF());
            symbolIcon(Symbol::desktop, QColor(ink.red(), ink.green(), ink.blue()))
                .paint(&painter, symbol.translated(rect().center() - symbol.center()));
            return;
        }
        const QSizeF cover =
            QSizeF(m_picture.size()).scaled(QSizeF(size()), Qt::KeepAspectRatioByExpanding);
        const QRectF target(QPointF((width() - cover.width()) / 2, (height() - cover.height()) / 2),
                            cover);
        painter.drawImage(target, m_picture);
    }

private:
    QImage m_picture;
};

// As tall as its rows, so the form and a short list sit together in the
// middle; a long list scrolls in whatever height is left.
class RecentList : public QScrollArea {
public:
    using QScrollArea::QScrollArea;
    QSize sizeHint() const override {
        const QSize content = widget() ? widget()->sizeHint() : QSize();
        return {content.width(), content.height() + 2 * frameWidth()};
    }
};

QLineEdit* formField(QLineEdit* field) {
    QFont font = field->font();
    font.setPixelSize(14);
    field->setFont(font);
    field->setMinimumHeight(34);
    field->setTextMargins(6, 0, 4, 0);
    return field;
}

} // namespace

ConnectView::ConnectView(ConnectionState& state, CommandBus& commands,
                         devices::RecentConnectionsManager& recents, secrets::SecretStore& secrets,
                         QWidget* parent)
    : QWidget(parent)
    , m_state(state)
    , m_commands(commands)
    , m_recents(recents)
    , m_secrets(secrets) {
    auto* outer = new QHBoxLayout(this);
    outer->setContentsMargins(24, 12, 24, 12);
    auto* column = new QWidget(this);
    column->setMaximumWidth(kColumnWidth);
    outer->addStretch(1);
    // The column takes all the width it may have; the margins the rest.
    outer->addWidget(column, 100);
    outer->addStretch(1);

    auto* layout = new QVBoxLayout(column);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(10);
    layout->addStretch(1);
    auto* title = headingLabel(QStringLiteral("Verbinden met een partner"), 17, column);
    title->setAlignment(Qt::AlignHCenter);
    layout->addWidget(title);
    auto* hint = secondaryLabel(QStringLiteral("Vul het ID en wachtwoord in die je partner ziet."),
                                12, column);
    hint->setAlignment(Qt::AlignHCenter);
    layout->addWidget(hint);
    layout->addWidget(buildForm());
    layout->addWidget(buildProblem());

    m_recentHeader = headingLabel(QStringLiteral("Recent"), 13, column);
    layout->addSpacing(4);
    layout->addWidget(m_recentHeader);
    m_scroll = new RecentList(column);
    m_scroll->setObjectName(QStringLiteral("recentList"));
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setWidgetResizable(true);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* list = new QWidget(m_scroll);
    m_rows = new QVBoxLayout(list);
    m_rows->setContentsMargins(0, 0, 0, 0);
    m_rows->setSpacing(6);
    m_scroll->setWidget(list);
    layout->addWidget(m_scroll);
    layout->addStretch(1);

    connect(&m_recents, &devices::RecentConnectionsManager::connectionsChanged, this,
            &ConnectView::showRecents);
    connect(&m_state, &ConnectionState::isSharingChanged, this, [this] {
        updateConnectButton();
        showRecents();
    });
    showRecents();
}

QWidget* ConnectView::buildForm() {
    auto* card = new RoundedPanel(10, QPalette::AlternateBase, this);
    addShadow(card, 13, 12, 2);
    auto* layout = new QVBoxLayout(card);
    layout->setContentsMargins(18, 16, 18, 16);
    layout->setSpacing(10);

    m_id = formField(idInputField(QStringLiteral("Partner ID"), card));
    m_id->setObjectName(QStringLiteral("partnerID"));
    m_password = formField(new QLineEdit(card));
    m_password->setObjectName(QStringLiteral("password"));
    m_password->setPlaceholderText(QStringLiteral("Wachtwoord"));
    m_eye = m_password->addAction(QIcon(), QLineEdit::TrailingPosition);
    m_eye->setObjectName(QStringLiteral("togglePassword"));
    connect(m_eye, &QAction::triggered, this, [this] {
        m_showPassword = !m_showPassword;
        showPasswordVisibility();
    });
    showPasswordVisibility();

    m_connect = textButton(QStringLiteral("Verbinden"), card);
    m_connect->setObjectName(QStringLiteral("connectButton"));
    m_connect->setIcon(symbolIcon(Symbol::link));
    m_connect->setDefault(true);
    m_connect->setMinimumHeight(34);
    QFont buttonFont = m_connect->font();
    buttonFont.setWeight(QFont::DemiBold);
    m_connect->setFont(buttonFont);
    connect(m_connect, &QPushButton::clicked, this, &ConnectView::connectIfValid);
    for (QLineEdit* field : {m_id, m_password}) {
        layout->addWidget(field);
        connect(field, &QLineEdit::textChanged, this, &ConnectView::updateConnectButton);
        connect(field, &QLineEdit::returnPressed, this, &ConnectView::connectIfValid);
    }
    layout->addWidget(m_connect);
    updateConnectButton();
    return card;
}

QWidget* ConnectView::buildProblem() {
    m_problem = new QWidget(this);
    m_problem->setObjectName(QStringLiteral("connectProblem"));
    auto* row = new QHBoxLayout(m_problem);
    row->setContentsMargins(4, 0, 4, 0);
    row->setSpacing(6);
    const QColor red(0xff, 0x3b, 0x30);
    row->addWidget(symbolLabel(bundledSymbolIcon(Symbol::warning, red), 14, m_problem), 0,
                   Qt::AlignTop);
    m_problemText = new QLabel(m_problem);
    m_problemText->setWordWrap(true);
    m_problemText->setStyleSheet(QStringLiteral("color: #ff3b30;"));
    row->addWidget(m_problemText, 1);
    const auto showProblem = [this] {
        const Status status = m_state.status();
        m_problem->setVisible(status.kind() == Status::Kind::error);
        m_problemText->setText(status.displayText());
    };
    connect(&m_state, &ConnectionState::statusChanged, m_problem, showProblem);
    showProblem();
    return m_problem;
}

QWidget* ConnectView::buildRow(const devices::RecentConnection& connection) {
    auto* row = new HoverRow(m_scroll->widget());
    row->setObjectName(QStringLiteral("recent-") + connection.hostID);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(8, 6, 10, 6);
    layout->setSpacing(10);
    layout->addWidget(new ThumbnailBox(connection.thumbnail, row));

    auto* text = new QVBoxLayout;
    text->setSpacing(2);
    const QString formattedID = IDFormatter::format(connection.hostID);
    const QString when =
        relativeDescription(connection.lastConnected, QDateTime::currentDateTimeUtc());
    if (connection.displayName && !connection.displayName->isEmpty()) {
        text->addWidget(headingLabel(*connection.displayName, 13, row));
        text->addWidget(secondaryLabel(formattedID + QStringLiteral(" · ") + when, 11, row));
    } else {
        text->addWidget(headingLabel(formattedID, 13, row));
        text->addWidget(secondaryLabel(when, 11, row));
    }
    layout->addLayout(text, 1);

    const QUuid id = connection.id;
    auto* actions = new QWidget(row);
    auto* actionRow = new QHBoxLayout(actions);
    actionRow->setContentsMargins(0, 0, 0, 0);
    if (m_deleteConfirmation == id) {
        actionRow->addWidget(deleteConfirmation(
            actions,
            [this, id] {
                m_deleteConfirmation.reset();
                m_recents.remove(id); // the manager redraws the list
            },
            [this] {
                m_deleteConfirmation.reset();
                showRecents();
            }));
    } else {
        auto* remove = deleteButton(actions, [this, id] {
            m_deleteConfirmation = id;
            showRecents();
        });
        actionRow->addWidget(remove);
        row->setHoverActions(actions);
    }
    layout->addWidget(actions);
    // The question takes the place of "Verbinden": the row is narrow.
    if (m_deleteConfirmation == id)
        return row;

    auto* connectButton = textButton(QStringLiteral("Verbinden"), row);
    connectButton->setIcon(symbolIcon(Symbol::link));
    connectButton->setObjectName(QStringLiteral("connect"));
    connectButton->setEnabled(!m_state.isSharing());
    connect(connectButton, &QPushButton::clicked, this, [this, id] { connectToRecent(id); });
    layout->addWidget(connectButton);
    return row;
}

bool ConnectView::isInputValid() const {
    return IDFormatter::isComplete(m_id->text()) && !m_password->text().isEmpty();
}

void ConnectView::connectIfValid() {
    if (!isInputValid() || m_state.isSharing())
        return;
    m_state.setRemoteID(IDFormatter::normalize(m_id->text()));
    m_state.setRemotePassword(m_password->text());
    m_commands.post(Command::startViewing);
}

void ConnectView::connectToRecent(const QUuid& id) {
    // The form is not offered while sharing; a late click must not start a
    // second session beside the shared one either.
    if (m_state.isSharing())
        return;
    const QList<devices::RecentConnection>& connections = m_recents.connections();
    const auto found = std::find_if(connections.begin(), connections.end(),
                                    [&](const devices::RecentConnection& c) { return c.id == id; });
    if (found == connections.end())
        return;
    const devices::RecentConnection connection = *found;
    // The stored password stays out of the form: a failed attempt asks for
    // it again rather than revealing it behind the eye button.
    m_id->setText(IDFormatter::format(connection.hostID));
    m_password->clear();
    if (!devices::connectToRecent(connection, m_state, m_commands, m_secrets))
        m_password->setFocus();
}

void ConnectView::showRecents() {
    clearRows(m_rows);
    const QList<devices::RecentConnection>& connections = m_recents.connections();
    if (m_deleteConfirmation && std::none_of(connections.begin(), connections.end(),
                                             [&](const devices::RecentConnection& c) {
                                                 return c.id == *m_deleteConfirmation;
                                             }))
        m_deleteConfirmation.reset();
    for (const devices::RecentConnection& connection : connections) {
        QWidget* row = buildRow(connection);
        m_rows->addWidget(row);
        // At once, not from the event loop: the list's height counts them.
        row->show();
    }
    m_rows->addStretch(1);
    m_recentHeader->setVisible(!connections.isEmpty());
    m_scroll->setVisible(!connections.isEmpty());
    m_scroll->updateGeometry();
}

void ConnectView::showPasswordVisibility() {
    m_password->setEchoMode(m_showPassword ? QLineEdit::Normal : QLineEdit::Password);
    m_eye->setIcon(symbolIcon(m_showPassword ? Symbol::eyeSlash : Symbol::eye));
    m_eye->setToolTip(m_showPassword ? QStringLiteral("Verberg wachtwoord")
                                     : QStringLiteral("Toon wachtwoord"));
}

void ConnectView::updateConnectButton() {
    m_connect->setEnabled(isInputValid() && !m_state.isSharing());
}

void ConnectView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    showRecents(); // the relative times move on while hidden
}

} // namespace velmarin::ui
