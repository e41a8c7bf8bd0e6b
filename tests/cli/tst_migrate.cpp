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
        QCOMPARE(first.code, 0);
        QVERIFY2(first.err.isEmpty(), qPrintable(first.err));
        QCOMPARE(first.out,
                 data + converted + data + ".jet\n" + ref + converted + ref + ".jet\n" + data +
                     ": added the columns s22, s23, s24, s25, s26, s27, s28, s29, s30, s31 "
                     "to classdef\n");
        QCOMPARE(runCli(dir.path(), {"list"}).out,
                 "Harbor Defense\nO'Neil Squad\nZulu Reserve\nÉquipe Rouge\n");

        // A Jet file beside a converted one: only it is converted, its backup kept apart.
        copyLegacyFile("tarn_ref.mdb", ref);
        QCOMPARE(runCli(dir.path(), {"migrate"}).out,
                 data + left + ref + converted + ref + ".jet.1\n");
        const QMap<QString, QByteArray> done = snapshot(dir.path());
        const CliRun again = runCli(dir.path(), {"migrate"});
        QCOMPARE(again.code, 0);
        QCOMPARE(again.out, data + left + ref + left);
        QCOMPARE(snapshot(dir.path()), done);
    }

    // Every command that starts up refuses Jet files the same way (list stands for
    // them); a conversion that fails changes nothing.
    void refusedChangesNothing_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("says"); // besides the reference file's name
        QTest::newRow("list") << QString("list") << "Run 'tarn-cli migrate' to convert them.";
        // The file reads, but its weapon table has a damaged column name.
        QTest::newRow("migrate, a column damaged")
            << QString("migrate") << "the table weapon has no column w_name";
    }

    void refusedChangesNothing()
    {
        QFETCH(QString, command);
        QFETCH(QString, says);
        QTemporaryDir dir, tools;
        const QString script = tools.filePath("reader.sh");
        writeScript(script, "'" TARN_JET_READER_PATH
                            "' \"$1\" | sed 's/^C text 6:w_name$/C text 6:w_n?me/'");
        qputenv("TARN_JET_READER", script.toLocal8Bit());
        AppState paths(dir.path());
        copyLegacyFile("tarn_dat.mdb", paths.dataPath());
        copyLegacyFile("tarn_ref.mdb", paths.refPath());
        const QMap<QString, QByteArray> before = snapshot(dir.path());
        const CliRun refused = runCli(dir.path(), {command});
        qputenv("TARN_JET_READER", TARN_JET_READER_PATH);
        QCOMPARE(refused.code, 1);
        QVERIFY2(refused.err.contains(paths.refPath()) && refused.err.contains(says),
                 qPrintable(refused.err));
        QCOMPARE(snapshot(dir.path()), before);
    }
};

QTEST_GUILESS_MAIN(tst_Migrate)
#include "tst_migrate.moc"
