#include "testtool/hexgrid.h"

#include <QAbstractTableModel>
#include <QHeaderView>
#include <QLineEdit>
#include <QPainter>
#include <QScrollBar>
#include <QStyledItemDelegate>

namespace {

// Cell texts start this far right of and below a cell's top-left corner.
constexpr int kTextInset = 2;

void drawCellText(QPainter &painter, const QRect &rect, const QString &text)
{
    painter.drawText(rect.adjusted(kTextInset, kTextInset, 0, 0), Qt::AlignLeft | Qt::AlignTop,
                     text);
}

} // namespace

class HexGridModel : public QAbstractTableModel
{
public:
    explicit HexGridModel(THexGrid *grid) : QAbstractTableModel(grid), m_grid(grid) {}

    int rowCount(const QModelIndex &parent = {}) const override
    {
        return parent.isValid() ? 0 : m_grid->RowCount() - 1;
    }
    int columnCount(const QModelIndex &parent = {}) const override
    {
        return parent.isValid() ? 0 : m_grid->ColCount() - 1;
    }
    QVariant data(const QModelIndex &index, int role) const override
    {
        if (!index.isValid())
            return {};
        const int column = index.column() + 1;
        const int row = index.row() + 1;
        if (role == Qt::DisplayRole)
            return m_grid->cellText(column, row);
        if (role == Qt::EditRole) {
            return m_grid->OnGetEditText ? m_grid->OnGetEditText(column, row)
                                         : m_grid->cellText(column, row);
        }
        return {};
    }
    bool setData(const QModelIndex &index, const QVariant &value, int role) override
    {
        if (!index.isValid() || role != Qt::EditRole)
            return false;
        if (!m_grid->storeCellText(index.column() + 1, index.row() + 1, value.toString()))
            return false;
        emit dataChanged(index, index);
        return true;
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        if (role != Qt::DisplayRole)
            return {};
        return orientation == Qt::Horizontal ? m_grid->cellText(section + 1, 0)
                                             : m_grid->cellText(0, section + 1);
    }
    Qt::ItemFlags flags(const QModelIndex &index) const override
    {
        Qt::ItemFlags f = QAbstractTableModel::flags(index);
        if (m_grid->editing())
            f |= Qt::ItemIsEditable;
        return f;
    }
    void reset()
    {
        beginResetModel();
        endResetModel();
    }

private:
    THexGrid *m_grid;
};

class HexGridDelegate : public QStyledItemDelegate
{
public:
    explicit HexGridDelegate(THexGrid *grid) : QStyledItemDelegate(grid), m_grid(grid) {}

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override
    {
        const bool selected = option.state & QStyle::State_Selected;
        painter->save();
        if (selected) {
            painter->fillRect(option.rect, Qt::blue);
            painter->setPen(Qt::white);
        } else {
            painter->setPen(option.palette.color(QPalette::Text));
        }
        drawCellText(*painter, option.rect, index.data(Qt::DisplayRole).toString());
        painter->restore();
        if (m_grid->OnDrawCell)
            m_grid->OnDrawCell(*painter, index.column() + 1, index.row() + 1, option.rect,
                               selected);
    }

    QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &,
                          const QModelIndex &index) const override
    {
        auto *edit = new QLineEdit(parent);
        edit->setFrame(false);
        if (m_grid->OnGetEditMask)
            edit->setInputMask(m_grid->OnGetEditMask(index.column() + 1, index.row() + 1));
        return edit;
    }

private:
    THexGrid *m_grid;
};

// The fixed column (addresses) and the fixed row (column numbers), drawn like the data cells.
class HexGridHeader : public QHeaderView
{
public:
    HexGridHeader(Qt::Orientation orientation, THexGrid *grid)
        : QHeaderView(orientation, grid), m_grid(grid)
    {
    }

protected:
    void paintSection(QPainter *painter, const QRect &rect, int logicalIndex) const override
    {
        painter->save();
        painter->fillRect(rect, palette().button());
        painter->setPen(palette().color(QPalette::Mid));
        painter->drawLine(rect.topRight(), rect.bottomRight());
        painter->drawLine(rect.bottomLeft(), rect.bottomRight());
        painter->setPen(palette().color(QPalette::ButtonText));
        const int column = orientation() == Qt::Horizontal ? logicalIndex + 1 : 0;
        const int row = orientation() == Qt::Horizontal ? 0 : logicalIndex + 1;
        drawCellText(*painter, rect, m_grid->cellText(column, row));
        painter->restore();
        if (m_grid->OnDrawCell)
            m_grid->OnDrawCell(*painter, column, row, rect, false);
    }

private:
    THexGrid *m_grid;
};

THexGrid::THexGrid(QWidget *parent) : QTableView(parent)
{
    m_model = new HexGridModel(this);
    m_rowHeader = new HexGridHeader(Qt::Vertical, this);
    m_columnHeader = new HexGridHeader(Qt::Horizontal, this);
    setVerticalHeader(m_rowHeader);
    setHorizontalHeader(m_columnHeader);
    setModel(m_model);
    setItemDelegate(new HexGridDelegate(this));
    setCornerButtonEnabled(false);
    setSelectionMode(QAbstractItemView::ContiguousSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setWordWrap(false);
    for (QHeaderView *h :
         {static_cast<QHeaderView *>(m_rowHeader), static_cast<QHeaderView *>(m_columnHeader)}) {
        h->setSectionResizeMode(QHeaderView::Interactive);
        h->setHighlightSections(false);
        h->setMinimumSectionSize(4);
    }
    m_columnHeader->setDefaultSectionSize(64);
    m_rowHeader->setDefaultSectionSize(24);
    m_columnHeader->setFixedHeight(24);
    m_rowHeader->setFixedWidth(m_fixColWidth);
    connect(horizontalScrollBar(), &QScrollBar::valueChanged, this, [this] {
        if (OnTopLeftChanged)
            OnTopLeftChanged();
    });
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, [this] {
        if (OnTopLeftChanged)
            OnTopLeftChanged();
    });
    m_store.resize(m_layout.dataCount);
    relayout();
}

THexGrid::~THexGrid() = default;

void THexGrid::setBegAddr(std::uint32_t address)
{
    m_begAddr = address;
    repaintCells();
}

void THexGrid::setGridColCount(int columns)
{
    m_layout.gridColCount = columns;
    relayout();
}

void THexGrid::setDataCount(int count)
{
    const int wanted = count > 0 ? count : 1;
    if (wanted == m_layout.dataCount && m_store.count() == wanted)
        return;
    m_store.resize(wanted);
    m_layout.dataCount = wanted;
    relayout();
}

void THexGrid::setDataSize(DataSize size)
{
    m_layout.dataSize = size;
    relayout();
}

void THexGrid::setDefaultData(std::uint16_t value)
{
    m_store.setDefaultData(value);
    m_store.resize(m_layout.dataCount);
    relayout();
}

void THexGrid::setFixColWidth(int width)
{
    m_fixColWidth = width;
    m_rowHeader->setFixedWidth(width);
}

void THexGrid::setViewMode(ViewMode mode)
{
    m_viewMode = mode;
    repaintCells();
}

void THexGrid::setDefaultColWidth(int width)
{
    m_columnHeader->setDefaultSectionSize(width);
    for (int i = 0; i < m_columnHeader->count(); ++i)
        m_columnHeader->resizeSection(i, width);
}

void THexGrid::setDefaultRowHeight(int height)
{
    m_rowHeader->setDefaultSectionSize(height);
    m_columnHeader->setFixedHeight(height);
    for (int i = 0; i < m_rowHeader->count(); ++i)
        m_rowHeader->resizeSection(i, height);
}

void THexGrid::adoptBlock(std::shared_ptr<ByteBlock> block)
{
    m_store.adopt(std::move(block));
    m_layout.dataCount = m_store.count() > 0 ? m_store.count() : 1;
    relayout();
}

void THexGrid::changeStoreSize(std::int64_t position, std::int64_t delta)
{
    m_store.changeSize(position, delta);
    m_layout.dataCount = m_store.count() > 0 ? m_store.count() : 1;
    relayout();
}

QString THexGrid::cellText(int column, int row) const
{
    if (column == 0 && row == 0)
        return {};
    if (column == 0)
        return addressText(m_layout.rowAddress(row, m_begAddr));
    if (row == 0)
        return headerText(column);
    const std::int64_t index = m_layout.byteIndex(column, row);
    return formatCell(cellValue(m_store, index, m_layout.dataSize), m_viewMode, m_layout.dataSize);
}

void THexGrid::setEditing(bool on)
{
    m_editing = on;
    setEditTriggers(on ? QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                             QAbstractItemView::AnyKeyPressed
                       : QAbstractItemView::NoEditTriggers);
}

bool THexGrid::storeCellText(int column, int row, const QString &text)
{
    if (OnSetEditText)
        OnSetEditText(column, row, text);
    const auto value = parseCell(text, m_viewMode, m_layout.dataSize);
    if (!value)
        return false;
    const std::int64_t index = m_layout.byteIndex(column, row);
    if (m_layout.dataSize == DataSize::dsByte) {
        m_store.setByte(index, std::uint8_t(*value));
    } else {
        m_store.setByte(index, std::uint8_t(*value >> 8));
        m_store.setByte(index + 1, std::uint8_t(*value));
    }
    return true;
}

QItemSelectionModel::SelectionFlags THexGrid::selectionCommand(const QModelIndex &index,
                                                               const QEvent *event) const
{
    if (index.isValid() && OnSelectCell && !OnSelectCell(index.column() + 1, index.row() + 1))
        return QItemSelectionModel::NoUpdate;
    return QTableView::selectionCommand(index, event);
}

void THexGrid::relayout()
{
    m_model->reset();
    viewport()->update();
}

void THexGrid::repaintCells()
{
    viewport()->update();
    m_rowHeader->viewport()->update();
    m_columnHeader->viewport()->update();
}
