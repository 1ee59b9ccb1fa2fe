#include "ChartLoader.h"

#include "ChartModule.h"

#include <QCoreApplication>
#include <QDir>
#include <QPluginLoader>

namespace {

QString &moduleFile()
{
    static QString file;
    return file;
}

QStringList candidates()
{
    if (!moduleFile().isEmpty())
        return {moduleFile()};
    // Without a suffix, as QPluginLoader adds the platform's own.
    const QDir programDir(QCoreApplication::applicationDirPath());
    return {
        programDir.filePath(QStringLiteral("commcheck-chart")),
        programDir.filePath(QStringLiteral(COMMCHECK_CHART_DIR_FROM_PROGRAM "/commcheck-chart"))};
}

} // namespace

ChartModule *ChartLoader::load(QString *error)
{
    QStringList reasons;
    for (const QString &file : candidates()) {
        // Never unloaded: the plots it made live as long as their window.
        QPluginLoader loader(file);
        QObject *root = loader.instance();
        if (auto *module = qobject_cast<ChartModule *>(root))
            return module;
        // Qt names the file in some of its reasons, not in all.
        const QString reason = root ? QStringLiteral("not the chart module") : loader.errorString();
        reasons.append(reason.contains(file)
                           ? reason
                           : QDir::toNativeSeparators(file) + QStringLiteral(": ") + reason);
    }
    if (error)
        *error = reasons.join(QLatin1Char('\n'));
    return nullptr;
}

void ChartLoader::setModuleFile(const QString &file)
{
    moduleFile() = file;
}
