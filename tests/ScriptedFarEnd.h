#pragma once

#include "PtyThread.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <chrono>

// A far station on a pseudo-terminal that answers each arrival of a text as
// a misbehaving device would: late, twice, with one reply corrupted, not
// every time, or not at all after a few. Runs on its own thread, so it
// answers on time whatever the test's event loop is doing.
class ScriptedFarEnd {
public:
    struct Script {
        QByteArray text = "ABC\r";
        std::chrono::milliseconds delay{0}; // from the arrival to the answer
        int answers = -1;                   // how many arrivals are answered; -1: all
        int corrupted = 0;                  // this answer (from 1) has its last-but-one byte - 1
        bool twice = false;                 // each answer sent again, kTwiceGap later
        int dropEvery = 0;                  // every Nth arrival goes unanswered; 0: none
    };
    static constexpr std::chrono::milliseconds kTwiceGap{80};

    explicit ScriptedFarEnd(Script script);
    ~ScriptedFarEnd();
    ScriptedFarEnd(const ScriptedFarEnd &) = delete;
    ScriptedFarEnd &operator=(const ScriptedFarEnd &) = delete;

    bool isValid() const { return thread_.isValid(); }
    QString error() const;
    QString device() const { return thread_.pty().slavePath(); }
    // Arrivals of the text so far.
    int arrivals() const { return arrivals_.load(); }

private:
    void run();

    Script script_;
    std::atomic<int> arrivals_{0};
    PtyThread thread_; // last: gone first, before what it uses
};
