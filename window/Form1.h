#pragma once

#include "CheckSettings.h"
#include "Controls.h"
#include "FileDialog.h" // whole: callers that leave the dialog out still destroy its holder

#include <QWidget>

#include <chrono>
#include <memory>
#include <optional>

class ChartWindow;
class Clock;
class ExchangeRecord;
class FileCommands;
class LoopbackCheck;
class PortSession;
class QAction;
class RecordCommands;
class SerialPort;
class Timer;
struct Statistics;

// The platform objects the window works through; the app passes the real
// ones, tests pass fakes.
struct PlatformServices {
    std::unique_ptr<SerialPort> port;
    std::unique_ptr<Clock> clock;
    std::unique_ptr<Timer> probeTimer;
    std::unique_ptr<Timer> pollTimer; // polls for the reply
    // May be left out where files play no part: the file buttons then do nothing.
    std::unique_ptr<FileDialog> fileDialog;
};

// The one window: builds the controls at their fixed places and binds them to
// the check engine: clicks call the engine, its signals set the controls.
class Form1 : public QWidget {
    Q_OBJECT
public:
    // 15 twips to a logical pixel: the layout is given in twips.
    static constexpr int kTwipsPerPixel = 15;
    // The port buttons, Command1(0) to Command1(3).
    enum PortButton { Open = 0, Send = 1, Receive = 2, Close = 3 };

    explicit Form1(PlatformServices services, QWidget *parent = nullptr);
    ~Form1() override;

    // The load handler: fills the lists, sets the defaults and gives the
    // check the settings remembered from the last run. Runs once, before the
    // window is first shown.
    void load();

    Controls &controls() { return controls_; }
    SerialPort &port() { return *services_.port; }
    PortSession &session() { return *session_; }
    LoopbackCheck &check() { return *check_; }
    Timer &probeTimer() { return *services_.probeTimer; }
    Timer &pollTimer() { return *services_.pollTimer; }
    // Only on a window given a file dialog.
    FileCommands &fileCommands() { return *fileCommands_; }
    // The current run's exchanges, kept whether or not the chart is open.
    const ExchangeRecord &record() const { return *record_; }
    // The chart window, once it has been opened.
    ChartWindow *chartWindow() const { return chart_; }

    // Ctrl+G, and the statistics' context menu: opens the chart window, or
    // raises it when it is open.
    void showChart();
    // Ctrl+L, and the statistics' context menu: saves the record as CSV
    // (only on a window given a file dialog).
    void saveRecord();

    static QString chartActionText();
    static QString saveRecordActionText();

    // The statistics' context menu also holds the check's settings, each
    // remembered for the next run: 受信した時点で計る (checkable) times a
    // reply when its last byte arrives; 応答待ち時間... asks how long a
    // reply is awaited before its probe is given up.
    static QString preciseActionText();
    static QString replyTimeoutActionText();
    // What 応答待ち時間... sets once the user has answered: none, or zero
    // or less, for no limit.
    void setReplyTimeout(std::optional<std::chrono::milliseconds> timeout);

    // Shown in the receive box whenever opening fails, whatever the cause.
    static QString openFailedMessage();
    // Added to the receive box when the port refuses a text.
    static QString sendRefusedMessage();
    // Added to the receive box when an open port is lost.
    static QString lostMessage(int portNumber);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildControls();
    void nameForAssistiveTools();
    void setTabOrder();
    void bindEngine();
    void bindRecord();
    void openPort();
    void showOpenButtons(bool portOpen);
    void showStatistics(const Statistics &statistics);
    void showErrors(const Statistics &statistics);
    void setPrecise(bool precise);
    void askReplyTimeout();
    void applyCheckSettings();

    PlatformServices services_;
    Controls controls_;
    std::unique_ptr<PortSession> session_;
    std::unique_ptr<LoopbackCheck> check_;
    std::unique_ptr<FileCommands> fileCommands_;
    std::unique_ptr<ExchangeRecord> record_;
    std::unique_ptr<RecordCommands> recordCommands_;
    ChartWindow *chart_ = nullptr; // a child window: goes with this one
    QAction *preciseAction_ = nullptr;
    CheckSettings checkSettings_; // as the check has them
};
