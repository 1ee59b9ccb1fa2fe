#include "CheckReport.h"

#include "ExitCode.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <type_traits>

namespace {

QString msText(double ms)
{
    return QString::number(ms, 'f', 3);
}

// A limit in a field of performance data; empty for none.
template <typename T> QString limitText(const std::optional<T> &limit)
{
    if (!limit)
        return {};
    if constexpr (std::is_floating_point_v<T>)
        return QString::number(*limit, 'g', 15);
    else
        return QString::number(*limit);
}

// Plugin text must not break the line nor the performance data after '|'.
QString pluginText(QString text)
{
    text.replace(u'\n', u' ').replace(u'\r', u' ').replace(u'|', u'/');
    return text;
}

} // namespace

CheckReport::CheckReport(const Facts &facts, const CheckVerdict &verdict)
    : facts_(facts), verdict_(verdict)
{}

QByteArray CheckReport::json() const
{
    const ExchangeRecord::Figures &f = facts_.figures;
    // Times only where some reply came back: JSON has no NaN.
    auto ms = [&f](double value) { return f.count == 0 ? QJsonValue() : QJsonValue(value); };
    auto whole = [](std::uint64_t value) { return QJsonValue(qint64(value)); };
    QJsonObject o;
    o.insert(QStringLiteral("port"), facts_.port);
    o.insert(QStringLiteral("text"), facts_.text);
    o.insert(QStringLiteral("probes"), whole(facts_.probes));
    o.insert(QStringLiteral("count"), whole(f.count));
    o.insert(QStringLiteral("errors"), whole(f.errors));
    o.insert(QStringLiteral("lost"), whole(f.lost));
    o.insert(QStringLiteral("late"), whole(f.late));
    o.insert(QStringLiteral("unanswered"), whole(f.unanswered));
    o.insert(QStringLiteral("lost_counted"), whole(verdict_.measures().lost));
    o.insert(QStringLiteral("port_losses"), whole(facts_.portLosses));
    o.insert(QStringLiteral("mean_ms"), ms(f.mean));
    o.insert(QStringLiteral("min_ms"), ms(f.min));
    o.insert(QStringLiteral("max_ms"), ms(f.max));
    o.insert(QStringLiteral("p50_ms"), ms(f.p50));
    o.insert(QStringLiteral("p95_ms"), ms(f.p95));
    o.insert(QStringLiteral("p99_ms"), ms(f.p99));
    o.insert(QStringLiteral("stddev_ms"), ms(f.standardDeviation));
    o.insert(QStringLiteral("duration_s"), double(facts_.duration.count()) / 1000.0);
    o.insert(QStringLiteral("ended"), facts_.ended);
    o.insert(QStringLiteral("exit"), facts_.exitCode);
    o.insert(QStringLiteral("exceeded"), QJsonArray::fromStringList(verdict_.exceeded()));
    return QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n';
}

CheckVerdict::State CheckReport::state() const
{
    if (facts_.exitCode == ExitPortLost || facts_.exitCode == ExitLogFailed)
        return CheckVerdict::State::Unknown;
    return verdict_.state();
}

QString CheckReport::pluginLine(const QString &unknownReason) const
{
    const CheckVerdict::State state = this->state();
    const ExchangeRecord::Figures &f = facts_.figures;
    QString text = QStringLiteral("%1 of %2 probes came back").arg(f.count).arg(facts_.probes);
    if (f.count > 0)
        text += QStringLiteral(", p95 %1 ms").arg(msText(f.p95));
    QStringList reasons = verdict_.stateReasons();
    if (state == CheckVerdict::State::Unknown)
        reasons = QStringList{unknownReason};
    if (!reasons.isEmpty())
        text += QStringLiteral(": ") + reasons.join(QStringLiteral(", "));
    return QStringLiteral("COMMCHECK %1 - %2 | %3\n")
        .arg(CheckVerdict::stateName(state), pluginText(text), performanceData());
}

QString CheckReport::unknownLine(const QString &reason)
{
    return QStringLiteral("COMMCHECK UNKNOWN - %1\n").arg(pluginText(reason));
}

QString CheckReport::performanceData() const
{
    const ExchangeRecord::Figures &f = facts_.figures;
    const CheckVerdict::Limits warn = verdict_.warning();
    const CheckVerdict::Limits crit = verdict_.critical();
    QStringList items;
    auto item = [&items](const char *label, const QString &value, const QString &w = {},
                         const QString &c = {}) {
        items << QStringLiteral("'%1'=%2;%3;%4;0;").arg(QLatin1String(label), value, w, c);
    };
    // Times without a reply are undetermined, which the data says with U.
    auto ms = [&f](double value) {
        return f.count == 0 ? QStringLiteral("U") : msText(value) + QStringLiteral("ms");
    };
    item("probes", QString::number(facts_.probes));
    item("count", QString::number(f.count));
    item("errors", QString::number(f.errors), limitText(warn.errors), limitText(crit.errors));
    item("lost", QString::number(verdict_.measures().lost), limitText(warn.lost),
         limitText(crit.lost));
    item("late", QString::number(f.late));
    item("unanswered", QString::number(f.unanswered));
    item("p50", ms(f.p50));
    item("p95", ms(f.p95), limitText(warn.p95Ms), limitText(crit.p95Ms));
    item("p99", ms(f.p99));
    item("max", ms(f.max));
    return items.join(u' ');
}
