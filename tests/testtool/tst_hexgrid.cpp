// The hex grid widget: properties and defaults, the shared block, editing, selection and drawing.

#include "testtool/hexgrid.h"

#include <QHeaderView>
#include <QImage>
#include <QTest>

namespace {

std::shared_ptr<ByteBlock> blockOf(const QByteArray &bytes, int count)
{
    auto block = std::make_shared<ByteBlock>();
    block->bytes.assign(bytes.begin(), bytes.end());
    block->count = count;
    return block;
}

} // namespace

class TestHexGrid : public QObject
{
    Q_OBJECT

private slots:
    void freshGrid()
    {
        THexGrid grid;
        QCOMPARE(grid.viewMode(), ViewMode::vmHEX);
        QCOMPARE(grid.DefaultData(), 0xFFFF);
        QCOMPARE(grid.dataSize(), DataSize::dsByte);
        QCOMPARE(grid.DataCount(), 256);
        QCOMPARE(grid.store().count(), 256);
        QCOMPARE(grid.GridColCount(), 4);
        QCOMPARE(grid.FixColWidth(), 64);
        QCOMPARE(grid.BegAddr(), 0u);
        QCOMPARE(grid.ColCount(), 5);
        QCOMPARE(grid.RowCount(), 65);
        QCOMPARE(grid.model()->rowCount(), 64);
        QCOMPARE(grid.model()->columnCount(), 4);
        QCOMPARE(grid.cellText(0, 0), QString());
        QCOMPARE(grid.cellText(0, 1), QStringLiteral("000000"));
        QCOMPARE(grid.cellText(0, 2), QStringLiteral("000004"));
        QCOMPARE(grid.cellText(4, 0), QStringLiteral("03"));
        QCOMPARE(grid.cellText(4, 64), QStringLiteral("FF"));
        QCOMPARE(grid.verticalHeader()->width(), 64);
    }

    void propertiesReshapeTheGrid()
    {
        THexGrid grid;
        grid.setGridColCount(16);
        grid.setDataCount(1024);
        QCOMPARE(grid.RowCount(), 65);
        grid.setDataCount(1025);
        QCOMPARE(grid.RowCount(), 66);
        QCOMPARE(grid.model()->rowCount(), 65);
        grid.setDataCount(-3);
        QCOMPARE(grid.DataCount(), 1);
        QCOMPARE(grid.RowCount(), 2);
        grid.setGridColCount(0);
        QCOMPARE(grid.ColCount(), 2);
        grid.setGridColCount(16);
        grid.setBegAddr(0x100);
        grid.setDataCount(64);
        QCOMPARE(grid.cellText(0, 2), QStringLiteral("000110"));
        QCOMPARE(grid.cellText(16, 0), QStringLiteral("0F"));
        grid.setDataSize(DataSize::dsWord);
        QCOMPARE(grid.RowCount(), 3);
        QCOMPARE(grid.cellText(1, 1), QStringLiteral("FFFF"));
        grid.setFixColWidth(45);
        QCOMPARE(grid.verticalHeader()->width(), 45);
    }

    void defaultDataFillsNewBytes()
    {
        THexGrid grid;
        grid.setDataCount(1);
        grid.setDefaultData(0x12AB);
        grid.setDataCount(6);
        QCOMPARE(grid.cellText(1, 1), QStringLiteral("FF")); // the one byte that was there
        QCOMPARE(grid.cellText(2, 1), QStringLiteral("AB"));
        QCOMPARE(grid.cellText(3, 1), QStringLiteral("12"));
        QCOMPARE(grid.cellText(4, 1), QStringLiteral("AB"));
        QCOMPARE(grid.cellText(1, 2), QStringLiteral("12"));
        // Past the store: the filler's low byte.
        QCOMPARE(grid.cellText(3, 2), QStringLiteral("AB"));
    }

    void tooLargeIsRefused()
    {
        THexGrid grid;
        QString raised;
        try {
            grid.setDataCount(134217726);
        } catch (const EInvalidGridOperation &e) {
            raised = QString::fromLatin1(e.what());
        }
        QCOMPARE(raised, QStringLiteral("Grid Too Large"));
        QCOMPARE(grid.DataCount(), 256);
        QCOMPARE(grid.RowCount(), 65);
        QVERIFY_THROWS_EXCEPTION(EInvalidGridOperation, grid.changeStoreSize(257, 1));
        QVERIFY_THROWS_EXCEPTION(EInvalidGridOperation, grid.changeStoreSize(0, -257));
    }

    void notationsOfAWord()
    {
        THexGrid grid;
        grid.adoptBlock(blockOf(QByteArray("AB"), 2));
        grid.setDataSize(DataSize::dsWord);
        QCOMPARE(grid.cellText(1, 1), QStringLiteral("4142"));
        grid.setViewMode(ViewMode::vmBIN);
        QCOMPARE(grid.cellText(1, 1), QStringLiteral("0100000101000010"));
        grid.setViewMode(ViewMode::vmDEC);
        QCOMPARE(grid.cellText(1, 1), QStringLiteral("16706"));
        grid.setViewMode(ViewMode::vmASCII);
        QCOMPARE(grid.cellText(1, 1), QStringLiteral("BA"));
        grid.setDataSize(DataSize::dsByte);
        QCOMPARE(grid.cellText(1, 1), QStringLiteral("A"));
        QCOMPARE(grid.cellText(2, 1), QStringLiteral("B"));
    }

    void adoptedBlockIsShared()
    {
        auto block = blockOf(QByteArray(20, '\x01'), 20);
        {
            THexGrid grid;
            grid.setGridColCount(16);
            grid.adoptBlock(block);
            QCOMPARE(grid.DataCount(), 20);
            QCOMPARE(grid.RowCount(), 3);
            block->bytes[17] = 0x5C;
            QCOMPARE(grid.cellText(2, 2), QStringLiteral("5C"));
            // The same block again only renews the count.
            block->count = 16;
            grid.adoptBlock(block);
            QCOMPARE(grid.DataCount(), 16);
            QCOMPARE(grid.RowCount(), 2);
            QCOMPARE(block.use_count(), 2);
            // A block of the grid's own replaces the caller's; the caller keeps its own.
            grid.adoptBlock(blockOf(QByteArray(4, '\x02'), 4));
            QCOMPARE(block.use_count(), 1);
            grid.adoptBlock(block);
        }
        // The grid is gone, the caller's block stays whole.
        QCOMPARE(block.use_count(), 1);
        QCOMPARE(block->bytes[17], 0x5C);
    }

    void editingWritesBackInTheNotation_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("words");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<QByteArray>("bytes"); // first two bytes of the store afterwards
        QTest::newRow("hex byte") << int(ViewMode::vmHEX) << false << "7f" << true
                                  << QByteArray("\x7F\x00", 2);
        QTest::newRow("hex word") << int(ViewMode::vmHEX) << true << "4142" << true
                                  << QByteArray("AB");
        QTest::newRow("dec word") << int(ViewMode::vmDEC) << true << "16706" << true
                                  << QByteArray("AB");
        QTest::newRow("bin byte") << int(ViewMode::vmBIN) << false << "00000011" << true
                                  << QByteArray("\x03\x00", 2);
        QTest::newRow("ascii word")
            << int(ViewMode::vmASCII) << true << "BA" << true << QByteArray("AB");
        QTest::newRow("refused") << int(ViewMode::vmHEX) << false << "ZZ" << false
                                 << QByteArray("\x00\x00", 2);
    }
    void editingWritesBackInTheNotation()
    {
        QFETCH(int, mode);
        QFETCH(bool, words);
        QFETCH(QString, text);
        QFETCH(bool, accepted);
        QFETCH(QByteArray, bytes);
        THexGrid grid;
        grid.adoptBlock(blockOf(QByteArray(4, '\0'), 4));
        grid.setViewMode(ViewMode(mode));
        grid.setDataSize(words ? DataSize::dsWord : DataSize::dsByte);
        QString seen;
        grid.OnSetEditText = [&](int c, int r, const QString &t) {
            seen = QStringLiteral("%1,%2:%3").arg(c).arg(r).arg(t);
        };
        QVERIFY(!(grid.model()->flags(grid.model()->index(0, 0)) & Qt::ItemIsEditable));
        grid.setEditing(true);
        QVERIFY(grid.model()->flags(grid.model()->index(0, 0)) & Qt::ItemIsEditable);
        QCOMPARE(grid.model()->setData(grid.model()->index(0, 0), text), accepted);
        QCOMPARE(seen, QStringLiteral("1,1:") + text);
        QCOMPARE(grid.store().byteAt(0), std::uint8_t(bytes[0]));
        QCOMPARE(grid.store().byteAt(1), std::uint8_t(bytes[1]));
    }

    void selectionAndDrawing()
    {
        THexGrid grid;
        grid.setGridColCount(16);
        grid.setFixColWidth(45);
        grid.setDefaultColWidth(20);
        grid.setDefaultRowHeight(16);
        grid.resize(409, 209);
        QList<QPoint> drawn;
        grid.OnDrawCell = [&](QPainter &, int c, int r, const QRect &, bool) {
            drawn.append(QPoint(c, r));
        };
        bool allow = false;
        grid.OnSelectCell = [&](int, int) { return allow; };
        grid.show();
        QVERIFY(QTest::qWaitForWindowExposed(&grid));

        const QRect cell = grid.visualRect(grid.model()->index(1, 2));
        QTest::mouseClick(grid.viewport(), Qt::LeftButton, {}, cell.center());
        QVERIFY(grid.selectionModel()->selectedIndexes().isEmpty());
        allow = true;
        QTest::mouseClick(grid.viewport(), Qt::LeftButton, {}, cell.center());
        QCOMPARE(grid.selectionModel()->selectedIndexes().size(), 1);

        drawn.clear();
        const QImage shot = grid.grab().toImage();
        // Data cells, the address column and the header row all reach OnDrawCell.
        QVERIFY(drawn.contains(QPoint(3, 2)));
        QVERIFY(drawn.contains(QPoint(0, 1)));
        QVERIFY(drawn.contains(QPoint(1, 0)));
        // The selected cell is filled blue behind its text; its neighbour is not.
        const QPoint origin = grid.viewport()->mapTo(&grid, QPoint(0, 0));
        const QPoint corner = origin + cell.bottomRight() - QPoint(2, 2);
        QCOMPARE(shot.pixelColor(corner), QColor(Qt::blue));
        QVERIFY(shot.pixelColor(corner + QPoint(20, 0)) != QColor(Qt::blue));
    }
};

QTEST_MAIN(TestHexGrid)
#include "tst_hexgrid.moc"
