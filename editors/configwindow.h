#pragma once

#include "windowkit/editorwindow.h"

#include <QComboBox>

#include <array>
#include <cstdint>
#include <optional>

class NumericField;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class CommonBlock;
class IdentityBlock;
class DeviceNode;

// A list box that says when its list opens and closes; a choice made with the keys while the
// list is closed counts as one opening and closing.
class CloseUpComboBox : public QComboBox
{
    Q_OBJECT
public:
    using QComboBox::QComboBox;
    void showPopup() override;
    void hidePopup() override;

signals:
    void listOpened();
    void listClosed();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;

private:
    bool m_open = false;
};

// "Конфигурация": identity, clock, address and line speed, and the general settings of the
// selected device.
class ConfigWindow : public EditorWindow
{
    Q_OBJECT
public:
    ConfigWindow(Session &session, WindowHost &host);

    // "Читать" and "Записать" through the editor's exchange sequence.
    ExchangeOutcome ButtonConfigReadClick();
    ExchangeOutcome ButtonSaveConfigClick();

    // Line-speed change with the item selected now, and address change with the field's text.
    void changeLineSpeed();
    void changeAddress();

    // An edit of the address or the line speed is under way: the address text when it began is
    // kept for restoring. A scan or a new read of the device's identity ends it.
    bool editPending() const { return m_editPending; }
    // The registration cycle as the archive window read or writes it: one setting, one value.
    void showRegistrationCycle(double cycle);

private:
    void buildControls();
    QWidget *buildIdentityGroup();
    QWidget *buildMeasurementGroup();
    QWidget *buildButtonsGroup();
    QWidget *buildScreensGroup();

    void showScreens();
    void showPasswords();
    void showCommonBlock();
    void composeGeneralSettings(CommonBlock &block) const;
    // The command bodies.
    void ConfigRead(ExchangeRun &run);
    void SaveConfig(ExchangeRun &run);

    void addressKey(QKeyEvent *event, bool *handled);
    void leaveAddressField();
    void checkClockField(QLineEdit *field, bool date);
    void checkDescription();
    void beginEdit();
    void endEdit();
    // Binds the identity fields to what the session describes.
    void followSession();

    bool eventFilter(QObject *watched, QEvent *event) override;

    QLabel *m_type = nullptr;
    QLabel *m_version = nullptr;
    QLabel *m_build = nullptr;
    QLabel *m_serial = nullptr;
    QLabel *m_variant = nullptr;
    QLineEdit *m_description = nullptr;
    QLineEdit *m_date = nullptr;
    QLineEdit *m_time = nullptr;
    QLineEdit *m_address = nullptr;
    CloseUpComboBox *m_speed = nullptr;
    NumericField *m_timeCorrection = nullptr;
    NumericField *m_cycle = nullptr;
    std::array<NumericField *, 3> m_passwords{};
    QCheckBox *m_overlaid = nullptr;
    QCheckBox *m_oneChannel = nullptr;
    QCheckBox *m_thermo = nullptr;
    std::array<QComboBox *, 4> m_functions{};
    std::array<QCheckBox *, 4> m_loops{};
    std::array<QComboBox *, 10> m_screens{};
    QWidget *m_panel = nullptr;
    QPushButton *m_read = nullptr;
    QPushButton *m_save = nullptr;

    // Clock fields typed since the identity was last read; only those reach the device.
    std::optional<std::array<std::uint8_t, 3>> m_typedDate;
    std::optional<std::array<std::uint8_t, 3>> m_typedTime;
    bool m_editPending = false;
    QString m_editStartText;
};
