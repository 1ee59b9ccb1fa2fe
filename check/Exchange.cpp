#include "Exchange.h"

QString Exchange::outcomeName(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Ok:
        return QStringLiteral("ok");
    case Outcome::Error:
        return QStringLiteral("error");
    case Outcome::Lost:
        return QStringLiteral("lost");
    case Outcome::Late:
        return QStringLiteral("late");
    case Outcome::Unanswered:
        return QStringLiteral("unanswered");
    }
    return {};
}
