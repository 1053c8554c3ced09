#pragma once

#include "device/devicenode.h"
#include "windowkit/editorwindow.h"

#include <array>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLineEdit;
class QSpinBox;
class QTreeWidget;

// The measurement table a typed path names: its extension replaced by ".dbf", or ".dbf" added.
// Only the file name's own last dot counts, whichever separator the path uses.
QString measurementTableName(const QString &typed);

// "Настройки сети": the workstation's own settings of each device (how it is reached, polled,
// logged and drawn). It changes only the records on this PC; nothing is sent to a device.
class NetworkConfigWindow : public EditorWindow
{
    Q_OBJECT
public:
    static constexpr int kClientWidth = 493;
    static constexpr int kClientHeight = 338;

    NetworkConfigWindow(Session &session, WindowHost &host);

    QTreeWidget *deviceList() const { return m_list; }

    // Makes the device picked in the list the main window's selected device and returns its
    // record; nullptr (after the message) when the list names no device of the main tree any
    // more, and then nothing may be changed.
    DeviceNode *PickDevice(bool *found = nullptr);

    // The settings of the network's device entry at an absolute index, in the controls.
    void showDeviceSettings(int index);

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void buildControls();
    void fillList();
    // Runs a change on the picked device's record and on CurrentDevice when the pick found it.
    template <typename Change> void changePicked(Change change);

    void ComboPortNumChange(int item);
    void EditNetAdrExit();
    void EditPeriodExit();
    void EditArcPathExit();
    void browseArcPath();
    void colourPicked(int channel, int item);
    void setColourPicker(QComboBox *picker, std::uint32_t colour);

    QTreeWidget *m_list = nullptr;
    QGroupBox *m_settings = nullptr;
    QGroupBox *m_chart = nullptr;
    QComboBox *m_port = nullptr;
    QComboBox *m_baud = nullptr;
    QSpinBox *m_address = nullptr;
    QSpinBox *m_period = nullptr;
    QLineEdit *m_arcPath = nullptr;
    QCheckBox *m_cyclic = nullptr;
    QCheckBox *m_updateGraph = nullptr;
    std::array<QCheckBox *, 4> m_shown{};
    std::array<QComboBox *, 4> m_colours{};
};
