#include "frmconfig.h"
#include "scriptedprompter.h"
#include "testsupport.h"

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
    void tabOrder();
    void newKeepsNameAsTyped_data();
    void newKeepsNameAsTyped();
    void commandsNeedSelection_data();
    void commandsNeedSelection();
    void deleteAnsweredNoAndYes();
    void makeCopy_data();
    void makeCopy();
    void setModId();
    void listHasNoLimit();

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

        QListWidget *list() { return window.findChild<QListWidget *>("classlist"); }
        void click(const char *button)
        {
            window.findChild<QPushButton *>(QLatin1String(button))->click();
        }
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

void tst_frmConfig::tabOrder()
{
    Fixture f;
    QStringList order;
    QWidget *w = f.window.findChild<QPushButton *>("btNew");
    while (order.size() < 5) {
        order << w->objectName();
        do
            w = w->nextInFocusChain();
        while (!(w->focusPolicy() & Qt::TabFocus));
    }
    QCOMPARE(order, (QStringList{"btNew", "btDelete", "btEdit", "classlist", "btCopy"}));
}

void tst_frmConfig::newKeepsNameAsTyped_data()
{
    QTest::addColumn<bool>("sample");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<QString>("message");
    const QStringList sample{"Sample Config"};
    QTest::newRow("empty list") << false << "First" << QStringList{"First"} << QString();
    QTest::newRow("cancel") << true << QString() << sample << QString();
    QTest::newRow("spaces kept") << true << "  Spaced  " << QStringList{"  Spaced  "} + sample
                                 << QString();
    QTest::newRow("apostrophe") << true << "Bob's" << QStringList{"Bob's"} + sample << QString();
    QTest::newRow("duplicate in other case")
        << true << "SAMPLE config" << sample
        << "A configuration named 'SAMPLE config' exists already. Choose another name.";
}

void tst_frmConfig::newKeepsNameAsTyped()
{
    QFETCH(bool, sample);
    QFETCH(QString, typed);
    QFETCH(QStringList, expected);
    QFETCH(QString, message);
    Fixture f(sample);
    QCOMPARE(f.list()->count(), sample ? 1 : 0);
    if (sample)
        f.select("Sample Config");
    f.prompter.answerInput(typed);
    f.click("btNew");
    const auto ask = f.prompter.calls().first();
    QCOMPARE(ask.text, "Enter the Configuration Name");
    QCOMPARE(ask.title, "Enter Config Name");
    QCOMPARE(f.names(), expected);
    QCOMPARE(f.prompter.lastMessage(), message);
    QCOMPARE(f.peek.count("package"), expected.size());
    // The list is refreshed only when a name was added, and that clears the selection.
    const bool kept = sample && expected.size() == 1;
    QCOMPARE(f.state.currentPackage(), kept ? "Sample Config" : QString());
    QCOMPARE(f.list()->selectedItems().size(), kept ? 1 : 0);
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
    QCOMPARE(f.prompter.calls().size(), 1);
    const auto call = f.prompter.calls().first();
    QCOMPARE(call.text, "You must select a class configuration");
    QCOMPARE(call.title, "QZ Fabrikon (TARN)");
    QCOMPARE(f.peek.count("package"), 1);
}

void tst_frmConfig::deleteAnsweredNoAndYes()
{
    Fixture f;
    f.select("Sample Config");
    f.prompter.answerMessage(Prompter::Answer::No);
    f.click("btDelete");
    const auto ask = f.prompter.calls().last();
    QCOMPARE(ask.text, "Are you sure you want to delete the 'Sample Config' Config?");
    QCOMPARE(ask.title, "Delete Confirmation");
    QCOMPARE(ask.buttons, Prompter::Buttons::YesNo);
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

void tst_frmConfig::makeCopy_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<QString>("message");
    QTest::newRow("copied") << "A copy" << QStringList{"A copy", "Sample Config"} << QString();
    QTest::newRow("cancel") << QString() << QStringList{"Sample Config"} << QString();
    QTest::newRow("name exists")
        << "sample CONFIG" << QStringList{"Sample Config"}
        << "A configuration named 'sample CONFIG' exists already. Choose another name.";
}

void tst_frmConfig::makeCopy()
{
    QFETCH(QString, typed);
    QFETCH(QStringList, expected);
    QFETCH(QString, message);
    Fixture f;
    f.select("Sample Config");
    f.prompter.answerInput(typed);
    f.click("btCopy");
    const auto ask = f.prompter.calls().first();
    QCOMPARE(ask.text, "Enter the name of the config you wish to copy to");
    QCOMPARE(ask.title, "Copy Config");
    QCOMPARE(f.names(), expected);
    QCOMPARE(f.prompter.lastMessage(), message);
    QCOMPARE(f.peek.count("classdef"), 2 * expected.size());
    // A refresh of the list clears the selection; a refusal keeps it.
    QCOMPARE(f.state.currentPackage().isEmpty(), expected.size() == 2);
    QCOMPARE(f.prompter.busyCount(), typed.isEmpty() ? 0 : 1);
    QCOMPARE(f.prompter.busyDepth(), 0);
}

void tst_frmConfig::setModId()
{
    Fixture f;
    const QString ini = f.dir.file("tarn.ini");
    const auto setModId = [&f](const QString &typed) {
        f.prompter.answerInput(typed);
        f.window.findChild<QAction *>("mnuSetModID")->trigger();
        return f.prompter.calls().last();
    };
    QCOMPARE(setModId(QString()).text, "Enter Your Mod ID (not required). Current ID = 0");
    QVERIFY(!QFile::exists(ini)); // cancelled
    QCOMPARE(setModId(" 7 ").title, "Mod ID");
    QCOMPARE(f.state.modId(), " 7 ");
    QCOMPARE(readFile(ini), QByteArray("\" 7 \"\r\n"));
    QCOMPARE(setModId(QString()).text, "Enter Your Mod ID (not required). Current ID =  7 ");
}

void tst_frmConfig::listHasNoLimit()
{
    Fixture f(false);
    for (int i = 0; i < 60; ++i)
        QVERIFY(f.state.data().createPackage(QStringLiteral("cfg %1").arg(i, 2, 10, QChar('0'))));
    f.window.RefreshList();
    QCOMPARE(f.list()->count(), 60);
    f.select("cfg 59");
}

QTEST_MAIN(tst_frmConfig)
#include "tst_frmconfig.moc"
