#pragma once

#include "CliOptions.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QList>
#include <QString>
#include <QStringList>

// Reads commcheck-cli's command line into CliOptions, refusing anything it
// cannot run with a one-line reason; never exits the program itself.
//   parse({"commcheck-cli", "check", "3", "--text", "ABC[13]", "--count", "10"})
//     runs a check on port 3, ten probes at the default 1000 ms.
class CommandLine {
public:
    enum class Action { Run, Help, Version, Refuse };
    struct Result {
        Action action = Action::Refuse;
        CliOptions options;
        QString error; // the reason, when refused
    };

    CommandLine();

    // `arguments` as main() gets them, the program's name first.
    Result parse(const QStringList &arguments);

    // The full --help text.
    QString helpText();
    // The few lines shown after a refusal.
    static QString usage();

private:
    struct Option {
        QCommandLineOption option;
        QList<CliOptions::Command> commands; // where it may be given
    };

    QString parseValues(CliOptions &options) const;
    // The limits of the verdict, each read, against one another.
    QString checkVerdictLimits(const CliOptions &options) const;
    QString checkApplies(CliOptions::Command command) const;
    const QCommandLineOption &option(const QString &name) const;

    QCommandLineParser parser_;
    QList<Option> options_;
    QCommandLineOption help_;
    QCommandLineOption version_;
};
