#include "WindowOnPty.h"

WindowOnPty::WindowOnPty(int portNumber) : TestWindow(Real), line(portNumber) {}

WindowOnPty::~WindowOnPty()
{
    form.reset();
}

bool WindowOnPty::open()
{
    return open(line.number);
}

QString WindowOnPty::problem()
{
    if (!line.problem().isEmpty())
        return line.problem();
    return form->port().errorString();
}
