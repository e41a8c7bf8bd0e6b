#include "clirun.h"
#include "testsupport.h"

#include <QTest>

using namespace tarn;
using namespace tarn::test;

class tst_Cli : public QObject
{
    Q_OBJECT

private slots:
    void commands_data();
    void commands();
    void initRefusesToOverwrite();
    void upgradeOnFirstStartOnly();
};

void tst_Cli::commands_data()
{
    // Each row runs its commands in order on a fresh sample directory; the last
    // one's status and output are compared, then the list.
    QTest::addColumn<QList<QStringList>>("commands");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("output");
    QTest::addColumn<QString>("error"); // a part of stderr
    QTest::addColumn<QStringList>("list");
    using L = QList<QStringList>;
    const QStringList sample{"Sample Config"};
    QTest::newRow("list") << L{{"list"}} << 0 << "Sample Config\n"
                          << "" << sample;
    QTest::newRow("new") << L{{"new", "O'Brien"}} << 0 << ""
                         << "" << QStringList{"O'Brien", "Sample Config"};
    QTest::newRow("new duplicate") << L{{"new", "sample config"}} << 1 << ""
                                   << "exists already" << sample;
    QTest::newRow("copy") << L{{"copy", "Sample Config", "B"}} << 0 << ""
                          << "" << QStringList{"B", "Sample Config"};
    QTest::newRow("copy missing source") << L{{"copy", "Nope", "B"}} << 1 << ""
                                         << "no configuration named 'Nope'" << sample;
    QTest::newRow("delete") << L{{"delete", "Sample Config"}} << 0 << ""
                            << "" << QStringList();
    QTest::newRow("delete missing") << L{{"delete", "Nope"}} << 1 << ""
                                    << "Nope" << sample;
    QTest::newRow("mod-id default") << L{{"mod-id"}} << 0 << "0\n"
                                    << "" << sample;
    QTest::newRow("mod-id set") << L{{"mod-id", " x "}, {"mod-id"}} << 0 << "x\n"
                                << "" << sample;
    QTest::newRow("unknown command") << L{{"frobnicate"}} << 2 << ""
                                     << "unknown command" << sample;
    QTest::newRow("missing argument") << L{{"new"}} << 2 << ""
                                      << "new takes one NAME" << sample;
    QTest::newRow("help") << L{{"--help"}} << 0 << ""
                          << "" << sample;
}

void tst_Cli::commands()
{
    QFETCH(QList<QStringList>, commands);
    QFETCH(int, code);
    QFETCH(QString, output);
    QFETCH(QString, error);
    QFETCH(QStringList, list);
    DataDir dir;
    CliRun last{};
    for (const QStringList &command : commands)
        last = runCli(dir.path(), command);
    QCOMPARE(last.code, code);
    if (QTest::currentDataTag() != QByteArray("help"))
        QCOMPARE(last.out, output);
    else
        QVERIFY(last.out.contains(QStringLiteral("copy SOURCE NEW")));
    QVERIFY2(last.err.contains(error), qPrintable(last.err));
    QCOMPARE(error.isEmpty(), last.err.isEmpty());
    QCOMPARE(runCli(dir.path(), {"list"}).out, list.isEmpty() ? QString() : list.join('\n') + '\n');
}

void tst_Cli::initRefusesToOverwrite()
{
    QTemporaryDir dir;
    CliRun first = runCli(dir.path(), {"init"});
    QCOMPARE(first.code, 0);
    QCOMPARE(runCli(dir.path(), {"list"}).out, QString());
    const QByteArray before = readFile(dir.filePath("tarn_dat.mdb"));
    CliRun second = runCli(dir.path(), {"init", "--sample"});
    QCOMPARE(second.code, 1);
    QVERIFY(second.err.contains(QStringLiteral("exists already")));
    QCOMPARE(readFile(dir.filePath("tarn_dat.mdb")), before);

    QTemporaryDir empty;
    CliRun noFiles = runCli(empty.path(), {"list"});
    QCOMPARE(noFiles.code, 1);
    QVERIFY(noFiles.err.contains(QStringLiteral("does not exist")));
    QVERIFY(!QFile::exists(empty.filePath("tarn_dat.mdb")));
}

void tst_Cli::upgradeOnFirstStartOnly()
{
    DataDir dir;
    {
        Peek peek(dir.dataPath());
        for (int k = 22; k <= 31; ++k)
            peek.exec(QStringLiteral("ALTER TABLE classdef DROP COLUMN s%1").arg(k));
    }
    QCOMPARE(runCli(dir.path(), {"list"}).code, 0);
    Peek peek(dir.dataPath());
    const QStringList columns = peek.columns(QStringLiteral("classdef"));
    QCOMPARE(columns.mid(columns.size() - 10),
             (QStringList{"s22", "s23", "s24", "s25", "s26", "s27", "s28", "s29", "s30", "s31"}));
    QCOMPARE(columns.size(), 69);
    QCOMPARE(runCli(dir.path(), {"list"}).code, 0);
    QCOMPARE(peek.columns(QStringLiteral("classdef")), columns);
}

QTEST_GUILESS_MAIN(tst_Cli)
#include "tst_cli.moc"
