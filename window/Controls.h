#pragma once

#include <QString>

#include <array>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

// The window's controls, by their names and indexes, for the handlers.
struct Controls {
    std::array<QPushButton *, 4> Command1{}; // 0 open, 1 send, 2 receive, 3 close
    std::array<QPushButton *, 2> Command3{}; // 0 load, 1 save
    QPushButton *Command2 = nullptr;         // start / stop the check
    std::array<QComboBox *, 5> Combo1{};     // baud, data bits, parity, stop bits, handshaking
    QLineEdit *Text1_5 = nullptr;            // port number
    QPlainTextEdit *Text2 = nullptr;         // send box
    QPlainTextEdit *Text3 = nullptr;         // receive box
    QLineEdit *Text4 = nullptr;              // probe interval, ms
    QCheckBox *Check1 = nullptr;             // feedback check enabled
    std::array<QLabel *, 6> Label1{};
    QLabel *Label2_4 = nullptr;
    std::array<QLabel *, 2> Label3{};
    std::array<QLabel *, 6> Label4{}; // values of Stats(0..5)
    std::array<QLabel *, 6> Label5{};

    // The multi-line boxes hold line breaks as CR LF, as the handlers read
    // and write them; the widgets themselves use LF.
    static QString boxText(const QPlainTextEdit *box);
    static void setBoxText(QPlainTextEdit *box, QString text);
    // Adds `line` as a line of its own after what the box holds.
    static void appendBoxLine(QPlainTextEdit *box, const QString &line);

    // The selected position of an editable combo box: the item whose text the
    // box shows, or -1 when the shown text is not one of the items.
    static int listIndex(const QComboBox *combo);
};
