#pragma once

// The rows of the screens' lists (saved devices, recent connections): a
// rounded row whose secondary actions show while the pointer is over it,
// text buttons, and the inline question before a row is deleted.

#include "ui/common/Widgets.h"

#include <functional>

class QAbstractButton;
class QPushButton;
class QVBoxLayout;

namespace velmarin::ui {

class HoverRow : public RoundedPanel {
public:
    explicit HoverRow(QWidget* parent);

    // Shown only while the pointer is over the row.
    void setHoverActions(QWidget* actions);

protected:
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    QWidget* m_hoverActions = nullptr;
};

QPushButton* textButton(const QString& text, QWidget* parent);

// "Verwijderen" (red, object name "confirmDelete") beside "Annuleer".
QWidget* deleteConfirmation(QWidget* parent, std::function<void()> remove,
                            std::function<void()> cancel);

// The trash button (object name "delete") that asks `ask` to put the
// question in place.
QAbstractButton* deleteButton(QWidget* parent, std::function<void()> ask);
// Takes every row out of `rows` and deletes it later: the button that
// asked for the new list may still be in its signal.
void clearRows(QVBoxLayout* rows);

} // namespace velmarin::ui
