#pragma once

#include <QDateTime>
#include <QMetaType>
#include <QString>

#include <cstdint>

// One probe of a loop-back run and how it ended.
struct Exchange {
    enum class Outcome {
        Ok,         // the text came back whole
        Error,      // something came back that can no longer match: found at a poll, or
                    // the probe given up
        Lost,       // given up: nothing, or only a beginning of the text, came back in time
        Late,       // a whole reply to a probe that had already ended: after it was
                    // given up, or a second reply
        Unanswered, // still awaited when the run ended
    };

    std::uint64_t sequence = 0; // 1 for the run's first probe
    QDateTime at;               // when it ended, local time
    double responseMs = 0;      // send to match; else send to the poll or giving up
    Outcome outcome = Outcome::Ok;
    QString received; // escaped; kept only for a probe that did not end Ok

    static QString outcomeName(Outcome outcome);
};

Q_DECLARE_METATYPE(Exchange)
