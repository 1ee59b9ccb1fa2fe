// The file buttons: load the send box from a file's first field, save the
// receive box as one record, touch nothing but regular files, and end every
// failure with the boxes as they were, a failed save with one message. On
// the fake dialog with real files, FIFOs and device nodes.
#include "FakeFileDialog.h"
#include "FileCommands.h"
#include "FileNodes.h"
#include "FileSizeLimit.h"
#include "ScratchFiles.h"
#include "TestWindow.h"
#include "TextRecordFile.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

using namespace FileNodes;
using namespace ScratchFiles;

namespace {

const QString kSendBefore = QStringLiteral("send box before");
const QString kReceiveBefore = QStringLiteral("receive box before");

// What a failed save tells the user.
QString saveFailed(const QString &path, const QString &reason)
{
    return QStringLiteral("ファイル「%1」に保存できませんでした。\n%2").arg(path, reason);
}

const QString kNotARegularFile = QStringLiteral("通常のファイルではありません。");

// Gives a FIFO a writer that goes away at once, when `patience` has passed
// and again until stopped. A load stuck waiting for a writer then reads the
// end of the data and returns, so that a regression fails instead of hanging.
class FifoRelease {
public:
    FifoRelease(const QString &fifo, std::chrono::milliseconds patience)
        : name_(QFile::encodeName(fifo)), thread_([this, patience] { run(patience); })
    {}
    ~FifoRelease() { stop(); }

    // Stops it; whether it had to give the FIFO a writer.
    bool stop()
    {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            stopped_ = true;
        }
        wake_.notify_all();
        if (thread_.joinable())
            thread_.join();
        return released_;
    }

private:
    void run(std::chrono::milliseconds patience)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        if (wake_.wait_for(lock, patience, [this] { return stopped_; }))
            return;
        do {
            // Succeeds only while someone has the FIFO open for reading.
            const int fd = ::open(name_.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (fd >= 0) {
                released_ = true;
                ::close(fd);
            }
        } while (!wake_.wait_for(lock, std::chrono::milliseconds(50), [this] { return stopped_; }));
    }

    const QByteArray name_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopped_ = false;
    bool released_ = false;
    std::thread thread_;
};

// Far longer than any load takes, busy machine and sanitizers included.
constexpr std::chrono::seconds kLoadPatience{20};

// Notes any window the handler puts up while it runs; a modal one is closed
// again so that the test goes on.
class WindowWatch : public QObject {
public:
    explicit WindowWatch(QWidget *form) : form_(form)
    {
        connect(&poll_, &QTimer::timeout, this, &WindowWatch::look);
        poll_.start(0);
    }

    // Windows up now or seen while a nested event loop ran.
    QStringList seen()
    {
        look();
        return seen_;
    }

private:
    void look()
    {
        if (QWidget *modal = QApplication::activeModalWidget()) {
            seen_ << QString::fromLatin1(modal->metaObject()->className());
            modal->close();
        }
        for (QWidget *w : QApplication::topLevelWidgets()) {
            if (w != form_ && w->isVisible()) {
                seen_ << QString::fromLatin1(w->metaObject()->className());
                w->close();
            }
        }
    }

    QWidget *form_;
    QTimer poll_;
    QStringList seen_;
};

// A loaded window on fakes with both boxes filled, and a folder for files.
struct FileForm : TestWindow {
    QTemporaryDir dir;

    FileForm()
    {
        Controls::setBoxText(c().sendText, kSendBefore);
        Controls::setBoxText(c().receivedText, kReceiveBefore);
    }
    QString path(const QString &name) const { return dir.filePath(name); }
    QString sendBox() { return Controls::boxText(c().sendText); }
    QString receiveBox() { return Controls::boxText(c().receivedText); }

    void load(const QString &path)
    {
        dialog->choose(path);
        form->fileCommands().click(FileCommands::Load);
    }
    void save(const QString &path)
    {
        dialog->choose(path);
        form->fileCommands().click(FileCommands::Save);
    }
};

} // namespace

class TestFileCommands : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();

    void saveThenLoadGivesTheSameText_data();
    void saveThenLoadGivesTheSameText();
    void saveWritesCodePage932WithCrLf();
    void emptyReceiveBoxSavesAnEmptyRecordThatLoadsAsEmpty();
    void failedSaveKeepsTheOldFileAndSaysSo_data();
    void failedSaveKeepsTheOldFileAndSaysSo();

    void loadPutsTheFirstFieldInTheSendBox_data();
    void loadPutsTheFirstFieldInTheSendBox();
    void loadOfAHugeFileTakesOnlyTheField();
    void failedLoadLeavesTheBoxesAsTheyWere_data();
    void failedLoadLeavesTheBoxesAsTheyWere();
    void loadRefusesAnythingButARegularFileAtOnce_data();
    void loadRefusesAnythingButARegularFileAtOnce();

    void dialogIsSetUpForEachButton_data();
    void dialogIsSetUpForEachButton();
    void otherIndexesDoNothing_data();
    void otherIndexesDoNothing();
    void clickingTheButtonsRunsTheHandler();
    void windowWithoutADialogIgnoresTheButtons();
};

void TestFileCommands::initTestCase()
{
    // Open files are found through the process's descriptor folder.
    QVERIFY2(QDir(QStringLiteral("/proc/self/fd")).exists(), "no /proc/self/fd");
}

void TestFileCommands::saveThenLoadGivesTheSameText_data()
{
    QTest::addColumn<QString>("text");

    QTest::newRow("japanese") << "ペリモ通信チェック";
    QTest::newRow("CR LF inside") << "ABC[13]\r\nDEF\r\n";
    QTest::newRow("commas") << "A,B,,C";
    QTest::newRow("half-width katakana") << "ﾊﾟﾘﾃｨｰ";
    QTest::newRow("empty box") << "";
}

void TestFileCommands::saveThenLoadGivesTheSameText()
{
    QFETCH(QString, text);

    FileForm f;
    QVERIFY(f.dir.isValid());
    Controls::setBoxText(f.c().receivedText, text);
    f.save(f.path(QStringLiteral("box.txt")));
    f.load(f.path(QStringLiteral("box.txt")));
    QCOMPARE(f.sendBox(), text);
    QCOMPARE(f.receiveBox(), text);
}

void TestFileCommands::saveWritesCodePage932WithCrLf()
{
    FileForm f;
    QVERIFY(f.dir.isValid());
    // The widget holds LF; the file gets CR LF.
    f.c().receivedText->setPlainText(QStringLiteral("あ\nB"));
    f.save(f.path(QStringLiteral("out.txt")));
    QCOMPARE(fileBytes(f.path(QStringLiteral("out.txt"))), QByteArray("\"\x82\xa0\r\nB\"\r\n"));
}

void TestFileCommands::emptyReceiveBoxSavesAnEmptyRecordThatLoadsAsEmpty()
{
    FileForm f;
    QVERIFY(f.dir.isValid());
    Controls::setBoxText(f.c().receivedText, QString());
    f.save(f.path(QStringLiteral("empty.txt")));
    QCOMPARE(fileBytes(f.path(QStringLiteral("empty.txt"))), QByteArray("\"\"\r\n"));

    f.load(f.path(QStringLiteral("empty.txt")));
    QCOMPARE(f.sendBox(), QString());
}

void TestFileCommands::failedSaveKeepsTheOldFileAndSaysSo_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("reason");

    // One failure while writing and one refusal before: each file rule
    // itself is tested on AtomicFile.
    QTest::newRow("disk full midway") << "size limit" << qt_error_string(EFBIG);
    QTest::newRow("fifo chosen") << "fifo" << kNotARegularFile;
}

void TestFileCommands::failedSaveKeepsTheOldFileAndSaysSo()
{
    QFETCH(QString, how);
    QFETCH(QString, reason);

    FileForm f;
    QVERIFY(f.dir.isValid());
    const QByteArray oldBytes("\"old text\"\r\n");
    const QString oldPath = f.path(QStringLiteral("old.txt"));
    QVERIFY(writeBytes(oldPath, oldBytes));
    // Far more than the size limit lets through.
    const QString text(200000, u'あ');
    Controls::setBoxText(f.c().receivedText, text);

    WindowWatch watch(f.form.get());
    QString chosen = oldPath;
    if (how == QLatin1String("fifo")) {
        chosen = f.path(QStringLiteral("node.txt"));
        const QString problem = makeNode(chosen, Node::Fifo);
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
    }
    const QStringList entries = entriesOf(f.dir.path());
    const QString chosenBefore = nodeAt(chosen);
    std::optional<FileSizeLimit> limit;
    if (how == QLatin1String("size limit")) {
        limit.emplace(4096);
        QVERIFY2(limit->ok(), "cannot set a file size limit");
    }
    f.save(chosen);
    limit.reset();

    QCOMPARE(fileBytes(oldPath), oldBytes);
    QCOMPARE(nodeAt(chosen), chosenBefore);
    QCOMPARE(entriesOf(f.dir.path()), entries);
    QCOMPARE(f.dialog->errors(), QStringList{saveFailed(chosen, reason)});
    // The message goes through the dialog only.
    QCOMPARE(watch.seen(), QStringList());
    QCOMPARE(f.receiveBox(), text);
    QCOMPARE(f.sendBox(), kSendBefore);
    QCOMPARE(openFilesUnder(f.dir.path()), QStringList());
}

void TestFileCommands::loadPutsTheFirstFieldInTheSendBox_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");

    QTest::newRow("unquoted ends at comma") << QByteArray("ABC[13],DEF") << "ABC[13]";
    QTest::newRow("quoted keeps commas") << QByteArray("\"A,B\"") << "A,B";
    QTest::newRow("leading spaces skipped") << QByteArray("   \"AB\"\r\n") << "AB";
    QTest::newRow("unquoted ends at CR") << QByteArray("AB\rCD") << "AB";
    QTest::newRow("unquoted ends at LF") << QByteArray("AB\nCD") << "AB";
    QTest::newRow("unquoted ends at CR LF") << QByteArray("AB\r\nCD") << "AB";
    QTest::newRow("quoted across lines") << QByteArray("\"L1\r\nL2\nL3\"\r\nX") << "L1\r\nL2\r\nL3";
    QTest::newRow("missing closing quote") << QByteArray("\"AB\r\nCD") << "AB\r\nCD";
    QTest::newRow("code page 932") << QByteArray("\"\x82\xa0\xb1\"\r\n") << "あｱ";
    QTest::newRow("utf-8 after a mark") << QByteArray("\xef\xbb\xbf\"\xe3\x81\x82\"\r\n") << "あ";
    QTest::newRow("empty quoted field") << QByteArray("\"\"\r\n") << "";
}

void TestFileCommands::loadPutsTheFirstFieldInTheSendBox()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);

    FileForm f;
    QVERIFY(f.dir.isValid());
    const QString path = f.path(QStringLiteral("in.txt"));
    QVERIFY(writeBytes(path, bytes));
    f.load(path);
    QCOMPARE(f.sendBox(), text);
    QCOMPARE(f.receiveBox(), kReceiveBefore);
    QCOMPARE(fileBytes(path), bytes);
    QCOMPARE(openFilesUnder(f.dir.path()), QStringList());
}

void TestFileCommands::loadOfAHugeFileTakesOnlyTheField()
{
    FileForm f;
    QVERIFY(f.dir.isValid());
    const QString path = f.path(QStringLiteral("huge.txt"));
    QByteArray bytes("\"FIRST\"\r\n");
    bytes += QByteArray(16 * 1024 * 1024, 'x');
    QVERIFY(writeBytes(path, bytes));
    f.load(path);
    QCOMPARE(f.sendBox(), QStringLiteral("FIRST"));
    QCOMPARE(openFilesUnder(f.dir.path()), QStringList());
}

void TestFileCommands::failedLoadLeavesTheBoxesAsTheyWere_data()
{
    QTest::addColumn<QString>("name"); // empty: the dialog is cancelled
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("cancelled dialog") << "" << QByteArray();
    QTest::newRow("missing file") << "missing.txt" << QByteArray();
    QTest::newRow("empty file") << "empty.txt" << QByteArray("");
    QTest::newRow("only spaces and line breaks") << "blank.txt" << QByteArray("  \r\n  \r\n");
    QTest::newRow("folder instead of a file") << "folder" << QByteArray();
    QTest::newRow("field beyond the limit")
        << "long.txt" << QByteArray(TextRecordFile::kMaxFieldLength + 1, 'A');
}

void TestFileCommands::failedLoadLeavesTheBoxesAsTheyWere()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, bytes);

    FileForm f;
    QVERIFY(f.dir.isValid());
    QVERIFY(QDir(f.dir.path()).mkdir(QStringLiteral("folder")));
    if (!bytes.isNull())
        QVERIFY(writeBytes(f.path(name), bytes));

    WindowWatch watch(f.form.get());
    if (name.isEmpty())
        f.dialog->cancel();
    else
        f.dialog->choose(f.path(name));
    f.form->fileCommands().click(FileCommands::Load);

    QCOMPARE(f.dialog->shown().size(), 1);
    QCOMPARE(f.sendBox(), kSendBefore);
    QCOMPARE(f.receiveBox(), kReceiveBefore);
    QCOMPARE(f.dialog->errors(), QStringList());
    QCOMPARE(watch.seen(), QStringList());
    QCOMPARE(openFilesUnder(f.dir.path()), QStringList());
}

void TestFileCommands::loadRefusesAnythingButARegularFileAtOnce_data()
{
    QTest::addColumn<int>("node");
    QTest::addColumn<bool>("throughLink");

    QTest::newRow("fifo without a writer") << int(Node::Fifo) << false;
    QTest::newRow("link to a fifo") << int(Node::Fifo) << true;
    // Endless random bytes, in which a field is soon found if it is read.
    QTest::newRow("character device") << int(Node::RandomDevice) << false;
}

void TestFileCommands::loadRefusesAnythingButARegularFileAtOnce()
{
    QFETCH(int, node);
    QFETCH(bool, throughLink);

    FileForm f;
    QVERIFY(f.dir.isValid());
    const QString nodePath = f.path(QStringLiteral("node.txt"));
    QString problem;
    const QString chosen = makeNodeToChoose(nodePath, Node(node), throughLink, &problem);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));

    WindowWatch watch(f.form.get());
    bool waited = false;
    {
        FifoRelease release(nodePath, kLoadPatience);
        if (Node(node) != Node::Fifo)
            release.stop();
        f.load(chosen);
        waited = release.stop();
    }
    QVERIFY2(!waited, "the load waited for a writer to the FIFO");
    QCOMPARE(f.sendBox(), kSendBefore);
    QCOMPARE(f.dialog->errors(), QStringList());
    QCOMPARE(watch.seen(), QStringList());
    QCOMPARE(openFilesUnder(f.dir.path()), QStringList());
}

void TestFileCommands::dialogIsSetUpForEachButton_data()
{
    QTest::addColumn<int>("button");
    QTest::addColumn<int>("flags");
    QTest::addColumn<bool>("cancel");

    QTest::newRow("load hides read-only") << int(FileCommands::Load) << 4 << false;
    QTest::newRow("save asks before replacing") << int(FileCommands::Save) << 2 << false;
    QTest::newRow("cancelled load") << int(FileCommands::Load) << 4 << true;
    QTest::newRow("cancelled save") << int(FileCommands::Save) << 2 << true;
}

void TestFileCommands::dialogIsSetUpForEachButton()
{
    QFETCH(int, button);
    QFETCH(int, flags);
    QFETCH(bool, cancel);

    FileForm f;
    QVERIFY(f.dir.isValid());
    const QString path = f.path(QStringLiteral("setup.txt"));
    QVERIFY(writeBytes(path, "\"X\"\r\n"));
    // Whatever an earlier use left set is set afresh.
    f.dialog->setCancelError(false);
    f.dialog->setFlags(1);
    f.dialog->setFilter(QStringLiteral("All|*.*"));
    if (cancel)
        f.dialog->cancel();
    else
        f.dialog->choose(path);
    f.form->fileCommands().click(button);

    QCOMPARE(f.dialog->shown().size(), 1);
    const FakeFileDialog::Shown shown = f.dialog->shown().front();
    QCOMPARE(shown.flags, flags);
    QCOMPARE(shown.filter, QStringLiteral("TXT(*.txt)|*.txt"));
    QCOMPARE(shown.cancelError, true);
    // Neither a cancel nor a load says anything.
    QCOMPARE(f.dialog->errors(), QStringList());
    // A cancelled save writes nothing.
    if (cancel)
        QCOMPARE(fileBytes(path), QByteArray("\"X\"\r\n"));
}

void TestFileCommands::otherIndexesDoNothing_data()
{
    QTest::addColumn<int>("index");

    QTest::newRow("minus one") << -1;
    QTest::newRow("two") << 2;
    QTest::newRow("large") << 1000;
}

void TestFileCommands::otherIndexesDoNothing()
{
    QFETCH(int, index);

    FileForm f;
    QVERIFY(f.dir.isValid());
    f.dialog->choose(f.path(QStringLiteral("never.txt")));
    f.form->fileCommands().click(index);
    QCOMPARE(f.dialog->shown().size(), 0);
    QCOMPARE(entriesOf(f.dir.path()), QStringList());
    QCOMPARE(f.sendBox(), kSendBefore);
    QCOMPARE(f.receiveBox(), kReceiveBefore);
}

void TestFileCommands::clickingTheButtonsRunsTheHandler()
{
    FileForm f;
    QVERIFY(f.dir.isValid());
    const QString path = f.path(QStringLiteral("clicked.txt"));
    auto *load = f.form->findChild<QPushButton *>(QStringLiteral("Command3_0"));
    auto *save = f.form->findChild<QPushButton *>(QStringLiteral("Command3_1"));
    QVERIFY(load);
    QVERIFY(save);

    f.dialog->choose(path);
    QTest::mouseClick(save, Qt::LeftButton);
    QCOMPARE(f.dialog->shown().size(), 1);
    QCOMPARE(f.dialog->shown().back().flags, 2);
    QCOMPARE(fileBytes(path), QByteArray("\"receive box before\"\r\n"));

    f.dialog->choose(path);
    QTest::mouseClick(load, Qt::LeftButton);
    QCOMPARE(f.dialog->shown().size(), 2);
    QCOMPARE(f.dialog->shown().back().flags, 4);
    QCOMPARE(f.sendBox(), kReceiveBefore);
}

void TestFileCommands::windowWithoutADialogIgnoresTheButtons()
{
    PlatformServices services;
    services.port = std::make_unique<FakeSerialPort>();
    services.clock = std::make_unique<FakeClock>();
    services.probeTimer = std::make_unique<FakeTimer>();
    services.pollTimer = std::make_unique<FakeTimer>();
    Form1 form(std::move(services));
    form.load();
    Controls::setBoxText(form.controls().sendText, kSendBefore);

    WindowWatch watch(&form);
    QTest::mouseClick(form.controls().fileButtons[0], Qt::LeftButton);
    QTest::mouseClick(form.controls().fileButtons[1], Qt::LeftButton);
    QCOMPARE(Controls::boxText(form.controls().sendText), kSendBefore);
    QCOMPARE(watch.seen(), QStringList());
}

QTEST_MAIN(TestFileCommands)
#include "tst_FileCommands.moc"
