#include "CheckVerdict.h"

#include "ExitCode.h"

#include <QTest>

// The judgement of a check from its figures and the limits given, as the
// exit code, the figures named over their limits and a plugin's state.
class CheckVerdictTest : public QObject {
    Q_OBJECT
private slots:
    void judgesTheFigures_data();
    void judgesTheFigures();
};

namespace {

// "errors=2 lost=0 p95=12.5" as limits; figures not named have none.
CheckVerdict::Limits limitsOf(const QString &text)
{
    CheckVerdict::Limits limits;
    for (const QString &term : text.split(u' ', Qt::SkipEmptyParts)) {
        const QString name = term.section(u'=', 0, 0);
        const QString value = term.section(u'=', 1);
        if (name == u"errors")
            limits.errors = value.toULongLong();
        else if (name == u"lost")
            limits.lost = value.toULongLong();
        else if (name == u"p95")
            limits.p95Ms = value.toDouble();
        else
            QTest::qFail(qPrintable(QStringLiteral("no such limit: ") + term), __FILE__, __LINE__);
    }
    return limits;
}

// "count=20 errors=1 lost=2 late=3 unanswered=1 p95=4.5" as a run's figures.
ExchangeRecord::Figures figuresOf(const QString &text)
{
    ExchangeRecord::Figures f;
    for (const QString &term : text.split(u' ', Qt::SkipEmptyParts)) {
        const QString name = term.section(u'=', 0, 0);
        const QString value = term.section(u'=', 1);
        std::uint64_t *field = name == u"count"        ? &f.count
                               : name == u"errors"     ? &f.errors
                               : name == u"lost"       ? &f.lost
                               : name == u"late"       ? &f.late
                               : name == u"unanswered" ? &f.unanswered
                                                       : nullptr;
        if (field)
            *field = value.toULongLong();
        else if (name == u"p95")
            f.p95 = value.toDouble();
        else
            QTest::qFail(qPrintable(QStringLiteral("no such figure: ") + term), __FILE__, __LINE__);
    }
    return f;
}

} // namespace

void CheckVerdictTest::judgesTheFigures_data()
{
    QTest::addColumn<QString>("figures");
    QTest::addColumn<int>("strayReplies"); // late replies to probes that came back
    QTest::addColumn<QString>("max");
    QTest::addColumn<QString>("warn");
    QTest::addColumn<QString>("crit");
    QTest::addColumn<QString>("exceeded"); // joined by spaces
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("said"); // the reasons for the --max-* given, joined by "; "
    QTest::addColumn<int>("state");
    QTest::addColumn<QString>("stateReasons"); // joined by "; "

    const int ok = int(CheckVerdict::State::Ok);
    const int warning = int(CheckVerdict::State::Warning);
    const int critical = int(CheckVerdict::State::Critical);

    QTest::newRow("every probe came back, no limits") << "count=20 p95=1.5" << 0 << ""
                                                      << ""
                                                      << ""
                                                      << "" << int(ExitOk) << "" << ok << "";
    // Without limits any fault fails, as the summary alone always had it,
    // and is said only by the state.
    QTest::newRow("one error, no limits")
        << "count=19 errors=1 p95=1.5" << 0 << ""
        << ""
        << ""
        << "errors" << int(ExitFaults) << "" << critical << "errors 1 exceed critical 0";
    QTest::newRow("one unanswered, no limits")
        << "count=19 unanswered=1 p95=1.5" << 0 << ""
        << ""
        << ""
        << "lost" << int(ExitFaults) << "" << critical << "lost 1 exceed critical 0";
    QTest::newRow("a second reply, no limits")
        << "count=20 late=1 p95=1.5" << 1 << ""
        << ""
        << ""
        << "lost" << int(ExitFaults) << "" << critical << "lost 1 exceed critical 0";
    // Lost 2, and their replies came late: each probe once.
    QTest::newRow("replies late after their probes were given up, within --max-lost")
        << "count=18 lost=2 late=2 p95=1.5" << 0 << "lost=2"
        << ""
        << ""
        << "" << int(ExitOk) << "" << ok << "";
    QTest::newRow("lost, unanswered and a second reply together over --max-lost")
        << "count=17 lost=2 unanswered=1 late=3 p95=1.5" << 1 << "lost=3"
        << ""
        << ""
        << "lost" << int(ExitFaults) << "lost 4 exceed --max-lost 3" << critical
        << "lost 4 exceed critical 3";
    QTest::newRow("errors over --max-errors, lost within --max-lost")
        << "count=17 errors=3 lost=1 p95=1.5" << 0 << "errors=2 lost=1"
        << ""
        << ""
        << "errors" << int(ExitFaults) << "errors 3 exceed --max-errors 2" << critical
        << "errors 3 exceed critical 2";
    QTest::newRow("every figure over its limit, each said")
        << "count=15 errors=3 lost=2 p95=12.5" << 0 << "errors=2 lost=1 p95=10"
        << ""
        << ""
        << "errors lost p95" << int(ExitFaults)
        << "errors 3 exceed --max-errors 2; lost 2 exceed --max-lost 1; p95 12.500 ms exceeds "
           "--max-p95 10"
        << critical
        << "errors 3 exceed critical 2; lost 2 exceed critical 1; p95 12.500 ms exceeds "
           "critical 10 ms";
    QTest::newRow("p95 at its limit passes") << "count=20 p95=10" << 0 << "p95=10"
                                             << ""
                                             << ""
                                             << "" << int(ExitOk) << "" << ok << "";
    QTest::newRow("fractional p95 limit")
        << "count=20 p95=10.25" << 0 << "p95=10.2"
        << ""
        << ""
        << "p95" << int(ExitFaults) << "p95 10.250 ms exceeds --max-p95 10.2" << critical
        << "p95 10.250 ms exceeds critical 10.2 ms";
    QTest::newRow("no exchange completed, whatever the limits")
        << "lost=5" << 0 << "lost=10 p95=1"
        << ""
        << ""
        << "" << int(ExitFaults) << "" << critical << "no exchange completed";
    QTest::newRow("p95 over its warning limit only")
        << "count=20 p95=12" << 0 << ""
        << "p95=10"
        << "p95=20"
        << "" << int(ExitOk) << "" << warning << "p95 12.000 ms exceeds warning 10 ms";
    QTest::newRow("p95 over its critical limit")
        << "count=20 p95=25" << 0 << ""
        << "p95=10"
        << "p95=20"
        << "" << int(ExitOk) << "" << critical << "p95 25.000 ms exceeds critical 20 ms";
    QTest::newRow("--max-lost is the critical limit, lost over the warning one")
        << "count=17 lost=3 p95=1" << 0 << "lost=5"
        << "lost=1"
        << ""
        << "" << int(ExitOk) << "" << warning << "lost 3 exceed warning 1";
    QTest::newRow("a warning limit alone leaves no critical one")
        << "count=15 lost=5 p95=1" << 0 << ""
        << "lost=2"
        << ""
        << "lost" << int(ExitFaults) << "" << warning << "lost 5 exceed warning 2";
    QTest::newRow("critical and warning at once, the critical first")
        << "count=14 errors=4 lost=2 p95=1" << 0 << ""
        << "lost=1"
        << "errors=3 lost=5"
        << "errors lost" << int(ExitFaults) << "" << critical
        << "errors 4 exceed critical 3; lost 2 exceed warning 1";
}

void CheckVerdictTest::judgesTheFigures()
{
    QFETCH(QString, figures);
    QFETCH(int, strayReplies);
    QFETCH(QString, max);
    QFETCH(QString, warn);
    QFETCH(QString, crit);
    QFETCH(QString, exceeded);
    QFETCH(int, exitCode);
    QFETCH(QString, said);
    QFETCH(int, state);
    QFETCH(QString, stateReasons);

    const CheckVerdict::Thresholds thresholds{limitsOf(max), limitsOf(warn), limitsOf(crit)};
    const CheckVerdict verdict(CheckVerdict::measuresOf(figuresOf(figures), strayReplies),
                               thresholds);
    QCOMPARE(verdict.exceeded().join(u' '), exceeded);
    QCOMPARE(verdict.exitCode(), exitCode);
    QCOMPARE(verdict.exceededReasons().join(QStringLiteral("; ")), said);
    QCOMPARE(CheckVerdict::stateName(verdict.state()),
             CheckVerdict::stateName(CheckVerdict::State(state)));
    QCOMPARE(verdict.stateReasons().join(QStringLiteral("; ")), stateReasons);
}

QTEST_GUILESS_MAIN(CheckVerdictTest)
#include "tst_CheckVerdict.moc"
