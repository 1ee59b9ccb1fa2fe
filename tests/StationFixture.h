#pragma once

#include "Form1.h"
#include "LoopbackCheck.h"
#include "PortSession.h"
#include "QtSerialPort.h"
#include "QtTimer.h"
#include "SteadyClock.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

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
    LoopbackCheck &check() { return form->check(); }
    bool isOpen() { return form->port().isOpen(); }

    bool open(int portNumber)
    {
        c().portNumber->setText(QString::number(portNumber));
        form->controls().portButtons[Form1::Open]->click();
        return form->port().isOpen();
    }

    // An answering station: echo mode, poller started.
    void answer(const QString &text)
    {
        Controls::setBoxText(c().sendText, text);
        form->controls().portButtons[Form1::Receive]->click();
        form->controls().startButton->click();
    }

    // A checking station: text sent once, check ticked, started.
    void check(const QString &text, int intervalMs)
    {
        Controls::setBoxText(c().sendText, text);
        c().checkEnabled->setChecked(true);
        c().interval->setText(QString::number(intervalMs));
        form->controls().portButtons[Form1::Send]->click();
        form->controls().startButton->click();
    }
};
