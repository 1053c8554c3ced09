#pragma once

#include <QList>
#include <QString>

class Session;
class QWidget;

// Small pieces the settings editors' exchange sequences share.
namespace editorexchange {

// Enables the widgets again when the scope ends, however it ends.
class Disabled
{
public:
    explicit Disabled(std::initializer_list<QWidget *> widgets);
    ~Disabled();
    Disabled(const Disabled &) = delete;
    Disabled &operator=(const Disabled &) = delete;

private:
    QList<QWidget *> m_widgets;
};

// Shows an exchange failure box: error icon, caption "Ошибка обмена".
void showExchangeFailure(const QString &text);

// Points the port at the selected device (its port number, and its line speed when the code is
// a known one), for the exchanges that call the link directly instead of device access.
void pointPortAtCurrentDevice(Session &session);

} // namespace editorexchange
