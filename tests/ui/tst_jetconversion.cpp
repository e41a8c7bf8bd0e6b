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
    void answeredNo();
    void answeredYes();
    void failureReported();

private:
    struct Fixture {
        Fixture()
        {
            copyLegacyFile(QStringLiteral("tarn_dat_s21.mdb"), state.dataPath());
            copyLegacyFile(QStringLiteral("tarn_ref.mdb"), state.refPath());
            jetFiles = startUp(state).jetFiles;
            before = snapshot(dir.path());
        }
        QTemporaryDir dir;
        AppState state{dir.path()};
        ScriptedPrompter prompter;
        QStringList jetFiles;
        QMap<QString, QByteArray> before;
    };
};

void tst_JetConversion::initTestCase()
{
    qputenv("TARN_JET_READER", TARN_JET_READER_PATH);
}

void tst_JetConversion::answeredNo()
{
    Fixture f;
    QCOMPARE(f.jetFiles.size(), 2);
    f.prompter.answerMessage(Prompter::Answer::No);
    const StartupResult result = offerJetConversion(f.state, f.prompter, f.jetFiles);
    QVERIFY(!result.status);
    QVERIFY(result.status.message().contains("tarn-cli migrate"));
    QVERIFY(result.status.message().contains(f.state.refPath()));
    const ScriptedPrompter::Call &question = f.prompter.calls().first();
    QCOMPARE(question.buttons, Prompter::Buttons::YesNo);
    QVERIFY(question.text.contains(f.state.dataPath()) &&
            question.text.contains(f.state.refPath()));
    QCOMPARE(f.prompter.calls().size(), 1);
    QCOMPARE(snapshot(f.dir.path()), f.before);
}

void tst_JetConversion::answeredYes()
{
    Fixture f;
    f.prompter.answerMessage(Prompter::Answer::Yes);
    const StartupResult result = offerJetConversion(f.state, f.prompter, f.jetFiles);
    QVERIFY2(result.status, qPrintable(result.status.message()));
    QCOMPARE(result.addedColumns.size(), 10);
    QCOMPARE(f.state.data().packageNames().value().size(), 4);
    QVERIFY(f.prompter.lastMessage().contains(f.state.dataPath() + ".jet"));
    QCOMPARE(f.prompter.busyDepth(), 0);
    QVERIFY(f.prompter.busyCount() > 0);
    QCOMPARE(readFile(f.state.dataPath() + ".jet"), f.before.value("tarn_dat.mdb"));
    QCOMPARE(f.prompter.unexpectedCalls(), 0);
}

void tst_JetConversion::failureReported()
{
    Fixture f;
    QTemporaryDir tools;
    JetOptions options;
    options.reader = tools.filePath("reader.sh");
    writeFile(options.reader, "#!/bin/sh\nkill -SEGV $$\n");
    QFile::setPermissions(options.reader, QFile::ReadOwner | QFile::ExeOwner);
    f.prompter.answerMessage(Prompter::Answer::Yes);
    const StartupResult result = offerJetConversion(f.state, f.prompter, f.jetFiles, options);
    QVERIFY(!result.status);
    QVERIFY2(result.status.message().contains(f.state.dataPath() + " could not be converted"),
             qPrintable(result.status.message()));
    QVERIFY(result.status.message().contains("crashed"));
    QCOMPARE(f.prompter.busyDepth(), 0);
    QCOMPARE(snapshot(f.dir.path()), f.before);
}

QTEST_MAIN(tst_JetConversion)
#include "tst_jetconversion.moc"
