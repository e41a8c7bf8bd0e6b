#include "clirun.h"
#include "testsupport.h"

#include <QTemporaryDir>
#include <QTest>

using namespace tarn;
using namespace tarn::test;

class tst_Migrate : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void convertsBothThenLeavesThem();
    void otherCommandsPointToMigrate();
    void damagedFileChangesNothing();
    void oneFileConvertedOtherAlready();
};

void tst_Migrate::initTestCase()
{
    qputenv("TARN_JET_READER", TARN_JET_READER_PATH);
}

void tst_Migrate::convertsBothThenLeavesThem()
{
    QTemporaryDir dir;
    AppState paths(dir.path());
    copyLegacyFile(QStringLiteral("tarn_dat_s21.mdb"), paths.dataPath());
    copyLegacyFile(QStringLiteral("tarn_ref.mdb"), paths.refPath());
    const QByteArray jetData = readFile(paths.dataPath());

    const CliRun first = runCli(dir.path(), {"migrate"});
    QCOMPARE(first.code, 0);
    QVERIFY2(first.err.isEmpty(), qPrintable(first.err));
    const QString data = paths.dataPath(), ref = paths.refPath();
    QCOMPARE(first.out, data + ": converted; the Jet file is kept as " + data + ".jet\n" + ref +
                            ": converted; the Jet file is kept as " + ref + ".jet\n" + data +
                            ": added the columns s22, s23, s24, s25, s26, s27, s28, s29, s30, s31 "
                            "to classdef\n");
    QCOMPARE(readFile(data + ".jet"), jetData);
    QCOMPARE(runCli(dir.path(), {"list"}).out,
             QStringLiteral("Harbor Defense\nO'Neil Squad\nZulu Reserve\nÉquipe Rouge\n"));

    const QMap<QString, QByteArray> converted = snapshot(dir.path());
    const CliRun second = runCli(dir.path(), {"migrate"});
    QCOMPARE(second.code, 0);
    QCOMPARE(second.out, data + ": already an SQLite file, left as it is\n" + ref +
                             ": already an SQLite file, left as it is\n");
    QCOMPARE(snapshot(dir.path()), converted);
}

void tst_Migrate::otherCommandsPointToMigrate()
{
    QTemporaryDir dir;
    AppState paths(dir.path());
    copyLegacyFile(QStringLiteral("tarn_dat.mdb"), paths.dataPath());
    copyLegacyFile(QStringLiteral("tarn_ref.mdb"), paths.refPath());
    const QMap<QString, QByteArray> before = snapshot(dir.path());
    for (const QStringList &command : {QStringList{"list"}, QStringList{"new", "X"}}) {
        const CliRun refused = runCli(dir.path(), command);
        QCOMPARE(refused.code, 1);
        QVERIFY2(refused.err.contains(paths.dataPath()) && refused.err.contains(paths.refPath()) &&
                     refused.err.contains("Run 'tarn-cli migrate' to convert them."),
                 qPrintable(refused.err));
    }
    QCOMPARE(snapshot(dir.path()), before);
    QCOMPARE(runCli(dir.path(), {"migrate"}).code, 0);
    QCOMPARE(runCli(dir.path(), {"new", "X"}).code, 0);
}

void tst_Migrate::damagedFileChangesNothing()
{
    QTemporaryDir dir;
    AppState paths(dir.path());
    copyLegacyFile(QStringLiteral("tarn_dat.mdb"), paths.dataPath());
    copyLegacyFile(QStringLiteral("tarn_ref.mdb"), paths.refPath());
    writeFile(paths.refPath(), readFile(paths.refPath()).left(65536));
    const QMap<QString, QByteArray> before = snapshot(dir.path());

    const CliRun refused = runCli(dir.path(), {"migrate"});
    QCOMPARE(refused.code, 1);
    QVERIFY2(refused.err.contains(paths.refPath() + " could not be converted"),
             qPrintable(refused.err));
    QVERIFY(refused.err.contains("The file was left as it is."));
    QCOMPARE(snapshot(dir.path()), before);
}

void tst_Migrate::oneFileConvertedOtherAlready()
{
    DataDir dir;
    copyLegacyFile(QStringLiteral("tarn_ref.mdb"), dir.refPath());
    const CliRun done = runCli(dir.path(), {"migrate"});
    QCOMPARE(done.code, 0);
    QCOMPARE(done.out, dir.dataPath() + ": already an SQLite file, left as it is\n" +
                           dir.refPath() + ": converted; the Jet file is kept as " + dir.refPath() +
                           ".jet\n");
    QCOMPARE(Peek(dir.refPath()).count("weapon"), 8);
}

QTEST_GUILESS_MAIN(tst_Migrate)
#include "tst_migrate.moc"
