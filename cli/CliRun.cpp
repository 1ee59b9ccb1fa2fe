#include "CliRun.h"

#include "CliOptions.h"
#include "Console.h"
#include "CsvLog.h"
#include "ExitCode.h"
#include "PortSession.h"

namespace {

std::FILE *statusStream(const CliOptions &options, std::FILE *out, std::FILE *err)
{
    return options.format == CliOptions::Format::Text ? out : err;
}

} // namespace

CliRun::CliRun(const CliOptions &options, PortSession &session, std::FILE *out, std::FILE *err,
               QObject *parent)
    : QObject(parent), options_(options), session_(session), out_(out), err_(err),
      status_(statusStream(options, out, err), Console::isTerminal(statusStream(options, out, err)))
{
    connect(&session_, &PortSession::lost, this, [this](int, const QString &reason) {
        if (ending_ || keepsLine_)
            return;
        notePortLost(reason);
        onPortLost();
    });
}

CliRun::~CliRun() = default;

void CliRun::keepLog(CsvLog *log, const QString &activity)
{
    log_ = log;
    activity_ = activity;
}

void CliRun::log(const QStringList &fields)
{
    if (log_ == nullptr || !log_->isOpen())
        return;
    if (!log_->addRow(fields)) {
        status_.clear();
        logError_ = log_->errorString();
        Console::write(
            err_,
            QStringLiteral("commcheck-cli: %1; %2 goes on unlogged\n").arg(logError_, activity_));
        log_ = nullptr;
        logFailed_ = true;
    }
}

void CliRun::notePortLost(const QString &reason)
{
    portLost_ = true;
    lostReason_ = reason;
}

void CliRun::reportPortLoss()
{
    status_.clear();
    Console::write(
        err_, QStringLiteral("commcheck-cli: port %1 lost: %2\n").arg(options_.port, lostReason_));
}

void CliRun::endSoon()
{
    if (ending_)
        return;
    ending_ = true;
    QMetaObject::invokeMethod(this, &CliRun::finish, Qt::QueuedConnection);
}

void CliRun::finish()
{
    session_.close();
    status_.clear();
    printEnd();
    emit finished(reportedCode(endCode()));
}

int CliRun::endCode() const
{
    return portLost_ ? ExitPortLost : logFailed_ ? ExitLogFailed : exitCode();
}
