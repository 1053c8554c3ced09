#pragma once

#include <QLabel>
#include <QList>
#include <QWidget>

#include "platform/serialdevices.h"

class QComboBox;
class QFileSystemWatcher;
class QLineEdit;
class QTimer;

// Tells every window that shows the device behind a COM number that an assignment changed.
class PortAssignments : public QObject
{
    Q_OBJECT
public:
    static PortAssignments &instance();
    // Stores path as COM n's device ("" removes it) and tells the windows.
    void assign(int portNumber, const QString &path);

signals:
    void changed();
};

// "Назначение портов": for each of COM1..COM8 the serial devices present to choose from and a
// free path field. Choosing stores the device's stable name as the COM number's device; an
// empty field leaves the COM number to the default rule. While the window is shown the list
// follows devices coming and going; hidden, it watches nothing.
class PortAssignmentWindow : public QWidget
{
    Q_OBJECT
public:
    explicit PortAssignmentWindow(QWidget *parent = nullptr);
    ~PortAssignmentWindow() override;

    QComboBox *deviceList(int portNumber) const { return m_rows[portNumber - 1].devices; }
    QLineEdit *pathField(int portNumber) const { return m_rows[portNumber - 1].path; }
    // Reads the devices present again and shows them (also run when the watched folders change).
    void refreshDevices();

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    struct Row
    {
        QComboBox *devices = nullptr;
        QLineEdit *path = nullptr;
    };
    void chooseDevice(int portNumber, int item);
    void pathEdited(int portNumber);
    void showAssignment(int portNumber);
    void watchFolders();

    QList<Row> m_rows;
    QList<SerialDevice> m_present;
    QLabel *m_summary = nullptr;
    QFileSystemWatcher *m_watcher = nullptr;
    QTimer *m_settle = nullptr;
};

// The device behind a COM chooser (items "COM1", "COM2", ...): the name it is opened by, or
// "нет устройства" in grey when nothing is there. Follows the chooser and the assignments.
class PortDeviceLabel : public QLabel
{
    Q_OBJECT
public:
    PortDeviceLabel(QComboBox *chooser, QWidget *parent);
    void refresh();

protected:
    void showEvent(QShowEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void showElided();

    QComboBox *m_chooser;
    QString m_full;
};
