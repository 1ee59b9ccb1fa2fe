#pragma once

#include "Controls.h"
#include "FileDialog.h" // whole: callers that leave the dialog out still destroy its holder
#include "WindowState.h"

#include <QWidget>

#include <memory>

class Clock;
class FeedbackCheck;
class FileCommands;
class PortControl;
class SerialPort;
class Timer;

// The platform objects the window works through; the app passes the real
// ones, tests pass fakes.
struct PlatformServices {
    std::unique_ptr<SerialPort> MSComm1;
    std::unique_ptr<Clock> clock;
    std::unique_ptr<Timer> Timer1; // probe timer
    std::unique_ptr<Timer> Timer2; // reply poller
    // May be left out where files play no part: the file buttons then do nothing.
    std::unique_ptr<FileDialog> CommonDialog1;
};

// The one window: builds the controls at their fixed places, owns the window
// state and the platform objects, and hands events to the handler classes.
class Form1 : public QWidget {
    Q_OBJECT
public:
    // 15 twips to a logical pixel: the layout is given in twips.
    static constexpr int kTwipsPerPixel = 15;

    explicit Form1(PlatformServices services, QWidget *parent = nullptr);
    ~Form1() override;

    // The load handler: fills the lists and sets the defaults. Runs once,
    // before the window is first shown.
    void load();

    Controls &controls() { return controls_; }
    WindowState &state() { return state_; }
    SerialPort &port() { return *services_.MSComm1; }
    PortControl &portControl() { return *portControl_; }
    FeedbackCheck &feedbackCheck() { return *feedbackCheck_; }
    Timer &probeTimer() { return *services_.Timer1; }
    Timer &pollTimer() { return *services_.Timer2; }
    // Only on a window given a file dialog.
    FileCommands &fileCommands() { return *fileCommands_; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildControls();
    void nameForAssistiveTools();
    void setTabOrder();

    PlatformServices services_;
    Controls controls_;
    WindowState state_;
    std::unique_ptr<PortControl> portControl_;
    std::unique_ptr<FeedbackCheck> feedbackCheck_;
    std::unique_ptr<FileCommands> fileCommands_;
};
