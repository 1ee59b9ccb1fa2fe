#include "CheckSettings.h"

#include <QSettings>

namespace {

constexpr QLatin1String kPrecise("check/precise");
// Whole milliseconds; 0 for none.
constexpr QLatin1String kReplyTimeout("check/replyTimeoutMs");

} // namespace

CheckSettings CheckSettings::read()
{
    const QSettings settings;
    CheckSettings read;
    read.precise = settings.value(kPrecise, false).toBool();
    bool ok = false;
    const qlonglong ms = settings.value(kReplyTimeout, 0).toLongLong(&ok);
    if (ok && ms > 0)
        read.replyTimeout = std::chrono::milliseconds(ms);
    return read;
}

void CheckSettings::write() const
{
    QSettings settings;
    settings.setValue(kPrecise, precise);
    settings.setValue(kReplyTimeout, qlonglong(replyTimeout ? replyTimeout->count() : 0));
}
