#pragma once

#include <QObject>
#include <QString>

#include <memory>

// Turns the requests to stop that come from outside (Ctrl+C, SIGTERM from a
// service manager or `kill`) into a signal on the event loop, where the run
// can end in order: the handler itself only writes a byte to a pipe, which
// is all a signal handler may safely do. One at a time in a program.
class StopSignals : public QObject {
    Q_OBJECT
public:
    explicit StopSignals(QObject *parent = nullptr);
    ~StopSignals() override;

    // False when the handlers could not be installed (errorString() says why).
    bool isValid() const;
    QString errorString() const;

signals:
    // `name` is the signal's name, e.g. "SIGINT".
    void stopRequested(const QString &name);

private:
    struct Private;
    std::unique_ptr<Private> d_;
};
