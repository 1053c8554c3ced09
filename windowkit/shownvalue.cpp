#include "windowkit/shownvalue.h"

#include <QEvent>
#include <QLabel>

namespace {

const char *const kPublisherName = "shownValuePublisher";

// QLabel tells nobody when its text changes, but it repaints: the text is compared then, and
// when its window is shown (a hidden window paints nothing).
class ShownValuePublisher : public QObject
{
public:
    explicit ShownValuePublisher(QLabel *label) : QObject(label), m_label(label)
    {
        setObjectName(QLatin1String(kPublisherName));
        label->installEventFilter(this);
    }

    void publish()
    {
        QString value = m_label->text();
        const QString caption = m_label->accessibleName();
        if (!caption.isEmpty() && value.startsWith(caption)) {
            value = value.mid(caption.size()).trimmed();
            while (value.startsWith(QLatin1Char(':')))
                value = value.mid(1).trimmed();
        }
        value = value.trimmed();
        // The setter tells assistive tools of the change.
        if (m_label->accessibleDescription() != value)
            m_label->setAccessibleDescription(value);
    }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == m_label && (event->type() == QEvent::Paint || event->type() == QEvent::Show))
            publish();
        return false;
    }

private:
    QLabel *m_label;
};

} // namespace

QString captionAsName(const QString &caption)
{
    QString name = caption;
    name.remove(QLatin1Char('&'));
    name = name.trimmed();
    while (name.endsWith(QLatin1Char(':')))
        name = name.chopped(1).trimmed();
    return name;
}

void exposeShownValue(QLabel *label, const QString &caption)
{
    if (!caption.isEmpty())
        label->setAccessibleName(caption);
    QObject *found =
        label->findChild<QObject *>(QLatin1String(kPublisherName), Qt::FindDirectChildrenOnly);
    auto *publisher =
        found ? static_cast<ShownValuePublisher *>(found) : new ShownValuePublisher(label);
    publisher->publish();
}
