// The real file dialog, driven in-process: one open dialog that also takes a
// typed new name, the filter as the window gives it, the question before an
// existing file is replaced, and the message box that reports a failure.
#include "FileDialog.h"
#include "QtFileDialog.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>

namespace {

constexpr int kWaitMs = 10000;
constexpr int kRetryMs = 300;

// Answers the modal windows that come up, in order, each with the next
// scripted action. A modal window with no action left, or one still up when
// time runs out, is rejected and noted, so that a test never hangs.
class ModalScript : public QObject {
public:
    using Action = std::function<void(QWidget *)>;

    explicit ModalScript(QList<Action> actions) : actions_(std::move(actions))
    {
        connect(&poll_, &QTimer::timeout, this, &ModalScript::onPoll);
        poll_.start(10);
        deadline_.start();
    }

    int answered() const { return answered_; }
    QStringList problems() const { return problems_; }

private:
    void onPoll()
    {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal)
            return;
        if (deadline_.elapsed() > kWaitMs) {
            problems_ << QStringLiteral("modal window left open: %1")
                             .arg(QString::fromLatin1(modal->metaObject()->className()));
            last_ = modal;
            QMetaObject::invokeMethod(modal, "reject", Qt::QueuedConnection);
            deadline_.start(); // give the rejected window time to close
            return;
        }
        if (modal == last_) {
            // The window took no notice of its answer, as a busy file dialog
            // can while it still lists the folder: answer it again, as a user
            // would press Enter again.
            if (retryable_ && sinceAnswer_.elapsed() > kRetryMs) {
                sinceAnswer_.start();
                actions_[answered_ - 1](modal);
            }
            return;
        }
        last_ = modal;
        sinceAnswer_.start();
        retryable_ = answered_ < actions_.size();
        if (!retryable_) {
            problems_ << QStringLiteral("unexpected modal window: %1")
                             .arg(QString::fromLatin1(modal->metaObject()->className()));
            QMetaObject::invokeMethod(modal, "reject", Qt::QueuedConnection);
            return;
        }
        actions_[answered_++](modal);
    }

    QList<Action> actions_;
    QTimer poll_;
    QElapsedTimer deadline_;
    QElapsedTimer sinceAnswer_;
    QPointer<QWidget> last_;
    int answered_ = 0;
    bool retryable_ = false;
    QStringList problems_;
};

// What the file dialog looked like when it came up.
struct DialogLook {
    QWidget *parent = nullptr;
    QFileDialog::FileMode fileMode = QFileDialog::Directory;
    QFileDialog::AcceptMode acceptMode = QFileDialog::AcceptSave;
    QStringList nameFilters;
    QString shownFilter;
    QString defaultSuffix;
    bool native = true;
};

// Notes how the file dialog looks, then accepts `name` as if typed.
ModalScript::Action typeName(const QString &name, DialogLook *look = nullptr)
{
    return [name, look](QWidget *modal) {
        auto *dialog = qobject_cast<QFileDialog *>(modal);
        if (!dialog) {
            modal->close();
            return;
        }
        if (look) {
            look->parent = dialog->parentWidget();
            look->fileMode = dialog->fileMode();
            look->acceptMode = dialog->acceptMode();
            look->nameFilters = dialog->nameFilters();
            if (auto *types = dialog->findChild<QComboBox *>(QStringLiteral("fileTypeCombo")))
                look->shownFilter = types->currentText();
            look->defaultSuffix = dialog->defaultSuffix();
            look->native = !dialog->testOption(QFileDialog::DontUseNativeDialog);
        }
        // Typed into the file name box: selectFile() leaves the box as it was
        // while the box has the focus, which on a busy machine it may
        // already have, and the dialog then never takes the name.
        if (auto *box = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit")))
            box->setText(name);
        else
            dialog->selectFile(name);
        static_cast<QDialog *>(dialog)->accept(); // QFileDialog hides it
    };
}

ModalScript::Action cancelDialog()
{
    return [](QWidget *modal) { QMetaObject::invokeMethod(modal, "reject", Qt::QueuedConnection); };
}

// Answers a question box with `button`, noting its text.
ModalScript::Action answer(QMessageBox::StandardButton button, QString *text)
{
    return [button, text](QWidget *modal) {
        auto *box = qobject_cast<QMessageBox *>(modal);
        if (!box || !box->button(button)) {
            modal->close();
            return;
        }
        *text = box->text();
        box->button(button)->click();
    };
}

// What a message box looked like when it came up.
struct BoxLook {
    QWidget *parent = nullptr;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QString title;
    QString text;
};

// Notes how a message box looks, then closes it with its one button.
ModalScript::Action acknowledge(BoxLook *look)
{
    return [look](QWidget *modal) {
        auto *box = qobject_cast<QMessageBox *>(modal);
        if (!box || box->buttons().size() != 1) {
            modal->close();
            return;
        }
        look->parent = box->parentWidget();
        look->icon = box->icon();
        look->title = box->windowTitle();
        look->text = box->text();
        box->buttons().front()->click();
    };
}

} // namespace

class TestQtFileDialog : public QObject {
    Q_OBJECT
private slots:
    void nameFilters_data();
    void nameFilters();
    void oneOpenDialogTakesATypedNewName();
    void cancelReturnsFalseAndNoName();
    void replacingAnExistingFileIsAskedFirst_data();
    void replacingAnExistingFileIsAskedFirst();
    void failureIsShownOverTheWindow();
};

void TestQtFileDialog::nameFilters_data()
{
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("the window's filter")
        << "TXT(*.txt)|*.txt" << QStringList{QStringLiteral("TXT(*.txt) (*.txt)")};
    QTest::newRow("two pairs") << "Text|*.txt|All|*.*"
                               << QStringList{QStringLiteral("Text (*.txt)"),
                                              QStringLiteral("All (*.*)")};
    QTest::newRow("patterns separated by semicolons")
        << "Logs|*.log;*.txt" << QStringList{QStringLiteral("Logs (*.log *.txt)")};
    QTest::newRow("description without pattern") << "All" << QStringList{QStringLiteral("All (*)")};
    QTest::newRow("no filter") << "" << QStringList{};
}

void TestQtFileDialog::nameFilters()
{
    QFETCH(QString, filter);
    QFETCH(QStringList, expected);
    QCOMPARE(QtFileDialog::nameFilters(filter), expected);
}

void TestQtFileDialog::oneOpenDialogTakesATypedNewName()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QWidget window;
    QtFileDialog dialog(&window);
    dialog.setFlags(FileDialog::kHideReadOnly);
    dialog.setFilter(QStringLiteral("TXT(*.txt)|*.txt"));

    const QString typed = dir.filePath(QStringLiteral("newname"));
    DialogLook look;
    ModalScript script({typeName(typed, &look)});
    QVERIFY(dialog.showOpen());
    QVERIFY2(script.problems().isEmpty(), qPrintable(script.problems().join(u'\n')));
    QCOMPARE(script.answered(), 1);

    // The name as typed: no suffix added, and nothing created by choosing it.
    QCOMPARE(dialog.fileName(), typed);
    QVERIFY(!QFile::exists(typed));

    QCOMPARE(look.parent, &window);
    QCOMPARE(look.fileMode, QFileDialog::AnyFile);
    QCOMPARE(look.acceptMode, QFileDialog::AcceptOpen);
    QCOMPARE(look.nameFilters, QStringList{QStringLiteral("TXT(*.txt) (*.txt)")});
    QCOMPARE(look.shownFilter, QStringLiteral("TXT(*.txt)"));
    QCOMPARE(look.defaultSuffix, QString());
    QVERIFY(!look.native);
}

void TestQtFileDialog::cancelReturnsFalseAndNoName()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QtFileDialog dialog;
    dialog.setCancelError(true);

    // A name chosen earlier does not survive a later cancel.
    {
        ModalScript script({typeName(dir.filePath(QStringLiteral("first.txt")))});
        QVERIFY(dialog.showOpen());
        QVERIFY2(script.problems().isEmpty(), qPrintable(script.problems().join(u'\n')));
    }
    ModalScript script({cancelDialog()});
    QVERIFY(!dialog.showOpen());
    QVERIFY2(script.problems().isEmpty(), qPrintable(script.problems().join(u'\n')));
    QCOMPARE(script.answered(), 1);
    QCOMPARE(dialog.fileName(), QString());
}

void TestQtFileDialog::replacingAnExistingFileIsAskedFirst_data()
{
    QTest::addColumn<int>("flags");
    QTest::addColumn<bool>("exists");
    QTest::addColumn<int>("reply"); // the button answering the question, or 0: none expected
    QTest::addColumn<bool>("chosen");

    QTest::newRow("existing file, replace confirmed")
        << FileDialog::kOverwritePrompt << true << int(QMessageBox::Yes) << true;
    QTest::newRow("existing file, replace refused")
        << FileDialog::kOverwritePrompt << true << int(QMessageBox::No) << false;
    QTest::newRow("new file is not asked about")
        << FileDialog::kOverwritePrompt << false << 0 << true;
    QTest::newRow("existing file without the flag")
        << FileDialog::kHideReadOnly << true << 0 << true;
}

void TestQtFileDialog::replacingAnExistingFileIsAskedFirst()
{
    QFETCH(int, flags);
    QFETCH(bool, exists);
    QFETCH(int, reply);
    QFETCH(bool, chosen);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("data.txt"));
    if (exists) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.write("\"old\"\r\n") == 7);
    }
    QtFileDialog dialog;
    dialog.setFlags(flags);

    QString question;
    QList<ModalScript::Action> actions{typeName(path)};
    if (reply != 0)
        actions << answer(QMessageBox::StandardButton(reply), &question);
    ModalScript script(actions);
    QCOMPARE(dialog.showOpen(), chosen);
    QVERIFY2(script.problems().isEmpty(), qPrintable(script.problems().join(u'\n')));
    QCOMPARE(script.answered(), actions.size());
    QCOMPARE(dialog.fileName(), chosen ? path : QString());
    if (reply != 0)
        QCOMPARE(question, QtFileDialog::overwriteQuestion(path));
    QCOMPARE(QFile::exists(path), exists);
}

void TestQtFileDialog::failureIsShownOverTheWindow()
{
    QWidget window;
    window.setWindowTitle(QStringLiteral("ペリモ通信チェック"));
    QtFileDialog dialog(&window);
    const QString message =
        QStringLiteral("ファイル「/x/y.txt」に保存できませんでした。\nNo space left on device");

    BoxLook look;
    ModalScript script({acknowledge(&look)});
    dialog.showError(message);
    QVERIFY2(script.problems().isEmpty(), qPrintable(script.problems().join(u'\n')));
    QCOMPARE(script.answered(), 1);
    QCOMPARE(look.parent, &window);
    QCOMPARE(look.icon, QMessageBox::Critical);
    QCOMPARE(look.title, QStringLiteral("ペリモ通信チェック"));
    QCOMPARE(look.text, message);
}

QTEST_MAIN(TestQtFileDialog)
#include "tst_QtFileDialog.moc"
