#pragma once

#include <QWidget>

class QPlainTextEdit;
class QPushButton;
class TForm1;

// "Проверка интерфейса": finds the device, then tries a read at each of five line speeds and
// logs one line per speed.
class TForm5 : public QWidget
{
    Q_OBJECT
public:
    explicit TForm5(TForm1 &main, QWidget *parent = nullptr);

    // Runs the whole check; true when some speed answered.
    bool Button2Click();
    void Button1Click();

    QPlainTextEdit *Memo1;
    QPushButton *Button2;
    QPushButton *Button1;

private:
    void log(const QString &line);

    TForm1 &m_main;
    bool m_running = false;
};
