// Qt's own dialogs speak Japanese, like the window.
#include "DialogLanguage.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>
#include <QWidget>

namespace {

// A caption as it reads, without its keyboard mnemonic: "開く(&O)" -> "開く".
QString plain(QString caption)
{
    caption.remove(QRegularExpression(QStringLiteral("\\(&.\\)")));
    caption.remove(u'&');
    return caption.trimmed();
}

} // namespace

class TestDialogLanguage : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void captionsAreJapanese_data();
    void captionsAreJapanese();
};

void TestDialogLanguage::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    // As the program does it: once its window has first been painted.
    static bool missing = false;
    QWidget window;
    DialogLanguage::installAfterFirstPaint(*qApp, window, [] { missing = true; });
    QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Cancel"));
    window.show();
    QTRY_VERIFY_WITH_TIMEOUT(missing || QCoreApplication::translate("QPlatformTheme", "Cancel") !=
                                            QStringLiteral("Cancel"),
                             10000);
    QVERIFY2(!missing, "Qt's Japanese translations are missing (Debian: qt6-translations-l10n)");
}

void TestDialogLanguage::captionsAreJapanese_data()
{
    QTest::addColumn<QString>("which");
    QTest::addColumn<QString>("caption");

    QTest::newRow("file dialog: open") << "open"
                                       << "開く";
    QTest::newRow("file dialog: cancel") << "cancel"
                                         << "キャンセル";
    QTest::newRow("question: yes") << "yes"
                                   << "はい";
    QTest::newRow("question: no") << "no"
                                  << "いいえ";
}

void TestDialogLanguage::captionsAreJapanese()
{
    QFETCH(QString, which);
    QFETCH(QString, caption);

    QString shown;
    if (which == QLatin1String("open") || which == QLatin1String("cancel")) {
        QFileDialog dialog;
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        auto *buttons = dialog.findChild<QDialogButtonBox *>();
        QVERIFY(buttons);
        QAbstractButton *button = buttons->button(
            which == QLatin1String("open") ? QDialogButtonBox::Open : QDialogButtonBox::Cancel);
        QVERIFY(button);
        shown = button->text();
    } else {
        QMessageBox box(QMessageBox::Question, QString(), QString(),
                        QMessageBox::Yes | QMessageBox::No);
        shown =
            box.button(which == QLatin1String("yes") ? QMessageBox::Yes : QMessageBox::No)->text();
    }
    QCOMPARE(plain(shown), caption);
}

QTEST_MAIN(TestDialogLanguage)
#include "tst_DialogLanguage.moc"
