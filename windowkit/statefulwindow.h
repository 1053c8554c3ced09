#pragma once

#include <QStringList>
#include <QWidget>

// A settings window whose controls are remembered per device. Each stored property is named
// "Control.Property" with the control's object name and the property's name as the editors know
// it (Checked, ItemIndex, Text, Value, Caption, Color, Visible, Enabled, Items). The window keeps
// its current section; the main window moves it from device to device.
class StatefulWindow : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kFormVersion = 1;

    StatefulWindow(const QString &objectName, const QString &caption, QWidget *parent = nullptr);

    void setStoredProperties(const QStringList &properties) { m_stored = properties; }
    // A window that remembers nothing per device neither stores nor restores on close and show.
    void setPerDevice(bool on) { m_perDevice = on; }
    bool perDevice() const { return m_perDevice; }
    const QStringList &storedProperties() const { return m_stored; }
    // What a "Control.Property" entry stores now; invalid when no such control carries it.
    QVariant storedValue(const QString &entry) const;
    // Also remember whether the window is minimised or maximised.
    void setStoresWindowState(bool on) { m_storesWindowState = on; }

    // A settings group such as "Forms/Device-3".
    QString section() const { return m_section; }
    void setSection(const QString &section) { m_section = section; }

    // Shutdown switches storing off, so that closing the windows stores nothing more.
    void setStoringEnabled(bool on) { m_storingEnabled = on; }
    bool storingEnabled() const { return m_storingEnabled; }

    // The position is stored only once the window has been on screen: a window never shown
    // has no place of its own yet.
    void storeState();
    // A property missing from the section leaves its control unchanged; a stored position that
    // lies off every screen is not used.
    void restoreState();

    static QString deviceSection(int selectedIndex);
    static QString initialSection();

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    QStringList m_stored;
    QString m_section;
    bool m_storingEnabled = true;
    bool m_perDevice = true;
    bool m_storesWindowState = false;
    bool m_everShown = false;
};
