#pragma once

#include <QString>
#include <QTemporaryDir>

// A temporary port folder for tests: points XDG_CONFIG_HOME at a fresh folder
// for the object's lifetime and maps port numbers to devices in it.
class PortFolder {
public:
    PortFolder();
    ~PortFolder();

    bool isValid() const { return dir_.isValid(); }
    // Makes port `number` name `device` (a symbolic link comN -> device).
    bool map(int number, const QString &device);
    // Makes port `number` a file entry whose first line is `line` (a device
    // path, or a device server's address).
    bool write(int number, const QString &line);
    bool unmap(int number);
    QString path() const;

private:
    QTemporaryDir dir_;
    QByteArray previous_;
    bool hadPrevious_ = false;
};
