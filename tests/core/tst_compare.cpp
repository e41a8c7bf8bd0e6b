// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/compare.h"
#include "store/schema.h"
#include "testsupport.h"

#include <QTest>

using namespace tarn;
using namespace tarn::test;

namespace
{

// The comparison as lines, the order of the command's output.
QStringList linesOf(const Comparison &c)
{
    QStringList lines;
    for (const QString &name : c.onlyA)
        lines << "A " + name;
    for (const QString &name : c.onlyB)
        lines << "B " + name;
    for (const ClassChange &change : c.changed) {
        lines << "changed " + change.name;
        for (const FieldDifference &f : change.fields)
            lines << f.label + ": " + f.before + " -> " + f.after;
    }
    return lines;
}

} // namespace

class tst_Compare : public QObject
{
    Q_OBJECT

private slots:
    void compare_data()
    {
        // A is the sample's configuration (Scout, Soldier), B its copy; each row
        // runs its statements (COLUMNS: every column but the row key), or
        // compares with a class file instead of B.
        QTest::addColumn<QStringList>("sql");
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QByteArray>("file");
        auto row = [](const char *name, const QStringList &sql, const QStringList &lines,
                      const QByteArray &file = {}) {
            QTest::newRow(name) << sql << lines << file;
        };
        const QString b = " WHERE package_name = 'B' AND class_name = ";
        row("equal", {}, {});
        row("reordered", {"UPDATE classdef SET class_num = 3 - class_num WHERE package_name = 'B'"},
            {});
        row("renamed, with a control character and a backslash",
            {"UPDATE classdef SET class_name = 'Scout' || char(27) || '[2J\\'" + b + "'Scout'"},
            {"A Scout", "B Scout\\x1b[2J\\\\"});
        row("changed: texts, numbers, slots and flags by name",
            {"UPDATE classdef SET skin_name1 = 'red', w3 = 7, g2 = 0, max_speed = 300, i4 = 1" + b +
             "'Soldier'"},
            {"changed Soldier", "Red Skin: soldier_r -> red",
             "Weapon slot 3: Rocket Tube -> Pulse Rifle", "Grenade slot 2: Gas Grenade -> (none)",
             "Max Speed: 240 -> 300",
             "Items: Medikit, Armor Patch -> Medikit, Armor Patch, Night Goggles"});
        // Empty number fields are values, the same on both sides or not.
        row("empty numbers", {"UPDATE classdef SET w4 = NULL, maxslugs = NULL" + b + "'Soldier'"},
            {"changed Soldier", "Weapon slot 4: Pulse Rifle -> (no value)",
             "Slugs (Ammo Limits): 0 -> (none)"});
        row("empty numbers on both sides", {"UPDATE classdef SET w4 = NULL, maxslugs = NULL"}, {});
        row("no number where one belongs",
            {"UPDATE classdef SET w5 = 'x', max_armor = 2.5" + b + "'Scout'"},
            {"changed Scout", "Weapon slot 5: (none) -> x", "Max Armor: 50 -> 2.5"});
        const QString x300(300, 'x');
        row("a long name twice: matched in order",
            {"UPDATE classdef SET class_name = '" + x300 + "' WHERE class_name = 'Scout'",
             "INSERT INTO classdef (COLUMNS) SELECT COLUMNS FROM classdef WHERE class_num = 1",
             "UPDATE classdef SET max_health = 1 WHERE rowid IN (SELECT max(rowid) FROM classdef "
             "GROUP BY package_name)",
             "UPDATE classdef SET class_num = 0 WHERE package_name = 'B' AND max_health = 1",
             "UPDATE classdef SET max_health = 75 WHERE package_name = 'B' AND class_num = 0"},
            {"changed " + x300, "Max Health: 1 -> 75"});
        // 4,096 classes a side, more than memory keeps, each name 2,048 times.
        row("many classes of two names",
            QStringList(11, "INSERT INTO classdef (COLUMNS) SELECT COLUMNS FROM classdef") +
                QStringList{"UPDATE classdef SET max_health = 1 WHERE rowid = (SELECT max(rowid) "
                            "FROM classdef" +
                            b + "'Soldier')"},
            {"changed Soldier", "Max Health: 100 -> 1"});
        row("a class file, with a flag no row has", {},
            {"A Soldier", "changed Scout", "Items: Jetpack -> Jetpack, Item 7"},
            "V3 1\r\nB\r\n\r\n[Scout]\r\nmale scout_r scout_b 1\r\n1 2 3 0 0 0 0 0 0 0\r\n"
            "1 2 0\r\n50 400 75  33  65\r\n100 25 0 2 0 0\r\n");
    }

    void compare()
    {
        QFETCH(QStringList, sql);
        QFETCH(QStringList, lines);
        QFETCH(QByteArray, file);
        DataDir dir;
        AppState &state = dir.start();
        QVERIFY(state.data().copyPackage("Sample Config", "B"));
        const Peek peek(dir.dataPath());
        if (peek.onServer() && sql.join(' ').contains("'x'"))
            QSKIP("a server's number columns hold numbers only");
        for (QString statement : sql)
            peek.exec(statement.replace("COLUMNS", schema::joined(schema::classdefColumnNames()))
                          .replace("char(", peek.onServer() ? "chr(" : "char("));
        writeFile(dir.file("b.class"), file);
        const Result<RefNames> names = RefNames::read(state.ref());
        QVERIFY(names.ok());
        const Result<Comparison> comparison =
            compareClasses(configurationSource(state, "Sample Config", *names),
                           file.isEmpty() ? configurationSource(state, "B", *names)
                                          : classFileSource(dir.file("b.class")),
                           *names);
        QVERIFY2(comparison.ok(), qPrintable(comparison.message()));
        QCOMPARE(linesOf(*comparison), lines);
        QCOMPARE(comparison->equal(), lines.isEmpty());
    }
};

QTEST_GUILESS_MAIN(tst_Compare)
#include "tst_compare.moc"
