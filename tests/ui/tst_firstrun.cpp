#include "scriptedprompter.h"
#include "testsupport.h"
#include "ui/config/firstrun.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

using namespace tarn;
using namespace tarn::test;

class tst_FirstRun : public QObject
{
    Q_OBJECT

private slots:
    void offered_data();
    void offered();
};

void tst_FirstRun::offered_data()
{
    QTest::addColumn<int>("choice");     // -1: the box is closed
    QTest::addColumn<QString>("folder"); // below a temporary folder (a server: a new database)
    QTest::addColumn<int>("packages");   // configurations after; -1: nothing created
    QTest::newRow("empty") << 1 << "" << 0;
    QTest::newRow("sample rows, folder made") << 0 << ".local/share/tarn" << 1;
    QTest::newRow("quit, no folder made") << 2 << ".local/share/tarn" << -1;
    QTest::newRow("closed") << -1 << "" << -1;
}

// Start-up finds no data files (or a team database without tables) and offers
// to create them: accepted, it starts up on them; declined, nothing is made.
void tst_FirstRun::offered()
{
    QFETCH(int, choice);
    QFETCH(QString, folder);
    QFETCH(int, packages);
    QTemporaryDir root;
    std::optional<ServerDatabase> server;
    if (onTestServer())
        server.emplace();
    AppState state(server ? server->url() : QDir(root.path()).filePath(folder));
    StartupResult started = startUp(state);
    QVERIFY(started.noDataFiles);
    ScriptedPrompter prompter;
    prompter.answerChoice(choice);

    const bool accepted = offerDataFiles(state, prompter, started);

    QCOMPARE(prompter.unexpectedCalls(), 0);
    QCOMPARE(prompter.calls().size(), 1);
    const ScriptedPrompter::Call &asked = prompter.calls().first();
    QVERIFY2(
        asked.text.contains(server ? state.where() : QDir::toNativeSeparators(state.dataDir())),
        qPrintable(asked.text));
    QCOMPARE(asked.choices.size(), 3);
    QCOMPARE(accepted, packages >= 0);
    if (packages < 0) { // not a table, file or folder more than before
        QVERIFY(startUp(state).noDataFiles);
        QCOMPARE(QDir(root.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList());
        return;
    }
    // Started up on the new files, ready for the main window.
    QVERIFY2(started.status, qPrintable(started.status.message()));
    QVERIFY(!started.noDataFiles);
    QCOMPARE(Peek(state.dataPath()).count("package"), packages);
}

QTEST_MAIN(tst_FirstRun)
#include "tst_firstrun.moc"
