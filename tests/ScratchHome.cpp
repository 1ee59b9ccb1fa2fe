#include "ScratchHome.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtGlobal>

namespace ScratchHome {

void enter()
{
    // Lives until the program ends, after the application object is gone.
    static QTemporaryDir home(QDir::tempPath() + QStringLiteral("/commcheck-test-home-XXXXXX"));
    if (!home.isValid())
        qFatal("no temporary home folder: %s", qPrintable(home.errorString()));
    qputenv("HOME", QFile::encodeName(home.path()));
    QStandardPaths::setTestModeEnabled(true);
}

} // namespace ScratchHome
