#include "classfileio.h"
#include "clirun.h"
#include "testsupport.h"

#include <QTest>

using namespace tarn;
using namespace tarn::test;

class tst_CliClassFile : public QObject
{
    Q_OBJECT

private slots:
    void commands_data();
    void commands();
    void exportMatchesTheWindows();
    void exportNamesConfigurationAsStored();
};

void tst_CliClassFile::exportNamesConfigurationAsStored()
{
    DataDir dir;
    const QString file = dir.file("case.class");
    QCOMPARE(runCli(dir.path(), {"export", "--plain", "SAMPLE config", file}).code, 0);
    QVERIFY(readFile(file).startsWith("V3 0\r\nSample Config\r\n\r\n[Scout]\r\n"));
}

void tst_CliClassFile::commands_data()
{
    // Each row runs its commands in order on a fresh sample directory (FILE
    // stands for a file in it); the last one's status and output are compared,
    // then the list.
    QTest::addColumn<QList<QStringList>>("commands");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("output");
    QTest::addColumn<QString>("error");
    QTest::addColumn<QStringList>("list");
    using L = QList<QStringList>;
    const QStringList sample{"Sample Config"};
    QTest::newRow("export, check")
        << L{{"export", "Sample Config", "FILE"}, {"check", "FILE"}} << 0 << "2\n"
        << "" << sample;
    QTest::newRow("export plain, import")
        << L{{"export", "--plain", "Sample Config", "FILE"}, {"import", "B", "FILE"}} << 0 << ""
        << "" << QStringList{"B", "Sample Config"};
    QTest::newRow("import existing")
        << L{{"export", "Sample Config", "FILE"}, {"import", "sample CONFIG", "FILE"}} << 1 << ""
        << "exists already" << sample;
    QTest::newRow("export missing") << L{{"export", "Nope", "FILE"}} << 1 << ""
                                    << "There is no configuration named 'Nope'." << sample;
    QTest::newRow("check bad") << L{{"check", "BAD"}} << 1 << ""
                               << "BAD:3: Bad Class Record: oops\n"
                               << sample;
    QTest::newRow("import bad") << L{{"import", "C", "BAD"}} << 1 << ""
                                << "Bad Class Record: oops\nBAD, line 3\nNothing was imported."
                                << sample;
    QTest::newRow("usage") << L{{"export", "Sample Config"}} << 2 << ""
                           << "export takes [--plain] NAME FILE" << sample;
}

void tst_CliClassFile::commands()
{
    QFETCH(QList<QStringList>, commands);
    QFETCH(int, code);
    QFETCH(QString, output);
    QFETCH(QString, error);
    QFETCH(QStringList, list);
    DataDir dir;
    const QString file = dir.file("out.class");
    const QString bad = dir.file("bad.class");
    writeFile(bad, "V3\r\nx\r\noops\r\n\r\n");
    CliRun last{};
    for (QStringList command : commands) {
        command.replaceInStrings(QStringLiteral("FILE"), file);
        command.replaceInStrings(QStringLiteral("BAD"), bad);
        last = runCli(dir.path(), command);
    }
    QCOMPARE(last.code, code);
    QCOMPARE(last.out, output);
    error.replace(QStringLiteral("BAD"), bad);
    QVERIFY2(last.err.contains(error), qPrintable(last.err));
    QCOMPARE(runCli(dir.path(), {"list"}).out, list.join('\n') + '\n');
}

void tst_CliClassFile::exportMatchesTheWindows()
{
    DataDir dir;
    QCOMPARE(runCli(dir.path(), {"mod-id", "My Mod"}).code, 0);
    for (bool plain : {false, true}) {
        const QString viaCli = dir.file("cli.class");
        QStringList args{"export", "Sample Config", viaCli};
        if (plain)
            args.insert(1, "--plain");
        QCOMPARE(runCli(dir.path(), args).code, 0);
        AppState &state = dir.start();
        const QString direct = dir.file("direct.class");
        QVERIFY(exportClassFile(state, "Sample Config", direct, !plain));
        QCOMPARE(readFile(viaCli), readFile(direct));
        QCOMPARE(readFile(direct).startsWith("V3 My Mod\r\n"), plain);
    }
}

QTEST_GUILESS_MAIN(tst_CliClassFile)
#include "tst_cli_classfile.moc"
