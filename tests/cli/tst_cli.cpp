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
    void initCreatesEmptyFiles_data();
    void initCreatesEmptyFiles();
};

void tst_Cli::commands_data()
{
    // Each row runs its commands in order on a fresh sample directory; the last
    // one's status and output are compared, then the list.
    QTest::addColumn<QList<QStringList>>("commands");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("output");
    QTest::addColumn<QStringList>("list");
    QTest::addColumn<QString>("error"); // a part of stderr
    using L = QList<QStringList>;
    const QStringList sample{"Sample Config"};
    const QStringList two{"B", "Sample Config"};
    QTest::newRow("list") << L{{"list"}} << 0 << "Sample Config\n" << sample << "";
    QTest::newRow("new") << L{{"new", "B"}} << 0 << "" << two << "";
    QTest::newRow("copy") << L{{"copy", "Sample Config", "B"}} << 0 << "" << two << "";
    QTest::newRow("copy missing source")
        << L{{"copy", "Nope", "B"}} << 1 << "" << sample << "no configuration named 'Nope'";
    QTest::newRow("delete") << L{{"delete", "Sample Config"}} << 0 << "" << QStringList() << "";
    QTest::newRow("delete missing") << L{{"delete", "Nope"}} << 1 << "" << sample << "Nope";
    QTest::newRow("init over data")
        << L{{"new", "B"}, {"init", "--sample"}} << 1 << "" << two << "exists already";
    QTest::newRow("mod-id default") << L{{"mod-id"}} << 0 << "0\n" << sample << "";
    QTest::newRow("mod-id set") << L{{"mod-id", " x "}, {"mod-id"}} << 0 << "x\n" << sample << "";
    QTest::newRow("unknown command") << L{{"frobnicate"}} << 2 << "" << sample << "unknown command";
    QTest::newRow("missing argument") << L{{"new"}} << 2 << "" << sample << "new takes one NAME";
}

void tst_Cli::commands()
{
    QFETCH(QList<QStringList>, commands);
    QFETCH(int, code);
    QFETCH(QString, output);
    QFETCH(QStringList, list);
    QFETCH(QString, error);
    DataDir dir;
    CliRun last{};
    for (const QStringList &command : commands)
        last = runCli(dir.path(), command);
    QCOMPARE(last.code, code);
    QCOMPARE(last.out, output);
    QVERIFY2(last.err.contains(error), qPrintable(last.err));
    QCOMPARE(error.isEmpty(), last.err.isEmpty());
    QCOMPARE(runCli(dir.path(), {"list"}).out, list.isEmpty() ? QString() : list.join('\n') + '\n');
}

void tst_Cli::initCreatesEmptyFiles_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::newRow("plain directory") << "tarn-XXXXXX";
    QTest::newRow("'%1' in the directory name") << "tarn 50%1-XXXXXX";
}

void tst_Cli::initCreatesEmptyFiles()
{
    QFETCH(QString, pattern);
    QTemporaryDir dir(QDir::tempPath() + '/' + pattern);
    QCOMPARE(runCli(dir.path(), {"init"}).code, 0);
    const CliRun list = runCli(dir.path(), {"list"});
    QCOMPARE(list.code, 0);
    QCOMPARE(list.out, QString());
}

QTEST_GUILESS_MAIN(tst_Cli)
#include "tst_cli.moc"
