#include "windowkit/statefulwindow.h"

#include "platform/settings.h"
#include "windowkit/secondarywindow.h"

#include <QAbstractButton>
#include <QCloseEvent>
#include <QComboBox>
#include <QGuiApplication>
#include <QScreen>

#include <algorithm>

namespace {

// Delphi-style property names of the editors mapped onto what the Qt control carries.
QVariant readProperty(QWidget *control, const QString &name)
{
    if (name == QLatin1String("Items")) {
        auto *combo = qobject_cast<QComboBox *>(control);
        if (!combo)
            return {};
        QStringList items;
        for (int i = 0; i < combo->count(); ++i)
            items.append(combo->itemText(i));
        return items;
    }
    if (name == QLatin1String("Color"))
        return control->palette().color(control->backgroundRole()).name(QColor::HexArgb);
    if (name == QLatin1String("Visible"))
        return !control->isHidden();
    if (name == QLatin1String("Enabled"))
        return !control->testAttribute(Qt::WA_ForceDisabled);
    if (name == QLatin1String("Checked"))
        return control->property("checked");
    if (name == QLatin1String("ItemIndex"))
        return control->property("currentIndex");
    if (name == QLatin1String("Value"))
        return control->property("value");
    if (name == QLatin1String("Text") || name == QLatin1String("Caption")) {
        const QVariant text = control->property("text");
        return text.isValid() ? text : control->property("title");
    }
    return {};
}

void writeProperty(QWidget *control, const QString &name, const QVariant &value)
{
    if (name == QLatin1String("Items")) {
        if (auto *combo = qobject_cast<QComboBox *>(control)) {
            const int index = combo->currentIndex();
            combo->clear();
            combo->addItems(value.toStringList());
            combo->setCurrentIndex(std::min(index, combo->count() - 1));
        }
    } else if (name == QLatin1String("Color")) {
        const QColor colour(value.toString());
        if (colour.isValid()) {
            QPalette p = control->palette();
            p.setColor(control->backgroundRole(), colour);
            control->setPalette(p);
            control->setAutoFillBackground(true);
        }
    } else if (name == QLatin1String("Visible")) {
        control->setVisible(value.toBool());
    } else if (name == QLatin1String("Enabled")) {
        control->setEnabled(value.toBool());
    } else if (name == QLatin1String("Checked")) {
        control->setProperty("checked", value.toBool());
    } else if (name == QLatin1String("ItemIndex")) {
        control->setProperty("currentIndex", value.toInt());
    } else if (name == QLatin1String("Value")) {
        control->setProperty("value", value); // converted to the control's own number type
    } else if (name == QLatin1String("Text") || name == QLatin1String("Caption")) {
        if (control->property("text").isValid())
            control->setProperty("text", value.toString());
        else
            control->setProperty("title", value.toString());
    }
}

// A window whose title bar could not be reached on any screen is as good as lost.
bool isOnScreen(const QRect &frame)
{
    const QRect titleBar(frame.topLeft(), QSize(frame.width(), 20));
    const auto screens = QGuiApplication::screens();
    return std::any_of(screens.begin(), screens.end(), [&](const QScreen *screen) {
        return screen->availableGeometry().intersects(titleBar);
    });
}

} // namespace

StatefulWindow::StatefulWindow(const QString &objectName, const QString &caption, QWidget *parent)
    : QWidget(parent, Qt::Window), m_section(initialSection())
{
    // Closing a settings window never ends the program; only the main window does. Its
    // placement on opening, its keys and what assistive tools see are every secondary window's.
    makeSecondaryWindow(this, objectName, caption);
}

QString StatefulWindow::deviceSection(int selectedIndex)
{
    return QStringLiteral("Forms/Device-%1").arg(selectedIndex);
}

QString StatefulWindow::initialSection()
{
    return QStringLiteral("Forms/Device1");
}

void StatefulWindow::storeState()
{
    auto settings = openSettings();
    settings->beginGroup(m_section + QLatin1Char('/') + objectName());
    settings->setValue(QStringLiteral("FormVersion"), kFormVersion);
    if (m_everShown) {
        settings->setValue(QStringLiteral("Left"), x());
        settings->setValue(QStringLiteral("Top"), y());
    }
    if (m_storesWindowState) {
        const int state = isMinimized() ? 1 : isMaximized() ? 2 : 0;
        settings->setValue(QStringLiteral("WindowState"), state);
    }
    for (const QString &entry : std::as_const(m_stored)) {
        const QVariant value = storedValue(entry);
        if (value.isValid())
            settings->setValue(entry, value);
    }
}

QVariant StatefulWindow::storedValue(const QString &entry) const
{
    const int dot = entry.lastIndexOf(QLatin1Char('.'));
    auto *control = findChild<QWidget *>(entry.left(dot));
    return control ? readProperty(control, entry.mid(dot + 1)) : QVariant();
}

void StatefulWindow::restoreState()
{
    auto settings = openSettings();
    settings->beginGroup(m_section + QLatin1Char('/') + objectName());
    if (settings->contains(QStringLiteral("Left")) && settings->contains(QStringLiteral("Top"))) {
        const QPoint place(settings->value(QStringLiteral("Left")).toInt(),
                           settings->value(QStringLiteral("Top")).toInt());
        if (isOnScreen(QRect(place, frameSize())))
            move(place);
    }
    if (m_storesWindowState && settings->contains(QStringLiteral("WindowState"))) {
        const int state = settings->value(QStringLiteral("WindowState")).toInt();
        setWindowState(state == 1   ? Qt::WindowMinimized
                       : state == 2 ? Qt::WindowMaximized
                                    : Qt::WindowNoState);
    }
    for (const QString &entry : std::as_const(m_stored)) {
        if (!settings->contains(entry))
            continue;
        const int dot = entry.lastIndexOf(QLatin1Char('.'));
        if (auto *control = findChild<QWidget *>(entry.left(dot)))
            writeProperty(control, entry.mid(dot + 1), settings->value(entry));
    }
}

void StatefulWindow::showEvent(QShowEvent *event)
{
    if (!event->spontaneous() && m_perDevice) {
        // Opening places the window over the main window; the stored place is for switching
        // devices while it is open.
        const QPoint place = pos();
        restoreState();
        move(place);
        m_everShown = true;
    }
    QWidget::showEvent(event);
}

void StatefulWindow::closeEvent(QCloseEvent *event)
{
    if (m_storingEnabled && m_perDevice)
        storeState();
    QWidget::closeEvent(event);
}
