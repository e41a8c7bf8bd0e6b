#include "schema.h"
#include "startup.h"
#include "testsupport.h"

#include <QFile>
#include <QTest>

using namespace tarn;
using namespace tarn::test;

class tst_Startup : public QObject
{
    Q_OBJECT

private slots:
    void upgradeAddsOnlyMissingColumns_data();
    void upgradeAddsOnlyMissingColumns();
    void refusedDataFiles_data();
    void refusedDataFiles();
    void jetFilesAreNotOpened();
    void modIdDefaultsWithoutSettingsFile();
};

namespace
{

// Replaces the data file with one whose classdef has the flag columns up to s<last>.
void makeOlderDataFile(const DataDir &dir, int last)
{
    QFile::remove(dir.dataPath());
    Peek peek(dir.dataPath());
    QStringList defs;
    for (const schema::Column &c : schema::classdefColumns()) {
        const QString name = QLatin1String(c.name);
        if (name.startsWith(QLatin1Char('s')) && name.mid(1).toInt() > last)
            continue;
        defs << name + (c.kind == schema::Kind::Text ? QStringLiteral(" TEXT")
                                                     : QStringLiteral(" INTEGER"));
    }
    defs << QStringLiteral("notes TEXT");
    peek.exec(QStringLiteral("CREATE TABLE package (package_name TEXT)"));
    peek.exec(QStringLiteral("CREATE TABLE classdef (%1)").arg(defs.join(QLatin1Char(','))));
    peek.exec(QStringLiteral("INSERT INTO package VALUES ('Old')"));
    for (int n = 1; n <= 3; ++n)
        peek.exec(QStringLiteral("INSERT INTO classdef (package_name, class_num, s1, notes) "
                                 "VALUES ('Old', ?, 1, 'keep me')"),
                  {n});
}

} // namespace

void tst_Startup::upgradeAddsOnlyMissingColumns_data()
{
    QTest::addColumn<int>("last");
    QTest::addColumn<QStringList>("added");
    QTest::newRow("s1-s21") << 21 << schema::upgradeColumns();
    QTest::newRow("s1-s26") << 26 << schema::upgradeColumns().mid(5);
    QTest::newRow("s1-s31") << 31 << QStringList();
}

void tst_Startup::upgradeAddsOnlyMissingColumns()
{
    QFETCH(int, last);
    QFETCH(QStringList, added);
    DataDir dir(false);
    makeOlderDataFile(dir, last);
    QStringList before;
    {
        Peek peek(dir.dataPath());
        before = peek.columns(QStringLiteral("classdef"));
    }
    const QByteArray bytesBefore = readFile(dir.dataPath());
    {
        AppState state(dir.path());
        StartupResult started = startUp(state);
        QVERIFY2(started.status, qPrintable(started.status.message()));
        QCOMPARE(started.addedColumns, added);
    }
    Peek peek(dir.dataPath());
    QCOMPARE(peek.columns(QStringLiteral("classdef")), before + added);
    if (added.isEmpty())
        QCOMPARE(readFile(dir.dataPath()), bytesBefore);
    for (const QString &column : added)
        QCOMPARE(
            peek.scalar(QStringLiteral("SELECT count(*) FROM classdef WHERE %1 = 0").arg(column))
                .toInt(),
            3);
    QCOMPARE(peek.scalar(QStringLiteral(
                             "SELECT count(*) FROM classdef WHERE notes = 'keep me' AND s1 = 1"))
                 .toInt(),
             3);

    // A second start finds nothing to do and leaves the file as it is.
    const QByteArray upgraded = readFile(dir.dataPath());
    AppState again(dir.path());
    StartupResult second = startUp(again);
    QVERIFY(second.status);
    QVERIFY(second.addedColumns.isEmpty());
    QCOMPARE(readFile(dir.dataPath()), upgraded);
}

void tst_Startup::refusedDataFiles_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QByteArray>("content"); // null: the file is removed
    QTest::addColumn<QString>("cause");
    QTest::newRow("data missing") << "tarn_dat.mdb" << QByteArray() << "does not exist";
    QTest::newRow("ref missing") << "tarn_ref.mdb" << QByteArray() << "does not exist";
    QTest::newRow("data empty") << "tarn_dat.mdb" << QByteArray("") << "table package is missing";
    QTest::newRow("ref empty") << "tarn_ref.mdb" << QByteArray("") << "table weapon is missing";
    QTest::newRow("data garbage") << "tarn_dat.mdb" << QByteArray(4096, 'x') << "not a database";
    QTest::newRow("data truncated")
        << "tarn_dat.mdb" << QByteArray("SQLite format 3\0", 16) << "tarn_dat.mdb";
}

void tst_Startup::refusedDataFiles()
{
    QFETCH(QString, file);
    QFETCH(QByteArray, content);
    QFETCH(QString, cause);
    DataDir dir;
    const QString path = dir.file(file);
    if (content.isNull())
        QVERIFY(QFile::remove(path));
    else
        writeFile(path, content);

    AppState state(dir.path());
    const StartupResult started = startUp(state);
    QVERIFY(!started.status);
    QVERIFY2(started.status.message().contains(path), qPrintable(started.status.message()));
    QVERIFY2(started.status.message().contains(cause), qPrintable(started.status.message()));
    // Nothing is created or changed by a failed start.
    QCOMPARE(QFile::exists(path), !content.isNull());
    if (!content.isNull())
        QCOMPARE(readFile(path), content);
}

void tst_Startup::jetFilesAreNotOpened()
{
    DataDir dir;
    QByteArray jet(2048, '\0');
    jet.replace(4, 15, "Standard Jet DB");
    writeFile(dir.dataPath(), jet);
    AppState state(dir.path());
    const StartupResult started = startUp(state);
    QVERIFY(!started.status);
    QCOMPARE(started.jetFiles, QStringList{dir.dataPath()});
    QCOMPARE(readFile(dir.dataPath()), jet);
}

void tst_Startup::modIdDefaultsWithoutSettingsFile()
{
    DataDir dir;
    AppState &state = dir.start();
    QCOMPARE(state.modId(), QStringLiteral("0"));
    QVERIFY(state.currentPackage().isEmpty());
    QVERIFY(state.protect());
    QVERIFY(!QFile::exists(dir.file(QStringLiteral("tarn.ini"))));
}

QTEST_GUILESS_MAIN(tst_Startup)
#include "tst_startup.moc"
