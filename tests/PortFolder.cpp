#include "PortFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

const char kConfigVariable[] = "XDG_CONFIG_HOME";

} // namespace

PortFolder::PortFolder()
{
    hadPrevious_ = qEnvironmentVariableIsSet(kConfigVariable);
    previous_ = qgetenv(kConfigVariable);
    if (dir_.isValid())
        qputenv(kConfigVariable, QFile::encodeName(dir_.path()));
}

PortFolder::~PortFolder()
{
    if (hadPrevious_)
        qputenv(kConfigVariable, previous_);
    else
        qunsetenv(kConfigVariable);
}

QString PortFolder::path() const
{
    return dir_.path() + QStringLiteral("/commcheck/ports");
}

bool PortFolder::map(int number, const QString &device)
{
    if (!dir_.isValid() || !QDir().mkpath(path()))
        return false;
    unmap(number);
    return QFile::link(device, path() + QStringLiteral("/com%1").arg(number));
}

bool PortFolder::write(int number, const QString &line)
{
    if (!dir_.isValid() || !QDir().mkpath(path()))
        return false;
    unmap(number);
    QFile entry(path() + QStringLiteral("/com%1").arg(number));
    const QByteArray bytes = line.toLocal8Bit() + '\n';
    return entry.open(QIODevice::WriteOnly) && entry.write(bytes) == bytes.size() && entry.flush();
}

bool PortFolder::unmap(int number)
{
    const QString entry = path() + QStringLiteral("/com%1").arg(number);
    QFile::remove(entry);
    // QFileInfo::exists follows the link; a dangling one counts as there too.
    const QFileInfo left(entry);
    return !left.exists() && !left.isSymLink();
}
