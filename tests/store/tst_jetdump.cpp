#include "jetdump.h"

#include <QTest>

#include <cmath>
#include <limits>

using namespace tarn;
using namespace tarn::jet;

class tst_JetDump : public QObject
{
    Q_OBJECT

private slots:
    void malformedRefused_data();
    void malformedRefused();
    void decimals_data();
    void decimals();
    void dateTimes_data();
    void dateTimes();
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
    row("text for a number", one("int", "S 1:1"), "expected a value of type int");
    row("int too large", one("int", "I 32768"), "not a value of type int");
    row("byte negative", one("byte", "I -1"), "not a value of type byte");
    row("long too large", one("long", "I 2147483648"), "not a value of type long");
    row("leading zero", one("long", "I 01"), "not a value");
    row("Yes/No NULL", one("bool", "N"), "Yes/No value");
    row("Yes/No 2", one("bool", "I 2"), "not a value of type bool");
    row("not UTF-8", one("text", "S 1:\xff"), "not UTF-8");
    row("not a number", one("double", "F nan"), "not a number");
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

void tst_JetDump::decimals_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QVariant>("value"); // invalid: refused
    QTest::newRow("zero") << QByteArray("0.0000") << QVariant(qlonglong(0));
    QTest::newRow("whole currency") << QByteArray("-1234.0000") << QVariant(qlonglong(-1234));
    QTest::newRow("largest whole")
        << QByteArray("9223372036854775807") << QVariant(std::numeric_limits<qlonglong>::max());
    QTest::newRow("smallest whole")
        << QByteArray("-9223372036854775808") << QVariant(std::numeric_limits<qlonglong>::min());
    QTest::newRow("fraction") << QByteArray("12.5000") << QVariant(12.5);
    QTest::newRow("smallest currency unit") << QByteArray("0.0001") << QVariant(0.0001);
    QTest::newRow("fifteen digits") << QByteArray("123456789.012345") << QVariant(123456789.012345);
    QTest::newRow("sixteen digits") << QByteArray("1234567890.123456") << QVariant();
    QTest::newRow("whole beyond 64 bits") << QByteArray("9223372036854775808") << QVariant();
    QTest::newRow("no digits after the point") << QByteArray("1.") << QVariant();
    QTest::newRow("spaces") << QByteArray(" 1") << QVariant();
}

void tst_JetDump::decimals()
{
    QFETCH(QByteArray, text);
    QFETCH(QVariant, value);
    const Result<QVariant> got = decimalValue(text);
    QCOMPARE(got.ok(), value.isValid());
    if (!value.isValid())
        return;
    QCOMPARE(got->typeId(), value.typeId());
    QCOMPARE(*got, value);
}

void tst_JetDump::dateTimes_data()
{
    QTest::addColumn<double>("days");
    QTest::addColumn<QString>("text"); // empty: refused
    QTest::newRow("day zero") << 0.0 << "1899-12-30 00:00:00";
    QTest::newRow("a date and time") << 36925.170208333334 << "2001-02-03 04:05:06";
    QTest::newRow("before day zero") << -1.25 << "1899-12-29 06:00:00";
    QTest::newRow("milliseconds") << 1.0 + 0.001 / 86400 << "1899-12-31 00:00:00.001";
    QTest::newRow("rounds to midnight") << 0.9999999999 << "1899-12-31 00:00:00";
    QTest::newRow("year 100") << -657434.0 << "0100-01-01 00:00:00";
    QTest::newRow("year 9999") << 2958465.5 << "9999-12-31 12:00:00";
    QTest::newRow("beyond year 9999") << 2958466.0 << "";
    QTest::newRow("not a number") << std::nan("") << "";
}

void tst_JetDump::dateTimes()
{
    QFETCH(double, days);
    QFETCH(QString, text);
    const Result<QString> got = dateTimeText(days);
    QCOMPARE(got.ok(), !text.isEmpty());
    if (got)
        QCOMPARE(*got, text);
}

QTEST_GUILESS_MAIN(tst_JetDump)
#include "tst_jetdump.moc"
