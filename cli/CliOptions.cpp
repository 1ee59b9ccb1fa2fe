#include "CliOptions.h"

std::optional<int> CliOptions::portNumber() const
{
    if (port.isEmpty() || port.size() > 9)
        return std::nullopt;
    for (QChar c : port) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
    }
    return port.toInt();
}

QString CliOptions::commandName(Command command)
{
    switch (command) {
    case Command::Check:
        return QStringLiteral("check");
    case Command::Answer:
        return QStringLiteral("answer");
    case Command::Send:
        return QStringLiteral("send");
    case Command::Receive:
        return QStringLiteral("receive");
    case Command::Monitor:
        return QStringLiteral("monitor");
    }
    return {};
}
