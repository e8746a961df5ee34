#pragma once

// The chat panel both screens float over their content: the messages of the
// connection as bubbles (own ones on the right in the accent colour, the
// peer's on the left), each with its time, and a field to write a new one.
// It shows the connection state's list by position, so messages with equal
// time stamps all appear; sending posts "sendChat" and the coordinator
// records the message. The screen decides when the panel shows; a shown
// panel takes the keyboard focus and marks the messages read.

#include "protocol/ProtocolMessages.h"

#include <QList>
#include <QWidget>

class QAbstractButton;
class QLineEdit;
class QPropertyAnimation;
class QScrollArea;
class QVBoxLayout;

namespace velmarin {
class CommandBus;
class ConnectionState;
} // namespace velmarin

namespace velmarin::ui {

class ChatBubbleRow;

class ChatPanelView : public QWidget {
    Q_OBJECT

public:
    static constexpr QSize kSize{260, 300};

    ChatPanelView(ConnectionState& state, CommandBus& commands, QWidget* parent);

    // Keeps the panel `right` and `bottom` logical pixels inside the bottom
    // right corner of its parent, also when the parent is resized.
    void anchorBottomRight(int right, int bottom);

    // Sends the input without surrounding white space and empties the field;
    // input that is blank stays as typed and nothing is sent.
    void sendMessage();

    QLineEdit* input() const { return m_input; }
    QAbstractButton* sendButton() const { return m_send; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* buildTitleRow();
    QWidget* buildInputRow();
    void showMessages();
    void scrollToNewest(bool animated);
    void place();

    ConnectionState& m_state;
    CommandBus& m_commands;

    QScrollArea* m_scroll = nullptr;
    QVBoxLayout* m_rows = nullptr;
    QList<ChatBubbleRow*> m_bubbles;
    QList<protocol::ChatMessage> m_shown;
    bool m_shownAsHost = false;
    bool m_followNewest = false;
    QPropertyAnimation* m_scrollAnimation = nullptr;
    QLineEdit* m_input = nullptr;
    QAbstractButton* m_send = nullptr;
    int m_anchorRight = -1;
    int m_anchorBottom = -1;
};

} // namespace velmarin::ui
