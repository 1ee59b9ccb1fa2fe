#include "CliProgram.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("commcheck-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(COMMCHECK_VERSION));
    return CliProgram(stdout, stderr).run(QCoreApplication::arguments());
}
