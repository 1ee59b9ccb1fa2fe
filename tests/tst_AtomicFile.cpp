// The all-or-nothing save: a regular file replaced whole or left as it was,
// through symbolic links to their target, nothing else ever replaced, the
// system's reason for a failure kept, and nothing left open or beside the
// file. On real files, FIFOs, device nodes and links in a scratch folder.
#include "AtomicFile.h"
#include "FileNodes.h"
#include "FileSizeLimit.h"
#include "ScratchFiles.h"
#include "Unprivileged.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>

using namespace FileNodes;
using namespace ScratchFiles;

namespace {

const QByteArray kOldBytes("\"old text\"\r\n");
const QByteArray kNewBytes("\"new\"\r\n");
const QString kNotARegularFile = QStringLiteral("通常のファイルではありません。");

// Every entry under `dir`, subfolders' entries as relative paths, in order.
QStringList treeOf(const QString &dir)
{
    QStringList tree;
    QDirIterator it(dir, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        tree << QDir(dir).relativeFilePath(it.next());
    tree.sort();
    return tree;
}

// A save as every caller makes it: false at the first step that fails.
bool save(AtomicFile &file, const QByteArray &bytes)
{
    return file.open() && file.write(bytes) && file.commit();
}

enum class Failure { OnOpen, OnWrite, DroppedBeforeCommit };

} // namespace

class TestAtomicFile : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();

    void replacesTheRegularFileThePathLeadsTo_data();
    void replacesTheRegularFileThePathLeadsTo();
    void failureLeavesTheOldFileAsItWas_data();
    void failureLeavesTheOldFileAsItWas();
    void neverReplacesAnythingButARegularFile_data();
    void neverReplacesAnythingButARegularFile();
    void savesAsAnOrdinaryUser_data();
    void savesAsAnOrdinaryUser();
};

void TestAtomicFile::initTestCase()
{
    // Open files are found through the process's descriptor folder.
    QVERIFY2(QDir(QStringLiteral("/proc/self/fd")).exists(), "no /proc/self/fd");
}

void TestAtomicFile::replacesTheRegularFileThePathLeadsTo_data()
{
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<QString>("file");      // where the new bytes land
    QTest::addColumn<QByteArray>("before"); // in `file`; null: no file yet
    QTest::addColumn<QStringList>("links"); // "link>target as written", made in order

    QTest::newRow("new file") << "new.txt"
                              << "new.txt" << QByteArray() << QStringList();
    QTest::newRow("longer file") << "old.txt"
                                 << "old.txt"
                                 << QByteArray("\"a much longer earlier text\"\r\nmore\r\n")
                                 << QStringList();
    QTest::newRow("relative link")
        << "link.txt"
        << "old.txt" << kOldBytes << QStringList{QStringLiteral("link.txt>old.txt")};
    // The second link's target is read relative to its own folder.
    QTest::newRow("chain of links into a subfolder")
        << "link.txt"
        << "sub/old.txt" << kOldBytes
        << QStringList{QStringLiteral("sub/middle.txt>old.txt"),
                       QStringLiteral("link.txt>sub/middle.txt")};
}

void TestAtomicFile::replacesTheRegularFileThePathLeadsTo()
{
    QFETCH(QString, chosen);
    QFETCH(QString, file);
    QFETCH(QByteArray, before);
    QFETCH(QStringList, links);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("sub")));
    if (!before.isNull())
        QVERIFY(writeBytes(dir.filePath(file), before));
    QStringList linksBefore;
    for (const QString &link : links) {
        const QStringList parts = link.split(u'>');
        const QString linked = makeLink(parts[1], dir.filePath(parts[0]));
        QVERIFY2(linked.isEmpty(), qPrintable(linked));
        linksBefore << nodeAt(dir.filePath(parts[0]));
    }
    QStringList expectedTree = treeOf(dir.path());
    if (before.isNull()) {
        expectedTree << file;
        expectedTree.sort();
    }

    {
        AtomicFile saving(dir.filePath(chosen));
        QVERIFY2(save(saving, kNewBytes), qPrintable(saving.errorString()));
        QCOMPARE(saving.errorString(), QString());
    }

    QCOMPARE(fileBytes(dir.filePath(file)), kNewBytes);
    QCOMPARE(nodeAt(dir.filePath(file)), QStringLiteral("regular file"));
    QStringList linksAfter;
    for (const QString &link : links)
        linksAfter << nodeAt(dir.filePath(link.section(u'>', 0, 0)));
    QCOMPARE(linksAfter, linksBefore);
    // Nothing left beside it.
    QCOMPARE(treeOf(dir.path()), expectedTree);
    QCOMPARE(openFilesUnder(dir.path()), QStringList());
}

void TestAtomicFile::failureLeavesTheOldFileAsItWas_data()
{
    QTest::addColumn<QString>("chosen"); // beside old.txt
    QTest::addColumn<Failure>("failure");
    QTest::addColumn<int>("error"); // the system's reason is its text; 0: none

    QTest::newRow("parent is a regular file") << "old.txt/new.txt" << Failure::OnOpen << ENOTDIR;
    QTest::newRow("folder not there") << "gone/new.txt" << Failure::OnOpen << ENOENT;
    QTest::newRow("disk full midway") << "old.txt" << Failure::OnWrite << EFBIG;
    QTest::newRow("dropped before commit") << "old.txt" << Failure::DroppedBeforeCommit << 0;
}

void TestAtomicFile::failureLeavesTheOldFileAsItWas()
{
    QFETCH(QString, chosen);
    QFETCH(Failure, failure);
    QFETCH(int, error);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString oldPath = dir.filePath(QStringLiteral("old.txt"));
    QVERIFY(writeBytes(oldPath, kOldBytes));
    // Far more than the size limit lets through.
    const QByteArray bytes(400000, 'x');

    {
        AtomicFile saving(dir.filePath(chosen));
        switch (failure) {
        case Failure::OnOpen:
            QVERIFY(!saving.open());
            break;
        case Failure::OnWrite: {
            FileSizeLimit limit(4096);
            QVERIFY2(limit.ok(), "cannot set a file size limit");
            QVERIFY(saving.open());
            QVERIFY(!saving.write(bytes));
            break;
        }
        case Failure::DroppedBeforeCommit:
            QVERIFY(saving.open());
            QVERIFY(saving.write(bytes));
            break;
        }
        if (failure != Failure::DroppedBeforeCommit) {
            // Once failed, it stays failed, and keeps the first reason.
            QVERIFY(!saving.write(kNewBytes));
            QVERIFY(!saving.commit());
        }
        QCOMPARE(saving.errorString(), error ? qt_error_string(error) : QString());
    }

    QCOMPARE(fileBytes(oldPath), kOldBytes);
    QCOMPARE(entriesOf(dir.path()), QStringList{QStringLiteral("old.txt")});
    QCOMPARE(openFilesUnder(dir.path()), QStringList());
}

void TestAtomicFile::neverReplacesAnythingButARegularFile_data()
{
    QTest::addColumn<Node>("node");
    QTest::addColumn<bool>("throughLink");
    QTest::addColumn<QString>("reason");

    QTest::newRow("fifo") << Node::Fifo << false << kNotARegularFile;
    QTest::newRow("character device") << Node::NullDevice << false << kNotARegularFile;
    QTest::newRow("folder") << Node::Folder << false << qt_error_string(EISDIR);
    QTest::newRow("link to a character device") << Node::NullDevice << true << kNotARegularFile;
}

void TestAtomicFile::neverReplacesAnythingButARegularFile()
{
    QFETCH(Node, node);
    QFETCH(bool, throughLink);
    QFETCH(QString, reason);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString nodePath = dir.filePath(QStringLiteral("node.txt"));
    QString problem;
    const QString chosen = makeNodeToChoose(nodePath, node, throughLink, &problem);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    const QString nodeBefore = nodeAt(nodePath);
    const QString chosenBefore = nodeAt(chosen);
    const QStringList entries = entriesOf(dir.path());

    {
        AtomicFile saving(chosen);
        QVERIFY(!save(saving, kNewBytes));
        QCOMPARE(saving.errorString(), reason);
    }

    QCOMPARE(nodeAt(nodePath), nodeBefore);
    QCOMPARE(nodeAt(chosen), chosenBefore);
    QCOMPARE(entriesOf(dir.path()), entries);
    QCOMPARE(openFilesUnder(dir.path()), QStringList());
}

void TestAtomicFile::savesAsAnOrdinaryUser_data()
{
    QTest::addColumn<bool>("folderWritable");
    QTest::addColumn<bool>("fileExists");
    QTest::addColumn<bool>("fileWritable");
    QTest::addColumn<bool>("saved");

    // Nothing new can be made beside the file, so it is written in place.
    QTest::newRow("read-only folder, writable file") << false << true << true << true;
    QTest::newRow("read-only folder, new file") << false << false << true << false;
    QTest::newRow("writable folder, read-only file") << true << true << false << false;
}

void TestAtomicFile::savesAsAnOrdinaryUser()
{
    QFETCH(bool, folderWritable);
    QFETCH(bool, fileExists);
    QFETCH(bool, fileWritable);
    QFETCH(bool, saved);

    // Root writes where these permissions forbid it.
    if (Unprivileged::isRoot()) {
        const QString problem = Unprivileged::rerunCurrentCaseAsNobody();
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
        return;
    }

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString folder = dir.filePath(QStringLiteral("folder"));
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("folder")));
    const QString path = folder + QStringLiteral("/box.txt");
    if (fileExists)
        QVERIFY(writeBytes(path, kOldBytes));
    const auto restore = qScopeGuard([&] {
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    });
    if (!fileWritable)
        QVERIFY(QFile::setPermissions(path, QFile::ReadOwner));
    if (!folderWritable)
        QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
    const QStringList entries = entriesOf(folder);

    {
        AtomicFile saving(path);
        QCOMPARE(save(saving, kNewBytes), saved);
        // The system's reason, whatever its words.
        QCOMPARE(saving.errorString().isEmpty(), saved);
    }

    QCOMPARE(entriesOf(folder), entries);
    if (saved)
        QCOMPARE(fileBytes(path), kNewBytes);
    else
        QCOMPARE(fileBytes(path), fileExists ? kOldBytes : QByteArray("<cannot open>"));
    QCOMPARE(openFilesUnder(dir.path()), QStringList());
}

QTEST_GUILESS_MAIN(TestAtomicFile)
#include "tst_AtomicFile.moc"
