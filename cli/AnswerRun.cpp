#include "AnswerRun.h"

#include "Console.h"
#include "CsvLog.h"
#include "DurationText.h"
#include "ExchangeCsv.h"
#include "ExitCode.h"
#include "PortSession.h"

#include <QDateTime>

AnswerRun::AnswerRun(const CliOptions &options, PortSession &session, CsvLog *log, std::FILE *out,
                     std::FILE *err, QObject *parent)
    : QObject(parent), options_(options), session_(session), log_(log), out_(out), err_(err),
      check_(session.port(), clock_, probeTimer_, pollTimer_),
      status_(out, Console::isTerminal(out))
{
    check_.setText(options.text);
    connect(&check_, &LoopbackCheck::answered, this, &AnswerRun::onAnswered);
    connect(&session_, &PortSession::lost, this, [this](int, const QString &reason) {
        if (stopping_)
            return;
        portLost_ = true;
        status_.clear();
        Console::write(
            err_, QStringLiteral("commcheck-cli: port %1 lost: %2\n").arg(options_.port, reason));
        stop(QStringLiteral("port lost"));
    });
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
    if (stopping_)
        return;
    ++answers_;
    const QDateTime now = QDateTime::currentDateTime();
    if (log_ != nullptr && log_->isOpen() &&
        !log_->addRow({ExchangeCsv::timeText(now), QString::number(answers_), QString(),
                       QStringLiteral("answered"), ExchangeCsv::receivedField(arrived)})) {
        status_.clear();
        Console::write(err_, QStringLiteral("commcheck-cli: %1; answering goes on unlogged\n")
                                 .arg(log_->errorString()));
        log_ = nullptr;
        logFailed_ = true;
    }
    status_.show(QStringLiteral("answering on %1, %2 answers, the last at %3")
                     .arg(options_.port)
                     .arg(answers_)
                     .arg(now.toString(QStringLiteral("HH:mm:ss"))));
}

void AnswerRun::stop(const QString &why)
{
    if (stopping_)
        return;
    stopping_ = true;
    ending_ = why;
    pollTimer_.setInterval(0);
    QMetaObject::invokeMethod(this, &AnswerRun::finish, Qt::QueuedConnection);
}

void AnswerRun::finish()
{
    session_.close();
    status_.clear();
    Console::write(
        out_, QStringLiteral("answering on %1 ended after %2: %3\nanswers %4\n")
                  .arg(options_.port,
                       DurationText::format(std::chrono::milliseconds(runTime_.elapsed())), ending_)
                  .arg(answers_));
    emit finished(portLost_ ? ExitPortLost : logFailed_ ? ExitLogFailed : ExitOk);
}
