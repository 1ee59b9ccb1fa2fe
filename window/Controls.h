#pragma once

#include <QString>

#include <array>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

// The window's controls by their roles. Each widget's objectName is its
// control name (given beside it), by which users, tests and assistive
// technology find it.
struct Controls {
    QLineEdit *portNumber = nullptr;              // Text1_5
    std::array<QComboBox *, 5> lineSettings{};    // Combo1_0..4: baud, data bits, parity,
                                                  // stop bits, handshaking
    std::array<QLabel *, 6> settingCaptions{};    // Label1_0..5: captions of the above
    std::array<QPushButton *, 4> portButtons{};   // Command1_0..3: open, send, receive, close
    QLabel *hint = nullptr;                       // Label2_4: how codes are written
    QPlainTextEdit *sendText = nullptr;           // Text2
    QPlainTextEdit *receivedText = nullptr;       // Text3
    QCheckBox *checkEnabled = nullptr;            // Check1: probes go out
    std::array<QLabel *, 2> intervalCaptions{};   // Label3_0..1
    QLineEdit *interval = nullptr;                // Text4: probe interval, ms
    QPushButton *startButton = nullptr;           // Command2: start / stop the check
    std::array<QLabel *, 6> statisticsCaptions{}; // Label5_0..5
    std::array<QLabel *, 6> statisticsValues{};   // Label4_0..5, by Statistics::Slot
    std::array<QPushButton *, 2> fileButtons{};   // Command3_0..1: load, save

    // The multi-line boxes hold line breaks as CR LF, as the handlers read
    // and write them; the widgets themselves use LF.
    static QString boxText(const QPlainTextEdit *box);
    static void setBoxText(QPlainTextEdit *box, QString text);
    // Adds a line after what the box holds, which stays as it is; an empty
    // box takes the line alone.
    static void appendBoxLine(QPlainTextEdit *box, const QString &line);

    // The selected position of an editable combo box: the item whose text the
    // box shows, or -1 when the shown text is not one of the items.
    static int listIndex(const QComboBox *combo);
};
