#pragma once

#include <QDialog>

class QLabel;

// "О программе", shown modally: a picture across the top, the program's name and version, the
// data folder, and "Закрыть".
class AboutWindow : public QDialog
{
    Q_OBJECT
public:
    explicit AboutWindow(QWidget *parent = nullptr);

protected:
    void showEvent(QShowEvent *event) override;

private:
    QLabel *m_folder = nullptr;
};
