#pragma once

#include "platform/messageservice.h"

#include <QApplication>

// The configurator's application object. Every error that a handler lets escape ends up in one
// message box with the error's text, and the program goes on with the next user action.
class ConfiguratorApplication : public QApplication
{
    Q_OBJECT
public:
    ConfiguratorApplication(int &argc, char **argv);
    bool notify(QObject *receiver, QEvent *event) override;
};

// What a second copy shows before it ends.
QString secondCopyText(const QString &programPath);
