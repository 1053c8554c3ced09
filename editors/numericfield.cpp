#include "editors/numericfield.h"

#include "platform/messageservice.h"

#include <QKeyEvent>
#include <QLocale>
#include <QRegularExpressionValidator>

#include <cmath>

NumericField::NumericField(double minimum, double maximum, int decimals, int longestEntry,
                           QWidget *parent)
    : QLineEdit(parent), m_minimum(minimum), m_maximum(maximum), m_decimals(decimals)
{
    // Typing is limited to the longest entry; a value the program puts in may be longer.
    setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("[-+0-9.,]{0,%1}").arg(longestEntry)), this));
    show(m_value);
}

void NumericField::setValue(double value)
{
    m_value = value;
    show(value);
}

void NumericField::setDecimals(int decimals)
{
    m_decimals = decimals;
    show(m_value);
}

void NumericField::setDecimalsFollowValue(int most)
{
    m_decimalsFollowValue = true;
    setDecimals(most);
}

void NumericField::show(double value)
{
    int decimals = m_decimals;
    if (m_decimalsFollowValue) {
        // A scaled device number divided back has a binary tail far below its last decimal.
        decimals = 0;
        for (double v = std::fabs(value); decimals < m_decimals; ++decimals, v *= 10) {
            if (std::fabs(v - std::round(v)) < 1e-6)
                break;
        }
    }
    const QLocale locale;
    QString text = locale.toString(value, 'f', decimals);
    text.remove(locale.groupSeparator());
    QLineEdit::setText(text);
    setModified(false);
}

bool NumericField::commitTyped()
{
    if (!isModified() || m_checking)
        return true;
    QString typed = text().trimmed();
    typed.replace(QLatin1Char(','), QLatin1Char('.'));
    bool ok = false;
    const double v = typed.toDouble(&ok);
    // A whole-number field takes whole numbers only.
    const bool whole = m_decimals > 0 || std::trunc(v) == v;
    if (ok && whole && v >= m_minimum && v <= m_maximum) {
        setValue(v);
        return true;
    }
    tellRefused();
    setValue(m_fallback.value_or(m_minimum));
    return false;
}

void NumericField::tellRefused()
{
    m_checking = true; // the message box takes the focus away from this field
    showMessage(QStringLiteral("Проверьте правильность ввода"), QString(),
                MessageIcon::Information);
    m_checking = false;
}

void NumericField::refuseShown()
{
    tellRefused();
    setFocus(Qt::OtherFocusReason);
    selectAll();
}

void NumericField::focusOutEvent(QFocusEvent *event)
{
    commitTyped();
    QLineEdit::focusOutEvent(event);
}

void NumericField::keyPressEvent(QKeyEvent *event)
{
    // A refused entry is not applied: Enter goes no further than the field's own message.
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && !commitTyped()) {
        event->accept();
        return;
    }
    QLineEdit::keyPressEvent(event);
}
