#include "Unprivileged.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace Unprivileged {

namespace {

// Generous: the case itself takes a fraction of a second.
constexpr int kRunMs = 60000;

} // namespace

bool isRoot()
{
    return ::geteuid() == 0;
}

QString rerunAsNobody(const QString &testCase)
{
    const passwd *nobody = ::getpwnam("nobody");
    if (!nobody)
        return QStringLiteral("there is no user nobody to run the case as");
    QTemporaryDir home;
    if (!home.isValid())
        return QStringLiteral("cannot make a folder for nobody: %1").arg(home.errorString());
    if (::chown(QFile::encodeName(home.path()).constData(), nobody->pw_uid, nobody->pw_gid) != 0)
        return QStringLiteral("cannot give %1 to nobody: %2")
            .arg(home.path(), QString::fromLocal8Bit(std::strerror(errno)));

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home.path());
    env.insert(QStringLiteral("TMPDIR"), home.path());
    env.remove(QStringLiteral("XDG_RUNTIME_DIR")); // root's, which nobody may not use
    QProcess run;
    run.setProcessEnvironment(env);
    run.setWorkingDirectory(home.path());
    run.setProcessChannelMode(QProcess::MergedChannels);
    run.start(QStringLiteral("setpriv"),
              {QStringLiteral("--reuid=%1").arg(nobody->pw_uid),
               QStringLiteral("--regid=%1").arg(nobody->pw_gid), QStringLiteral("--clear-groups"),
               QStringLiteral("--"), QCoreApplication::applicationFilePath(), testCase});
    if (!run.waitForStarted(kRunMs))
        return QStringLiteral("cannot run setpriv to drop root: %1").arg(run.errorString());
    if (!run.waitForFinished(kRunMs)) {
        run.kill();
        run.waitForFinished(kRunMs);
        return QStringLiteral("the case did not end as nobody:\n%1")
            .arg(QString::fromLocal8Bit(run.readAll()));
    }
    const QString output = QString::fromLocal8Bit(run.readAll());
    if (run.exitStatus() != QProcess::NormalExit || run.exitCode() != 0)
        return QStringLiteral("the case failed as nobody (exit %1):\n%2")
            .arg(run.exitCode())
            .arg(output);
    // A name that matches no case is not a pass.
    const qsizetype colon = testCase.indexOf(u':');
    const QString passed =
        colon < 0 ? QStringLiteral("::%1()").arg(testCase)
                  : QStringLiteral("::%1(%2)").arg(testCase.left(colon), testCase.mid(colon + 1));
    const QRegularExpression passLine(
        QStringLiteral("^PASS   : \\S+%1$").arg(QRegularExpression::escape(passed)),
        QRegularExpression::MultilineOption);
    if (!passLine.match(output).hasMatch())
        return QStringLiteral("the case did not run as nobody:\n%1").arg(output);
    return {};
}

QString rerunCurrentCaseAsNobody()
{
    const QString function = QString::fromLatin1(QTest::currentTestFunction());
    const char *row = QTest::currentDataTag();
    return rerunAsNobody(row ? QStringLiteral("%1:%2").arg(function, QString::fromUtf8(row))
                             : function);
}

} // namespace Unprivileged
