#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// Every message box and file dialog of the programs goes through this one service, so that a
// test can see what was shown and answer it without a window.

enum class MessageIcon { None, Information, Exclamation, Error, Question };

enum class MessageButton {
    None = 0,
    Ok = 0x1,
    Cancel = 0x2,
    Yes = 0x4,
    No = 0x8,
    Abort = 0x10,
    Retry = 0x20,
    Ignore = 0x40,
};

// A set of MessageButton values or-ed together.
using MessageButtons = int;

struct MessageRequest
{
    QString text;
    QString caption;       // empty: the application's title
    bool untitled = false; // no caption at all, not even the application's title
    MessageIcon icon = MessageIcon::None;
    MessageButtons buttons = int(MessageButton::Ok);
    MessageButton defaultButton = MessageButton::None;
};

struct FileDialogRequest
{
    enum Kind { Open, Save };
    Kind kind = Open;
    QString caption;
    QString filter;        // "Description (*.ext)" entries separated by ";;"
    QString defaultSuffix; // without the dot
    QString fileName;      // proposed name or folder
};

class MessageService
{
public:
    virtual ~MessageService() = default;
    virtual MessageButton showMessage(const MessageRequest &request) = 0;
    // The chosen path, or an empty text when the user cancelled. A save dialog does not ask
    // whether to replace an existing file: a caller that replaces one asks itself.
    virtual QString askFileName(const FileDialogRequest &request) = 0;
};

// The service in force; a plain console service until a program or a test installs its own.
MessageService &messages();
// Installs a service (not owned); nullptr restores the console service.
void setMessageService(MessageService *service);

// The caption of messages that name none (the program's title). Kept here rather than as Qt's
// application display name, which some desktops would append to every window's caption.
void setApplicationTitle(const QString &title);
QString applicationTitle();

MessageButton showMessage(const QString &text, const QString &caption, MessageIcon icon,
                          MessageButtons buttons = int(MessageButton::Ok));

// The global error display: one box with the error's text under the program's title.
void showGlobalError(const QString &text);

// Shows nothing; keeps every request and answers from queues (default: the default button, or
// the first offered one, and a cancelled dialog).
class RecordingMessageService : public MessageService
{
public:
    MessageButton showMessage(const MessageRequest &request) override;
    QString askFileName(const FileDialogRequest &request) override;

    QList<MessageRequest> shown;
    QList<FileDialogRequest> dialogs;
    QList<MessageButton> answers;
    QStringList fileAnswers;
};

// Installs a recording service for the lifetime of the object.
class ScopedRecordingMessages : public RecordingMessageService
{
public:
    ScopedRecordingMessages() { setMessageService(this); }
    ~ScopedRecordingMessages() override { setMessageService(nullptr); }
    ScopedRecordingMessages(const ScopedRecordingMessages &) = delete;
    ScopedRecordingMessages &operator=(const ScopedRecordingMessages &) = delete;
};

MessageButton firstOfferedButton(const MessageRequest &request);
