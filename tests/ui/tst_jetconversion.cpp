#include "scriptedprompter.h"
#include "testsupport.h"
#include "ui/config/jetconversion.h"

#include <QTemporaryDir>
#include <QTest>

using namespace tarn;
using namespace tarn::test;

class tst_JetConversion : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { qputenv("TARN_JET_READER", TARN_JET_READER_PATH); }
    void offered_data();
    void offered();
};

void tst_JetConversion::offered_data()
{
    QTest::addColumn<bool>("yes");
    QTest::addColumn<QString>("reader");  // empty: the real one
    QTest::addColumn<QString>("refused"); // what the failure says; empty: converted
    QTest::newRow("answered No") << false << QString() << "or run 'tarn-cli migrate'.";
    QTest::newRow("answered Yes") << true << QString() << QString();
    QTest::newRow("reader missing") << true << "/nonexistent/reader"
                                    << "could not be started";
}

void tst_JetConversion::offered()
{
    QFETCH(bool, yes);
    QFETCH(QString, reader);
    QFETCH(QString, refused);
    QTemporaryDir dir;
    AppState state(dir.path());
    copyLegacyFile("tarn_dat_s21.mdb", state.dataPath());
    copyLegacyFile("tarn_ref.mdb", state.refPath());
    const QMap<QString, QByteArray> before = snapshot(dir.path());
    ScriptedPrompter prompter;
    prompter.answerMessage(yes ? Prompter::Answer::Yes : Prompter::Answer::No);
    const StartupResult result =
        offerJetConversion(state, prompter, startUp(state).jetFiles, {.reader = reader});

    const QString question = prompter.calls().first().text;
    QVERIFY(question.contains(state.dataPath()) && question.contains(state.refPath()));
    QCOMPARE(prompter.unexpectedCalls(), 0);
    if (!refused.isEmpty()) {
        QVERIFY2(!result.status && result.status.message().contains(state.dataPath()) &&
                     result.status.message().contains(refused),
                 qPrintable(result.status.message()));
        QCOMPARE(snapshot(dir.path()), before);
        return;
    }
    QVERIFY2(result.status, qPrintable(result.status.message()));
    QCOMPARE(result.addedColumns, schema::upgradeColumns());
    QCOMPARE(state.data().packageNames().value().size(), 4);
    QVERIFY(prompter.lastMessage().contains(state.dataPath() + ".jet"));
    QVERIFY(prompter.busyCount() > 0);
}

QTEST_MAIN(tst_JetConversion)
#include "tst_jetconversion.moc"
