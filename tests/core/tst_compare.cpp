#include "core/compare.h"
#include "testsupport.h"

#include <QTest>

#include <functional>

using namespace tarn;
using namespace tarn::test;

using Edit = std::function<void(ClassRecords &a, ClassRecords &b)>;
Q_DECLARE_METATYPE(Edit)

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
        // Each row edits the sample's two classes (Scout, Soldier) on either side.
        QTest::addColumn<Edit>("edit");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("equal") << Edit([](ClassRecords &, ClassRecords &) {}) << QStringList{};
        QTest::newRow("reordered")
            << Edit([](ClassRecords &, ClassRecords &b) { std::swap(b[0], b[1]); })
            << QStringList{};
        QTest::newRow("renamed, with a control character")
            << Edit([](ClassRecords &, ClassRecords &b) { b[0].name = "Scout\x1b[2J"; })
            << QStringList{"A Scout", "B Scout\\x1b[2J"};
        QTest::newRow("changed: numbers, slots by name, flags by name")
            << Edit([](ClassRecords &, ClassRecords &b) {
                   b[1].speed = 300;
                   b[1].weapons[2] = 7;
                   b[1].grenades[1] = 0;
                   b[1].itemSum = 2 | 4 | 8;
                   b[1].skin1 = "red";
               })
            << QStringList{"changed Soldier",
                           "Red Skin: soldier_r -> red",
                           "weapon slot 3: Rocket Tube -> Pulse Rifle",
                           "grenade slot 2: Gas Grenade -> ",
                           "Max Speed: 240 -> 300",
                           "Items: Medikit, Armor Patch -> Medikit, Armor Patch, Night Goggles"};
        QTest::newRow("an id and a flag no row has")
            << Edit([](ClassRecords &, ClassRecords &b) {
                   b[0].weapons[3] = 99;
                   b[0].itemSum = 1 | 64;
               })
            << QStringList{"changed Scout", "weapon slot 4:  -> 99",
                           "Items: Jetpack -> Jetpack, item 7"};
        QTest::newRow("a name twice: matched in order")
            << Edit([](ClassRecords &a, ClassRecords &b) {
                   a.push_back(a[0]);
                   a.back().health = 1;
                   b.insert(b.begin(), b[0]);
               })
            << QStringList{"changed Scout", "Max Health: 1 -> 75"};
    }

    void compare()
    {
        QFETCH(Edit, edit);
        QFETCH(QStringList, lines);
        DataDir dir;
        AppState &state = dir.start();
        const Result<ClassRecords> sample = readConfigurationRecords(state, "sample config");
        QVERIFY2(sample.ok(), qPrintable(sample.message()));
        const Result<RefNames> names = RefNames::read(state.ref());
        QVERIFY(names.ok());
        ClassRecords a = *sample, b = *sample;
        edit(a, b);
        const Comparison comparison = compareClasses(a, b, *names);
        QCOMPARE(linesOf(comparison), lines);
        QCOMPARE(comparison.equal(), lines.isEmpty());
    }
};

QTEST_GUILESS_MAIN(tst_Compare)
#include "tst_compare.moc"
