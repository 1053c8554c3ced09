// The start-up baseline: a bare Qt Widgets main window, built with the same flags as the
// programs and measured the same way (see platform/startupmark.h).

#include "platform/startupmark.h"

#include <QApplication>
#include <QMainWindow>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QMainWindow window;
    window.resize(721, 493);
    window.show();
    markFirstExposure(&window);
    return QApplication::exec();
}
