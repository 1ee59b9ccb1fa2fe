#include "CheckVerdict.h"

#include "ExitCode.h"

namespace {

// Limits in ms as typed: "10", "12.5".
QString msText(double ms)
{
    return QString::number(ms, 'g', 15);
}

} // namespace

CheckVerdict::Measures CheckVerdict::measuresOf(const ExchangeRecord::Figures &figures,
                                                std::uint64_t strayReplies)
{
    Measures m;
    m.count = figures.count;
    m.errors = figures.errors;
    m.lost = figures.lost + figures.unanswered + strayReplies;
    if (figures.count > 0)
        m.p95Ms = figures.p95;
    return m;
}

CheckVerdict::CheckVerdict(const Measures &measures, const Thresholds &thresholds)
    : measures_(measures), thresholds_(thresholds)
{}

QStringList CheckVerdict::exceeded() const
{
    const Limits &max = thresholds_.max;
    QStringList names;
    if (measures_.errors > max.errors.value_or(0))
        names << QStringLiteral("errors");
    if (measures_.lost > max.lost.value_or(0))
        names << QStringLiteral("lost");
    if (measures_.p95Ms && max.p95Ms && *measures_.p95Ms > *max.p95Ms)
        names << QStringLiteral("p95");
    return names;
}

QStringList CheckVerdict::exceededReasons() const
{
    const Limits &max = thresholds_.max;
    QStringList reasons;
    const QStringList names = exceeded();
    if (names.contains(u"errors") && max.errors)
        reasons << QStringLiteral("errors %1 exceed --max-errors %2")
                       .arg(measures_.errors)
                       .arg(*max.errors);
    if (names.contains(u"lost") && max.lost)
        reasons
            << QStringLiteral("lost %1 exceed --max-lost %2").arg(measures_.lost).arg(*max.lost);
    if (names.contains(u"p95"))
        reasons << QStringLiteral("p95 %1 ms exceeds --max-p95 %2")
                       .arg(QString::number(*measures_.p95Ms, 'f', 3), msText(*max.p95Ms));
    return reasons;
}

int CheckVerdict::exitCode() const
{
    return measures_.count == 0 || !exceeded().isEmpty() ? ExitFaults : ExitOk;
}

CheckVerdict::Limits CheckVerdict::critical() const
{
    const Limits &crit = thresholds_.crit;
    const Limits &max = thresholds_.max;
    const Limits &warn = thresholds_.warn;
    Limits limits;
    // A warning limit alone leaves its figure no critical one: a user who
    // gave only --warn-lost 3 wants a warning for 4, not CRITICAL for 1.
    auto countLimit = [](std::optional<std::uint64_t> c, std::optional<std::uint64_t> m,
                         std::optional<std::uint64_t> w) -> std::optional<std::uint64_t> {
        if (c)
            return c;
        if (m)
            return m;
        if (w)
            return std::nullopt;
        return 0;
    };
    limits.errors = countLimit(crit.errors, max.errors, warn.errors);
    limits.lost = countLimit(crit.lost, max.lost, warn.lost);
    limits.p95Ms = crit.p95Ms ? crit.p95Ms : max.p95Ms;
    return limits;
}

void CheckVerdict::judge(QStringList &criticals, QStringList &warnings) const
{
    if (measures_.count == 0)
        criticals << QStringLiteral("no exchange completed");
    const Limits crit = critical();
    const Limits &warn = thresholds_.warn;
    auto judge = [&](const char *name, std::uint64_t value, std::optional<std::uint64_t> c,
                     std::optional<std::uint64_t> w) {
        if (c && value > *c)
            criticals << QStringLiteral("%1 %2 exceed critical %3")
                             .arg(QLatin1String(name))
                             .arg(value)
                             .arg(*c);
        else if (w && value > *w)
            warnings << QStringLiteral("%1 %2 exceed warning %3")
                            .arg(QLatin1String(name))
                            .arg(value)
                            .arg(*w);
    };
    judge("errors", measures_.errors, crit.errors, warn.errors);
    judge("lost", measures_.lost, crit.lost, warn.lost);
    if (measures_.p95Ms) {
        const QString p95 = QString::number(*measures_.p95Ms, 'f', 3);
        if (crit.p95Ms && *measures_.p95Ms > *crit.p95Ms)
            criticals
                << QStringLiteral("p95 %1 ms exceeds critical %2 ms").arg(p95, msText(*crit.p95Ms));
        else if (warn.p95Ms && *measures_.p95Ms > *warn.p95Ms)
            warnings
                << QStringLiteral("p95 %1 ms exceeds warning %2 ms").arg(p95, msText(*warn.p95Ms));
    }
}

QStringList CheckVerdict::stateReasons() const
{
    QStringList criticals;
    QStringList warnings;
    judge(criticals, warnings);
    return criticals + warnings;
}

CheckVerdict::State CheckVerdict::state() const
{
    QStringList criticals;
    QStringList warnings;
    judge(criticals, warnings);
    return !criticals.isEmpty()  ? State::Critical
           : !warnings.isEmpty() ? State::Warning
                                 : State::Ok;
}

QString CheckVerdict::stateName(State state)
{
    switch (state) {
    case State::Ok:
        return QStringLiteral("OK");
    case State::Warning:
        return QStringLiteral("WARNING");
    case State::Critical:
        return QStringLiteral("CRITICAL");
    case State::Unknown:
        return QStringLiteral("UNKNOWN");
    }
    return {};
}
