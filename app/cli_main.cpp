#include "CliProgram.h"
#include "PortLocator.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    PortLocator::keepCommandLine(argc, argv);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("commcheck-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(COMMCHECK_VERSION));
    return CliProgram(stdout, stderr).run(QCoreApplication::arguments());
}
