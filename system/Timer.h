#pragma once

#include <QObject>

// A repeating timer addressed by its interval, like a form timer: an interval
// of 0 stops it; setting any other interval starts or restarts it.
class Timer : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~Timer() override;

    virtual void setInterval(int milliseconds) = 0;
    virtual int interval() const = 0;
    bool isRunning() const { return interval() > 0; }

signals:
    void timeout();
};
