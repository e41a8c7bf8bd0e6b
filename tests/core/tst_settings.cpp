#include "settings.h"
#include "testsupport.h"

#include <QTest>

using namespace tarn;
using namespace tarn::test;

class tst_Settings : public QObject
{
    Q_OBJECT

private slots:
    void read_data();
    void read();
    void writeThenRead_data();
    void writeThenRead();
    void writeRefusesWhatLatin1CannotHold();
    void failedWriteKeepsEarlierFile();
};

void tst_Settings::read_data()
{
    QTest::addColumn<QByteArray>("content"); // null: no file
    QTest::addColumn<QString>("modId");
    QTest::newRow("no file") << QByteArray() << "0";
    QTest::newRow("empty file") << QByteArray("") << "0";
    QTest::newRow("blank lines") << QByteArray("\r\n  \r\n") << "0";
    QTest::newRow("quoted") << QByteArray("\"42\"\r\n") << "42";
    QTest::newRow("spaces round quotes") << QByteArray("   \"abc\"   \r\n") << "abc";
    QTest::newRow("spaces inside quotes trimmed") << QByteArray("\"  7 \"\r\n") << "7";
    QTest::newRow("unquoted stops at comma") << QByteArray("abc,def\r\n") << "abc";
    QTest::newRow("quoted keeps comma") << QByteArray("\"a,b\",c\r\n") << "a,b";
    QTest::newRow("unquoted trimmed") << QByteArray("  x y  \r\n") << "x y";
    QTest::newRow("empty quotes") << QByteArray("\"\"\r\n") << "";
    QTest::newRow("LF only") << QByteArray("\"lf\"\n") << "lf";
    QTest::newRow("no line end") << QByteArray("\"bare\"") << "bare";
    QTest::newRow("only first line") << QByteArray("\"one\"\r\n\"two\"\r\n") << "one";
    QTest::newRow("latin-1 byte") << QByteArray("\"caf\xe9\"\r\n") << QStringLiteral("café");
    QTest::newRow("quote inside ends field") << QByteArray("\"ab\"cd\"\r\n") << "ab";
}

void tst_Settings::read()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, modId);
    DataDir dir;
    const QString path = dir.file(QStringLiteral("tarn.ini"));
    if (!content.isNull())
        writeFile(path, content);
    QCOMPARE(settings::ReadModID(path), modId);
    QCOMPARE(dir.start().modId(), modId);
}

void tst_Settings::writeThenRead_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("readBack");
    QTest::newRow("plain") << "42" << QByteArray("\"42\"\r\n") << "42";
    QTest::newRow("spaces kept on disk") << " 7 " << QByteArray("\" 7 \"\r\n") << "7";
    QTest::newRow("quote written unchanged") << "ab\"cd" << QByteArray("\"ab\"cd\"\r\n") << "ab";
    QTest::newRow("latin-1") << QStringLiteral("é") << QByteArray("\"\xe9\"\r\n")
                             << QStringLiteral("é");
}

void tst_Settings::writeThenRead()
{
    QFETCH(QString, typed);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, readBack);
    DataDir dir;
    const QString path = dir.file(QStringLiteral("tarn.ini"));
    QVERIFY(settings::WriteModID(path, typed));
    QCOMPARE(readFile(path), bytes);
    QCOMPARE(settings::ReadModID(path), readBack);
}

void tst_Settings::writeRefusesWhatLatin1CannotHold()
{
    DataDir dir;
    const QString path = dir.file(QStringLiteral("tarn.ini"));
    writeFile(path, "\"old\"\r\n");
    const Status status = settings::WriteModID(path, QStringLiteral("Ω1"));
    QVERIFY(!status);
    QVERIFY(status.message().contains(path));
    QCOMPARE(readFile(path), QByteArray("\"old\"\r\n"));
}

void tst_Settings::failedWriteKeepsEarlierFile()
{
    DataDir dir;
    // A directory that does not exist cannot take the file.
    const Status status =
        settings::WriteModID(dir.file(QStringLiteral("nowhere/tarn.ini")), QStringLiteral("1"));
    QVERIFY(!status);
    QVERIFY(status.message().contains(QStringLiteral("nowhere/tarn.ini")));
}

QTEST_GUILESS_MAIN(tst_Settings)
#include "tst_settings.moc"
