#include "ui/common/IDInput.h"

namespace velmarin::ui {

QString formatIDInput(const QString& text) {
    QString digits;
    for (const QChar c : text) {
        if (c >= QLatin1Char('0') && c <= QLatin1Char('9') && digits.size() < 9)
            digits.append(c);
    }
    QString formatted;
    for (qsizetype i = 0; i < digits.size(); ++i) {
        if (i == 3 || i == 6)
            formatted.append(QLatin1Char('-'));
        formatted.append(digits[i]);
    }
    return formatted;
}

QLineEdit* idInputField(const QString& placeholder, QWidget* parent) {
    auto* field = new QLineEdit(parent);
    field->setPlaceholderText(placeholder);
    QObject::connect(field, &QLineEdit::textEdited, field, [field](const QString& text) {
        const QString formatted = formatIDInput(text);
        if (formatted == text)
            return;
        // The cursor stays behind the same number of digits.
        const QString before = formatIDInput(text.left(field->cursorPosition()));
        field->setText(formatted);
        field->setCursorPosition(static_cast<int>(before.size()));
    });
    return field;
}

} // namespace velmarin::ui
