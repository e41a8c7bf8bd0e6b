#include "classfileio.h"
#include "schema.h"
#include "testsupport.h"

#include <QDir>
#include <QTest>

using namespace tarn;
using namespace tarn::test;

namespace
{

// Every classdef column with a value: the worked example's class by default.
QVariantMap exampleClass()
{
    QVariantMap row;
    for (const QString &column : schema::classdefColumnNames())
        row[column] = 0;
    row["package_name"] = "Test Config";
    row["class_name"] = "Scout";
    row["class_num"] = 1;
    row["model_name"] = "male";
    row["skin_name1"] = "grunt";
    row["skin_name2"] = "blue";
    row["decoyskin"] = 3;
    row["w1"] = 1;
    row["w2"] = 2;
    row["w3"] = 5;
    row["g1"] = 1;
    row["max_armor"] = 50;
    row["max_speed"] = 340;
    row["max_health"] = 90;
    row["s1"] = row["s3"] = 1;
    row["i1"] = row["i2"] = 1;
    const QList<int> ammo{100, 25, 10, 2, 50, 5};
    const char *names[] = {"maxbullets",  "maxshells", "maxrockets",
                           "maxgrenades", "maxcells",  "maxslugs"};
    for (int i = 0; i < 6; ++i)
        row[names[i]] = ammo[i];
    return row;
}

void insertClass(const Peek &peek, const QVariantMap &row)
{
    const QStringList columns = row.keys();
    QVariantList values;
    for (const QString &c : columns)
        values << row[c];
    peek.exec(QStringLiteral("INSERT INTO classdef (%1) VALUES (%2)")
                  .arg(schema::joined(columns), schema::placeholders(columns.size())),
              values);
}

void insertRefs(const Peek &peek, const QString &table, const QVariantList &ids)
{
    const QString prefix = table.left(1);
    for (const QVariant &id : ids)
        peek.exec(QStringLiteral("INSERT INTO %1 (%2_id, %2_name, qz_enabled) VALUES (?, ?, 1)")
                      .arg(table, prefix),
                  {id, QStringLiteral("row %1").arg(id.toString())});
}

QVariantList powersOfTwo(int count)
{
    QVariantList ids;
    for (int k = 0; k < count; ++k)
        ids << (qint64(1) << k);
    return ids;
}

QByteArray scrambled(QByteArray bytes)
{
    for (char &c : bytes)
        if (uchar(c) > 30)
            c = char(uchar(c) + 128);
    return bytes;
}

const QByteArray kExample =
    "V3 17\r\nTest Config\r\n\r\n[Scout]\r\nmale grunt blue 3\r\n"
    "1 2 5 0 0 0 0 0 0 0\r\n1 0 0\r\n50 340 90  5  3\r\n100 25 10 2 50 5\r\n";

// A data directory with the worked example's configuration and reference rows.
struct Fixture {
    Fixture()
    {
        {
            Peek data(dir.dataPath());
            data.exec("INSERT INTO package (package_name) VALUES ('Test Config')");
            insertClass(data, exampleClass());
            Peek ref(dir.refPath());
            ref.exec("BEGIN");
            insertRefs(ref, "item", powersOfTwo(8));
            insertRefs(ref, "special", powersOfTwo(31));
            ref.exec("COMMIT");
        }
        state = &dir.start();
        state->setModId("17");
    }
    QString file(const QString &name) const { return dir.file(name); }
    qint64 count(const QString &table) const { return Peek(dir.dataPath()).count(table); }

    DataDir dir{false};
    AppState *state = nullptr;
};

} // namespace

class tst_ClassFileIo : public QObject
{
    Q_OBJECT

private slots:
    void workedExample_data();
    void workedExample();
    void roundTripEveryColumn_data();
    void roundTripEveryColumn();
    void exportRefusals_data();
    void exportRefusals();
    void importFailures_data();
    void importFailures();
    void importRefusesExistingName();
    void cancelLeavesNothing();
    void twoLineFileIsEmptyConfiguration();
    void flagSum_data();
    void flagSum();
};

void tst_ClassFileIo::workedExample_data()
{
    QTest::addColumn<bool>("protect");
    QTest::newRow("plain") << false;
    QTest::newRow("scrambled") << true;
}

void tst_ClassFileIo::workedExample()
{
    QFETCH(bool, protect);
    Fixture f;
    const QString path = f.file("test.class");
    QVERIFY2(exportClassFile(*f.state, "Test Config", path, protect), "export");
    QCOMPARE(readFile(path), protect ? scrambled(kExample) : kExample);

    Status status = importClassFile(*f.state, "New", path);
    QVERIFY2(status, qPrintable(status.message()));
    Peek peek(f.dir.dataPath());
    QCOMPARE(peek.count("package"), 2);
    const QList<QVariantMap> rows = peek.rows("SELECT * FROM classdef WHERE package_name = 'New'");
    QCOMPARE(rows.size(), 1);
    QVariantMap expected = exampleClass();
    expected["package_name"] = "New";
    for (const QString &column : schema::classdefColumnNames())
        QVERIFY2(rows[0][column].toString() == expected[column].toString(), qPrintable(column));
}

void tst_ClassFileIo::roundTripEveryColumn_data()
{
    workedExample_data();
}

void tst_ClassFileIo::roundTripEveryColumn()
{
    QFETCH(bool, protect);
    Fixture f;
    // Three classes numbered 5, 2, 9 with a different value in every column.
    {
        Peek data(f.dir.dataPath());
        data.exec("INSERT INTO package (package_name) VALUES ('All')");
        int value = 1;
        for (int number : {5, 2, 9}) {
            QVariantMap row;
            for (const schema::Column &c : schema::classdefColumns()) {
                if (c.kind == schema::Kind::YesNo)
                    row[c.name] = (value++ % 3) ? 1 : 0;
                else if (c.kind == schema::Kind::Text)
                    row[c.name] = QStringLiteral("%1-%2").arg(c.name).arg(value++);
                else
                    row[c.name] = (value++ * 37) % 65536 - 32768;
            }
            row["package_name"] = "All";
            row["class_num"] = number;
            row["class_name"] = QStringLiteral("Class [%1] with spaces").arg(number);
            row["model_name"] = number == 2 ? QString() : QStringLiteral("m%1").arg(number);
            data.exec("DELETE FROM classdef WHERE package_name = 'x'");
            insertClass(data, row);
        }
    }
    const QString path = f.file("all.class");
    QVERIFY(exportClassFile(*f.state, "All", path, protect));
    Status status = importClassFile(*f.state, "Back", path);
    QVERIFY2(status, qPrintable(status.message()));
    Peek peek(f.dir.dataPath());
    const QList<QVariantMap> before =
        peek.rows("SELECT * FROM classdef WHERE package_name = 'All' ORDER BY class_num");
    const QList<QVariantMap> after =
        peek.rows("SELECT * FROM classdef WHERE package_name = 'Back' ORDER BY class_num");
    QCOMPARE(after.size(), 3);
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(after[i]["class_num"].toInt(), i + 1);
        QCOMPARE(after[i]["w1"].toInt(), 1);
        QCOMPARE(after[i]["i9"].toInt(), 0); // no item box for it
        for (const QString &column : schema::classdefColumnNames()) {
            if (column == "package_name" || column == "class_num" || column == "w1" ||
                column == "i9")
                continue;
            QVERIFY2(after[i][column].toString() == before[i][column].toString(),
                     qPrintable(QStringLiteral("%1: %2 vs %3")
                                    .arg(column, after[i][column].toString(),
                                         before[i][column].toString())));
        }
    }
}

void tst_ClassFileIo::exportRefusals_data()
{
    QTest::addColumn<QString>("column");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<bool>("protect");
    QTest::addColumn<QString>("cause");
    QTest::newRow("empty skin") << "skin_name2" << QVariant() << true
                                << "class \"Second\": skin_name2 is empty";
    QTest::newRow("space in model")
        << "model_name" << QVariant("a b") << false << "class \"Second\": model_name holds a space";
    QTest::newRow("line break in name") << "skin_name1" << QVariant("a\nb") << false
                                        << "class \"Second\": skin_name1 holds a line break";
    QTest::newRow("not Latin-1") << "skin_name1" << QVariant(QString::fromUtf8("\u20AC")) << false
                                 << QString::fromUtf8(
                                        "class \"Second\": skin_name1 holds the character '\u20AC' "
                                        "(U+20ac), which a class file cannot carry");
    QTest::newRow("scrambled é")
        << "skin_name1" << QVariant(QString::fromUtf8("\u00E9")) << true
        << QString::fromUtf8("class \"Second\": skin_name1 holds the character \"\u00E9\" (code "
                             "233), which a scrambled class file cannot carry");
    QTest::newRow("empty number") << "decoyskin" << QVariant() << false
                                  << "class \"Second\": decoyskin is empty";
    QTest::newRow("fraction")
        << "w3" << QVariant(2.5) << false
        << "class \"Second\": w3 holds '2.5', not a whole number from -32768 to 32767";
    QTest::newRow("out of range")
        << "maxslugs" << QVariant(40000) << true
        << "class \"Second\": maxslugs holds '40000', not a whole number from -32768 to 32767";
    QTest::newRow("Mod ID")
        << "modid" << QVariant(QString::fromUtf8("\u20AC")) << true
        << QString::fromUtf8(
               "The Mod ID holds the character '\u20AC' (U+20ac), which a class file cannot carry");
    QTest::newRow("Mod ID scrambled")
        << "modid" << QVariant(QString::fromUtf8("\u00E9")) << true
        << QString::fromUtf8("the Mod ID holds the character \"\u00E9\" (code 233), which a "
                             "scrambled class file cannot carry");
    QTest::newRow("id not whole") << "item id" << QVariant(2.5) << true
                                  << "class \"Second\": item sum: the id '2.5' of 'row 2.5' (box "
                                     "2) is not a whole 32-bit number";
    QTest::newRow("sum beyond 32 bits") << "special id" << QVariant(qint64(1) << 30) << true
                                        << "class \"Second\": special sum: the sum of the ticked "
                                           "ids, 2147483648, lies beyond the 32-bit range";
}

void tst_ClassFileIo::exportRefusals()
{
    QFETCH(QString, column);
    QFETCH(QVariant, value);
    QFETCH(bool, protect);
    QFETCH(QString, cause);
    Fixture f;
    {
        Peek data(f.dir.dataPath());
        QVariantMap second = exampleClass();
        second["class_name"] = "Second";
        second["class_num"] = 2;
        if (column == "item id" || column == "special id") {
            // Box 2 of the class shows the row that now has this id.
            Peek ref(f.dir.refPath());
            const QString table = column.section(' ', 0, 0);
            ref.exec(QStringLiteral("DELETE FROM %1").arg(table));
            const QString prefix = table.left(1);
            insertRefs(ref, table, {value.toDouble() == 2.5 ? QVariant(1) : value, value});
            // Only the second class ticks both boxes.
            data.exec("UPDATE classdef SET i1 = 0, i2 = 0, s1 = 0, s3 = 0");
            second[prefix + "1"] = second[prefix + "2"] = 1;
        } else if (column == "modid") {
            f.state->setModId(value.toString());
        } else {
            second[column] = value;
        }
        insertClass(data, second);
    }
    const QString path = f.file("earlier.class");
    writeFile(path, "earlier export\r\n");
    const Status status = exportClassFile(*f.state, "Test Config", path, protect);
    QVERIFY(!status);
    QCOMPARE(status.message(),
             QStringLiteral("Could not export the configuration 'Test Config' to %1.\n%2")
                 .arg(path, cause));
    QCOMPARE(readFile(path), QByteArray("earlier export\r\n"));
    QCOMPARE(QDir(f.dir.path()).entryList(QDir::Files).filter(".class"),
             QStringList{"earlier.class"});
}

void tst_ClassFileIo::importFailures_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("message"); // %1: the file
    const QByteArray head = "V3 17\r\nTest Config\r\n";
    const QByteArray block = kExample.mid(head.size());
    QTest::newRow("third class without bracket")
        << head + block + block + QByteArray(block).replace("[Scout]", "Scout]")
        << "Bad Class Record: Scout]\n%1, line 18\nNothing was imported.";
    QTest::newRow("cut short") << head + block + block.left(30)
                               << "The file ends inside the class block that begins on line "
                                  "11\n%1, line 13\nNothing was imported.";
    QTest::newRow("not a number")
        << head + block + QByteArray(block).replace("100 25", "100 x") + "\r\n"
        << "Maxshells (field 2): \"x\" is not a number\n%1, line 16\nNothing was imported.";
    QTest::newRow("lone [") << head + "[\r\n" + block.mid(11)
                            << "The class line holds only \"[\"\n%1, line 3\nNothing was imported.";
    QTest::newRow("one line") << QByteArray("V3\r\n")
                              << "The file ends after line 1; a class file has at least two "
                                 "lines\n%1, line 2\nNothing was imported.";
    QByteArray many = head;
    const QByteArray small = "[c]\nm a b 0\n0 0 0 0 0 0 0 0 0 0\n0 0 0\n0 0 0 0 0\n0 0 0 0 0 0\n";
    for (int i = 0; i <= 32767; ++i)
        many += small;
    QTest::newRow("32768 classes")
        << many + "\n"
        << "The file holds more than 32767 classes\n%1, line 196605\nNothing was imported.";
}

void tst_ClassFileIo::importFailures()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, message);
    Fixture f;
    const QString path = f.file("bad.class");
    writeFile(path, file);
    const Status status = importClassFile(*f.state, "New", path);
    QVERIFY(!status);
    QCOMPARE(status.message(), message.arg(path));
    QCOMPARE(f.count("classdef"), 1);
    QCOMPARE(f.count("package"), 1);

    const Status missing = importClassFile(*f.state, "New", f.file("missing.class"));
    QVERIFY(missing.message().startsWith("No such file or directory\n" + f.file("missing.class")));
    QCOMPARE(f.count("classdef"), 1);
}

void tst_ClassFileIo::importRefusesExistingName()
{
    Fixture f;
    const QString path = f.file("a.class");
    writeFile(path, kExample);
    const Status status = importClassFile(*f.state, "TEST config", path);
    QCOMPARE(
        status.message(),
        QStringLiteral("A configuration named 'TEST config' exists already. Choose another name."));
    QCOMPARE(f.count("classdef"), 1);
    QCOMPARE(f.count("package"), 1);
}

void tst_ClassFileIo::cancelLeavesNothing()
{
    Fixture f;
    QByteArray file = kExample.left(kExample.indexOf("\r\n\r\n") + 2);
    for (int i = 0; i < 600; ++i)
        file += kExample.mid(kExample.indexOf("\r\n\r\n") + 2);
    const QString path = f.file("many.class");
    writeFile(path, file);
    qint64 last = -1;
    auto cancelHalfway = [&last](qint64 done, qint64 total) {
        last = done;
        return done < total / 2;
    };
    QVERIFY(!importClassFile(*f.state, "New", path, cancelHalfway));
    QVERIFY(last > 0);
    QCOMPARE(f.count("classdef"), 1);
    QCOMPARE(f.count("package"), 1);

    QVERIFY(importClassFile(*f.state, "New", path));
    QCOMPARE(f.count("classdef"), 601);
    last = -1;
    QVERIFY(!exportClassFile(*f.state, "New", path, true, cancelHalfway));
    QVERIFY(last > 0);
    QCOMPARE(readFile(path), file);
}

void tst_ClassFileIo::twoLineFileIsEmptyConfiguration()
{
    Fixture f;
    {
        Peek(f.dir.dataPath()).exec("DELETE FROM classdef");
    }
    const QString path = f.file("empty.class");
    QVERIFY(exportClassFile(*f.state, "Test Config", path, false));
    QCOMPARE(readFile(path), QByteArray("V3 17\r\nTest Config\r\n"));
    QVERIFY(importClassFile(*f.state, "Empty", path));
    QCOMPARE(Peek(f.dir.dataPath()).rows("SELECT package_name FROM package ORDER BY 1").size(), 2);
    QCOMPARE(f.count("classdef"), 0);
}

void tst_ClassFileIo::flagSum_data()
{
    QTest::addColumn<QVariantList>("ids");
    QTest::addColumn<qsizetype>("boxes");
    QTest::addColumn<QList<bool>>("flags");
    QTest::addColumn<qint64>("sum");
    const QList<bool> all8(8, true);
    QList<bool> odd31(31, false);
    for (int k = 0; k < 31; k += 2)
        odd31[k] = true;
    QTest::newRow("5 items, all 8 flags") << powersOfTwo(5) << kItemBoxes << all8 << qint64(31);
    QTest::newRow("12 items, all 8 flags") << powersOfTwo(12) << kItemBoxes << all8 << qint64(255);
    QTest::newRow("12 items, ids not powers of two")
        << QVariantList{3, 5, 6, 7, 9, 10, 11, 12, 13, 14, 15, 16} << kItemBoxes
        << QList<bool>{true, false, true, false, false, false, false, true} << qint64(3 + 6 + 12);
    QVariantList forty = powersOfTwo(31);
    for (int i = 0; i < 9; ++i)
        forty << QVariant(); // beyond the boxes: never looked at
    qint64 oddSum = 0;
    for (int k = 0; k < 31; k += 2)
        oddSum += qint64(1) << k;
    QTest::newRow("40 specials") << forty << kSpecialBoxes << odd31 << oddSum;
    QTest::newRow("40 specials, all")
        << forty << kSpecialBoxes << QList<bool>(31, true) << qint64(2147483647);
    QTest::newRow("bad id not ticked")
        << QVariantList{1, "x", 4} << kItemBoxes << QList<bool>{true, false, true} << qint64(5);
    QTest::newRow("bad id ticked")
        << QVariantList{1, "x", 4} << kItemBoxes << QList<bool>{true, true, true} << qint64(-1);
    QTest::newRow("negative sum") << QVariantList{-2147483647 - 1, 1} << kItemBoxes
                                  << QList<bool>{true, false} << qint64(-2147483648LL);
}

void tst_ClassFileIo::flagSum()
{
    QFETCH(QVariantList, ids);
    QFETCH(qsizetype, boxes);
    QFETCH(QList<bool>, flags);
    QFETCH(qint64, sum);
    QList<RefEntry> rows;
    for (int i = 0; i < ids.size(); ++i)
        rows.append({ids[i], QStringLiteral("r%1").arg(i), i % 2 ? QVariant(0) : QVariant(1)});
    std::vector<bool> storage(flags.begin(), flags.end());
    std::unique_ptr<bool[]> boxFlags(new bool[size_t(boxes)]());
    for (qsizetype k = 0; k < qMin(boxes, flags.size()); ++k)
        boxFlags[size_t(k)] = flags[k];
    const Result<qint32> result =
        tarn::flagSum(rows, std::span<const bool>(boxFlags.get(), size_t(boxes)));
    if (sum == -1) {
        QVERIFY(!result);
        QVERIFY(result.message().contains("'x' of 'r1' (box 2)"));
    } else {
        QVERIFY2(result, qPrintable(result.message()));
        QCOMPARE(qint64(*result), sum);
    }
}

QTEST_GUILESS_MAIN(tst_ClassFileIo)
#include "tst_classfileio.moc"
