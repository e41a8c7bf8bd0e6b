#include "store/schema.h"
#include "testsupport.h"

#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTest>

#include <limits>

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

} // namespace

class tst_DataStore : public QObject
{
    Q_OBJECT

private slots:
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
        QVERIFY(classesOf(peek, name).isEmpty());
        QCOMPARE(classesOf(peek, copy).size(), 3);
        QVERIFY(!data.packageNames()->contains(name));
        QVERIFY(data.packageNames()->contains(copy));
    }

    void newNames_data()
    {
        // Refused names change nothing, whether created or copied to; a stored
        // name that breaks the rule still works. Names with quotes and Latin-1
        // letters are accepted in namesRoundTrip.
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("refusal"); // empty: accepted
        const QString cannot = "The configuration name holds the %1 at position %2, which a class "
                               "file cannot carry.";
        // A server's index bounds names; the worst case is two bytes a character
        // that do not compress.
        const QString serverMax = "The configuration name is %1 characters long; a database on a "
                                  "server holds names of at most 1300.";
        auto letters = [](int n) {
            QRandomGenerator random(n);
            QString text;
            while (text.size() < n)
                text += QChar(0xC0 + random.bounded(0x40));
            return text;
        };
        const bool server = onTestServer();
        QTest::newRow("longest") << QString(32767, 'x') << (server ? serverMax.arg(32767) : "");
        QTest::newRow("longest on a server") << letters(1300) << "";
        QTest::newRow("one more") << letters(1301) << (server ? serverMax.arg(1301) : "");
        QTest::newRow("line feed") << "a\nb" << cannot.arg("control character \\n", "2");
        QTest::newRow("tab") << "\tx" << cannot.arg("control character \\t", "1");
        QTest::newRow("escape") << "x\x1b[2J" << cannot.arg("control character \\x1b", "2");
        QTest::newRow("C1 control") << "x\u0085" << cannot.arg("control character \\x85", "2");
        QTest::newRow("not Latin-1") << "Équipe Ω" << cannot.arg("character 'Ω' (U+03A9)", "8");
        QTest::newRow("astral, counted as one")
            << "😀 😀" << cannot.arg("character '😀' (U+1F600)", "1");
        QTest::newRow("too long") << QString(32768, 'x')
                                  << "The configuration name is 32768 characters long; a line of a "
                                     "class file holds at most 32767.";
    }

    void newNames()
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

    void strayClasses()
    {
        // Classes of a name without its package row, as older versions left them:
        // a new configuration of that name (in any case) starts without them.
        for (bool copy : {false, true}) {
            DataDir dir;
            DataStore &data = dir.start().data();
            Peek peek(dir.dataPath());
            for (int number : {1, 2, 7})
                insertFullClass(peek, "STRAY", number, false);
            QVERIFY(copy ? data.copyPackage("Sample Config", "Stray")
                         : data.createPackage("Stray"));
            QStringList numbers;
            for (const QVariantMap &row :
                 peek.rows("SELECT class_num FROM classdef WHERE "
                           "lower(package_name) = 'stray' ORDER BY class_num"))
                numbers << row["class_num"].toString();
            QCOMPARE(numbers.join(','), copy ? "1,2" : "");
            QCOMPARE(*data.nextClassNumber("Stray"), copy ? 3 : 1);
        }
    }

    void caseIgnoredWithoutCollation()
    {
        // Tables rebuilt without the NOCASE collation, as another tool may make them.
        if (onTestServer())
            QSKIP("a server's tables have no collation to lose");
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

    void failingPartWayLeavesNothing()
    {
        // Making a copy, then importing: the second class row is refused by the database.
        // Quietly: the driver has nothing to say on the terminal either.
        QTest::failOnWarning(QRegularExpression("."));
        for (bool import : {false, true}) {
            DataDir dir;
            DataStore &data = dir.start().data();
            Peek peek(dir.dataPath());
            peek.refuseInserts(
                "classdef", "disk trouble",
                "(SELECT count(*) FROM classdef WHERE package_name = NEW.package_name) >= 1");
            int offered = 0;
            auto offer = [&offered](classfile::ClassRecord &) {
                return Result<bool>(++offered <= 3);
            };
            const Status status = import ? data.createPackage("Copy", "Could not import.", offer)
                                         : data.copyPackage("Sample Config", "Copy");
            QCOMPARE(status.message(),
                     (import ? "Could not import."
                             : "Could not copy the configuration 'Sample Config' to 'Copy'.") +
                         ('\n' + dir.dataPath() + ": disk trouble"));
            QCOMPARE(peek.count("package"), 1);
            QCOMPARE(peek.count("classdef"), 2);
        }
    }

    void importedRowsAsQtSqlStoresThem_data()
    {
        // Texts as the file's Latin-1 bytes; the numbers in file order: decoy skin,
        // w1..w10, g1..g3, armour, speed, health, special sum, item sum, six ammo limits.
        QTest::addColumn<QByteArrayList>("texts"); // name, model, skin 1, skin 2
        QTest::addColumn<QList<int>>("numbers");
        auto same = [](int whole, int sum) {
            QList<int> numbers(25, whole);
            numbers[17] = numbers[18] = sum;
            return numbers;
        };
        QTest::newRow("worked example")
            << QByteArrayList{"Scout", "male", "grunt", "blue"}
            << QList<int>{3, 1,  2,   5,  0, 0, 0,   0,  0,  0, 0,  1, 0,
                          0, 50, 340, 90, 5, 3, 100, 25, 10, 2, 50, 5};
        QTest::newRow("lowest") << QByteArrayList{"[Low]", "m", "s", "t"}
                                << same(-32768, std::numeric_limits<int>::min());
        QTest::newRow("highest") << QByteArrayList{"High Class", "m", "s", "t"}
                                 << same(32767, std::numeric_limits<int>::max());
        QTest::newRow("Latin-1") << QByteArrayList{"Gar\xE7ons \x80\xA0\xFF", "mod\xE8le", "\xE9",
                                                   "x"}
                                 << same(-1, -1);
        QTest::newRow("empty texts") << QByteArrayList{"", "", "", ""} << same(0, 0);
    }

    void importedRowsAsQtSqlStoresThem()
    {
        QFETCH(QByteArrayList, texts);
        QFETCH(QList<int>, numbers);
        classfile::ClassRecord r;
        std::string *fields[] = {&r.name, &r.model, &r.skin1, &r.skin2};
        for (int i = 0; i < 4; ++i)
            *fields[i] = texts[i].toStdString();
        auto next = numbers.cbegin();
        r.decoySkin = qint16(*next++);
        for (std::int16_t &id : r.weapons)
            id = qint16(*next++);
        for (std::int16_t &id : r.grenades)
            id = qint16(*next++);
        r.armor = qint16(*next++);
        r.speed = qint16(*next++);
        r.health = qint16(*next++);
        r.specialSum = *next++;
        r.itemSum = *next++;
        for (std::int16_t &limit : r.ammo)
            limit = qint16(*next++);

        DataDir dir;
        DataStore &data = dir.start().data();
        int offered = 0;
        QVERIFY(
            data.createPackage("Imported", "Could not import.", [&](classfile::ClassRecord &out) {
                out = r;
                return Result<bool>(++offered <= 2);
            }));
        // The same class as QtSql binds it: Latin-1 texts, 16-bit fields as they are, flags as 0/1.
        Peek peek(dir.dataPath());
        auto latin1 = [](const std::string &bytes) {
            return QString::fromLatin1(bytes.data(), qsizetype(bytes.size()));
        };
        QVariantMap row{{"package_name", "Written"},     {"class_name", latin1(r.name)},
                        {"model_name", latin1(r.model)}, {"skin_name1", latin1(r.skin1)},
                        {"skin_name2", latin1(r.skin2)}, {"decoyskin", r.decoySkin},
                        {"max_armor", r.armor},          {"max_speed", r.speed},
                        {"max_health", r.health}};
        for (int k = 1; k <= 10; ++k)
            row[QStringLiteral("w%1").arg(k)] = r.weapons[size_t(k - 1)];
        for (int k = 1; k <= 3; ++k)
            row[QStringLiteral("g%1").arg(k)] = r.grenades[size_t(k - 1)];
        for (int k = 1; k <= 31; ++k)
            row[QStringLiteral("s%1").arg(k)] = int(r.special(k));
        for (int k = 1; k <= 9; ++k)
            row[QStringLiteral("i%1").arg(k)] = int(r.item(k));
        int a = 0;
        for (const char *limit :
             {"maxbullets", "maxshells", "maxrockets", "maxgrenades", "maxcells", "maxslugs"})
            row[limit] = r.ammo[size_t(a++)];
        for (int number : {1, 2}) {
            row["class_num"] = number;
            peek.exec(QStringLiteral("INSERT INTO classdef (%1) VALUES (%2)")
                          .arg(schema::joined(row.keys()), schema::placeholders(row.size())),
                      row.values());
        }
        // Every column by type and value; a column left out above would show as NULL.
        QStringList shown;
        for (const QString &column : schema::classdefColumnNames())
            if (column != "package_name")
                shown << (peek.onServer()
                              ? QStringLiteral("'%1 ' || coalesce(quote_literal(%1), 'NULL')")
                              : QStringLiteral("'%1 ' || typeof(%1) || ' ' || quote(%1)"))
                             .arg(column);
        const QString select =
            QStringLiteral("SELECT %1 AS row FROM classdef WHERE package_name = ? "
                           "ORDER BY class_num")
                .arg(shown.join(" || ' | ' || "));
        const QList<QVariantMap> written = peek.rows(select, {"Written"});
        const QList<QVariantMap> imported = peek.rows(select, {"Imported"});
        QCOMPARE(imported.size(), 2);
        for (int i = 0; i < 2; ++i)
            QCOMPARE(imported[i]["row"].toString(), written[i]["row"].toString());
        if (!peek.onServer()) // a server's columns are typed
            QCOMPARE(
                peek.count(
                    "classdef WHERE typeof(class_num) <> 'integer' OR typeof(w1) <> 'integer'"),
                0);
    }

    void changedElsewhere_data()
    {
        QTest::addColumn<QString>("by");  // "own", "other" or "" (nobody)
        QTest::addColumn<QString>("sql"); // what that connection runs
        QTest::addColumn<bool>("changed");
        auto row = [](const char *name, const char *by, const char *sql, bool changed) {
            QTest::newRow(name) << by << sql << changed;
        };
        const char *add = "INSERT INTO package (package_name) VALUES ('X')";
        row("nothing", "", "", false);
        row("own write", "own", add, false);
        row("other's write", "other", add, true);
        row("other's class write", "other", "UPDATE classdef SET max_speed = 1", true);
        row("other's read", "other", "SELECT * FROM package", false);
    }

    void changedElsewhere()
    {
        QFETCH(QString, by);
        QFETCH(QString, sql);
        QFETCH(bool, changed);
        DataDir dir;
        DataStore &data = dir.start().data();
        Peek other(dir.dataPath());
        QCOMPARE(*data.changedElsewhere(), false); // takes the mark
        if (by == "own")
            QVERIFY(data.database().exec(sql));
        else if (by == "other")
            other.exec(sql);
        QCOMPARE(*data.changedElsewhere(), changed);
        QCOMPARE(*data.changedElsewhere(), false); // seen once
    }

    void referenceWritesInsideADataTransaction()
    {
        // A command's transaction on the configurations may read and write the
        // reference tables meanwhile: a write there commits or rolls back as
        // its own, without the configurations' changes.
        DataDir dir;
        AppState &state = dir.start();
        const schema::RefTable &weapon = schema::refTable(schema::RefKind::Weapon);
        const QString renameAll =
            QStringLiteral("UPDATE %1 SET %2 = 'Renamed'").arg(weapon.table, weapon.nameColumn);
        Transaction outer(state.data().database());
        QVERIFY(outer.begin("outer"));
        QVERIFY(state.data().database().exec("INSERT INTO package (package_name) VALUES ('Kept')"));
        {
            Transaction inner(state.ref().database());
            QVERIFY(inner.begin("inner"));
            QVERIFY(state.ref().database().exec(renameAll));
            QVERIFY(inner.commit("inner"));
        }
        {
            Transaction dropped(state.ref().database());
            QVERIFY(dropped.begin("dropped"));
            QVERIFY(
                state.ref().database().exec(QStringLiteral("DELETE FROM %1").arg(weapon.table)));
        }
        const Result<QList<RefEntry>> all = state.ref().all(schema::RefKind::Weapon);
        QVERIFY(all && !all->isEmpty());
        QCOMPARE(all->first().name, "Renamed");
        QVERIFY(outer.commit("outer"));
        QCOMPARE(Peek(dir.dataPath()).count("package WHERE package_name = 'Kept'"), 1);
        QCOMPARE(Peek(dir.refPath())
                     .count(QStringLiteral("%1 WHERE %2 <> 'Renamed'")
                                .arg(weapon.table, weapon.nameColumn)),
                 0);
    }
};

QTEST_GUILESS_MAIN(tst_DataStore)
#include "tst_datastore.moc"
