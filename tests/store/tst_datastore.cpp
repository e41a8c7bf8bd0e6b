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
    void listOrderIgnoresCase();
    void copyCarriesEveryColumn_data();
    void copyCarriesEveryColumn();
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
    QTest::newRow("apostrophe") << "O'Neil's Squad";
    QTest::newRow("percent") << "100% Fire";
    QTest::newRow("underscore") << "a_b";
    QTest::newRow("spaces around") << "  padded  ";
    QTest::newRow("same name once more") << "   "; // no letter to change the case of
    QTest::newRow("quotes and brackets") << "\"x\" [y] ; --";
    QTest::newRow("latin-1 and beyond") << "Équipe Ω";
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

    Peek peek(dir.dataPath());
    insertFullClass(peek, name, 1, false);
    const QString copy = name + " copy";
    QVERIFY(data.copyPackage(name, copy));
    QCOMPARE(classesOf(peek, copy), classesOf(peek, name));
    QVERIFY(data.deletePackage(name));
    QVERIFY(classesOf(peek, name).isEmpty());
    QCOMPARE(classesOf(peek, copy).size(), 1);
    QVERIFY(!data.packageNames()->contains(name));
    QVERIFY(data.packageNames()->contains(copy));
}

void tst_DataStore::listOrderIgnoresCase()
{
    DataDir dir(false);
    AppState &state = dir.start();
    for (const char *name : {"beta", "Alpha", "gamma", "Delta"})
        QVERIFY(state.data().createPackage(QLatin1String(name)));
    QCOMPARE(*state.data().packageNames(), (QStringList{"Alpha", "beta", "Delta", "gamma"}));
}

void tst_DataStore::copyCarriesEveryColumn_data()
{
    QTest::addColumn<int>("classes");
    QTest::addColumn<bool>("withNulls");
    QTest::newRow("none") << 0 << false;
    QTest::newRow("three") << 3 << false;
    QTest::newRow("three with nulls") << 3 << true;
}

void tst_DataStore::copyCarriesEveryColumn()
{
    QFETCH(int, classes);
    QFETCH(bool, withNulls);
    DataDir dir(false);
    AppState &state = dir.start();
    Peek peek(dir.dataPath());
    const QString source = "Source";
    QVERIFY(state.data().createPackage(source));
    const int numbers[] = {5, 2, 9}; // stored out of number order on purpose
    for (int i = 0; i < classes; ++i)
        insertFullClass(peek, source, numbers[i], withNulls);
    const QList<QVariantMap> before = classesOf(peek, source);

    QVERIFY(state.data().copyPackage(source, "Target"));
    QCOMPARE(classesOf(peek, "Target"), before);
    QCOMPARE(classesOf(peek, source), before);
    QCOMPARE(peek.count("package"), 2);
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
