#include "workstation/application.h"

#include "link/porterror.h"
#include "platform/messageservice.h"

#include <exception>

ConfiguratorApplication::ConfiguratorApplication(int &argc, char **argv) : QApplication(argc, argv)
{
}

bool ConfiguratorApplication::notify(QObject *receiver, QEvent *event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const PortError &e) {
        showGlobalError(e.message());
    } catch (const ESendThreadError &e) {
        showGlobalError(e.message());
    } catch (const std::exception &e) {
        showGlobalError(QString::fromUtf8(e.what()));
    } catch (...) {
        showGlobalError(QStringLiteral("Unknown error"));
    }
    return true;
}

QString secondCopyText(const QString &programPath)
{
    return QStringLiteral("Запущена вторая копия программы ") + programPath +
           QStringLiteral("\r\nНажмите OK для завершения программы.");
}
