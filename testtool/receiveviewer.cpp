#include "testtool/receiveviewer.h"

#include "testtool/hexgrid.h"

#include <QGroupBox>
#include <QVBoxLayout>

ReceiveBufferWindow::ReceiveBufferWindow(QWidget *parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("Form3"));
    setWindowTitle(QStringLiteral("Просмотр буфера приема"));
    setAttribute(Qt::WA_QuitOnClose, false);
    resize(441, 269);

    auto *group = new QGroupBox(QStringLiteral("Буфер приема"), this);
    group->setObjectName(QStringLiteral("GroupBox1"));
    HexGrid1 = new THexGrid(group);
    HexGrid1->setObjectName(QStringLiteral("HexGrid1"));
    HexGrid1->setMinimumSize(120, 60);
    HexGrid1->resize(409, 209);
    QFont small = HexGrid1->font();
    small.setPixelSize(11);
    HexGrid1->setFont(small);
    HexGrid1->setBegAddr(0);
    HexGrid1->setGridColCount(16);
    HexGrid1->setDataSize(DataSize::dsByte);
    HexGrid1->setDefaultData(65535);
    HexGrid1->setDataCount(1024);
    HexGrid1->setViewMode(ViewMode::vmHEX);
    HexGrid1->setFixColWidth(45);
    HexGrid1->setDefaultColWidth(20);
    HexGrid1->setDefaultRowHeight(16);
    HexGrid1->setEditing(false);

    auto *inner = new QVBoxLayout(group);
    inner->setContentsMargins(6, 4, 6, 6);
    inner->addWidget(HexGrid1);
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(8, 4, 8, 8);
    outer->addWidget(group);
}
