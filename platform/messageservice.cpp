#include "platform/messageservice.h"

#include <cstdio>

namespace {

class ConsoleMessageService : public MessageService
{
public:
    MessageButton showMessage(const MessageRequest &request) override
    {
        const QString caption = request.caption.isEmpty() ? applicationTitle() : request.caption;
        std::fprintf(stderr, "%s: %s\n", qUtf8Printable(caption), qUtf8Printable(request.text));
        return firstOfferedButton(request);
    }
    QString askFileName(const FileDialogRequest &) override { return {}; }
};

ConsoleMessageService g_console;
MessageService *g_current = &g_console;
QString g_applicationTitle;

} // namespace

void setApplicationTitle(const QString &title)
{
    g_applicationTitle = title;
}

QString applicationTitle()
{
    return g_applicationTitle;
}

MessageService &messages()
{
    return *g_current;
}

void setMessageService(MessageService *service)
{
    g_current = service ? service : &g_console;
}

MessageButton showMessage(const QString &text, const QString &caption, MessageIcon icon,
                          MessageButtons buttons)
{
    MessageRequest request;
    request.text = text;
    request.caption = caption;
    request.icon = icon;
    request.buttons = buttons;
    return messages().showMessage(request);
}

MessageButton firstOfferedButton(const MessageRequest &request)
{
    if (request.defaultButton != MessageButton::None)
        return request.defaultButton;
    for (int bit = 1; bit <= int(MessageButton::Ignore); bit <<= 1) {
        if (request.buttons & bit)
            return MessageButton(bit);
    }
    return MessageButton::Ok;
}

MessageButton RecordingMessageService::showMessage(const MessageRequest &request)
{
    shown.append(request);
    if (!answers.isEmpty())
        return answers.takeFirst();
    return firstOfferedButton(request);
}

QString RecordingMessageService::askFileName(const FileDialogRequest &request)
{
    dialogs.append(request);
    return fileAnswers.isEmpty() ? QString() : fileAnswers.takeFirst();
}

void showGlobalError(const QString &text)
{
    showMessage(text, QString(), MessageIcon::Error);
}
