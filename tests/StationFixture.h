#pragma once

#include "FeedbackCheck.h"
#include "Form1.h"
#include "PortControl.h"
#include "QtSerialPort.h"
#include "QtTimer.h"
#include "SteadyClock.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPlainTextEdit>

#include <memory>

// A loaded Form1 on the real platform: serial port, precise timers and the
// steady clock, as the program runs it.
struct RealStation {
    std::unique_ptr<Form1> form;

    RealStation()
    {
        PlatformServices services;
        services.MSComm1 = std::make_unique<QtSerialPort>();
        services.clock = std::make_unique<SteadyClock>();
        services.Timer1 = std::make_unique<QtTimer>();
        services.Timer2 = std::make_unique<QtTimer>();
        form = std::make_unique<Form1>(std::move(services));
        form->load();
    }

    Controls &c() { return form->controls(); }
    WindowState &state() { return form->state(); }
    bool isOpen() { return form->port().isOpen(); }

    bool open(int portNumber)
    {
        c().Text1_5->setText(QString::number(portNumber));
        form->portControl().click(PortControl::Open);
        return form->port().isOpen();
    }

    // An answering station: echo mode, poller started.
    void answer(const QString &text)
    {
        Controls::setBoxText(c().Text2, text);
        form->portControl().click(PortControl::Receive);
        form->feedbackCheck().click();
    }

    // A checking station: text sent once, check ticked, started.
    void check(const QString &text, int intervalMs)
    {
        Controls::setBoxText(c().Text2, text);
        c().Check1->setChecked(true);
        c().Text4->setText(QString::number(intervalMs));
        form->portControl().click(PortControl::Send);
        form->feedbackCheck().click();
    }
};
