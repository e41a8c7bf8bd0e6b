#include "schema.h"
#include "testsupport.h"

#include <QTest>

using namespace tarn;
using namespace tarn::test;

class tst_DataStore : public QObject
{
    Q_OBJECT

private slots:
    void namesRoundTrip_data();
    void namesRoundTrip();
    void newNames_data();
    void newNames();
    void strayClasses();
    void caseIgnoredWithoutCollation();
    void copyFailingPartWayLeavesNothing();
};

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

} // namespace

void tst_DataStore::namesRoundTrip_data()
{
    QTest::addColumn<QString>("name");
    // Bound, never spliced; from a to b, so that a LIKE 'a%b' would match it.
    QTest::newRow("quotes, wildcards, Latin-1") << "a O'Neil's \"x\" [y] ; -- 100% Garçons_b";
    QTest::newRow("spaces around") << "  padded  ";
    QTest::newRow("same name once more") << "   "; // no letter to change the case of
}

void tst_DataStore::namesRoundTrip()
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
    QVERIFY(data.deletePackage(name));
    QVERIFY(classesOf(peek, name).isEmpty());
    QCOMPARE(classesOf(peek, copy).size(), 3);
    QVERIFY(!data.packageNames()->contains(name));
    QVERIFY(data.packageNames()->contains(copy));
}

void tst_DataStore::newNames_data()
{
    // Refused names change nothing, whether created or copied to; a stored
    // name that breaks the rule still works. Names with quotes and Latin-1
    // letters are accepted in namesRoundTrip.
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("refusal"); // empty: accepted
    const QString cannot = "The configuration name holds the %1 at position %2, which a class "
                           "file cannot carry.";
    QTest::newRow("longest") << QString(32767, 'x') << "";
    QTest::newRow("line feed") << "a\nb" << cannot.arg("control character \\n", "2");
    QTest::newRow("tab") << "\tx" << cannot.arg("control character \\t", "1");
    QTest::newRow("escape") << "x\x1b[2J" << cannot.arg("control character \\x1b", "2");
    QTest::newRow("C1 control") << "x\u0085" << cannot.arg("control character \\x85", "2");
    QTest::newRow("not Latin-1") << "Équipe Ω" << cannot.arg("character 'Ω' (U+03A9)", "8");
    QTest::newRow("astral, counted as one") << "😀 😀" << cannot.arg("character '😀' (U+1F600)", "1");
    QTest::newRow("too long") << QString(32768, 'x')
                              << "The configuration name is 32768 characters long; a line of a "
                                 "class file holds at most 32767.";
}

void tst_DataStore::newNames()
{
    QFETCH(QString, name);
    QFETCH(QString, refusal);
    DataDir dir;
    DataStore &data = dir.start().data();
    for (bool copy : {false, true}) {
        const Status status =
            copy ? data.copyPackage("Sample Config", name) : data.createPackage(name);
        QCOMPARE(status ? QString() : status.message(), refusal);
        QCOMPARE(*data.packageExists(name), refusal.isEmpty());
        if (status)
            QVERIFY(data.deletePackage(name));
    }
    if (refusal.isEmpty())
        return;
    Peek peek(dir.dataPath());
    // Stored by an older version: it lists, copies from and deletes.
    peek.exec("INSERT INTO package (package_name) VALUES (?)", {name});
    QVERIFY(data.packageNames()->contains(name));
    QVERIFY(data.copyPackage(name, "Copy"));
    QVERIFY(data.deletePackage(name));
    QCOMPARE(*data.packageNames(), (QStringList{"Copy", "Sample Config"}));
}

void tst_DataStore::strayClasses()
{
    // Classes of a name without its package row, as older versions left them:
    // a new configuration of that name (in any case) starts without them.
    for (bool copy : {false, true}) {
        DataDir dir;
        DataStore &data = dir.start().data();
        Peek peek(dir.dataPath());
        for (int number : {1, 2, 7})
            insertFullClass(peek, "STRAY", number, false);
        QVERIFY(copy ? data.copyPackage("Sample Config", "Stray") : data.createPackage("Stray"));
        QCOMPARE(peek.scalar("SELECT group_concat(class_num) FROM classdef WHERE package_name = "
                             "'Stray' COLLATE NOCASE")
                     .toString(),
                 copy ? "1,2" : "");
        QCOMPARE(*data.nextClassNumber("Stray"), copy ? 3 : 1);
    }
}

void tst_DataStore::caseIgnoredWithoutCollation()
{
    // Tables rebuilt without the NOCASE collation, as another tool may make them.
    DataDir dir;
    {
        Peek peek(dir.dataPath());
        for (const char *table : {"package", "classdef"})
            for (const char *sql : {"CREATE TABLE copied AS SELECT * FROM %1", "DROP TABLE %1",
                                    "ALTER TABLE copied RENAME TO %1"})
                peek.exec(QString(sql).arg(table));
        QCOMPARE(peek.count("package WHERE package_name = 'SAMPLE CONFIG'"), 0);
    }
    DataStore &data = dir.start().data();
    QVERIFY(data.createPackage("alpha"));
    QCOMPARE(*data.packageNames(), (QStringList{"alpha", "Sample Config"}));
    for (const Status &status :
         {data.createPackage("SAMPLE CONFIG"), data.copyPackage("alpha", "sample config")})
        QVERIFY2(!status && status.message().contains("exists already"),
                 qPrintable(status.message()));
    QCOMPARE(*data.storedPackageName("SAMPLE config"), "Sample Config");
    QCOMPARE(*data.nextClassNumber("sample CONFIG"), 3);
    QVERIFY(data.copyPackage("sample config", "Beta"));
    QVERIFY(data.deletePackage("SAMPLE CONFIG"));
    Peek peek(dir.dataPath());
    QCOMPARE(peek.scalar("SELECT group_concat(DISTINCT package_name) FROM classdef").toString(),
             "Beta");
}

void tst_DataStore::copyFailingPartWayLeavesNothing()
{
    DataDir dir;
    AppState &state = dir.start();
    Peek peek(dir.dataPath());
    // The second class row of the copy is refused by the database.
    peek.exec("CREATE TRIGGER refuse BEFORE INSERT ON classdef "
              "WHEN (SELECT count(*) FROM classdef WHERE package_name = NEW.package_name) >= 1 "
              "BEGIN SELECT RAISE(ABORT, 'disk trouble'); END");
    const Status status = state.data().copyPackage("Sample Config", "Copy");
    QVERIFY2(!status && status.message().contains("disk trouble") &&
                 status.message().contains(dir.dataPath()),
             qPrintable(status.message()));
    QCOMPARE(peek.count("package"), 1);
    QCOMPARE(peek.count("classdef"), 2);
}

QTEST_GUILESS_MAIN(tst_DataStore)
#include "tst_datastore.moc"
