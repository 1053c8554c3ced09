#pragma once

#include <QWidget>

class QPlainTextEdit;
class QPushButton;
class LinkTestWindow;

// "Проверка интерфейса": finds the device, then tries a read at each of five line speeds and
// logs one line per speed.
class InterfaceCheckWindow : public QWidget
{
    Q_OBJECT
public:
    explicit InterfaceCheckWindow(LinkTestWindow &main, QWidget *parent = nullptr);

    // Runs the whole check; true when some speed answered.
    bool Button2Click();
    void Button1Click();

    QPlainTextEdit *Memo1;
    QPushButton *Button2;
    QPushButton *Button1;

private:
    void log(const QString &line);

    LinkTestWindow &m_main;
    bool m_running = false;
};
