#include "ui/common/ChatPanel.h"

#include "app/CommandBus.h"
#include "app/ConnectionState.h"
#include "collab/Chat.h"
#include "ui/common/Symbols.h"
#include "ui/common/Widgets.h"

#include <QAbstractButton>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPropertyAnimation>
#include <QScrollArea>
#include <QScrollBar>
#include <QTextLayout>
#include <QVBoxLayout>
#include <QtMath>

#include <algorithm>

namespace velmarin::ui {

namespace {

constexpr int kFarSideGap = 40;

QWidget* divider(QWidget* parent) {
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Plain);
    line->setForegroundRole(QPalette::Mid);
    return line;
}

QColor secondaryColor(const QWidget& widget) {
    return widget.palette().color(QPalette::PlaceholderText);
}

// The lines of `text` at `width`, broken at word boundaries, and inside a
// word (a long link) only where it does not fit on a line by itself; the
// size the lines take.
QSizeF layOutText(QTextLayout& layout, const QString& text, const QFont& font, qreal width) {
    QString lines = text;
    lines.replace(QLatin1Char('\n'), QChar::LineSeparator);
    layout.setText(lines);
    layout.setFont(font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    qreal height = 0;
    qreal widest = 0;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        line.setPosition(QPointF(0, height));
        height += line.height();
        widest = std::max(widest, line.naturalTextWidth());
    }
    layout.endLayout();
    return {widest, height};
}

// The text of one message on its rounded background: the accent colour
// for own messages, the control background (with a hairline, as the panel
// has the same colour) for the peer's. As wide as the text on one line;
// the row narrows it to what is left beside the gap, and the text wraps.
class ChatBubble : public QWidget {
public:
    static constexpr int kPadX = 10;
    static constexpr int kPadY = 6;

    explicit ChatBubble(QWidget* parent)
        : QWidget(parent) {
        setObjectName(QStringLiteral("chatBubble"));
        QFont font = this->font();
        font.setPixelSize(12);
        setFont(font);
        QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
        policy.setHeightForWidth(true);
        setSizePolicy(policy);
    }
    void setMessage(const QString& text, bool own) {
        m_text = text;
        m_own = own;
        m_heightWidth = -1;
        setAccessibleName(text);
        updateGeometry();
        update();
    }
    QSize sizeHint() const override {
        QTextLayout layout;
        const QSizeF lines = layOutText(layout, m_text, font(), 1e6);
        const int width = qCeil(lines.width()) + 2 * kPadX + 1;
        return {width, heightForWidth(width)};
    }
    QSize minimumSizeHint() const override {
        return {2 * kPadX + fontMetrics().averageCharWidth(), fontMetrics().height() + 2 * kPadY};
    }
    bool hasHeightForWidth() const override { return true; }
    // Layouts ask this many times per pass, for every message in the list.
    int heightForWidth(int width) const override {
        if (width != m_heightWidth) {
            QTextLayout layout;
            const QSizeF lines = layOutText(layout, m_text, font(), width - 2 * kPadX);
            m_heightWidth = width;
            m_height = qCeil(lines.height()) + 2 * kPadY;
        }
        return m_height;
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        if (m_own) {
            painter.setPen(Qt::NoPen);
            painter.setBrush(palette().color(QPalette::Highlight));
        } else {
            painter.setPen(QPen(palette().color(QPalette::Mid), 1));
            painter.setBrush(palette().color(QPalette::Base));
        }
        painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 12, 12);
        QTextLayout layout;
        layOutText(layout, m_text, font(), width() - 2 * kPadX);
        painter.setPen(m_own ? QColor(Qt::white) : palette().color(QPalette::Text));
        layout.draw(&painter, QPointF(kPadX, kPadY));
    }

private:
    QString m_text;
    bool m_own = false;
    mutable int m_heightWidth = -1;
    mutable int m_height = 0;
};

} // namespace

// One message: the bubble with its time under it, pushed to the sender's
// side by a gap of at least 40 on the other.
class ChatBubbleRow : public QWidget {
public:
    explicit ChatBubbleRow(QWidget* parent)
        : QWidget(parent) {
        m_layout = new QHBoxLayout(this);
        m_layout->setContentsMargins(0, 0, 0, 0);
        m_layout->setSpacing(0);
        m_leading = new QSpacerItem(0, 0);
        m_trailing = new QSpacerItem(0, 0);
        m_column = new QVBoxLayout;
        m_column->setSpacing(2);
        m_bubble = new ChatBubble(this);
        m_column->addWidget(m_bubble);
        m_time = new QLabel(this);
        m_time->setObjectName(QStringLiteral("chatTime"));
        QFont font = m_time->font();
        font.setPixelSize(9);
        m_time->setFont(font);
        QPalette colors = m_time->palette();
        QColor faded = secondaryColor(*this);
        faded.setAlphaF(faded.alphaF() * 0.6);
        colors.setColor(QPalette::WindowText, faded);
        m_time->setPalette(colors);
        m_column->addWidget(m_time);
        m_layout->addItem(m_leading);
        m_layout->addLayout(m_column);
        m_layout->addItem(m_trailing);
    }

    void setMessage(const protocol::ChatMessage& message, bool own) {
        m_bubble->setMessage(QString::fromStdString(message.text), own);
        m_time->setText(QString::fromStdString(collab::formatTime(message.timestamp)));
        const auto grow = QSizePolicy::MinimumExpanding;
        const auto keep = QSizePolicy::Fixed;
        m_leading->changeSize(own ? kFarSideGap : 0, 0, own ? grow : keep);
        m_trailing->changeSize(own ? 0 : kFarSideGap, 0, own ? keep : grow);
        const Qt::Alignment side = own ? Qt::AlignRight : Qt::AlignLeft;
        m_column->setAlignment(m_bubble, side);
        m_column->setAlignment(m_time, side);
        m_layout->invalidate();
    }

private:
    QHBoxLayout* m_layout = nullptr;
    QSpacerItem* m_leading = nullptr;
    QSpacerItem* m_trailing = nullptr;
    QVBoxLayout* m_column = nullptr;
    ChatBubble* m_bubble = nullptr;
    QLabel* m_time = nullptr;
};

ChatPanelView::ChatPanelView(ConnectionState& state, CommandBus& commands, QWidget* parent)
    : QWidget(parent)
    , m_state(state)
    , m_commands(commands) {
    setObjectName(QStringLiteral("chatPanel"));
    setFixedSize(kSize);
    addShadow(this, 38, 16, 3);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(buildTitleRow());
    layout->addWidget(divider(this));

    m_scroll = new QScrollArea(this);
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setWidgetResizable(true);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scroll->viewport()->setAutoFillBackground(false);
    m_scroll->verticalScrollBar()->setStyleSheet(
        QStringLiteral("QScrollBar:vertical { background: transparent; width: 8px; margin: 2px; }"
                       "QScrollBar::handle:vertical { background: rgba(128, 128, 128, 0.45);"
                       " border-radius: 2px; min-height: 24px; }"
                       "QScrollBar::add-line, QScrollBar::sub-line { height: 0; }"
                       "QScrollBar::add-page, QScrollBar::sub-page { background: none; }"));
    auto* list = new QWidget(m_scroll);
    list->setObjectName(QStringLiteral("chatList"));
    list->setAutoFillBackground(false);
    m_rows = new QVBoxLayout(list);
    m_rows->setContentsMargins(10, 10, 10, 10);
    m_rows->setSpacing(8);
    m_rows->addStretch(1);
    m_scroll->setWidget(list);
    layout->addWidget(m_scroll, 1);

    layout->addWidget(divider(this));
    layout->addWidget(buildInputRow());

    QScrollBar* bar = m_scroll->verticalScrollBar();
    m_scrollAnimation = new QPropertyAnimation(bar, "value", this);
    m_scrollAnimation->setDuration(150);
    m_scrollAnimation->setEasingCurve(QEasingCurve::OutCubic);
    // Rows get their height a layout pass after they are added: follow the
    // list's growth until the user scrolls by hand.
    connect(bar, &QScrollBar::rangeChanged, this, [this] {
        if (m_followNewest)
            scrollToNewest(true);
    });
    connect(bar, &QScrollBar::actionTriggered, this, [this] { m_followNewest = false; });

    connect(&state, &ConnectionState::chatMessagesChanged, this, &ChatPanelView::showMessages);
    connect(&state, &ConnectionState::isSharingChanged, this, &ChatPanelView::showMessages);
    showMessages();
}

QWidget* ChatPanelView::buildTitleRow() {
    auto* row = new QWidget(this);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(12, 8, 8, 8);
    layout->setSpacing(6);
    layout->addWidget(symbolLabel(bundledSymbolIcon(Symbol::chats), 14, row));
    layout->addWidget(headingLabel(QStringLiteral("Chat"), 13, row));
    layout->addStretch(1);
    auto* close = iconButton(bundledSymbolIcon(Symbol::xmark, secondaryColor(*this)),
                             QStringLiteral("Sluit chat"), row);
    close->setObjectName(QStringLiteral("closeChat"));
    close->setIconSize(QSize(10, 10));
    connect(close, &QAbstractButton::clicked, this, [this] { m_state.setShowChat(false); });
    layout->addWidget(close);
    return row;
}

QWidget* ChatPanelView::buildInputRow() {
    auto* row = new QWidget(this);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(10, 6, 6, 6);
    layout->setSpacing(4);
    m_input = new QLineEdit(row);
    m_input->setPlaceholderText(QStringLiteral("Bericht..."));
    m_input->setFrame(false);
    QPalette colors = m_input->palette();
    colors.setColor(QPalette::Base, Qt::transparent);
    m_input->setPalette(colors);
    connect(m_input, &QLineEdit::returnPressed, this, &ChatPanelView::sendMessage);
    layout->addWidget(m_input, 1);

    // Accent while there is something to send; the disabled button is drawn
    // in the palette's disabled text colour.
    m_send = iconButton(bundledSymbolIcon(Symbol::send, palette().color(QPalette::Highlight)),
                        QStringLiteral("Verstuur"), row);
    m_send->setObjectName(QStringLiteral("sendChat"));
    m_send->setIconSize(QSize(12, 12));
    m_send->setEnabled(false);
    connect(m_send, &QAbstractButton::clicked, this, &ChatPanelView::sendMessage);
    connect(m_input, &QLineEdit::textChanged, m_send,
            [this](const QString& text) { m_send->setEnabled(!text.isEmpty()); });
    layout->addWidget(m_send);
    return row;
}

void ChatPanelView::anchorBottomRight(int right, int bottom) {
    m_anchorRight = right;
    m_anchorBottom = bottom;
    if (parentWidget())
        parentWidget()->installEventFilter(this);
    place();
}

void ChatPanelView::place() {
    const QWidget* area = parentWidget();
    if (!area || m_anchorRight < 0)
        return;
    move(area->width() - m_anchorRight - width(), area->height() - m_anchorBottom - height());
}

bool ChatPanelView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == parentWidget() && event->type() == QEvent::Resize)
        place();
    return QWidget::eventFilter(watched, event);
}

void ChatPanelView::sendMessage() {
    const QString text = m_input->text().trimmed();
    if (text.isEmpty())
        return;
    m_input->clear();
    m_commands.post(Command::sendChat, {{QStringLiteral("text"), text}});
}

void ChatPanelView::showMessages() {
    // Rows are reused by position and rewritten only where the message (or
    // whose it is) changed; when old messages fall off the front, every row
    // shifts up one.
    const QList<protocol::ChatMessage>& messages = m_state.chatMessages();
    const bool asHost = m_state.isSharing();
    const bool countChanged = messages.size() != m_shown.size();
    for (qsizetype i = 0; i < messages.size(); ++i) {
        if (i == m_bubbles.size()) {
            auto* row = new ChatBubbleRow(m_scroll->widget());
            m_rows->insertWidget(m_rows->count() - 1, row);
            m_bubbles.append(row);
        } else if (i < m_shown.size() && m_shown[i] == messages[i] && asHost == m_shownAsHost) {
            continue;
        }
        m_bubbles[i]->setMessage(messages[i], collab::isOwnMessage(messages[i], asHost));
    }
    while (m_bubbles.size() > messages.size())
        delete m_bubbles.takeLast();
    m_shown = messages;
    m_shownAsHost = asHost;
    if (countChanged && !messages.isEmpty()) {
        m_followNewest = true;
        scrollToNewest(true);
    }
}

void ChatPanelView::scrollToNewest(bool animated) {
    QScrollBar* bar = m_scroll->verticalScrollBar();
    m_scrollAnimation->stop();
    if (!animated || !isVisible()) {
        bar->setValue(bar->maximum());
        return;
    }
    if (bar->value() == bar->maximum())
        return;
    m_scrollAnimation->setStartValue(bar->value());
    m_scrollAnimation->setEndValue(bar->maximum());
    m_scrollAnimation->start();
}

void ChatPanelView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    QColor background = palette().color(QPalette::Base);
    background.setAlphaF(0.95);
    painter.setBrush(background);
    painter.drawRoundedRect(QRectF(rect()), 10, 10);
}

void ChatPanelView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    raise();
    m_input->setFocus(Qt::OtherFocusReason);
    m_state.setUnreadChatCount(0);
    m_followNewest = !m_shown.isEmpty();
    scrollToNewest(false);
}

} // namespace velmarin::ui
