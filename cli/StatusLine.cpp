#include "StatusLine.h"

#include "Console.h"

StatusLine::StatusLine(std::FILE *out, bool live, QObject *parent)
    : QObject(parent), out_(out), live_(live)
{
    later_.setSingleShot(true);
    connect(&later_, &QTimer::timeout, this, &StatusLine::draw);
}

void StatusLine::show(const QString &text)
{
    if (!live_)
        return;
    pending_ = text;
    if (later_.isActive())
        return;
    const std::chrono::milliseconds since(sinceDraw_.isValid() ? sinceDraw_.elapsed()
                                                               : kRedrawSpacing.count());
    if (since >= kRedrawSpacing)
        draw();
    else
        later_.start(kRedrawSpacing - since);
}

void StatusLine::draw()
{
    // Spaces cover what is left of a longer line drawn before.
    const qsizetype cover = std::max<qsizetype>(0, drawnWidth_ - pending_.size());
    // A terminal that takes nothing (held with Ctrl+S, a session gone quiet)
    // gets what fits, the rest is dropped: the next redraw starts the line
    // over, and the run must not wait on the screen.
    Console::writeBytes(out_, (u'\r' + pending_ + QString(cover, u' ')).toUtf8(),
                        std::chrono::milliseconds(0));
    drawnWidth_ = pending_.size();
    sinceDraw_.start();
}

void StatusLine::clear()
{
    later_.stop();
    if (!live_ || drawnWidth_ == 0)
        return;
    Console::write(out_, u'\r' + QString(drawnWidth_, u' ') + u'\r');
    drawnWidth_ = 0;
}
