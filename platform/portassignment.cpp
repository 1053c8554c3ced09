#include "platform/portassignment.h"

#include "platform/portpath.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QGridLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr int kSettleMs = 300; // udev makes a converter's nodes and links one after another

QString deviceItemText(const SerialDevice &device)
{
    const QString name = QFileInfo(device.stableName).fileName();
    return device.description.isEmpty() ? name
                                        : QStringLiteral("%1 — %2").arg(name, device.description);
}

} // namespace

PortAssignments &PortAssignments::instance()
{
    static PortAssignments notifier;
    return notifier;
}

void PortAssignments::assign(int portNumber, const QString &path)
{
    if (assignedPort(portNumber) == path.trimmed())
        return;
    setAssignedPort(portNumber, path);
    emit changed();
}

PortAssignmentWindow::PortAssignmentWindow(QWidget *parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("frmPortAssignment"));
    setWindowTitle(QStringLiteral("Назначение портов"));
    setAttribute(Qt::WA_QuitOnClose, false);
    auto *column = new QVBoxLayout(this);
    auto *grid = new QGridLayout;
    grid->addWidget(new QLabel(QStringLiteral("Порт"), this), 0, 0);
    grid->addWidget(new QLabel(QStringLiteral("Устройство"), this), 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("Путь"), this), 0, 2);
    for (int n = 1; n <= kAssignablePorts; ++n) {
        Row row;
        row.devices = new QComboBox(this);
        row.devices->setObjectName(QStringLiteral("ComboPortDevice%1").arg(n));
        row.devices->setMinimumWidth(300);
        row.devices->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        row.path = new QLineEdit(this);
        row.path->setObjectName(QStringLiteral("EditPortPath%1").arg(n));
        row.path->setMinimumWidth(260);
        row.path->setPlaceholderText(QStringLiteral("по умолчанию: %1").arg(portDevicePath(n)));
        grid->addWidget(new QLabel(portDisplayName(n), this), n, 0);
        grid->addWidget(row.devices, n, 1);
        grid->addWidget(row.path, n, 2);
        connect(row.devices, &QComboBox::activated, this,
                [this, n](int item) { chooseDevice(n, item); });
        connect(row.path, &QLineEdit::editingFinished, this, [this, n] { pathEdited(n); });
        m_rows.append(row);
    }
    column->addLayout(grid);
    m_summary = new QLabel(this);
    m_summary->setObjectName(QStringLiteral("StaticDevices"));
    m_summary->setWordWrap(true);
    column->addWidget(m_summary);
    auto *close = new QPushButton(QStringLiteral("Закрыть"), this);
    close->setObjectName(QStringLiteral("ButtonClose"));
    connect(close, &QPushButton::clicked, this, &QWidget::close);
    column->addWidget(close, 0, Qt::AlignRight);

    m_settle = new QTimer(this);
    m_settle->setSingleShot(true);
    m_settle->setInterval(kSettleMs);
    connect(m_settle, &QTimer::timeout, this, &PortAssignmentWindow::refreshDevices);
    connect(&PortAssignments::instance(), &PortAssignments::changed, this, [this] {
        for (int n = 1; n <= kAssignablePorts; ++n)
            showAssignment(n);
    });
    refreshDevices();
}

void PortAssignmentWindow::refreshDevices()
{
    m_present = listSerialDevices(serialRoot());
    for (int n = 1; n <= kAssignablePorts; ++n) {
        QComboBox *list = m_rows[n - 1].devices;
        const QSignalBlocker quiet(list);
        list->clear();
        list->addItem(QStringLiteral("не назначено"));
        for (const SerialDevice &device : std::as_const(m_present)) {
            list->addItem(deviceItemText(device), device.stableName);
            list->setItemData(list->count() - 1,
                              device.stableName + QStringLiteral(" → ") + device.device,
                              Qt::ToolTipRole);
        }
        showAssignment(n);
    }
    m_summary->setText(
        m_present.isEmpty()
            ? QStringLiteral("Последовательные устройства не найдены.")
            : QStringLiteral("Найдено последовательных устройств: %1").arg(m_present.size()));
    if (m_watcher)
        watchFolders();
}

void PortAssignmentWindow::showAssignment(int portNumber)
{
    const Row &row = m_rows[portNumber - 1];
    const QString assigned = assignedPort(portNumber);
    const QSignalBlocker quietList(row.devices);
    const QSignalBlocker quietPath(row.path);
    row.path->setText(assigned);
    int item = assigned.isEmpty() ? 0 : row.devices->findData(assigned);
    // An assigned device that is not here now stays listed, so the choice is still seen.
    if (item < 0) {
        row.devices->addItem(QStringLiteral("%1 — нет устройства").arg(assigned), assigned);
        item = row.devices->count() - 1;
    }
    row.devices->setCurrentIndex(item);
}

PortAssignmentWindow::~PortAssignmentWindow()
{
    // A field that loses the focus as it goes would otherwise store its text from a window
    // whose rows are already gone.
    for (const Row &row : std::as_const(m_rows)) {
        row.devices->disconnect(this);
        row.path->disconnect(this);
    }
}

void PortAssignmentWindow::chooseDevice(int portNumber, int item)
{
    PortAssignments::instance().assign(portNumber,
                                       m_rows[portNumber - 1].devices->itemData(item).toString());
    showAssignment(portNumber);
}

void PortAssignmentWindow::pathEdited(int portNumber)
{
    PortAssignments::instance().assign(portNumber, m_rows[portNumber - 1].path->text());
    showAssignment(portNumber);
}

void PortAssignmentWindow::watchFolders()
{
    // /dev itself tells when a node comes or goes; the by-id folder may not exist before the
    // first converter is plugged in. sysfs gives no such notice, so it is only read.
    const QString root = serialRoot();
    QStringList folders;
    for (const char *relative : {"dev", "dev/serial", "dev/serial/by-id"}) {
        const QString folder = QDir::cleanPath(root + QLatin1Char('/') + QLatin1String(relative));
        if (QFileInfo(folder).isDir())
            folders.append(folder);
    }
    const QStringList watched = m_watcher->directories();
    for (const QString &folder : std::as_const(folders)) {
        if (!watched.contains(folder))
            m_watcher->addPath(folder);
    }
}

void PortAssignmentWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!m_watcher) {
        m_watcher = new QFileSystemWatcher(this);
        connect(m_watcher, &QFileSystemWatcher::directoryChanged, m_settle,
                qOverload<>(&QTimer::start));
    }
    refreshDevices();
}

void PortAssignmentWindow::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    delete m_watcher;
    m_watcher = nullptr;
    m_settle->stop();
}

PortDeviceLabel::PortDeviceLabel(QComboBox *chooser, QWidget *parent)
    : QLabel(parent), m_chooser(chooser)
{
    setObjectName(chooser->objectName() + QStringLiteral("Device"));
    setTextInteractionFlags(Qt::TextSelectableByMouse);
    connect(chooser, &QComboBox::currentIndexChanged, this, &PortDeviceLabel::refresh);
    connect(chooser, &QComboBox::currentTextChanged, this, &PortDeviceLabel::refresh);
    connect(&PortAssignments::instance(), &PortAssignments::changed, this,
            &PortDeviceLabel::refresh);
    refresh();
}

void PortDeviceLabel::refresh()
{
    const QString typed = m_chooser->currentText().trimmed();
    const QString path = resolvePortName(typed);
    const bool present = !path.isEmpty() && QFileInfo::exists(path);
    m_full = present ? path : QStringLiteral("нет устройства");
    setToolTip(present ? path : QStringLiteral("%1: нет устройства").arg(path));
    // Grey for a port with nothing behind it; the palette's own colour otherwise.
    setStyleSheet(present ? QString() : QStringLiteral("color: grey"));
    showElided();
}

void PortDeviceLabel::showElided()
{
    // A stable name says most at its end (maker, product, serial number, interface).
    setText(fontMetrics().elidedText(m_full, Qt::ElideLeft, std::max(width(), 40)));
}

void PortDeviceLabel::showEvent(QShowEvent *event)
{
    QLabel::showEvent(event);
    refresh();
}

void PortDeviceLabel::resizeEvent(QResizeEvent *event)
{
    QLabel::resizeEvent(event);
    showElided();
}
