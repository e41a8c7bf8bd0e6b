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

namespace
{

const QByteArray kHead = "V3 1\r\nAny name\r\n";
const QByteArray kBlock = "\r\n[Scout]\r\nmale grunt blue 3\r\n1 2 5 0 0 0 0 0 0 0\r\n1 0 0\r\n"
                          "50 340 90  5  3\r\n100 25 10 2 50 5\r\n";

} // namespace

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
    void import_data();
    void import();

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

void tst_frmConfig::import_data()
{
    // The configuration is imported when the window ends with "Import Complete".
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("file"); // "none": the dialog is cancelled; "missing": no file
    QTest::addColumn<qint64>("cancelAt");
    QTest::addColumn<QString>("message"); // %1: the file
    QByteArray many = kHead;
    for (int i = 0; i < 600; ++i)
        many += kBlock;
    QTest::newRow("imported") << "Imported" << kHead + kBlock + kBlock << qint64(-1)
                              << "Import Complete";
    QTest::newRow("no name") << "" << QByteArray("none") << qint64(-1) << "";
    QTest::newRow("name exists")
        << "SAMPLE config" << QByteArray("none") << qint64(-1)
        << "A configuration named 'SAMPLE config' exists already. Choose another name.";
    QTest::newRow("no file") << "X" << QByteArray("none") << qint64(-1) << "";
    QTest::newRow("bad record") << "X"
                                << kHead + kBlock +
                                       QByteArray(kBlock).replace("[Scout]", "Scout]") + "\r\n"
                                << qint64(-1)
                                << "Bad Class Record: Scout]\n%1, line 11\nNothing was imported.";
    QTest::newRow("missing file") << "X" << QByteArray("missing") << qint64(-1)
                                  << "No such file or directory\n%1\nNothing was imported.";
    QTest::newRow("cancelled") << "X" << many << qint64(1) << "";
}

void tst_frmConfig::import()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, file);
    QFETCH(qint64, cancelAt);
    QFETCH(QString, message);
    Fixture f;
    f.state.setProtect(false);
    ScriptedPrompter &prompter = f.prompter;
    const QString path = f.dir.file("in.class");
    prompter.answerInput(name);
    if (file != "none") {
        if (file != "missing")
            writeFile(path, file);
        prompter.answerFile(path);
    } else if (!name.isEmpty() && message.isEmpty()) {
        prompter.answerFile(QString());
    }
    prompter.cancelProgressAt(cancelAt);

    f.click("btImport");

    const auto ask = prompter.calls().first();
    QCOMPARE(ask.title + ": " + ask.text,
             "Copy Config: Enter the name of the config you wish to copy to");
    QCOMPARE(prompter.lastMessage(), message.replace("%1", path));
    QCOMPARE(prompter.unexpectedCalls(), 0);
    QVERIFY(prompter.allAnswersUsed());
    QCOMPARE(prompter.busyDepth(), 0);
    QVERIFY(f.state.protect());
    if (cancelAt > 0)
        QVERIFY(prompter.lastProgress() > 0);

    const bool imported = message == "Import Complete";
    QCOMPARE(f.names(),
             (imported ? QStringList{name, "Sample Config"} : QStringList{"Sample Config"}));
    QCOMPARE(f.peek.count("package") + f.peek.count("classdef"), imported ? 6 : 3);
}

QTEST_MAIN(tst_frmConfig)
#include "tst_frmconfig.moc"
