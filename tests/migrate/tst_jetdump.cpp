#include "jetdump.h"

#include <QTest>

using namespace tarn;
using namespace tarn::jet;

class tst_JetDump : public QObject
{
    Q_OBJECT

private slots:
    void malformedRefused_data();
    void malformedRefused();
    void numbers_data();
    void numbers();
};

void tst_JetDump::malformedRefused_data()
{
    QTest::addColumn<QByteArray>("dump");
    QTest::addColumn<QString>("cause");
    auto row = [](const char *name, const QByteArray &dump, const char *cause) {
        QTest::newRow(name) << dump << QString::fromLatin1(cause);
    };
    const QByteArray head = "TARNJET 1\nT 1:t\n";
    auto one = [&](const QByteArray &type, const QByteArray &value) {
        return head + "C " + type + " 1:c\nR\n" + value + "\nE 1\nZ 1\n";
    };
    row("other version", "TARNJET 2\nZ 0\n", "header");
    row("cut short after header", "TARNJET 1\n", "does not end");
    row("cut short in a table", head + "C int 1:c\nR\nI 1\n", "does not end");
    row("cut short in a text", head + "C text 1:c\nR\nS 9:abc", "cut short");
    row("table count", "TARNJET 1\nZ 1\n", "table count");
    row("bytes after the end", "TARNJET 1\nZ 0\nZ 0\n", "more after");
    row("no columns", "TARNJET 1\nT 1:t\nE 0\nZ 1\n", "no columns");
    row("unknown type", head + "C blob 1:c\nE 0\nZ 1\n", "damaged");
    row("column twice", head + "C int 1:c\nC text 1:C\nE 0\nZ 1\n", "comes twice");
    row("table twice", head + "C int 1:c\nE 0\nT 1:T\nC int 1:c\nE 0\nZ 2\n", "comes twice");
    row("name length wrong", "TARNJET 1\nT 3:t\nZ 0\n", "damaged");
    row("row count", head + "C int 1:c\nR\nI 1\nE 2\nZ 1\n", "row count");
    row("row cut short", head + "C int 1:c\nC int 1:d\nR\nI 1\nE 1\nZ 1\n",
        "expected a value of type int for d");
    row("int too large", one("int", "I 32768"), "not a value of type int");
    row("leading zero", one("long", "I 01"), "not a value");
    row("Yes/No NULL", one("bool", "N"), "Yes/No value");
    row("Yes/No 2", one("bool", "I 2"), "not a value of type bool");
    row("not UTF-8", one("text", "S 1:\xff"), "not UTF-8");
    row("infinite", one("double", "F 1e999"), "not a number");
    row("bad date", one("datetime", "F 1e300"), "not a date");
    row("currency beyond a double", one("money", "D 922337203685477.5807"),
        "more digits than can be kept exactly");
}

void tst_JetDump::malformedRefused()
{
    QFETCH(QByteArray, dump);
    QFETCH(QString, cause);
    const Result<QList<Table>> parsed = parseDump(dump);
    QVERIFY(!parsed);
    QVERIFY2(parsed.message().contains(cause), qPrintable(parsed.message()));
}

// The decimals and dates the reader prints, as stored; empty: refused.
void tst_JetDump::numbers_data()
{
    QTest::addColumn<bool>("date");
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("stored");
    auto row = [](bool date, const char *text, const char *stored) {
        QTest::addRow("%s %s", date ? "date" : "decimal", text)
            << date << QByteArray(text) << QString::fromLatin1(stored);
    };
    row(false, "-1234.0000", "qlonglong -1234");
    row(false, "9223372036854775807", "qlonglong 9223372036854775807");
    row(false, "-9223372036854775808", "qlonglong -9223372036854775808");
    row(false, "12.5000", "double 12.5");
    row(false, "0.0001", "double 1e-04");
    row(false, "123456789.012345", "double 123456789.012345");
    row(false, "1234567890.123456", ""); // sixteen digits are not kept exactly
    row(false, "9223372036854775808", "");
    row(false, "1.", "");
    row(true, "36925.170208333334", "2001-02-03 04:05:06");
    row(true, "-1.25", "1899-12-29 06:00:00");
    row(true, "1.0000000115740741", "1899-12-31 00:00:00.001");
    row(true, "0.9999999999", "1899-12-31 00:00:00");
    row(true, "-657434", "0100-01-01 00:00:00");
    row(true, "2958465.5", "9999-12-31 12:00:00");
    row(true, "2958466", "");
    row(true, "nan", "");
}

void tst_JetDump::numbers()
{
    QFETCH(bool, date);
    QFETCH(QByteArray, text);
    QFETCH(QString, stored);
    QString got;
    if (date) {
        if (const Result<QString> dateTime = dateTimeText(text.toDouble()))
            got = *dateTime;
    } else if (const Result<QVariant> decimal = decimalValue(text)) {
        got = QString::fromLatin1(decimal->typeName()) + ' ' + decimal->toString();
    }
    QCOMPARE(got, stored);
}

QTEST_GUILESS_MAIN(tst_JetDump)
#include "tst_jetdump.moc"
