#include "Form1.h"
#include "QtFileDialog.h"
#include "QtSerialPort.h"
#include "QtTimer.h"
#include "SteadyClock.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("commcheck"));

    PlatformServices services;
    services.MSComm1 = std::make_unique<QtSerialPort>();
    services.clock = std::make_unique<SteadyClock>();
    services.Timer1 = std::make_unique<QtTimer>();
    services.Timer2 = std::make_unique<QtTimer>();
    auto fileDialog = std::make_unique<QtFileDialog>();
    QtFileDialog &dialog = *fileDialog;
    services.CommonDialog1 = std::move(fileDialog);

    Form1 form(std::move(services));
    // The dialog opens over the window, which exists only now.
    dialog.setParentWidget(&form);
    form.load();
    form.show();
    return app.exec();
}
