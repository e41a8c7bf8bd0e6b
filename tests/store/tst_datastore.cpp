// SPDX-License-Identifier: GPL-3.0-or-later
#include "store/fieldvalue.h"
#include "store/schema.h"
#include "testsupport.h"

#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTest>

using namespace tarn;
using namespace tarn::test;

namespace
{

// Fills one class with a distinct value in every column; NULL in some when asked.
void insertFullClass(const Peek &peek, const QString &package, int number, bool withNulls)
{
    QVariantMap row;
    int seed = number * 100;
    for (const schema::Column &c : schema::classdefColumns()) {
        ++seed;
        if (withNulls && c.kind != schema::Kind::YesNo && seed % 3 == 0)
            row[c.name] = QVariant();
        else if (c.kind == schema::Kind::Text)
            row[c.name] = QStringLiteral("%1 '%2'").arg(c.name).arg(seed);
        else
            row[c.name] = c.kind == schema::Kind::YesNo ? seed % 2 : seed % 2 ? -seed : seed;
    }
    row.insert({{"package_name", package}, {"class_num", number}});
    peek.exec(QStringLiteral("INSERT INTO classdef (%1) VALUES (%2)")
                  .arg(schema::joined(row.keys()), schema::placeholders(row.size())),
              row.values());
}

// The classes of a configuration without their configuration name, NULL told
// apart from 0 and the empty text.
QList<QVariantMap> classesOf(const Peek &peek, const QString &package)
{
    QList<QVariantMap> rows =
        peek.rows("SELECT * FROM classdef WHERE package_name = ? ORDER BY class_num", {package});
    for (QVariantMap &row : rows) {
        row.remove("package_name");
        for (QVariant &value : row)
            if (value.isNull())
                value = "NULL";
    }
    return rows;
}

struct NewName {
    const char *name;
    QString text;
    QString refusal = {}; // what the refusal names
    Fault fault = refusal.isEmpty() ? Fault::None : Fault::Refused;
    QString setup = {}; // stray classes, a failing disk
};
struct OtherChange {
    const char *name;
    QString by, sql; // the connection ("own", "other" or none) and what it runs
    bool changed;
};
struct Typed {
    const char *name;
    schema::Kind kind;
    QString typed, stored; // stored: the value's type and text, or NULL
    QString refusal = {};  // what the refusal says after the field's name
};

} // namespace

class tst_DataStore : public QObject
{
    Q_OBJECT

private slots:
    // Quietly: the engines have nothing to say on the terminal either.
    void init() { QTest::failOnWarning(QRegularExpression(".")); }

    void namesRoundTrip_data()
    {
        QTest::addColumn<QString>("name");
        // Bound, never spliced; from a to b, so that a LIKE 'a%b' would match it.
        QTest::newRow("quotes, wildcards, Latin-1") << "a O'Neil's \"x\" [y] ; -- 100% Garçons_b";
        QTest::newRow("spaces around") << "  padded  ";
        QTest::newRow("same name once more") << "   "; // no letter to change the case of
    }

    void namesRoundTrip()
    {
        QFETCH(QString, name);
        DataDir dir;
        DataStore &data = dir.start().data();
        QVERIFY(data.createPackage(name));
        QVERIFY(data.packageNames()->contains(name));
        // Look-alikes are other names (no LIKE wildcards, no trimming); ASCII case makes none.
        QVERIFY(data.createPackage(name + ' '));
        QCOMPARE(*data.packageExists("a%b"), false);
        QString otherCase = name;
        for (QChar &c : otherCase)
            c = c.unicode() >= 128 ? c : c.isUpper() ? c.toLower() : c.toUpper();
        for (const Status &status :
             {data.createPackage(otherCase), data.copyPackage("Sample Config", otherCase)})
            QVERIFY2(!status && status.message().contains(otherCase), qPrintable(status.message()));

        // Copies carry every column of every class, NULL included; an empty one copies too.
        const QString copy = name + " copy";
        QVERIFY(data.copyPackage(name, copy + " of none"));
        Peek peek(dir.dataPath());
        for (int number : {5, 2, 9}) // stored out of number order on purpose
            insertFullClass(peek, name, number, number != 5);
        const QList<QVariantMap> before = classesOf(peek, name);
        QVERIFY(data.copyPackage(name, copy));
        QCOMPARE(classesOf(peek, copy), before);
        QCOMPARE(classesOf(peek, name), before);
        // Read back by class number, NULL kept, under the name in another case.
        const QStringList columns = schema::classdefColumnNames().mid(1); // all but package_name
        QList<QVariantMap> read;
        auto readRows = [&](const StoredClass &row) {
            read << QVariantMap();
            for (int i = 0; i < columns.size(); ++i)
                read.last()[columns[i]] = row.value(i).isNull() ? QVariant("NULL") : row.value(i);
            return Status::success();
        };
        const Status rows = data.readClassColumns(otherCase, columns, "Could not read.", readRows);
        QVERIFY2(rows, qPrintable(rows.message()));
        QCOMPARE(read, before);
        QVERIFY(!data.readClassColumns(name, {"class_num; DROP TABLE package"}, "Could not read.",
                                       readRows));
        QVERIFY(data.deletePackage(name));
        QVERIFY(!data.readClassColumns(name, columns, "Could not read.", readRows));
        // Kept for the history, whole.
        QCOMPARE(data.deletedPackages()->first().classes, before.size());
        QCOMPARE(classesOf(peek, copy).size(), 3);
    }

    void newConfigurations_data()
    {
        // A configuration made new, copied from the sample or imported (three classes),
        // each with the same outcome; a refused one changes nothing. Names with
        // quotes and Latin-1 letters are accepted in namesRoundTrip.
        auto letters = [](int n) {
            QRandomGenerator random(n);
            QString text;
            while (text.size() < n)
                text += QChar(0xC0 + random.bounded(0x40));
            return text;
        };
        // A server's index bounds names; the worst case is two bytes a character
        // that do not compress.
        const QString server = onTestServer() ? "characters" : "";
        addRows<NewName>({
            {"longest", QString(32767, 'x'), server},
            {"longest on a server", letters(1300)},
            {"one more", letters(1301), server},
            {"line feed", "a\nb", "control character \\n at position 2"},
            {"tab", "\tx", "control character \\t at position 1"},
            {"escape", "x\x1b[2J", "control character \\x1b at position 2"},
            {"C1 control", "x\u0085", "control character \\x85 at position 2"},
            {"not Latin-1", "Équipe Ω", "character 'Ω' (U+03A9) at position 8"},
            {"astral, counted as one", "😀 😀", "character '😀' (U+1F600) at position 1"},
            {"too long", QString(32768, 'x'), "32768 characters"},
            {"taken, in another case", "SAMPLE config", "SAMPLE config", Fault::Exists},
            // Classes of a name without its package row, as older versions left them:
            // the new configuration starts without them.
            {"stray classes", "Stray", "", Fault::None, "strays"},
            // The database refuses the second class row.
            {"disk trouble", "Copy", "disk trouble", onTestServer() ? Fault::Other : Fault::Refused,
             "disk"},
        });
    }

    void newConfigurations()
    {
        QFETCH(NewName, row);
        DataDir dir;
        Peek peek(dir.dataPath());
        if (row.setup == "disk")
            peek.refuseInserts(
                "classdef", "disk trouble",
                "(SELECT count(*) FROM classdef WHERE package_name = NEW.package_name) >= 1");
        DataStore &data = dir.start().data();
        const QString all =
            "SELECT * FROM classdef WHERE package_name <> 'STRAY' AND package_name IN (SELECT "
            "package_name FROM package) ORDER BY class_num";
        const QList<QVariantMap> before = peek.rows(all);
        for (int way : {0, 1, 2}) { // made new, copied, imported
            for (int number : {1, 2, 7})
                if (row.setup == "strays")
                    insertFullClass(peek, "STRAY", number, false);
            if (row.setup == "disk" && way == 0)
                continue; // no class row to refuse
            int offered = 0;
            auto offer = [&offered](classfile::ClassRecord &) {
                return Result<bool>(++offered <= 3);
            };
            const Status status = way == 1   ? data.copyPackage("Sample Config", row.text)
                                  : way == 2 ? data.createPackage(row.text, "Could not.", offer)
                                             : data.createPackage(row.text);
            QCOMPARE(status.fault(), row.fault);
            QVERIFY2(status.message().contains(row.refusal) &&
                         (row.setup != "disk" || status.message().contains(dir.dataPath())),
                     qPrintable(status.message()));
            QCOMPARE(*data.packageExists(row.text), status || row.fault == Fault::Exists);
            const QVariant classes = peek.scalar(
                "SELECT count(*) FROM classdef WHERE lower(package_name) = lower(?)", {row.text});
            // 0, 2 or 3; those of the configuration that has the name
            QCOMPARE(classes.toInt(), status                       ? way + (way > 0)
                                      : row.fault == Fault::Exists ? 2
                                                                   : 0);
            if (status)
                QVERIFY(data.deletePackage(row.text));
            QCOMPARE(peek.count("package"), 1);
        }
        QCOMPARE(peek.rows(all), before);
        if (row.fault != Fault::Refused || !row.setup.isEmpty())
            return;
        // Stored by an older version: it lists, copies from and deletes.
        peek.exec("INSERT INTO package (package_name) VALUES (?)", {row.text});
        QVERIFY(data.packageNames()->contains(row.text));
        QVERIFY(data.copyPackage(row.text, "Copy"));
        QVERIFY(data.deletePackage(row.text));
        QCOMPARE(*data.packageNames(), (QStringList{"Copy", "Sample Config"}));
    }

    void caseIgnoredWithoutCollation()
    {
        // Tables rebuilt without the NOCASE collation, as another tool may make them.
        if (onTestServer())
            QSKIP("a server's tables have no collation to lose");
        DataDir dir;
        Peek peek(dir.dataPath());
        for (const char *table : {"package", "classdef"})
            for (const char *sql : {"CREATE TABLE copied AS SELECT * FROM %1", "DROP TABLE %1",
                                    "ALTER TABLE copied RENAME TO %1"})
                peek.exec(QString(sql).arg(table));
        QCOMPARE(peek.count("package WHERE package_name = 'SAMPLE CONFIG'"), 0);
        DataStore &data = dir.start().data();
        QVERIFY(data.createPackage("alpha"));
        QCOMPARE(*data.packageNames(), (QStringList{"alpha", "Sample Config"}));
        for (const Status &status :
             {data.createPackage("SAMPLE CONFIG"), data.copyPackage("alpha", "sample config")})
            QCOMPARE(status.fault(), Fault::Exists);
        QCOMPARE(*data.storedPackageName("SAMPLE config"), "Sample Config");
        QCOMPARE(*data.nextClassNumber("sample CONFIG"), 3);
        QVERIFY(data.copyPackage("sample config", "Beta"));
        QVERIFY(data.deletePackage("SAMPLE CONFIG"));
        QCOMPARE(peek.scalar("SELECT group_concat(DISTINCT package_name) FROM classdef WHERE "
                             "package_name IN (SELECT package_name FROM package)")
                     .toString(),
                 "Beta");
    }

    void changedElsewhere_data()
    {
        const char *add = "INSERT INTO package (package_name) VALUES ('X')";
        addRows<OtherChange>({
            {"nothing", "", "", false},
            {"own write", "own", add, false},
            {"other's write", "other", add, true},
            {"other's class write", "other", "UPDATE classdef SET max_speed = 1", true},
            {"other's read", "other", "SELECT * FROM package", false},
        });
    }

    void changedElsewhere()
    {
        QFETCH(OtherChange, row);
        DataDir dir;
        DataStore &data = dir.start().data();
        QCOMPARE(*data.changedElsewhere(), false); // takes the mark
        if (row.by == "own")
            QVERIFY(data.database().exec(row.sql));
        else if (row.by == "other")
            Peek(dir.dataPath()).exec(row.sql);
        QCOMPARE(*data.changedElsewhere(), row.changed);
        QCOMPARE(*data.changedElsewhere(), false); // seen once
    }

    // What typed text stores in a column of each kind, and which text is refused:
    // the one rule of every editing window and the class table.
    void fieldValues_data()
    {
        using enum schema::Kind;
        addRows<Typed>({
            {"text as typed", Text, " a  b ", "QString  a  b "},
            {"empty text", Text, "", "NULL"},
            {"blank number", Whole16, "  ", "NULL"},
            {"lowest, trimmed", Whole16, " -32768 ", "qlonglong -32768"},
            {"highest id", Id16, "32767", "qlonglong 32767"},
            {"sign and exponent", Whole16, "+1.5e2", "qlonglong 150"},
            {"yes", YesNo, "1", "qlonglong 1"},
            {"32 bits", Id32, "-2147483648", "qlonglong -2147483648"},
            {"fraction", Number, "2.5", "double 2.5"},
            {"whole decimal", Number, "300.0", "qlonglong 300"},
            {"huge decimal", Number, "-1e300", "double -1e+300"},
            {"letters", Whole16, "fast", "", "'fast' is not a whole number"},
            {"letters, decimal", Number, " fast ", "", "' fast ' is not a number"},
            {"hexadecimal", Id32, "0x10", "", "'0x10' is not a whole number"},
            {"comma", Number, "1,5", "", "'1,5' is not a number"},
            {"fraction, whole", Id16, "2.5", "", "'2.5' is not a whole number"},
            {"16 bits + 1", Whole16, "32768", "",
             "32768 is out of range; it must lie between -32768"},
            {"16 bits - 1", Id16, "-32769", "", "-32769 is out of range"},
            {"no flag 2", YesNo, "2", "", "2 is out of range; it must lie between 0 and 1"},
            {"no flag -1", YesNo, "-1", "", "-1 is out of range"},
            {"32 bits + 1", Id32, "2147483648", "",
             "2147483648 is out of range; it must lie between -2147483648 and 2147483647"},
            {"beyond any number", Whole16, " 1e999", "", "1e999 is out of range."},
            {"beyond any decimal", Number, "-1e999", "", "-1e999 is out of range."},
        });
    }

    void fieldValues()
    {
        QFETCH(Typed, row);
        const Result<QVariant> value = fieldValue(row.kind, "Max Speed", row.typed);
        QCOMPARE(value.fault(), row.refusal.isEmpty() ? Fault::None : Fault::Refused);
        QVERIFY2(value || (value.message().startsWith("Max Speed: ") &&
                           value.message().contains(row.refusal)),
                 qPrintable(value.message()));
        if (value)
            QCOMPARE(value->isNull() ? "NULL" : value->typeName() + (' ' + value->toString()),
                     row.stored);
        // A value set by a window rather than typed is bounded the same way.
        if (row.kind != schema::Kind::Text && row.refusal.contains("out of range;"))
            QCOMPARE(checkFieldRange(row.kind, "Max Speed", row.typed.toDouble()).fault(),
                     Fault::Refused);
        else if (value)
            QVERIFY(checkFieldRange(row.kind, "Max Speed", *value));
    }

    void referenceWritesInsideADataTransaction()
    {
        // A command's transaction on the configurations may read and write the
        // reference tables meanwhile: a write there commits or rolls back as
        // its own, without the configurations' changes.
        DataDir dir;
        AppState &state = dir.start();
        Database &data = state.data().database(), &ref = state.ref().database();
        Transaction outer(data);
        QVERIFY(outer.begin("outer"));
        QVERIFY(data.exec("INSERT INTO package (package_name) VALUES ('Kept')"));
        for (const char *sql : {"UPDATE weapon SET w_name = 'Renamed'", "DELETE FROM weapon"}) {
            Transaction inner(ref); // the first committed, the second dropped
            QVERIFY(inner.begin("inner") && ref.exec(sql));
            if (QByteArrayView(sql).startsWith("UPDATE"))
                QVERIFY(inner.commit("inner"));
        }
        const Result<QList<RefEntry>> all = state.ref().all(schema::RefKind::Weapon);
        QVERIFY(all && !all->isEmpty());
        QCOMPARE(all->first().name, "Renamed");
        QVERIFY(outer.commit("outer"));
        QCOMPARE(Peek(dir.dataPath()).count("package WHERE package_name = 'Kept'"), 1);
        QCOMPARE(Peek(dir.refPath()).count("weapon WHERE w_name <> 'Renamed'"), 0);
    }
};

QTEST_GUILESS_MAIN(tst_DataStore)
#include "tst_datastore.moc"
