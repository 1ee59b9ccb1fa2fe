#include "Summary.h"

#include <cstdio>

namespace Summary {

void print(const QString &figure, const QString &value, const QString &target,
           const QString &reference, Status status)
{
    const char *word = status == Status::Met ? "ok" : status == Status::Missed ? "MISSED" : "-";
    auto orDash = [](const QString &text) { return text.isEmpty() ? QStringLiteral("-") : text; };
    std::printf("SUMMARY\t%s\t%s\t%s\t%s\t%s\n", qPrintable(figure), qPrintable(orDash(value)),
                qPrintable(orDash(target)), qPrintable(orDash(reference)), word);
    std::fflush(stdout);
}

QString number(double value, int decimals, const QString &unit)
{
    const QString digits = QString::number(value, 'f', decimals);
    return unit.isEmpty() ? digits : digits + u' ' + unit;
}

} // namespace Summary
