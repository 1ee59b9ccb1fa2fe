#include "AnswerRun.h"

#include "CliOptions.h"
#include "Console.h"
#include "DurationText.h"
#include "ExchangeCsv.h"
#include "ExitCode.h"
#include "PortSession.h"

#include <QDateTime>

AnswerRun::AnswerRun(const CliOptions &options, PortSession &session, CsvLog *log, std::FILE *out,
                     std::FILE *err, QObject *parent)
    : CliRun(options, session, out, err, parent),
      check_(session.port(), clock_, probeTimer_, pollTimer_)
{
    keepLog(log, QStringLiteral("answering"));
    check_.setText(options.text);
    connect(&check_, &LoopbackCheck::answered, this, &AnswerRun::onAnswered);
}

void AnswerRun::start()
{
    runTime_.start();
    check_.portOpened();
    // Takes in and drops whatever waited before the station was ready.
    check_.receiveOnce();
    check_.startStop(std::nullopt);
    status_.show(QStringLiteral("answering on %1, 0 answers").arg(options_.port));
}

void AnswerRun::onAnswered(const QString &arrived)
{
    if (ending())
        return;
    ++answers_;
    const QDateTime now = QDateTime::currentDateTime();
    log({ExchangeCsv::timeText(now), QString::number(answers_), QString(),
         QStringLiteral("answered"), ExchangeCsv::receivedField(arrived)});
    status_.show(QStringLiteral("answering on %1, %2 answers, the last at %3")
                     .arg(options_.port)
                     .arg(answers_)
                     .arg(now.toString(QStringLiteral("HH:mm:ss"))));
}

void AnswerRun::onPortLost()
{
    reportPortLoss();
    stop(QStringLiteral("port lost"));
}

void AnswerRun::stop(const QString &why)
{
    if (ending())
        return;
    why_ = why;
    pollTimer_.setInterval(0);
    endSoon();
}

void AnswerRun::printEnd()
{
    Console::write(
        out_, QStringLiteral("answering on %1 ended after %2: %3\nanswers %4\n")
                  .arg(options_.port,
                       DurationText::format(std::chrono::milliseconds(runTime_.elapsed())), why_)
                  .arg(answers_));
}

int AnswerRun::exitCode() const
{
    return ExitOk;
}
