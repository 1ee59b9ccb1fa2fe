// The real file dialog, driven in-process: one open dialog that also takes a
// typed new name, the filter as the window gives it, and the question before
// an existing file is replaced.
#include "FileDialog.h"
#include "QtFileDialog.h"
#include "ScratchHome.h"

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

namespace {

// How long a window may take to come up and be ready for input; only a
// failing test waits this long.
constexpr int kWaitMs = 20000;

QString classOf(const QObject *object)
{
    return QString::fromLatin1(object->metaObject()->className());
}

// Answers the modal windows that come up, in order, each with the next
// scripted action, once the window is the active modal window, as a person
// would answer it. A window that is not ready in time, one whose action
// fails, and one no action is left for are rejected and noted, so that a
// test never hangs.
class ModalScript : public QObject {
public:
    // Acts on a window that is up and active; returns what went wrong, or
    // nothing.
    using Action = std::function<QString(QDialog *)>;

    explicit ModalScript(QList<Action> actions) : actions_(std::move(actions))
    {
        qApp->installEventFilter(this);
    }
    ~ModalScript() override { qApp->removeEventFilter(this); }

    int answered() const { return answered_; }
    QStringList problems() const { return problems_; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        // A modal window shows before its own event loop starts; the answer
        // runs in that loop.
        if (event->type() == QEvent::Show && watched->isWidgetType() &&
            static_cast<QWidget *>(watched)->isWindow()) {
            if (auto *window = qobject_cast<QDialog *>(watched)) {
                QMetaObject::invokeMethod(
                    this, [this, window = QPointer<QDialog>(window)] { answer(window); },
                    Qt::QueuedConnection);
            }
        }
        return false;
    }

private:
    void answer(const QPointer<QDialog> &window)
    {
        if (!window || !window->isVisible())
            return;
        if (answered_ == actions_.size()) {
            problems_ << QStringLiteral("unexpected modal window: %1").arg(classOf(window));
            window->reject();
            return;
        }
        const bool ready = QTest::qWaitFor(
            [&] {
                return !window || (QApplication::activeModalWidget() == window &&
                                   window->isVisible() && window->isActiveWindow());
            },
            kWaitMs);
        if (!window)
            return;
        if (!ready) {
            problems_
                << QStringLiteral("%1 never became the active modal window").arg(classOf(window));
            window->reject();
            return;
        }
        const QString problem = actions_[answered_++](window);
        if (!problem.isEmpty()) {
            problems_ << problem;
            if (window && window->isVisible())
                window->reject();
        }
    }

    QList<Action> actions_;
    int answered_ = 0;
    QStringList problems_;
};

// The button of the file dialog's button box that plays `role`.
QPushButton *fileDialogButton(QFileDialog *dialog, QDialogButtonBox::ButtonRole role)
{
    auto *buttons = dialog->findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"));
    if (!buttons)
        return nullptr;
    for (QAbstractButton *button : buttons->buttons()) {
        if (buttons->buttonRole(button) == role)
            return qobject_cast<QPushButton *>(button);
    }
    return nullptr;
}

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

// Notes how the file dialog looks, puts `name` into its name box and clicks
// its accept button.
ModalScript::Action typeName(const QString &name, DialogLook *look = nullptr)
{
    return [name, look](QDialog *window) -> QString {
        auto *dialog = qobject_cast<QFileDialog *>(window);
        if (!dialog)
            return QStringLiteral("expected the file dialog, got %1").arg(classOf(window));
        auto *nameBox = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
        if (!nameBox)
            return QStringLiteral("the file dialog has no name box");
        // Until the box has the keyboard focus the dialog may still write the
        // name of a file selected in its list over it.
        if (!QTest::qWaitFor([nameBox] { return nameBox->hasFocus(); }, kWaitMs))
            return QStringLiteral("the name box never got the keyboard focus");
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
        nameBox->setText(name);
        QPushButton *accept = fileDialogButton(dialog, QDialogButtonBox::AcceptRole);
        if (!accept || !accept->isEnabled())
            return QStringLiteral("the file dialog offers no accept button for %1").arg(name);
        QTest::mouseClick(accept, Qt::LeftButton);
        return {};
    };
}

ModalScript::Action cancelDialog()
{
    return [](QDialog *window) -> QString {
        auto *dialog = qobject_cast<QFileDialog *>(window);
        if (!dialog)
            return QStringLiteral("expected the file dialog, got %1").arg(classOf(window));
        QPushButton *cancel = fileDialogButton(dialog, QDialogButtonBox::RejectRole);
        if (!cancel)
            return QStringLiteral("the file dialog has no cancel button");
        QTest::mouseClick(cancel, Qt::LeftButton);
        return {};
    };
}

// Answers a question box with `button`, noting its text.
ModalScript::Action answer(QMessageBox::StandardButton button, QString *text)
{
    return [button, text](QDialog *window) -> QString {
        auto *box = qobject_cast<QMessageBox *>(window);
        if (!box)
            return QStringLiteral("expected a question, got %1").arg(classOf(window));
        QAbstractButton *reply = box->button(button);
        if (!reply)
            return QStringLiteral("the question has no button %1").arg(int(button));
        *text = box->text();
        QTest::mouseClick(reply, Qt::LeftButton);
        return {};
    };
}

// How a message box looked.
struct BoxLook {
    QWidget *parent = nullptr;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QString title;
    QString text;
};

// Notes how a message box looks, then closes it with its one button.
ModalScript::Action acknowledge(BoxLook *look)
{
    return [look](QDialog *window) -> QString {
        auto *box = qobject_cast<QMessageBox *>(window);
        if (!box)
            return QStringLiteral("expected a message, got %1").arg(classOf(window));
        if (box->buttons().size() != 1)
            return QStringLiteral("the message has %1 buttons").arg(box->buttons().size());
        look->parent = box->parentWidget();
        look->icon = box->icon();
        look->title = box->windowTitle();
        look->text = box->text();
        QTest::mouseClick(box->buttons().front(), Qt::LeftButton);
        return {};
    };
}

} // namespace

class TestQtFileDialog : public QObject {
    Q_OBJECT
public:
    // The dialog keeps its history and last folder through Qt's settings.
    static void initMain() { ScratchHome::enter(); }

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
