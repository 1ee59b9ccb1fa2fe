#include "PtyPort.h"

PtyPort::PtyPort(int number) : number(number)
{
    if (!folder.isValid())
        problem_ = QStringLiteral("no temporary port folder");
    else if (!pty.isValid())
        problem_ = QStringLiteral("no pseudo-terminal: ") + pty.error();
    else if (!plugIn(pty))
        problem_ = QStringLiteral("cannot map port %1 to %2").arg(number).arg(pty.slavePath());
}

bool PtyPort::plugIn(const PtyPair &device)
{
    return folder.map(number, device.slavePath());
}
