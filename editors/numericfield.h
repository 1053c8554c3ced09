#pragma once

#include <QLineEdit>

#include <optional>

// A number entry of the settings windows. Values put in by the program (read from a device or
// restored) are shown as they are, even outside the bounds; what the user types is checked when
// the field is left: a text that is not a number, or a number outside the bounds, gives
// "Проверьте правильность ввода" and the field falls back to its lower bound, or to the value
// set as its fallback where the lower bound would be a value nobody meant.
class NumericField : public QLineEdit
{
    Q_OBJECT
    Q_PROPERTY(double value READ value WRITE setValue USER true)
public:
    NumericField(double minimum, double maximum, int decimals, int longestEntry,
                 QWidget *parent = nullptr);

    double value() const { return m_value; }
    void setValue(double value);
    double minimum() const { return m_minimum; }
    double maximum() const { return m_maximum; }
    int decimals() const { return m_decimals; }
    void setFallback(double value) { m_fallback = value; }
    // Shows the value again with the new number of decimals.
    void setDecimals(int decimals);
    // Shows as many decimals as the value has, at most the given number, from now on.
    void setDecimalsFollowValue(int most);

    // Applies a typed text now, as leaving the field would. False when it was refused.
    bool commitTyped();
    // Refuses the value shown with the field's own message, for a value that is within the
    // bounds yet cannot be stored; the value stays, selected for correction.
    void refuseShown();

protected:
    void focusOutEvent(QFocusEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void show(double value);
    void tellRefused();

    double m_minimum;
    double m_maximum;
    int m_decimals;
    bool m_decimalsFollowValue = false;
    double m_value = 0;
    std::optional<double> m_fallback;
    bool m_checking = false;
};
