#pragma once

#include "platform/messageservice.h"

class QWidget;

// Real message boxes and file dialogs, parented to the active window.
class WidgetMessageService : public MessageService
{
public:
    MessageButton showMessage(const MessageRequest &request) override;
    QString askFileName(const FileDialogRequest &request) override;
};
