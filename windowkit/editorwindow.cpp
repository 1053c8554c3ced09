#include "windowkit/editorwindow.h"

#include "session/session.h"
#include "windowkit/windowhost.h"

EditorWindow::EditorWindow(Session &session, WindowHost &host, const QString &objectName,
                           const QString &caption, QWidget *parent, Qt::WindowFlags flags)
    : StatefulWindow(objectName, caption, parent), m_session(session), m_host(host)
{
    if (flags != Qt::WindowFlags())
        setWindowFlags(flags);
    setPerDevice(false);
    connect(&session, &Session::editorPanelsEnabled, this, &EditorWindow::setCommandPanelsEnabled);
}

void EditorWindow::declareStoredState(const QStringList &properties)
{
    setStoredProperties(properties);
    setPerDevice(!properties.isEmpty());
}

void EditorWindow::setCommandPanelsEnabled(bool on)
{
    for (QWidget *panel : std::as_const(m_panels))
        panel->setEnabled(on);
}

ExchangeOutcome EditorWindow::runExchange(const ExchangeOptions &options,
                                          const std::function<void(ExchangeRun &)> &body)
{
    if (m_host.ConfirmStopPolling() == 0)
        return ExchangeOutcome::Declined;
    // A click delivered while a poll tick waits for its reply: the tick owns the port until it
    // ends, so the command runs after it instead of changing the port under it.
    if (m_session.tickRunning()) {
        m_session.runWhenLinkIdle(this, [this, options, body] { runExchange(options, body); });
        return ExchangeOutcome::Deferred;
    }

    m_host.SetEditorPanelsEnabled(false);
    struct Unlock
    {
        WindowHost &host;
        PortMutex *mutex = nullptr;
        ~Unlock()
        {
            if (mutex)
                mutex->unlock();
            host.SetEditorPanelsEnabled(true);
        }
    } unlock{m_host};
    if (options.takePortMutex) {
        if (!m_session.portMutex().lock(options.mutexTimeoutMs))
            return ExchangeOutcome::PortLocked;
        unlock.mutex = &m_session.portMutex();
    }

    ExchangeRun run;
    run.setFailureText(options.failureText);
    body(run);
    if (run.failures() > 0) {
        showMessage(run.failureText(), options.failureCaption, MessageIcon::Error);
        return ExchangeOutcome::Failed;
    }
    if (!options.successText.isEmpty())
        showMessage(options.successText, options.successCaption, MessageIcon::Information);
    return ExchangeOutcome::Done;
}
