#pragma once

// The partner-ID field of the forms: whatever is typed or pasted becomes at
// most nine digits, grouped as 123-456-789 while typing.

#include <QLineEdit>

namespace velmarin::ui {

// The digits of `text`, at most nine, with "-" after the third and the
// sixth ("12", "123-4", "123-456-789").
QString formatIDInput(const QString& text);

// A line edit that keeps its text in formatIDInput's form.
QLineEdit* idInputField(const QString& placeholder, QWidget* parent);

} // namespace velmarin::ui
