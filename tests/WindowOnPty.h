#pragma once

#include "PtyPort.h"
#include "TestWindow.h"

// A window on the real platform whose port number names a fresh
// pseudo-terminal; the test plays the far end of the line on line.pty.
struct WindowOnPty : TestWindow {
    explicit WindowOnPty(int portNumber = 1);
    // The window, and with it the port, goes before the pseudo-terminal.
    ~WindowOnPty();

    // Opens the port through the Open button; false when it did not open,
    // with the reason in problem().
    bool open();
    using TestWindow::open;

    QString problem();

    PtyPort line;
};
