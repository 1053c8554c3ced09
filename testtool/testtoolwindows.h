#pragma once

#include "testtool/interfacecheck.h"
#include "testtool/mainwindow.h"
#include "testtool/popups.h"
#include "testtool/receiveviewer.h"

// The tool's five windows, created in this order and wired to the main window.
struct TestToolWindows
{
    TForm1 form1;
    TForm2 form2;
    TForm3 form3;
    TForm4 form4;
    TForm5 form5{form1};

    TestToolWindows() { form1.attach(&form2, &form3, &form4, &form5); }
};
