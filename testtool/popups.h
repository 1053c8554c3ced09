#pragma once

#include <QWidget>

class Clock;
class QLabel;

// "Поиск устройства": the device search's progress and outcome, three lines.
class SearchPopup : public QWidget
{
    Q_OBJECT
public:
    explicit SearchPopup(Clock &clock, QWidget *parent = nullptr);

    // Shows the window; a window that was hidden first stays up 600 ms before the caller goes
    // on, so that the user sees it at all between fast steps.
    void popup();

    QLabel *StaticText1;
    QLabel *StaticText2;
    QLabel *StaticText3;

private:
    Clock &m_clock;
};

// "Ошибка обмена": shown while the cyclic read fails.
class ExchangeErrorPopup : public QWidget
{
    Q_OBJECT
public:
    explicit ExchangeErrorPopup(QWidget *parent = nullptr);

    QLabel *StaticText1;
    QLabel *StaticText2;
};
