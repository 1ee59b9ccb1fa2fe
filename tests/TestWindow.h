#pragma once

#include "FakeClock.h"
#include "FakeFileDialog.h"
#include "FakeSerialPort.h"
#include "FakeTimer.h"
#include "Form1.h"
#include "LoopbackCheck.h"
#include "PortSession.h"

// The controls tests and benchmarks drive.
#include <QCheckBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

#include <memory>

// A loaded Form1, the one way tests and benchmarks get a window. On fakes
// (the default) every fake stays in reach: a port whose bytes the test
// scripts, a clock it advances, timers it fires, a file dialog that answers
// as told. On the real platform the window runs as the program runs it: the
// serial port layer, precise timers and the steady clock, and no file dialog;
// WindowOnPty puts a pseudo-terminal behind its port number.
//
// The windows of a test program keep their settings in a temporary folder of
// the program's own, never in the user's (see settingsFolder()), and each
// starts as on a first run unless told to take what an earlier one left.
struct TestWindow {
    enum Platform { Fakes, Real };
    enum Settings { FirstRun, Remembered };

    explicit TestWindow(Platform platform = Fakes, Settings settings = FirstRun);
    TestWindow(const TestWindow &) = delete;
    TestWindow &operator=(const TestWindow &) = delete;

    Controls &c() { return form->controls(); }
    LoopbackCheck &check() { return form->check(); }
    bool isOpen() { return form->port().isOpen(); }

    // A mouse click on one of the four port buttons; a disabled one takes none.
    void click(Form1::PortButton button);

    // Types `portNumber` into its box and clicks Open; whether the port is
    // open now.
    bool open(int portNumber);

    // An answering station: echo mode, poller started.
    void answer(const QString &text);

    // A checking station: `text` sent once, check ticked, started.
    void check(const QString &text, int intervalMs);

    // Where every QSettings of the test program is kept, from the start of
    // its application object on (the port folder, which follows
    // XDG_CONFIG_HOME, is left as it is).
    static QString settingsFolder();

    std::unique_ptr<Form1> form;
    // The fakes behind the window; null on the real platform.
    FakeSerialPort *port = nullptr;
    FakeClock *clock = nullptr;
    FakeTimer *probeTimer = nullptr;
    FakeTimer *pollTimer = nullptr;
    FakeFileDialog *dialog = nullptr;
};
