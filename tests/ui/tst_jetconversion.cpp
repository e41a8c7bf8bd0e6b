#include "jetconversion.h"
#include "scriptedprompter.h"
#include "testsupport.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace tarn;
using namespace tarn::test;

class tst_JetConversion : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void offered_data();
    void offered();
};

void tst_JetConversion::initTestCase()
{
    qputenv("TARN_JET_READER", TARN_JET_READER_PATH);
}

void tst_JetConversion::offered_data()
{
    QTest::addColumn<bool>("yes");
    QTest::addColumn<QByteArray>("reader"); // a script in place of the reader
    QTest::addColumn<QString>("refused");   // what the failure says; empty: converted
    QTest::newRow("answered No") << false << QByteArray() << "or run 'tarn-cli migrate'.";
    QTest::newRow("answered Yes") << true << QByteArray() << QString();
    QTest::newRow("reader crashes")
        << true << QByteArray("kill -SEGV $$") << "could not be converted: the Jet reader crashed";
}

void tst_JetConversion::offered()
{
    QFETCH(bool, yes);
    QFETCH(QByteArray, reader);
    QFETCH(QString, refused);
    QTemporaryDir dir, tools;
    AppState state(dir.path());
    copyLegacyFile("tarn_dat_s21.mdb", state.dataPath());
    copyLegacyFile("tarn_ref.mdb", state.refPath());
    const QStringList jetFiles = startUp(state).jetFiles;
    QCOMPARE(jetFiles.size(), 2);
    const QMap<QString, QByteArray> before = snapshot(dir.path());
    JetOptions options;
    if (!reader.isEmpty()) {
        options.reader = tools.filePath("reader.sh");
        writeFile(options.reader, "#!/bin/sh\n" + reader + "\n");
        QFile::setPermissions(options.reader, QFile::ReadOwner | QFile::ExeOwner);
    }
    ScriptedPrompter prompter;
    prompter.answerMessage(yes ? Prompter::Answer::Yes : Prompter::Answer::No);
    const StartupResult result = offerJetConversion(state, prompter, jetFiles, options);

    const ScriptedPrompter::Call &question = prompter.calls().first();
    QCOMPARE(question.buttons, Prompter::Buttons::YesNo);
    QVERIFY(question.text.contains(state.dataPath()) && question.text.contains(state.refPath()));
    QCOMPARE(prompter.busyDepth(), 0);
    QCOMPARE(prompter.unexpectedCalls(), 0);
    if (!refused.isEmpty()) {
        QVERIFY(!result.status);
        QVERIFY2(result.status.message().contains(state.dataPath()) &&
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
    QCOMPARE(readFile(state.dataPath() + ".jet"), before.value("tarn_dat.mdb"));
}

QTEST_MAIN(tst_JetConversion)
#include "tst_jetconversion.moc"
