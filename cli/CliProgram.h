#pragma once

#include "CliOptions.h"

#include <QStringList>

#include <cstdio>

// commcheck-cli from its arguments to its exit code: reads the command line,
// opens the log and then the port, runs the command (a CliRun) on the event
// loop and ends it on Ctrl+C, SIGTERM or SIGHUP (a second Ctrl+C or SIGTERM
// ends the program at once). Needs a QCoreApplication.
class CliProgram {
public:
    CliProgram(std::FILE *out, std::FILE *err);

    // `arguments` as main() gets them, the program's name first.
    int run(const QStringList &arguments);

private:
    // `commcheck-cli monitor`: every line of the configuration until stopped.
    int runMonitor(const CliOptions &options);
    // A bad command line: the reason and the usage on the error output.
    int refuse(const QString &reason, CliOptions::Format format);
    // A run that did not start for `reason`: `exitCode`, or in the nagios
    // format UNKNOWN with the reason on the standard output.
    int notOpened(const QString &reason, CliOptions::Format format, int exitCode);

    std::FILE *out_;
    std::FILE *err_;
};
