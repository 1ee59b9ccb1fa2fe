#include "CheckFigures.h"

void CheckFigures::add(const Exchange &exchange)
{
    record_.add(exchange);
    if (exchange.outcome == Exchange::Outcome::Ok)
        lastMs_ = exchange.responseMs;
}

QString CheckFigures::statusText(std::uint64_t probes) const
{
    const ExchangeRecord::Figures f = record_.totals();
    if (f.count == 0)
        return QStringLiteral("probe %1 sent, no reply yet  errors %2  lost %3  late %4")
            .arg(probes)
            .arg(f.errors)
            .arg(f.lost)
            .arg(f.late);
    return QString::asprintf(
        "last %.3f  mean %.3f  max %.3f  min %.3f ms  count %llu  "
        "errors %llu  lost %llu  late %llu",
        lastMs_, f.mean, f.max, f.min, static_cast<unsigned long long>(f.count),
        static_cast<unsigned long long>(f.errors), static_cast<unsigned long long>(f.lost),
        static_cast<unsigned long long>(f.late));
}

QString CheckFigures::summaryLines(std::uint64_t probes) const
{
    const ExchangeRecord::Figures &f = record_.figures();
    QString text;
    auto line = [&text](const char *name, const QString &value) {
        text += QStringLiteral("%1 %2\n").arg(QLatin1String(name), -10).arg(value);
    };
    auto ms = [&f](double value) {
        return f.count == 0 ? QStringLiteral("-")
                            : QString::number(value, 'f', 3) + QStringLiteral(" ms");
    };
    line("probes", QString::number(probes));
    line("count", QString::number(f.count));
    line("errors", QString::number(f.errors));
    line("lost", QString::number(f.lost));
    line("late", QString::number(f.late));
    line("unanswered", QString::number(f.unanswered));
    line("mean", ms(f.mean));
    line("min", ms(f.min));
    line("max", ms(f.max));
    line("p50", ms(f.p50));
    line("p95", ms(f.p95));
    line("p99", ms(f.p99));
    return text;
}
