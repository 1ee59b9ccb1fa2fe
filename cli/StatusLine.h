#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <cstdio>

// One line of live figures on a terminal, redrawn in place with a carriage
// return. At most one redraw per kRedrawSpacing: a fast check would otherwise
// spend its time writing to the terminal; the last text given is always
// drawn, as far as the terminal takes it without waiting. Not live (output to
// a file or a pipe): shows nothing.
class StatusLine : public QObject {
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds kRedrawSpacing{100};

    StatusLine(std::FILE *out, bool live, QObject *parent = nullptr);

    bool isLive() const { return live_; }
    void show(const QString &text);
    // Erases the line, so that what is printed next starts on a clean line.
    void clear();

private:
    void draw();

    std::FILE *out_;
    bool live_;
    QString pending_;
    qsizetype drawnWidth_ = 0;
    QElapsedTimer sinceDraw_;
    QTimer later_;
};
