#pragma once

#include <QWidget>

class THexGrid;

// "Просмотр буфера приема": the last reply, byte by byte, in a hex grid of 16 bytes per row.
class ReceiveBufferWindow : public QWidget
{
    Q_OBJECT
public:
    explicit ReceiveBufferWindow(QWidget *parent = nullptr);

    THexGrid *HexGrid1;
};
