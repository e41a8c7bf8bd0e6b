#include "focuschain.h"
#include "scriptedprompter.h"
#include "testsupport.h"
#include "ui/config/frmconfig.h"

#include <QAction>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

using namespace tarn;
using namespace tarn::test;

class tst_frmConfig : public QObject
{
    Q_OBJECT

private slots:
    void newAndCopyKeepNameAsTyped_data();
    void newAndCopyKeepNameAsTyped();
    void commandsNeedSelection_data();
    void commandsNeedSelection();
    void tabOrder();
    void deleteAnsweredNoAndYes();
    void setModId();

private:
    struct Fixture {
        explicit Fixture(bool sample = true)
            : dir(sample), state(dir.start()), window(state, prompter)
        {
        }
        DataDir dir;
        AppState &state;
        ScriptedPrompter prompter;
        frmConfig window;
        Peek peek{dir.dataPath()};

        QListWidget *list() { return child<QListWidget>(&window, "classlist"); }
        void click(const char *button) { child<QPushButton>(&window, button)->click(); }
        QStringList names()
        {
            QStringList n;
            for (int i = 0; i < list()->count(); ++i)
                n << list()->item(i)->text();
            return n;
        }
        void select(const QString &name)
        {
            list()->setCurrentItem(list()->findItems(name, Qt::MatchExactly).value(0));
            QCOMPARE(state.currentPackage(), name);
        }
    };
};

void tst_frmConfig::newAndCopyKeepNameAsTyped_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<bool>("sample");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<int>("classes");
    QTest::addColumn<QString>("message");
    const QStringList sample{"Sample Config"};
    const QString exists = "A configuration named '%1' exists already. Choose another name.";
    QTest::newRow("new in empty list")
        << "btNew" << false << "First" << QStringList{"First"} << 0 << QString();
    QTest::newRow("new cancelled") << "btNew" << true << QString() << sample << 2 << QString();
    QTest::newRow("new keeps spaces")
        << "btNew" << true << "  Spaced  " << QStringList{"  Spaced  "} + sample << 2 << QString();
    QTest::newRow("new with apostrophe")
        << "btNew" << true << "Bob's" << QStringList{"Bob's"} + sample << 2 << QString();
    QTest::newRow("new duplicate in other case")
        << "btNew" << true << "SAMPLE config" << sample << 2 << exists.arg("SAMPLE config");
    QTest::newRow("copied") << "btCopy" << true << "A copy" << QStringList{"A copy"} + sample << 4
                            << QString();
    QTest::newRow("copy cancelled") << "btCopy" << true << QString() << sample << 2 << QString();
    QTest::newRow("copy onto existing name")
        << "btCopy" << true << "sample CONFIG" << sample << 2 << exists.arg("sample CONFIG");
}

void tst_frmConfig::newAndCopyKeepNameAsTyped()
{
    QFETCH(QString, button);
    QFETCH(bool, sample);
    QFETCH(QString, typed);
    QFETCH(QStringList, expected);
    QFETCH(int, classes);
    QFETCH(QString, message);
    Fixture f(sample);
    QCOMPARE(f.list()->count(), sample ? 1 : 0);
    if (sample)
        f.select("Sample Config");
    f.prompter.answerInput(typed);
    f.click(qPrintable(button));
    QCOMPARE(f.names(), expected);
    QCOMPARE(f.prompter.lastMessage(), message);
    QCOMPARE(f.peek.count("package"), expected.size());
    QCOMPARE(f.peek.count("classdef"), classes);
    // The list is refreshed only when a name was added, and that clears the selection.
    const bool kept = sample && expected.size() == 1;
    QCOMPARE(f.state.currentPackage(), kept ? "Sample Config" : QString());
    QCOMPARE(f.list()->selectedItems().size(), kept ? 1 : 0);
    QCOMPARE(f.prompter.busyDepth(), 0);
}

void tst_frmConfig::commandsNeedSelection_data()
{
    QTest::addColumn<QString>("button");
    QTest::newRow("delete") << "btDelete";
    QTest::newRow("edit") << "btEdit";
    QTest::newRow("copy") << "btCopy";
}

void tst_frmConfig::commandsNeedSelection()
{
    QFETCH(QString, button);
    Fixture f;
    f.click(qPrintable(button));
    QCOMPARE(f.prompter.messages(), QStringList{"You must select a class configuration"});
    QCOMPARE(f.peek.count("package"), 1);
}

void tst_frmConfig::tabOrder()
{
    Fixture f;
    QCOMPARE(tabChain(child<QPushButton>(&f.window, "btNew"), 6),
             "btNew btDelete btEdit classlist btCopy btImport");
}

void tst_frmConfig::deleteAnsweredNoAndYes()
{
    Fixture f;
    f.select("Sample Config");
    f.prompter.answerMessage(Prompter::Answer::No);
    f.click("btDelete");
    const auto ask = f.prompter.calls().last();
    QCOMPARE(ask.text, "Are you sure you want to delete the 'Sample Config' Config?");
    QCOMPARE(ask.defaultAnswer, Prompter::Answer::No);
    QCOMPARE(f.peek.count("classdef"), 2);
    QCOMPARE(f.state.currentPackage(), "Sample Config");

    f.prompter.answerMessage(Prompter::Answer::Yes);
    f.click("btDelete");
    QCOMPARE(f.peek.count("classdef"), 0);
    QCOMPARE(f.peek.count("package"), 0);
    QCOMPARE(f.list()->count(), 0);
    QVERIFY(f.state.currentPackage().isEmpty());
    QCOMPARE(f.prompter.busyDepth(), 0);
}

void tst_frmConfig::setModId()
{
    Fixture f;
    const QString ini = f.dir.file("tarn.ini");
    const auto setModId = [&f](const QString &typed) {
        f.prompter.answerInput(typed);
        child<QAction>(&f.window, "mnuSetModID")->trigger();
        return f.prompter.calls().last();
    };
    QCOMPARE(setModId(QString()).text, "Enter Your Mod ID (not required). Current ID = 0");
    QVERIFY(!QFile::exists(ini)); // cancelled
    setModId(" 7 ");
    QCOMPARE(f.state.modId(), " 7 ");
    QCOMPARE(readFile(ini), QByteArray("\" 7 \"\r\n"));
    QCOMPARE(setModId(QString()).text, "Enter Your Mod ID (not required). Current ID =  7 ");
}

QTEST_MAIN(tst_frmConfig)
#include "tst_frmconfig.moc"
