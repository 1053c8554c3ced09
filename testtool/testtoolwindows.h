#pragma once

#include "platform/clock.h"
#include "testtool/interfacecheck.h"
#include "testtool/mainwindow.h"
#include "testtool/popups.h"
#include "testtool/receiveviewer.h"

// The tool's five windows, created in this order and wired to the main window. Their pauses and
// timers run on clock.
struct TestToolWindows
{
    LinkTestWindow form1;
    SearchPopup form2;
    ReceiveBufferWindow form3;
    ExchangeErrorPopup form4;
    InterfaceCheckWindow form5{form1};

    explicit TestToolWindows(Clock &clock = systemClock()) : form1(clock), form2(clock)
    {
        form1.attach(&form2, &form3, &form4, &form5);
    }
};
