#include "TestWindow.h"

#include "ChartLoader.h"
#include "LinePort.h"
#include "QtTimer.h"
#include "SteadyClock.h"

#include <QCoreApplication>
#include <QDir>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

namespace {

QTemporaryDir &settingsDir()
{
    // Goes, with all the settings of the run, when the program ends.
    static QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/commcheck-test-settings-XXXXXX"));
    return dir;
}

// Every setting of the test program in its own folder, from before anything
// reads one: the user's and the machine's settings are neither read nor
// written. (Qt's test mode of the standard paths would move the settings too,
// but also the port folder, which the pseudo-terminal tests place through
// XDG_CONFIG_HOME.)
void keepSettingsInScratch()
{
    QTemporaryDir &dir = settingsDir();
    if (!dir.isValid())
        qFatal("no temporary settings folder: %s", qPrintable(dir.errorString()));
    for (QSettings::Format format : {QSettings::NativeFormat, QSettings::IniFormat}) {
        QSettings::setPath(format, QSettings::UserScope, dir.path() + QStringLiteral("/user"));
        QSettings::setPath(format, QSettings::SystemScope, dir.path() + QStringLiteral("/system"));
    }
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(keepSettingsInScratch)

QString TestWindow::settingsFolder()
{
    return settingsDir().path();
}

TestWindow::TestWindow(Platform platform, Settings settings)
{
    if (settings == FirstRun)
        QSettings().clear();
    ChartLoader::setModuleFile(QStringLiteral(COMMCHECK_CHART_MODULE));
    PlatformServices services;
    if (platform == Real) {
        services.port = std::make_unique<LinePort>();
        services.clock = std::make_unique<SteadyClock>();
        services.probeTimer = std::make_unique<QtTimer>();
        services.pollTimer = std::make_unique<QtTimer>();
    } else {
        auto fakePort = std::make_unique<FakeSerialPort>();
        auto fakeClock = std::make_unique<FakeClock>();
        auto fakeProbeTimer = std::make_unique<FakeTimer>();
        auto fakePollTimer = std::make_unique<FakeTimer>();
        auto fakeDialog = std::make_unique<FakeFileDialog>();
        port = fakePort.get();
        clock = fakeClock.get();
        probeTimer = fakeProbeTimer.get();
        pollTimer = fakePollTimer.get();
        dialog = fakeDialog.get();
        services.port = std::move(fakePort);
        services.clock = std::move(fakeClock);
        services.probeTimer = std::move(fakeProbeTimer);
        services.pollTimer = std::move(fakePollTimer);
        services.fileDialog = std::move(fakeDialog);
    }
    form = std::make_unique<Form1>(std::move(services));
    form->load();
}

void TestWindow::click(Form1::PortButton button)
{
    QTest::mouseClick(c().portButtons[button], Qt::LeftButton);
}

bool TestWindow::open(int portNumber)
{
    c().portNumber->setText(QString::number(portNumber));
    click(Form1::Open);
    return isOpen();
}

void TestWindow::answer(const QString &text)
{
    Controls::setBoxText(c().sendText, text);
    form->controls().portButtons[Form1::Receive]->click();
    form->controls().startButton->click();
}

void TestWindow::check(const QString &text, int intervalMs)
{
    Controls::setBoxText(c().sendText, text);
    c().checkEnabled->setChecked(true);
    c().interval->setText(QString::number(intervalMs));
    form->controls().portButtons[Form1::Send]->click();
    form->controls().startButton->click();
}
