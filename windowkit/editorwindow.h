#pragma once

#include "device/imagefields.h"
#include "device/registermap.h"
#include "link/modbuslink.h"
#include "platform/messageservice.h"
#include "windowkit/statefulwindow.h"

#include <QList>

#include <cstdint>
#include <functional>

class CommonBlock;
class QLabel;
class QPushButton;
class SelectedDevice;
class Session;
struct SettingsWindowKind;
class WindowHost;

// Counts the failed exchanges of one editor command. Every exchange of the sequence is
// attempted; check() takes each result code.
class ExchangeRun
{
public:
    // Returns result unchanged.
    int check(int result)
    {
        if (result != 0) {
            ++m_failures;
            m_lastError = result;
        }
        return result;
    }
    int failures() const { return m_failures; }
    int lastError() const { return m_lastError; }
    // The failure message can depend on what the sequence did (replaces the options' text).
    void setFailureText(const QString &text) { m_failureText = text; }
    const QString &failureText() const { return m_failureText; }
    // The blocks the command read into the window, whether or not each read succeeded.
    void noteRead(HoldingBlock block) { m_reads.append(block); }
    const QList<HoldingBlock> &reads() const { return m_reads; }

private:
    int m_failures = 0;
    int m_lastError = 0;
    QString m_failureText;
    QList<HoldingBlock> m_reads;
};

struct ExchangeOptions
{
    // Take PortMutex around the exchanges (the alarm and program editors); without it within
    // mutexTimeoutMs the command does nothing.
    bool takePortMutex = false;
    int mutexTimeoutMs = 3000;
    // The one message box after a sequence with failures.
    QString failureText = QStringLiteral("Ошибка обмена с устройством");
    QString failureCaption = QStringLiteral("Ошибка обмена");
    // Shown after a sequence without failures, when not empty (information icon).
    QString successText;
    QString successCaption;
    // Controls disabled while the command runs, besides every editor's command panels.
    QList<QWidget *> busy;
    // The blocks the command writes from the window's controls. Unless the window read each of
    // them from the selected device (readSettings), the command says so and does nothing: the
    // controls would otherwise send whatever they happen to show to this device.
    QList<HoldingBlock> writesFromControls;
    // The command reads the device's settings into the controls. Its blocks count as read from
    // the selected device only when every exchange of the command succeeded: a read that failed
    // part way leaves controls of two origins, and those blocks count as unread from then on.
    bool readsControls = false;
    // Runs after a sequence in which every exchange succeeded.
    std::function<void()> afterSuccess;
};

enum class ExchangeOutcome {
    Done,       // every exchange succeeded
    Failed,     // at least one failed; the message box was shown
    Declined,   // the user kept polling running
    Deferred,   // runs once the poll tick under way has ended
    PortLocked, // PortMutex not had in time; the user was told
    NotRead     // the blocks to write were not read from this device here; the user was told
};

// A settings window of the selected device. It declares the command panels that are locked
// while any exchange runs, the controls it remembers per device (its stored-state list), and
// runs its commands through one exchange sequence: refuse a write of blocks not read here from
// this device, ConfirmStopPolling, lock the panels, optionally take PortMutex, run the reads or
// writes counting failures, one message box, unlock (also when an error travels through).
class EditorWindow : public StatefulWindow
{
    Q_OBJECT
public:
    EditorWindow(Session &session, WindowHost &host, const QString &objectName,
                 const QString &caption, QWidget *parent,
                 Qt::WindowFlags flags = Qt::WindowFlags());
    // A settings window of the selected device, over the host's main window: its names and the
    // controls it remembers per device come from its kind.
    EditorWindow(Session &session, WindowHost &host, const SettingsWindowKind &kind,
                 Qt::WindowFlags flags = Qt::WindowFlags());

    Session &session() const { return m_session; }
    // The device the window's commands go to.
    SelectedDevice &device() const;
    WindowHost &host() const { return m_host; }

    const QList<QWidget *> &commandPanels() const { return m_panels; }
    // Remembers controls per device: it has a stored-state list.
    bool remembersPerDevice() const { return !storedProperties().isEmpty(); }

    // Enables or disables the declared panels (what SetEditorPanelsEnabled does to each window).
    void setCommandPanelsEnabled(bool on);

    // The exchange sequence of a command; body runs the exchanges and checks each result.
    ExchangeOutcome runExchange(const ExchangeOptions &options,
                                const std::function<void(ExchangeRun &)> &body);

    // The exchanges of a command body, each checked into the run. A block read with
    // readSettings in a command that readsControls counts as read by this window from the
    // selected device once the whole command succeeded.
    int readSettings(ExchangeRun &run, HoldingBlock block);
    int writeSettings(ExchangeRun &run, HoldingBlock block);
    int readData(ExchangeRun &run, std::uint16_t bytePosition, std::uint16_t byteLength);
    // Bytes the window does not edit but writes back: read from the device first unless the
    // image already holds the device's own.
    int ensureOwn(ExchangeRun &run, HoldingBlock block);
    // The window's fields of the shared common block (Session::writeCommonBlock).
    int writeCommonBlock(ExchangeRun &run, const std::function<void(CommonBlock &)> &edit);
    // Whether this window read the block from the selected device.
    bool hasRead(HoldingBlock block) const;
    // The line under the controls: which device the fields were last read from, and when, for
    // the selected device ("Не прочитано" when this window has not read from it).
    void showReadOrigin();
    QString readOriginText() const;
    // The link's count of write requests, and what to add to a failure message when part of a
    // write of several requests reached the device since `before`: how many, and that the
    // device now holds some new and some former settings (what: "Программы", "Настройки").
    ModbusLink::WriteTally writeTally() const;
    QString partialWriteNote(ModbusLink::WriteTally before, const QString &what) const;

    // The block's own bytes in the holding image, for its codec.
    template <std::size_t N> std::span<std::uint8_t, N> imageBlock(HoldingBlock block) const
    {
        return field::block<N>(holdingImage(), block.position);
    }
    std::span<std::uint8_t> holdingImage() const;

protected:
    // The panel with a settings window's "Читать" and "Записать", at its right end; a click on
    // either runs its command.
    struct ReadWritePanel
    {
        QWidget *panel;
        QPushButton *read;
        QPushButton *write;
    };
    ReadWritePanel makeReadWritePanel(QWidget *parent, const QString &panelName,
                                      const QString &readName, const QString &writeName,
                                      std::function<void()> read, std::function<void()> write);

    bool event(QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    // A window whose fields are not read from a device (the network's own settings) has no
    // line of their origin.
    void setShowsReadOrigin(bool on) { m_showsReadOrigin = on; }
    void declareCommandPanels(const QList<QWidget *> &panels) { m_panels = panels; }
    // The controls remembered per device, as "Control.Property"; a window that declares none
    // remembers nothing.
    void declareStoredState(const QStringList &properties);

private:
    // What a command that readsControls leaves behind: its blocks read, or unread after a failure.
    void recordReads(const ExchangeRun &run, bool whole);

    Session &m_session;
    WindowHost &m_host;
    QList<QWidget *> m_panels;
    bool m_showsReadOrigin = true;
    QLabel *m_readOrigin = nullptr;
};
