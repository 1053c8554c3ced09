#pragma once

#include "testtool/hexgridcore.h"

#include <QTableView>

#include <functional>
#include <memory>

class HexGridModel;
class HexGridHeader;

// A grid that shows a block of bytes as cells in one of four notations, with an address column
// and a row of column numbers. Column 0 and row 0 are the fixed ones; data cells count from 1.
class THexGrid : public QTableView
{
    Q_OBJECT
public:
    explicit THexGrid(QWidget *parent = nullptr);
    ~THexGrid() override;

    std::uint32_t BegAddr() const { return m_begAddr; }
    void setBegAddr(std::uint32_t address);
    int GridColCount() const { return m_layout.gridColCount; }
    void setGridColCount(int columns);
    int DataCount() const { return m_layout.dataCount; }
    // Resizes the store; may raise EInvalidGridOperation ("Grid Too Large").
    void setDataCount(int count);
    DataSize dataSize() const { return m_layout.dataSize; }
    void setDataSize(DataSize size);
    std::uint16_t DefaultData() const { return m_store.defaultData(); }
    void setDefaultData(std::uint16_t value);
    int FixColWidth() const { return m_fixColWidth; }
    void setFixColWidth(int width);
    ViewMode viewMode() const { return m_viewMode; }
    void setViewMode(ViewMode mode);

    // Data column width and row height (the fixed row takes the row height too).
    void setDefaultColWidth(int width);
    void setDefaultRowHeight(int height);

    // Shows a caller's block from now on (shared, not copied); handing in the block already
    // shown only renews the count.
    void adoptBlock(std::shared_ptr<ByteBlock> block);
    // Inserts (delta > 0) or removes bytes at a position; the grid follows.
    void changeStoreSize(std::int64_t position, std::int64_t delta);
    const HexStore &store() const { return m_store; }

    // Columns and rows including the fixed ones.
    int ColCount() const { return m_layout.dataColumns() + 1; }
    int RowCount() const { return m_layout.rowCount(); }
    std::int64_t byteIndexAt(int column, int row) const { return m_layout.byteIndex(column, row); }
    // What a cell shows: an address, a column number, nothing in the corner, or a value.
    QString cellText(int column, int row) const;

    // Cell editing, off unless switched on: a typed text is read back in the current notation.
    void setEditing(bool on);
    bool editing() const { return m_editing; }

    // Called after a cell has been drawn (column and row count the fixed ones).
    std::function<void(QPainter &, int column, int row, const QRect &, bool selected)> OnDrawCell;
    // Whether a data cell may be selected.
    std::function<bool(int column, int row)> OnSelectCell;
    std::function<void()> OnTopLeftChanged;
    std::function<QString(int column, int row)> OnGetEditMask;
    std::function<QString(int column, int row)> OnGetEditText;
    std::function<void(int column, int row, const QString &text)> OnSetEditText;

protected:
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex &index,
                                                         const QEvent *event) const override;

private:
    friend class HexGridModel;
    friend class HexGridDelegate;
    friend class HexGridHeader;

    void relayout(); // rows or columns changed
    void repaintCells();
    bool storeCellText(int column, int row, const QString &text);

    HexStore m_store;
    HexLayout m_layout;
    std::uint32_t m_begAddr = 0;
    int m_fixColWidth = 64;
    ViewMode m_viewMode = ViewMode::vmHEX;
    bool m_editing = false;
    HexGridModel *m_model = nullptr;
    HexGridHeader *m_rowHeader = nullptr;
    HexGridHeader *m_columnHeader = nullptr;
};
