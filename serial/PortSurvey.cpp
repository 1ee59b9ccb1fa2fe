#include "PortSurvey.h"

#include "NetworkPort.h"
#include "PortLocator.h"

#include <QFileInfo>
#include <QSerialPortInfo>

#include <algorithm>

namespace {

const SerialDevice *findDevice(const QList<SerialDevice> &devices, const QString &path)
{
    for (const SerialDevice &device : devices) {
        if (device.path == path)
            return &device;
    }
    return nullptr;
}

QString describe(const SerialDevice *device)
{
    if (!device)
        return {};
    QStringList parts;
    if (!device->description.isEmpty())
        parts << device->description;
    if (!device->manufacturer.isEmpty() && device->manufacturer != device->description)
        parts << device->manufacturer;
    return parts.join(QStringLiteral(", "));
}

bool deviceExists(const QString &path)
{
#ifdef Q_OS_WIN
    // COMn is no file; the system's list is the only witness.
    return !QSerialPortInfo(path).isNull();
#else
    return QFileInfo::exists(path);
#endif
}

} // namespace

PortSurvey PortSurvey::from(const QList<SerialDevice> &devices, const QMap<int, QString> &folder)
{
    PortSurvey survey;
    QStringList namedPaths;
    for (auto it = folder.cbegin(); it != folder.cend(); ++it) {
        // The hint lists only numbers the port number box can open.
        if (!PortLocator::isPortNumber(it.key()))
            continue;
        Named entry{it.key(), it.value(), true, describe(findDevice(devices, it.value()))};
        // Whether a device server answers is known only by connecting, which
        // a hint must not wait for: its entry is listed as it stands.
        if (NetworkPort::looksLikeAddress(it.value())) {
            entry.description = QStringLiteral("device server");
            survey.named << entry;
        } else if (!it.value().isEmpty() && deviceExists(it.value())) {
            survey.named << entry;
            namedPaths << it.value();
        } else {
            survey.missing << entry;
        }
    }
    for (const SerialDevice &device : devices) {
        if (namedPaths.contains(device.path))
            continue;
        const int number = PortLocator::systemNumberFor(device.path);
        if (PortLocator::isPortNumber(number) && !folder.contains(number)) {
            survey.named << Named{number, device.path, false, describe(&device)};
            namedPaths << device.path;
        } else {
            survey.unnamed << device;
        }
    }
    std::sort(survey.named.begin(), survey.named.end(),
              [](const Named &a, const Named &b) { return a.number < b.number; });
    return survey;
}

QList<SerialDevice> PortSurvey::systemDevices()
{
    QList<SerialDevice> devices;
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts()) {
        const QString path = info.systemLocation();
        devices << SerialDevice{path, info.description(), info.manufacturer(),
                                PortLocator::stableNameFor(path)};
    }
    return devices;
}

PortSurvey PortSurvey::take()
{
    QMap<int, QString> folder;
    for (int number : PortLocator::folderNumbers())
        folder.insert(number, PortLocator::deviceFor(number));
    return from(systemDevices(), folder);
}
