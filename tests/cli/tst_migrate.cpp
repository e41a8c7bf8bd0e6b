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
    void initTestCase() { qputenv("TARN_JET_READER", TARN_JET_READER_PATH); }

    void convertsOnlyJetFiles()
    {
        QTemporaryDir dir;
        AppState paths(dir.path());
        const QString data = paths.dataPath(), ref = paths.refPath();
        copyLegacyFile("tarn_dat_s21.mdb", data);
        copyLegacyFile("tarn_ref.mdb", ref);
        const QString converted = ": converted; the Jet file is kept as ";
        const QString left = ": already an SQLite file, left as it is\n";

        const CliRun first = runCli(dir.path(), {"migrate"});
        QVERIFY2(first.code == 0 && first.err.isEmpty(), qPrintable(first.err));
        QCOMPARE(first.out, data + converted + data + ".jet\n" + ref + converted + ref + ".jet\n" +
                                data +
                                ": added the columns s22, s23, s24, s25, s26, s27, s28, s29, s30, "
                                "s31 to classdef\n");
        QCOMPARE(runCli(dir.path(), {"list"}).out,
                 "Harbor Defense\nO'Neil Squad\nZulu Reserve\nÉquipe Rouge\n");

        // A Jet file beside a converted one: only it is converted, its backup kept apart.
        copyLegacyFile("tarn_ref.mdb", ref);
        QCOMPARE(runCli(dir.path(), {"migrate"}).out,
                 data + left + ref + converted + ref + ".jet.1\n");
        const QMap<QString, QByteArray> done = snapshot(dir.path());
        QVERIFY(ranAs(runCli(dir.path(), {"migrate"}), 0, data + left + ref + left));
        QCOMPARE(snapshot(dir.path()), done);
    }

    void refusedChangesNothing()
    {
        // Every command that starts up refuses Jet files the same way (list stands
        // for them); a conversion that fails on the second file leaves the first.
        QTemporaryDir dir;
        AppState paths(dir.path());
        copyLegacyFile("tarn_dat.mdb", paths.dataPath());
        copyLegacyFile("tarn_ref.mdb", paths.refPath());
        QMap<QString, QByteArray> before = snapshot(dir.path());
        const CliRun list = runCli(dir.path(), {"list"});
        QVERIFY(ranAs(list, 1, paths.refPath()) && ranAs(list, 1, "Run 'tarn-cli migrate' to"));
        QCOMPARE(snapshot(dir.path()), before);
        writeFile(paths.refPath(), readFile(paths.refPath()).left(32768));
        before = snapshot(dir.path());
        QVERIFY(ranAs(runCli(dir.path(), {"migrate"}), 1, paths.refPath()));
        QCOMPARE(snapshot(dir.path()), before);
    }
};

QTEST_GUILESS_MAIN(tst_Migrate)
#include "tst_migrate.moc"
