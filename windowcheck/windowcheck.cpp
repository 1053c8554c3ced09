#include "windowcheck/windowcheck.h"

#include <QAbstractButton>
#include <QAbstractItemModel>
#include <QAbstractScrollArea>
#include <QAbstractSpinBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QPushButton>
#include <QScrollBar>
#include <QStatusBar>
#include <QStyle>
#include <QStyleOption>
#include <QTabBar>
#include <QTableWidget>
#include <QTextDocument>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>

namespace {

QString nameOf(const QWidget *w)
{
    const QString name = w->objectName();
    return name.isEmpty() ? QString::fromLatin1(w->metaObject()->className()) : name;
}

QString pathOf(const QWidget *w, const QWidget *window)
{
    QStringList parts;
    for (const QWidget *p = w; p && p != window; p = p->parentWidget())
        parts.prepend(nameOf(p));
    return nameOf(window) + QLatin1Char('/') + parts.join(QLatin1Char('/'));
}

// A tool tip that carries the whole text makes a cut text readable.
bool toolTipHolds(const QString &toolTip, const QString &text)
{
    QString plain = text;
    plain.remove(QLatin1Char('&'));
    return !plain.trimmed().isEmpty() && toolTip.contains(plain.trimmed());
}

int textWidth(const QFontMetrics &metrics, const QString &text)
{
    int widest = 0;
    for (const QString &line : text.split(QLatin1Char('\n')))
        widest = std::max(widest, metrics.horizontalAdvance(line));
    return widest;
}

// Controls whose parts are the toolkit's own: their insides are not looked into.
bool isCompound(const QWidget *w)
{
    return qobject_cast<const QAbstractSpinBox *>(w) || qobject_cast<const QComboBox *>(w) ||
           qobject_cast<const QAbstractScrollArea *>(w) || qobject_cast<const QTabBar *>(w) ||
           qobject_cast<const QMenuBar *>(w) || qobject_cast<const QScrollBar *>(w);
}

void checkItemTexts(const QAbstractItemView *view, const QWidget *window, QStringList &faults)
{
    const QAbstractItemModel *model = view->model();
    if (!model)
        return;
    const QRect shown = view->viewport()->rect();
    QList<QModelIndex> pending;
    for (int r = 0; r < model->rowCount(); ++r)
        pending.append(model->index(r, 0));
    while (!pending.isEmpty()) {
        const QModelIndex index = pending.takeFirst();
        for (int r = 0; r < model->rowCount(index); ++r)
            pending.append(model->index(r, 0, index));
        for (int c = 0; c < model->columnCount(index.parent()); ++c) {
            const QModelIndex cell = index.siblingAtColumn(c);
            const QRect rect = view->visualRect(cell);
            if (!rect.isValid() || !shown.intersects(rect))
                continue;
            const QString text = cell.data(Qt::DisplayRole).toString();
            if (text.isEmpty() || toolTipHolds(cell.data(Qt::ToolTipRole).toString(), text))
                continue;
            const int icon = cell.data(Qt::DecorationRole).isNull() ? 0
                             : view->iconSize().width() > 0         ? view->iconSize().width() + 4
                                                                    : 20;
            const int needed = textWidth(view->fontMetrics(), text) + icon + 2;
            // Only the part inside the viewport can be read.
            const int room = std::min(rect.right(), shown.right()) - rect.left() + 1;
            if (needed > room)
                faults << QStringLiteral("%1: entry \"%2\" needs %3 px, has %4")
                              .arg(pathOf(view, window), text)
                              .arg(needed)
                              .arg(room);
        }
    }
}

void checkHeader(const QHeaderView *header, const QWidget *window, QStringList &faults)
{
    if (!header->isVisible() || !header->model())
        return;
    const QAbstractItemModel *model = header->model();
    const int count =
        header->orientation() == Qt::Horizontal ? model->columnCount() : model->rowCount();
    for (int s = 0; s < count; ++s) {
        if (header->isSectionHidden(s))
            continue;
        const QString text = model->headerData(s, header->orientation()).toString();
        if (text.isEmpty() ||
            toolTipHolds(model->headerData(s, header->orientation(), Qt::ToolTipRole).toString(),
                         text))
            continue;
        const int room =
            header->orientation() == Qt::Horizontal ? header->sectionSize(s) : header->width();
        const int needed = textWidth(header->fontMetrics(), text);
        if (needed > room)
            faults << QStringLiteral("%1: header \"%2\" needs %3 px, has %4")
                          .arg(pathOf(header, window), text)
                          .arg(needed)
                          .arg(room);
    }
}

void checkText(QWidget *w, const QWidget *window, QStringList &faults)
{
    QString text;
    int room = w->width();
    int needed = 0;
    if (auto *label = qobject_cast<QLabel *>(w)) {
        if (label->wordWrap() || !label->pixmap().isNull() || label->textFormat() == Qt::RichText ||
            (label->textFormat() == Qt::AutoText && Qt::mightBeRichText(label->text())))
            return;
        text = label->text();
        room = label->contentsRect().width() - 2 * label->margin() - std::max(0, label->indent());
        needed = textWidth(label->fontMetrics(), text);
    } else if (auto *button = qobject_cast<QAbstractButton *>(w)) {
        text = button->text();
        if (text.isEmpty())
            return;
        if (qobject_cast<QPushButton *>(w)) {
            // The style's own size hint pads generously; the text needs its margins only.
            QString shown = text;
            shown.remove(QLatin1Char('&'));
            needed = textWidth(button->fontMetrics(), shown) +
                     2 * button->style()->pixelMetric(QStyle::PM_ButtonMargin, nullptr, button) +
                     (button->icon().isNull() ? 0 : button->iconSize().width() + 4);
        } else if (qobject_cast<QToolButton *>(w)) {
            needed = textWidth(button->fontMetrics(), text) + 4;
        } else {
            needed = button->sizeHint().width();
        }
    } else if (auto *group = qobject_cast<QGroupBox *>(w)) {
        text = group->title();
        needed = textWidth(group->fontMetrics(), text) + 16;
    } else if (auto *edit = qobject_cast<QLineEdit *>(w)) {
        text = edit->text();
        QStyleOptionFrame option;
        option.initFrom(edit);
        room =
            edit->style()->subElementRect(QStyle::SE_LineEditContents, &option, edit).width() - 4;
        needed = textWidth(edit->fontMetrics(), text);
    } else if (auto *combo = qobject_cast<QComboBox *>(w)) {
        text = combo->currentText();
        QStyleOptionComboBox option;
        option.initFrom(combo);
        room =
            combo->style()
                ->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, combo)
                .width();
        needed = textWidth(combo->fontMetrics(), text) + 4;
    }
    if (text.isEmpty() || needed <= room || toolTipHolds(w->toolTip(), text))
        return;
    faults << QStringLiteral("%1: text \"%2\" needs %3 px, has %4")
                  .arg(pathOf(w, window), text)
                  .arg(needed)
                  .arg(room);
}

void checkChildren(QWidget *parent, const QWidget *window, QStringList &faults)
{
    QList<QWidget *> shown;
    for (QWidget *child : parent->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
        if (!child->isWindow() && child->isVisible())
            shown.append(child);
    }
    const auto *area = qobject_cast<const QAbstractScrollArea *>(parent->parentWidget());
    const bool scrolled = area && area->viewport() == parent;
    for (QWidget *child : std::as_const(shown)) {
        if (!scrolled && !parent->rect().contains(child->geometry()))
            faults << QStringLiteral("%1: lies outside its parent (%2,%3 %4x%5 in %6x%7)")
                          .arg(pathOf(child, window))
                          .arg(child->x())
                          .arg(child->y())
                          .arg(child->width())
                          .arg(child->height())
                          .arg(parent->width())
                          .arg(parent->height());
        checkText(child, window, faults);
        if (auto *view = qobject_cast<QAbstractItemView *>(child)) {
            checkItemTexts(view, window, faults);
            if (auto *tree = qobject_cast<QTreeView *>(child))
                checkHeader(tree->header(), window, faults);
            if (auto *table = qobject_cast<QTableView *>(child)) {
                checkHeader(table->horizontalHeader(), window, faults);
                checkHeader(table->verticalHeader(), window, faults);
            }
        }
        if (!isCompound(child))
            checkChildren(child, window, faults);
    }
    if (scrolled)
        return;
    for (qsizetype i = 0; i < shown.size(); ++i) {
        for (qsizetype j = i + 1; j < shown.size(); ++j) {
            if (shown[i]->geometry().intersects(shown[j]->geometry()))
                faults << QStringLiteral("%1 and %2 overlap")
                              .arg(pathOf(shown[i], window), nameOf(shown[j]));
        }
    }
}

} // namespace

QStringList checkWindowLayout(QWidget *window)
{
    QStringList faults;
    checkChildren(window, window, faults);
    // A cell or header fault repeats along its row or column; once is enough.
    faults.removeDuplicates();
    return faults;
}
