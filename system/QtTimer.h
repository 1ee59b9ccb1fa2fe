#pragma once

#include "Timer.h"

#include <QTimer>

// The real timer: a precise QTimer (the default coarse timer may fire up to
// 5% early, which would show in every measured response time).
class QtTimer : public Timer {
    Q_OBJECT
public:
    explicit QtTimer(QObject *parent = nullptr);

    void setInterval(int milliseconds) override;
    int interval() const override;

private:
    QTimer timer_;
};
