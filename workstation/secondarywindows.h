#pragma once

#include <QDialog>

// "О программе", shown modally: a picture across the top, the program's name and version, and
// "Закрыть".
class AboutWindow : public QDialog
{
    Q_OBJECT
public:
    explicit AboutWindow(QWidget *parent = nullptr);
};
