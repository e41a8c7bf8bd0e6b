#include "settings.h"
#include "testsupport.h"

#include <QFile>
#include <QTest>

using namespace tarn;
using namespace tarn::test;

class tst_Settings : public QObject
{
    Q_OBJECT

private slots:
    void readWrite_data();
    void readWrite();
};

void tst_Settings::readWrite_data()
{
    // Rows without typed text read the file as given (null: no file). Rows with
    // it write over an earlier file and expect these bytes (null: refused); what
    // they wrote is read back as well.
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("modId"); // as read back, by itself and at start-up
    QTest::newRow("no file") << QString() << QByteArray() << "0";
    QTest::newRow("empty file") << QString() << QByteArray("") << "0";
    QTest::newRow("blank lines") << QString() << QByteArray("\r\n  \r\n") << "0";
    QTest::newRow("spaces round quotes") << QString() << QByteArray("   \"abc\"   \r\n") << "abc";
    QTest::newRow("unquoted stops at comma") << QString() << QByteArray("abc,def\r\n") << "abc";
    QTest::newRow("quoted keeps comma") << QString() << QByteArray("\"a,b\",c\r\n") << "a,b";
    QTest::newRow("unquoted trimmed") << QString() << QByteArray("  x y  \r\n") << "x y";
    QTest::newRow("empty quotes") << QString() << QByteArray("\"\"\r\n") << "";
    QTest::newRow("LF only") << QString() << QByteArray("\"lf\"\n") << "lf";
    QTest::newRow("no line end") << QString() << QByteArray("\"bare\"") << "bare";
    QTest::newRow("only first line") << QString() << QByteArray("\"one\"\r\n\"two\"\r\n") << "one";
    QTest::newRow("write") << "42" << QByteArray("\"42\"\r\n") << "42";
    QTest::newRow("write keeps spaces on disk") << " 7 " << QByteArray("\" 7 \"\r\n") << "7";
    QTest::newRow("write quote unchanged") << "ab\"cd" << QByteArray("\"ab\"cd\"\r\n") << "ab";
    QTest::newRow("write latin-1") << "é" << QByteArray("\"\xe9\"\r\n") << "é";
    QTest::newRow("write refuses a line break") << "a\nb" << QByteArray() << "old";
    QTest::newRow("write longest") << QString(32764, 'm') << '"' + QByteArray(32764, 'm') + "\"\r\n"
                                   << QString(32764, 'm');
    QTest::newRow("write refuses longer than line 1 holds")
        << QString(32765, 'm') << QByteArray() << "old";
}

void tst_Settings::readWrite()
{
    QFETCH(QString, typed);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, modId);
    DataDir dir;
    const QString path = dir.file(QStringLiteral("tarn.ini"));
    if (!typed.isNull()) {
        writeFile(path, "\"old\"\r\n");
        const Status status = settings::WriteModID(path, typed);
        QCOMPARE(bool(status), !bytes.isNull());
        QVERIFY2(status || status.message().startsWith("The Mod ID "),
                 qPrintable(status.message()));
        QCOMPARE(readFile(path), bytes.isNull() ? QByteArray("\"old\"\r\n") : bytes);
    } else if (!bytes.isNull()) {
        writeFile(path, bytes);
    }
    QCOMPARE(settings::ReadModID(path), modId);
    QCOMPARE(dir.start().modId(), modId);
    QCOMPARE(QFile::exists(path), !typed.isNull() || !bytes.isNull()); // start-up writes none
}

QTEST_GUILESS_MAIN(tst_Settings)
#include "tst_settings.moc"
