#include "platform/widgetmessageservice.h"

#include "platform/busycursor.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>

namespace {

QMessageBox::Icon toQtIcon(MessageIcon icon)
{
    switch (icon) {
    case MessageIcon::Information:
        return QMessageBox::Information;
    case MessageIcon::Exclamation:
        return QMessageBox::Warning;
    case MessageIcon::Error:
        return QMessageBox::Critical;
    case MessageIcon::Question:
        return QMessageBox::Question;
    case MessageIcon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

struct ButtonPair
{
    MessageButton ours;
    QMessageBox::StandardButton qt;
};

constexpr ButtonPair kButtons[] = {
    {MessageButton::Ok, QMessageBox::Ok},         {MessageButton::Cancel, QMessageBox::Cancel},
    {MessageButton::Yes, QMessageBox::Yes},       {MessageButton::No, QMessageBox::No},
    {MessageButton::Abort, QMessageBox::Abort},   {MessageButton::Retry, QMessageBox::Retry},
    {MessageButton::Ignore, QMessageBox::Ignore},
};

} // namespace

MessageButton WidgetMessageService::showMessage(const MessageRequest &request)
{
    QMessageBox box(toQtIcon(request.icon),
                    request.caption.isEmpty()
                        ? (applicationTitle().isEmpty() ? QApplication::applicationDisplayName()
                                                        : applicationTitle())
                        : request.caption,
                    request.text, QMessageBox::NoButton, QApplication::activeWindow());
    // A blank, not an empty title: the platform would put the program's name in its place.
    if (request.untitled)
        box.setWindowTitle(QStringLiteral(" "));
    for (const auto &b : kButtons) {
        if (request.buttons & int(b.ours))
            box.addButton(b.qt);
        if (request.defaultButton == b.ours)
            box.setDefaultButton(b.qt);
    }
    const ArrowWhileAsking arrow;
    const int answer = box.exec();
    for (const auto &b : kButtons) {
        if (answer == b.qt)
            return b.ours;
    }
    return (request.buttons & int(MessageButton::Cancel)) ? MessageButton::Cancel
                                                          : firstOfferedButton(request);
}

QString WidgetMessageService::askFileName(const FileDialogRequest &request)
{
    QFileDialog dialog(QApplication::activeWindow(), request.caption, request.fileName,
                       request.filter);
    dialog.setAcceptMode(request.kind == FileDialogRequest::Save ? QFileDialog::AcceptSave
                                                                 : QFileDialog::AcceptOpen);
    dialog.setFileMode(request.kind == FileDialogRequest::Save ? QFileDialog::AnyFile
                                                               : QFileDialog::ExistingFile);
    // A caller that replaces an existing file asks about it itself; Qt's own question would
    // come on top of it, and for a name that is only chosen, not written, it means nothing.
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    if (!request.defaultSuffix.isEmpty())
        dialog.setDefaultSuffix(request.defaultSuffix);
    const ArrowWhileAsking arrow;
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}
