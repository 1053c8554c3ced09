#include "windowkit/editorwindow.h"

#include "platform/busycursor.h"
#include "platform/clock.h"
#include "session/session.h"
#include "windowkit/settingswindowkind.h"
#include "windowkit/shownvalue.h"
#include "windowkit/windowhost.h"

#include <QBoxLayout>
#include <QEvent>
#include <QLabel>
#include <QPushButton>

EditorWindow::EditorWindow(Session &session, WindowHost &host, const QString &objectName,
                           const QString &caption, QWidget *parent, Qt::WindowFlags flags)
    : StatefulWindow(objectName, caption, parent), m_session(session), m_host(host)
{
    if (flags != Qt::WindowFlags())
        setWindowFlags(flags);
    setPerDevice(false);
    connect(&session, &Session::editorPanelsEnabled, this, &EditorWindow::setCommandPanelsEnabled);
    connect(&session.selected(), &SelectedDevice::selectionChanged, this,
            &EditorWindow::showReadOrigin);
}

EditorWindow::EditorWindow(Session &session, WindowHost &host, const SettingsWindowKind &kind,
                           Qt::WindowFlags flags)
    : EditorWindow(session, host, QString::fromLatin1(kind.objectName),
                   QString::fromUtf8(kind.caption), host.mainWidget(), flags)
{
    if (kind.storedProperties)
        declareStoredState(kind.storedProperties());
}

SelectedDevice &EditorWindow::device() const
{
    return m_session.selected();
}

EditorWindow::ReadWritePanel
EditorWindow::makeReadWritePanel(QWidget *parent, const QString &panelName, const QString &readName,
                                 const QString &writeName, std::function<void()> read,
                                 std::function<void()> write)
{
    ReadWritePanel p;
    p.panel = new QWidget(parent);
    p.panel->setObjectName(panelName);
    auto *buttons = new QHBoxLayout(p.panel);
    p.read = new QPushButton(QStringLiteral("Читать"), p.panel);
    p.read->setObjectName(readName);
    p.write = new QPushButton(QStringLiteral("Записать"), p.panel);
    p.write->setObjectName(writeName);
    buttons->addStretch(1);
    buttons->addWidget(p.read);
    buttons->addWidget(p.write);
    connect(p.read, &QPushButton::clicked, this, std::move(read));
    connect(p.write, &QPushButton::clicked, this, std::move(write));
    return p;
}

bool EditorWindow::event(QEvent *event)
{
    // Once the window has built its controls and before it takes its first size: the line goes
    // under everything, and the window grows by it so that nothing above moves.
    if (event->type() == QEvent::Polish && m_showsReadOrigin && !m_readOrigin) {
        if (auto *box = qobject_cast<QBoxLayout *>(layout())) {
            m_readOrigin = new QLabel(this);
            m_readOrigin->setObjectName(QStringLiteral("StaticReadOrigin"));
            m_readOrigin->setAccessibleName(QStringLiteral("Источник настроек"));
            m_readOrigin->setText(readOriginText());
            const int extra = m_readOrigin->sizeHint().height() + std::max(0, box->spacing());
            box->addWidget(m_readOrigin);
            if (minimumSize() == maximumSize())
                setFixedSize(width(), height() + extra);
            else if (testAttribute(Qt::WA_Resized))
                resize(width(), height() + extra);
        }
    }
    return StatefulWindow::event(event);
}

void EditorWindow::showEvent(QShowEvent *event)
{
    // Assistive tools name a list or a field by what it shows unless told otherwise, so each
    // labelled control takes its label's caption. A label that shows a value is named so too,
    // and its value goes on its description: otherwise only the caption would be heard.
    const QList<QLabel *> labels = findChildren<QLabel *>();
    for (QLabel *label : labels) {
        QWidget *field = label->buddy();
        if (!field)
            continue;
        const QString caption = captionAsName(label->text());
        if (auto *display = qobject_cast<QLabel *>(field))
            exposeShownValue(display, display->accessibleName().isEmpty() ? caption : QString());
        else if (field->accessibleName().isEmpty())
            field->setAccessibleName(caption);
    }
    // A label the window named itself (a comparator's state) shows a value, not its name.
    for (QLabel *label : labels) {
        if (!label->buddy() && !label->accessibleName().isEmpty())
            exposeShownValue(label, QString());
    }
    StatefulWindow::showEvent(event);
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
    for (const HoldingBlock &block : options.writesFromControls) {
        if (!hasRead(block)) {
            showMessage(QStringLiteral("Сначала прочитайте настройки устройства.\r\n"
                                       "Запись не выполнена."),
                        QStringLiteral("Запись настроек"), MessageIcon::Exclamation);
            return ExchangeOutcome::NotRead;
        }
    }
    if (m_host.ConfirmStopPolling() == 0)
        return ExchangeOutcome::Declined;
    // A click delivered while a poll tick waits for its reply: the tick owns the port until it
    // ends, so the command runs after it instead of changing the port under it.
    if (m_session.deferBehindTick(this, [this, options, body] { runExchange(options, body); }))
        return ExchangeOutcome::Deferred;

    m_session.SetEditorPanelsEnabled(false);
    struct Unlock
    {
        Session &session;
        const QList<QWidget *> &busy;
        PortMutex *mutex = nullptr;
        ~Unlock()
        {
            if (mutex)
                mutex->unlock();
            for (QWidget *w : busy)
                w->setEnabled(true);
            session.SetEditorPanelsEnabled(true);
        }
    } unlock{m_session, options.busy};
    for (QWidget *w : options.busy)
        w->setEnabled(false);
    ExchangeRun run;
    run.setFailureText(options.failureText);
    if (options.takePortMutex) {
        if (!m_session.line().portMutex.lock(options.mutexTimeoutMs)) {
            // Another exchange holds the port: as much a failure as a silent device.
            showMessage(run.failureText(), options.failureCaption, MessageIcon::Error);
            return ExchangeOutcome::PortLocked;
        }
        unlock.mutex = &m_session.line().portMutex;
    }

    const ModbusLink::WriteTally writesBefore = writeTally();
    const auto failureText = [&] {
        const QString why = m_session.line().portProblemText();
        return run.failureText() + partialWriteNote(writesBefore, QStringLiteral("Настройки")) +
               (why.isEmpty() ? QString() : QStringLiteral("\r\n\r\n") + why);
    };
    try {
        // Gone before any message box: the box waits for the user, not the program.
        const BusyCursor busy;
        body(run);
    } catch (...) {
        if (options.readsControls)
            recordReads(run, false);
        // The failures so far are told before the error itself reaches the global display.
        if (run.failures() > 0)
            showMessage(failureText(), options.failureCaption, MessageIcon::Error);
        throw;
    }
    if (options.readsControls)
        recordReads(run, run.failures() == 0);
    if (run.failures() > 0) {
        showMessage(failureText(), options.failureCaption, MessageIcon::Error);
        return ExchangeOutcome::Failed;
    }
    if (options.afterSuccess)
        options.afterSuccess();
    if (!options.successText.isEmpty())
        showMessage(options.successText, options.successCaption, MessageIcon::Information);
    return ExchangeOutcome::Done;
}

int EditorWindow::readSettings(ExchangeRun &run, HoldingBlock block)
{
    run.noteRead(block);
    return run.check(device().readHolding(block));
}

void EditorWindow::recordReads(const ExchangeRun &run, bool whole)
{
    BlockOrigins &origins = device().origins();
    const DeviceKey device = m_session.selected().key();
    for (const HoldingBlock &block : run.reads()) {
        if (whole)
            origins.windowRead(objectName(), block.position, block.length, device);
        else
            origins.windowForget(objectName(), block.position, block.length);
    }
    if (whole)
        origins.windowReadDone(objectName(), device, m_session.clock().currentDateTime());
    showReadOrigin();
}

QString EditorWindow::readOriginText() const
{
    const QDateTime at =
        device().origins().windowReadTime(objectName(), m_session.selected().key());
    if (!at.isValid())
        return QStringLiteral("Не прочитано");
    // The device by its tree entry's name, as the tree shows it.
    return QStringLiteral("Прочитано: %1, %2")
        .arg(m_session.selected().name(), at.toString(QStringLiteral("HH:mm:ss")));
}

void EditorWindow::showReadOrigin()
{
    if (m_readOrigin)
        m_readOrigin->setText(readOriginText());
}

int EditorWindow::writeSettings(ExchangeRun &run, HoldingBlock block)
{
    return run.check(device().writeHolding(block));
}

int EditorWindow::readData(ExchangeRun &run, std::uint16_t bytePosition, std::uint16_t byteLength)
{
    return run.check(device().readInputs(bytePosition, byteLength));
}

int EditorWindow::ensureOwn(ExchangeRun &run, HoldingBlock block)
{
    return run.check(device().ensureOwn(block));
}

int EditorWindow::writeCommonBlock(ExchangeRun &run, const std::function<void(CommonBlock &)> &edit)
{
    return run.check(device().writeCommonBlock(edit));
}

std::span<std::uint8_t> EditorWindow::holdingImage() const
{
    return device().holding();
}

ModbusLink::WriteTally EditorWindow::writeTally() const
{
    return device().writeTally();
}

QString EditorWindow::partialWriteNote(ModbusLink::WriteTally before, const QString &what) const
{
    const ModbusLink::WriteTally now = writeTally();
    const int planned = now.planned - before.planned;
    const int written = now.acknowledged - before.acknowledged;
    // Nothing arrived: the device holds what it held. All arrived: nothing to warn of.
    if (written <= 0 || written >= planned)
        return QString();
    return QStringLiteral("\r\nЗаписано %1 из %2 частей. %3 в приборе неполны: повторите запись.")
        .arg(written)
        .arg(planned)
        .arg(what);
}

bool EditorWindow::hasRead(HoldingBlock block) const
{
    return device().origins().windowHasRead(objectName(), block.position, block.length,
                                            m_session.selected().key());
}
