#pragma once

#include "FakeClock.h"
#include "FakeFileDialog.h"
#include "FakeSerialPort.h"
#include "FakeTimer.h"
#include "Form1.h"

#include <memory>

// A loaded Form1 on fakes, with the fakes still in reach of the test.
struct FakeForm {
    FakeSerialPort *port = nullptr;
    FakeClock *clock = nullptr;
    FakeTimer *timer1 = nullptr;
    FakeTimer *timer2 = nullptr;
    FakeFileDialog *dialog = nullptr;
    std::unique_ptr<Form1> form;

    FakeForm()
    {
        PlatformServices services;
        auto fakePort = std::make_unique<FakeSerialPort>();
        auto fakeClock = std::make_unique<FakeClock>();
        auto fakeTimer1 = std::make_unique<FakeTimer>();
        auto fakeTimer2 = std::make_unique<FakeTimer>();
        auto fakeDialog = std::make_unique<FakeFileDialog>();
        port = fakePort.get();
        clock = fakeClock.get();
        timer1 = fakeTimer1.get();
        timer2 = fakeTimer2.get();
        dialog = fakeDialog.get();
        services.MSComm1 = std::move(fakePort);
        services.clock = std::move(fakeClock);
        services.Timer1 = std::move(fakeTimer1);
        services.Timer2 = std::move(fakeTimer2);
        services.CommonDialog1 = std::move(fakeDialog);
        form = std::make_unique<Form1>(std::move(services));
        form->load();
    }

    Controls &c() { return form->controls(); }
    LoopbackCheck &check() { return form->check(); }
};
