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
    void valuesOfEveryType();
    void malformedRefused_data();
    void malformedRefused();
    void decimals_data();
    void decimals();
    void dateTimes_data();
    void dateTimes();
};

void tst_JetDump::valuesOfEveryType()
{
    // Text is length-prefixed: a value may hold line ends and lines that
    // look like the dump's own.
    const QByteArray text = "line 1\nE 1\nZ 0\n\xc5\x81\xc3\xa9 | '\"[x]";
    const QByteArray blob("\0\n\xff", 3);
    const QByteArray dump =
        "TARNJET 1\n"
        "T 5:Mixed\n"
        "C bool 1:b\nC byte 1:y\nC int 1:i\nC long 1:l\nC money 1:m\nC float 1:f\n"
        "C double 1:d\nC datetime 1:t\nC binary 1:x\nC text 1:s\nC ole 1:o\nC memo 5:Notes\n"
        "C repid 1:r\nC numeric 1:n\n"
        "R\nI 1\nI 255\nI -32768\nI -2147483648\nD -12.3400\nF 0.1\nF 0.30000000000000004\n"
        "F 36925.170208333334\nX 3:" +
        blob + "\nS " + QByteArray::number(text.size()) + ":" + text +
        "\nX 0:\nS 0:\nS 38:{00000000-0000-0000-0000-000000000000}\nD 123456789012345678\n"
        "R\nI 0\nN\nN\nN\nN\nN\nN\nN\nN\nN\nN\nN\nN\nN\n"
        "E 2\nT 5:Empty\nC text 1:a\nE 0\nZ 2\n";
    const Result<QList<Table>> parsed = parseDump(dump);
    QVERIFY2(parsed, qPrintable(parsed.message()));
    QCOMPARE(parsed->size(), 2);
    const Table &table = parsed->first();
    QCOMPARE(table.name, QStringLiteral("Mixed"));
    QCOMPARE(table.columns.size(), 14);
    QCOMPARE(table.columns.at(11).name, QStringLiteral("Notes"));
    QCOMPARE(table.columns.at(11).type, Type::Memo);
    QCOMPARE(table.rows.size(), 2);

    const QVariantList &row = table.rows.first();
    const QVariantList want{qlonglong(1),
                            qlonglong(255),
                            qlonglong(-32768),
                            qlonglong(-2147483648LL),
                            -12.34,
                            0.1,
                            0.30000000000000004,
                            QStringLiteral("2001-02-03 04:05:06"),
                            blob,
                            QString::fromUtf8(text),
                            QByteArray(""),
                            QString(""),
                            QStringLiteral("{00000000-0000-0000-0000-000000000000}"),
                            qlonglong(123456789012345678LL)};
    for (qsizetype i = 0; i < want.size(); ++i) {
        QCOMPARE(row.at(i).typeId(), want.at(i).typeId());
        QCOMPARE(row.at(i), want.at(i));
    }
    // Empty text and empty binary are values, not NULL.
    QVERIFY(!row.at(10).isNull() && !row.at(11).isNull());

    const QVariantList &nulls = table.rows.at(1);
    QCOMPARE(nulls.first(), QVariant(qlonglong(0)));
    for (qsizetype i = 1; i < nulls.size(); ++i)
        QVERIFY(nulls.at(i).isNull());
    QVERIFY(parsed->at(1).rows.isEmpty());
}

void tst_JetDump::malformedRefused_data()
{
    QTest::addColumn<QByteArray>("dump");
    QTest::addColumn<QString>("cause");
    const QByteArray head = "TARNJET 1\nT 1:t\n";
    auto one = [&](const QByteArray &type, const QByteArray &value) {
        return head + "C " + type + " 1:c\nR\n" + value + "\nE 1\nZ 1\n";
    };
    QTest::newRow("nothing") << QByteArray() << "header";
    QTest::newRow("other version") << QByteArray("TARNJET 2\nZ 0\n") << "header";
    QTest::newRow("cut short after header") << QByteArray("TARNJET 1\n") << "does not end";
    QTest::newRow("cut short in a table") << head + "C int 1:c\nR\nI 1\n"
                                          << "does not end";
    QTest::newRow("cut short in a text") << head + "C text 1:c\nR\nS 9:abc"
                                         << "cut short";
    QTest::newRow("table count") << QByteArray("TARNJET 1\nZ 1\n") << "table count";
    QTest::newRow("bytes after the end") << QByteArray("TARNJET 1\nZ 0\nZ 0\n") << "more after";
    QTest::newRow("no columns") << QByteArray("TARNJET 1\nT 1:t\nE 0\nZ 1\n") << "no columns";
    QTest::newRow("unknown type") << head + "C blob 1:c\nE 0\nZ 1\n"
                                  << "damaged";
    QTest::newRow("column twice") << head + "C int 1:c\nC text 1:C\nE 0\nZ 1\n"
                                  << "comes twice";
    QTest::newRow("table twice") << QByteArray("TARNJET 1\nT 1:t\nC int 1:c\nE 0\n"
                                               "T 1:T\nC int 1:c\nE 0\nZ 2\n")
                                 << "comes twice";
    QTest::newRow("name length wrong") << QByteArray("TARNJET 1\nT 3:t\nZ 0\n") << "damaged";
    QTest::newRow("row count") << head + "C int 1:c\nR\nI 1\nE 2\nZ 1\n"
                               << "row count";
    QTest::newRow("row cut short") << head + "C int 1:c\nC int 1:d\nR\nI 1\nE 1\nZ 1\n"
                                   << "expected a value of type int for d";
    QTest::newRow("text for a number") << one("int", "S 1:1") << "expected a value of type int";
    QTest::newRow("int too large") << one("int", "I 32768") << "not a value of type int";
    QTest::newRow("byte negative") << one("byte", "I -1") << "not a value of type byte";
    QTest::newRow("long too large") << one("long", "I 2147483648") << "not a value of type long";
    QTest::newRow("plus sign") << one("long", "I +1") << "not a value";
    QTest::newRow("leading zero") << one("long", "I 01") << "not a value";
    QTest::newRow("Yes/No NULL") << one("bool", "N") << "Yes/No value";
    QTest::newRow("Yes/No 2") << one("bool", "I 2") << "not a value of type bool";
    QTest::newRow("not UTF-8") << one("text", "S 1:\xff") << "not UTF-8";
    QTest::newRow("not a number") << one("double", "F nan") << "not a number";
    QTest::newRow("infinite") << one("double", "F 1e999") << "not a number";
    QTest::newRow("bad date") << one("datetime", "F 1e300") << "not a date";
    QTest::newRow("currency beyond a double")
        << one("money", "D 922337203685477.5807") << "more digits than can be kept exactly";
    QTest::newRow("decimal with exponent") << one("numeric", "D 1e5") << "not a decimal";
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
    QTest::newRow("negative zero") << QByteArray("-0.0000") << QVariant(qlonglong(0));
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
    QTest::newRow("no digits before the point") << QByteArray(".5") << QVariant();
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
