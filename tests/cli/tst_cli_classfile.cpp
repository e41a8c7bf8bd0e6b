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
};

void tst_CliClassFile::commands_data()
{
    // Each row runs its commands in order on a fresh sample directory (FILE
    // stands for a file in it, ODD and ESC for files that do not read, ODD
    // with a '%1' in its name, ESC with control characters in its text); the
    // last one's status and output are compared, then the list. Export's own
    // refusals are tested with exportClassFile.
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
    QTest::newRow("export a configuration named --plain")
        << L{{"new", "--", "--plain"},
             {"export", "--plain", "--", "--plain", "FILE"},
             {"check", "FILE"}}
        << 0 << "0\n"
        << "" << QStringList{"--plain", "Sample Config"};
    QTest::newRow("export, unknown option")
        << L{{"export", "--plane", "Sample Config", "FILE"}} << 2 << ""
        << "unknown option --plane" << sample;
    QTest::newRow("check, '%1' in the name") << L{{"check", "ODD"}} << 1 << ""
                                             << "ODD:3: Bad Class Record: oops\n"
                                             << sample;
    QTest::newRow("check, control characters escaped")
        << L{{"check", "ESC"}} << 1 << ""
        << "ESC:3: Bad Class Record: \\x1b[2Jred\\rx\\x80\n"
        << sample;
    QTest::newRow("import, control characters escaped")
        << L{{"import", "C", "ESC"}} << 1 << ""
        << "Bad Class Record: \\x1b[2Jred\\rx\\x80\nESC, line 3\n"
        << sample;
    QTest::newRow("import, '%1' in the name") << L{{"import", "C", "ODD"}} << 1 << ""
                                              << "ODD, line 3\n"
                                              << sample;
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
    const QString odd = dir.file("50%1 off.class");
    writeFile(odd, "V3\r\nx\r\noops\r\n\r\n");
    const QString esc = dir.file("esc.class");
    writeFile(esc, "V3\r\nx\r\n\x1b[2Jred\rx\x80\r\n\r\n");
    CliRun last{};
    for (QStringList command : commands)
        last = runCli(dir.path(), command.replaceInStrings("FILE", file)
                                      .replaceInStrings("ODD", odd)
                                      .replaceInStrings("ESC", esc));
    QCOMPARE(last.code, code);
    QCOMPARE(last.out, output);
    QVERIFY2(last.err.contains(error.replace("ODD", odd).replace("ESC", esc)),
             qPrintable(last.err));
    QCOMPARE(runCli(dir.path(), {"list"}).out, list.join('\n') + '\n');
}

void tst_CliClassFile::exportMatchesTheWindows()
{
    DataDir dir;
    QCOMPARE(runCli(dir.path(), {"mod-id", "My Mod"}).code, 0);
    AppState &state = dir.start();
    const QString viaCli = dir.file("cli.class"), direct = dir.file("direct.class");
    for (bool plain : {false, true}) {
        // The name typed in another case: the file carries it as stored.
        QStringList args{"export", "SAMPLE config", viaCli};
        QCOMPARE(runCli(dir.path(), plain ? args << "--plain" : args).code, 0);
        QVERIFY(exportClassFile(state, "Sample Config", direct, !plain));
        QCOMPARE(readFile(viaCli), readFile(direct));
    }
}

QTEST_GUILESS_MAIN(tst_CliClassFile)
#include "tst_cli_classfile.moc"
