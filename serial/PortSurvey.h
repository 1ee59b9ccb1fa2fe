#pragma once

#include <QList>
#include <QMap>
#include <QString>

// A serial device the system reports.
struct SerialDevice {
    QString path;        // /dev/ttyUSB0, COM3
    QString description; // "FT232R USB UART", as the driver gives it
    QString manufacturer;
    QString stableName; // e.g. /dev/serial/by-id/usb-...; empty when none
};

// Which port numbers name an existing device, which folder entries name a
// device that is not there, and which devices no number names yet: what the
// port number box shows as its hint.
struct PortSurvey {
    struct Named {
        int number = 0;
        QString device;
        bool fromFolder = false; // named by the port folder, not the system's numbering
        QString description;
    };
    QList<Named> named;          // by number
    QList<Named> missing;        // folder entries whose device does not exist
    QList<SerialDevice> unnamed; // devices no number names

    // The survey as things are now: the port folder and the system's devices.
    static PortSurvey take();

    // The survey for the given devices and folder entries (number -> the
    // device the entry names, resolved). A folder entry wins over the
    // system's numbering for its number.
    static PortSurvey from(const QList<SerialDevice> &devices, const QMap<int, QString> &folder);

    // The serial devices the system reports now.
    static QList<SerialDevice> systemDevices();
};
