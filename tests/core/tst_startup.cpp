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
};

void tst_Startup::upgradeAddsOnlyMissingColumns_data()
{
    QTest::addColumn<int>("last"); // the file has the flag columns s1 to s<last>
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
    QFile::remove(dir.dataPath());
    Peek peek(dir.dataPath());
    QStringList defs;
    for (const schema::Column &c : schema::classdefColumns()) {
        const QString name = QLatin1String(c.name);
        if (!name.startsWith(QLatin1Char('s')) || name.mid(1).toInt() <= last)
            defs << name + (c.kind == schema::Kind::Text ? " TEXT" : " INTEGER");
    }
    defs << "notes TEXT"; // a column of the user's own
    peek.exec("CREATE TABLE package (package_name TEXT)");
    peek.exec(QStringLiteral("CREATE TABLE classdef (%1)").arg(defs.join(',')));
    peek.exec("INSERT INTO classdef (package_name, class_num, s1, notes) "
              "VALUES ('Old', 1, 1, 'keep me')");
    const QStringList before = peek.columns("classdef");
    const QByteArray bytesBefore = readFile(dir.dataPath());

    AppState state(dir.path());
    const StartupResult started = startUp(state);
    QVERIFY2(started.status, qPrintable(started.status.message()));
    QCOMPARE(started.addedColumns, added);
    QCOMPARE(peek.columns("classdef"), before + added);
    if (added.isEmpty())
        QCOMPARE(readFile(dir.dataPath()), bytesBefore);
    // An existing row reads false in the new columns and keeps everything else.
    QString kept = "notes = 'keep me' AND s1 = 1";
    for (const QString &column : added)
        kept += " AND " + column + " = 0";
    QCOMPARE(peek.scalar("SELECT count(*) FROM classdef WHERE " + kept).toInt(), 1);
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
    const QString message = startUp(state).status.message();
    QVERIFY2(message.contains(path) && message.contains(cause), qPrintable(message));
    // Nothing is created or changed by a failed start.
    QCOMPARE(QFile::exists(path), !content.isNull());
    if (!content.isNull())
        QCOMPARE(readFile(path), content);
}

QTEST_GUILESS_MAIN(tst_Startup)
#include "tst_startup.moc"
