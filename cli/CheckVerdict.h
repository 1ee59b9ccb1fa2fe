#pragma once

#include "ExchangeRecord.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

// How a check went, against the limits its user gave: which figures went
// over them, the exit code that follows, and the state a monitoring system
// reads from a plugin. Holds no port and no clock: the figures in, the
// judgement out.
//
// Three figures are judged. errors: every poll that found a reply which can
// no longer match, as the summary counts them. lost: the probes that did not
// come back, counted once each: those given up (lost), the one still awaited
// at the end (unanswered), and every late reply its probe does not already
// account for (a second reply to a probe that came back), since a reply
// that comes after its probe was given up belongs to a probe counted lost
// or an error already. p95: of the replies that came back, in ms.
//
// The limits of errors and lost are 0 unless given, p95 has none; a run
// with no exchange completed always fails. As a plugin, a figure over its
// critical limit (--crit-*, or else --max-*, or else 0 for errors and lost
// where no warning limit is given either) is CRITICAL, one over its warning
// limit WARNING.
class CheckVerdict {
public:
    // A limit on each figure; none: not limited here.
    struct Limits {
        std::optional<std::uint64_t> errors;
        std::optional<std::uint64_t> lost;
        std::optional<double> p95Ms;
    };
    struct Thresholds {
        Limits max;  // --max-*
        Limits warn; // --warn-*
        Limits crit; // --crit-*
    };
    struct Measures {
        std::uint64_t count = 0; // exchanges that ended Ok
        std::uint64_t errors = 0;
        std::uint64_t lost = 0;      // as counted above
        std::optional<double> p95Ms; // none without an exchange completed
    };
    // A monitoring plugin's states, each its exit code.
    enum class State { Ok = 0, Warning = 1, Critical = 2, Unknown = 3 };

    // The measures of a run's figures; `strayReplies`: late replies to
    // probes that had come back.
    static Measures measuresOf(const ExchangeRecord::Figures &figures, std::uint64_t strayReplies);

    CheckVerdict(const Measures &measures, const Thresholds &thresholds);

    const Measures &measures() const { return measures_; }

    // The figures over their --max-* limit (or the limit of 0), by name:
    // "errors", "lost", "p95", in that order.
    QStringList exceeded() const;
    // For each of those whose limit was given: "errors 3 exceed --max-errors 2".
    QStringList exceededReasons() const;
    // ExitFaults when a figure is over its limit or no exchange completed,
    // else ExitOk.
    int exitCode() const;

    // The limits as a plugin applies them.
    Limits warning() const { return thresholds_.warn; }
    Limits critical() const;
    State state() const;
    // Why the state is not OK, worst first: "no exchange completed",
    // "lost 3 exceed critical 0", "p95 12.500 ms exceeds warning 10 ms".
    QStringList stateReasons() const;
    static QString stateName(State state);

private:
    // The reasons for CRITICAL and for WARNING.
    void judge(QStringList &criticals, QStringList &warnings) const;

    Measures measures_;
    Thresholds thresholds_;
};
