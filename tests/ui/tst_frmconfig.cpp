#include "frmconfig.h"
#include "scriptedprompter.h"
#include "testsupport.h"

#include <QListWidget>
#include <QMenuBar>
#include <QPushButton>
#include <QTest>

using namespace tarn;
using namespace tarn::test;

class tst_frmConfig : public QObject
{
    Q_OBJECT

private slots:
    void captionsAndTabOrder();
    void emptyListThenNew();
    void newKeepsNameAsTyped_data();
    void newKeepsNameAsTyped();
    void commandsNeedSelection_data();
    void commandsNeedSelection();
    void selectionClearedByEveryRefresh();
    void deleteAnsweredNoAndYes();
    void makeCopy();
    void makeCopyRefusedKeepsSelection();
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

        QListWidget *list() { return window.findChild<QListWidget *>(QStringLiteral("classlist")); }
        QPushButton *button(const char *name)
        {
            return window.findChild<QPushButton *>(QLatin1String(name));
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
            const QList<QListWidgetItem *> items = list()->findItems(name, Qt::MatchExactly);
            QVERIFY(!items.isEmpty());
            window.show();
            QVERIFY(QTest::qWaitForWindowExposed(&window));
            list()->scrollToItem(items.first());
            QTest::mouseClick(list()->viewport(), Qt::LeftButton, {},
                              list()->visualItemRect(items.first()).center());
        }
    };
};

void tst_frmConfig::captionsAndTabOrder()
{
    Fixture f;
    QCOMPARE(f.window.windowTitle(), QStringLiteral("QZ Fabrikon (TARN) - Version 1.4a"));
    const QList<QPair<const char *, const char *>> buttons{
        {"btNew", "New"}, {"btDelete", "Delete"}, {"btEdit", "Edit..."}, {"btCopy", "Make Copy"}};
    for (const auto &[name, caption] : buttons)
        QCOMPARE(f.button(name)->text(), QLatin1String(caption));
    QStringList menus;
    for (QAction *a : f.window.menuBar()->actions())
        menus << a->menu()->objectName() + QLatin1Char('=') + a->text();
    QVERIFY(menus.startsWith(QStringLiteral("mnuFile=File")));
    QVERIFY(menus.endsWith(QStringLiteral("mnuHelp=Help")));
    QCOMPARE(f.window.findChild<QAction *>(QStringLiteral("mnuSetModID"))->text(),
             QStringLiteral("Set Mod ID..."));
    QCOMPARE(f.window.findChild<QAction *>(QStringLiteral("mnuExit"))->text(),
             QStringLiteral("Exit"));
    QCOMPARE(f.window.findChild<QAction *>(QStringLiteral("mnuAbout"))->text(),
             QStringLiteral("About TARN1..."));

    QStringList order;
    QWidget *w = f.button("btNew");
    for (int i = 0; i < 5; ++i) {
        order << w->objectName();
        do
            w = w->nextInFocusChain();
        while (!(w->focusPolicy() & Qt::TabFocus));
    }
    QCOMPARE(order.mid(0, 5), (QStringList{"btNew", "btDelete", "btEdit", "classlist", "btCopy"}));
}

void tst_frmConfig::emptyListThenNew()
{
    Fixture f(false);
    QCOMPARE(f.list()->count(), 0);
    f.prompter.answerInput(QStringLiteral("First"));
    QTest::mouseClick(f.button("btNew"), Qt::LeftButton);
    QCOMPARE(f.names(), QStringList{"First"});
    const auto call = f.prompter.calls().first();
    QCOMPARE(call.text, QStringLiteral("Enter the Configuration Name"));
    QCOMPARE(call.title, QStringLiteral("Enter Config Name"));
    QVERIFY(f.list()->selectedItems().isEmpty());
    QCOMPARE(f.prompter.unexpectedCalls(), 0);
}

void tst_frmConfig::newKeepsNameAsTyped_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<QString>("message");
    QTest::newRow("cancel") << QString() << QStringList{"Sample Config"} << QString();
    QTest::newRow("spaces kept") << QStringLiteral("  Spaced  ")
                                 << QStringList{"  Spaced  ", "Sample Config"} << QString();
    QTest::newRow("apostrophe") << QStringLiteral("Bob's") << QStringList{"Bob's", "Sample Config"}
                                << QString();
    QTest::newRow("duplicate in other case")
        << QStringLiteral("SAMPLE config") << QStringList{"Sample Config"}
        << QStringLiteral(
               "A configuration named 'SAMPLE config' exists already. Choose another name.");
}

void tst_frmConfig::newKeepsNameAsTyped()
{
    QFETCH(QString, typed);
    QFETCH(QStringList, expected);
    QFETCH(QString, message);
    Fixture f;
    f.prompter.answerInput(typed);
    f.button("btNew")->click();
    QCOMPARE(f.names(), expected);
    QCOMPARE(f.prompter.lastMessage(), message);
    QCOMPARE(Peek(f.dir.dataPath()).count(QStringLiteral("package")), expected.size());
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
    f.window.findChild<QPushButton *>(button)->click();
    QCOMPARE(f.prompter.calls().size(), 1);
    const auto call = f.prompter.calls().first();
    QCOMPARE(call.text, QStringLiteral("You must select a class configuration"));
    QCOMPARE(call.title, QStringLiteral("QZ Fabrikon (TARN)"));
    QCOMPARE(call.icon, Prompter::Icon::None);
    QCOMPARE(Peek(f.dir.dataPath()).count(QStringLiteral("package")), 1);
}

void tst_frmConfig::selectionClearedByEveryRefresh()
{
    Fixture f;
    f.select(QStringLiteral("Sample Config"));
    QCOMPARE(f.state.currentPackage(), QStringLiteral("Sample Config"));
    f.prompter.answerInput(QStringLiteral("Another"));
    f.button("btNew")->click();
    QVERIFY(f.state.currentPackage().isEmpty());
    QVERIFY(f.list()->selectedItems().isEmpty());
    f.button("btDelete")->click();
    QCOMPARE(f.prompter.lastMessage(), QStringLiteral("You must select a class configuration"));
}

void tst_frmConfig::deleteAnsweredNoAndYes()
{
    Fixture f;
    Peek peek(f.dir.dataPath());
    f.select(QStringLiteral("Sample Config"));
    f.prompter.answerMessage(Prompter::Answer::No);
    f.button("btDelete")->click();
    const auto ask = f.prompter.calls().last();
    QCOMPARE(ask.text,
             QStringLiteral("Are you sure you want to delete the 'Sample Config' Config?"));
    QCOMPARE(ask.title, QStringLiteral("Delete Confirmation"));
    QCOMPARE(ask.buttons, Prompter::Buttons::YesNo);
    QCOMPARE(ask.icon, Prompter::Icon::Critical);
    QCOMPARE(ask.defaultAnswer, Prompter::Answer::No);
    QCOMPARE(peek.count(QStringLiteral("classdef")), 2);
    QCOMPARE(f.state.currentPackage(), QStringLiteral("Sample Config"));

    f.prompter.answerMessage(Prompter::Answer::Yes);
    f.button("btDelete")->click();
    QCOMPARE(peek.count(QStringLiteral("classdef")), 0);
    QCOMPARE(peek.count(QStringLiteral("package")), 0);
    QCOMPARE(f.list()->count(), 0);
    QVERIFY(f.state.currentPackage().isEmpty());
    QCOMPARE(f.prompter.busyDepth(), 0);
}

void tst_frmConfig::makeCopy()
{
    Fixture f;
    f.select(QStringLiteral("Sample Config"));
    f.prompter.answerInput(QStringLiteral("A copy"));
    f.button("btCopy")->click();
    const auto ask = f.prompter.calls().first();
    QCOMPARE(ask.text, QStringLiteral("Enter the name of the config you wish to copy to"));
    QCOMPARE(ask.title, QStringLiteral("Copy Config"));
    QCOMPARE(f.names(), (QStringList{"A copy", "Sample Config"}));
    QVERIFY(f.state.currentPackage().isEmpty());
    QCOMPARE(Peek(f.dir.dataPath()).count(QStringLiteral("classdef")), 4);
    QCOMPARE(f.prompter.busyCount(), 1);
    QCOMPARE(f.prompter.busyDepth(), 0);
}

void tst_frmConfig::makeCopyRefusedKeepsSelection()
{
    Fixture f;
    f.select(QStringLiteral("Sample Config"));
    f.prompter.answerInput(QStringLiteral("sample CONFIG"));
    f.button("btCopy")->click();
    QVERIFY(f.prompter.lastMessage().contains(QStringLiteral("exists already")));
    QCOMPARE(f.state.currentPackage(), QStringLiteral("Sample Config"));
    QCOMPARE(f.prompter.busyDepth(), 0);
    QCOMPARE(Peek(f.dir.dataPath()).count(QStringLiteral("classdef")), 2);

    f.prompter.answerInput(QString()); // cancel: nothing, no message
    f.prompter.clear();
    f.prompter.answerInput(QString());
    f.button("btCopy")->click();
    QCOMPARE(f.prompter.messages(), QStringList());
    QCOMPARE(f.state.currentPackage(), QStringLiteral("Sample Config"));
}

void tst_frmConfig::setModId()
{
    Fixture f;
    const QString ini = f.dir.file(QStringLiteral("tarn.ini"));
    f.prompter.answerInput(QString());
    f.window.findChild<QAction *>(QStringLiteral("mnuSetModID"))->trigger();
    QCOMPARE(f.prompter.calls().last().text,
             QStringLiteral("Enter Your Mod ID (not required). Current ID = 0"));
    QCOMPARE(f.prompter.calls().last().title, QStringLiteral("Mod ID"));
    QVERIFY(!QFile::exists(ini));

    f.prompter.answerInput(QStringLiteral(" 7 "));
    f.window.findChild<QAction *>(QStringLiteral("mnuSetModID"))->trigger();
    QCOMPARE(f.state.modId(), QStringLiteral(" 7 "));
    QCOMPARE(readFile(ini), QByteArray("\" 7 \"\r\n"));
    f.prompter.answerInput(QString());
    f.window.findChild<QAction *>(QStringLiteral("mnuSetModID"))->trigger();
    QCOMPARE(f.prompter.calls().last().text,
             QStringLiteral("Enter Your Mod ID (not required). Current ID =  7 "));
}

void tst_frmConfig::listHasNoLimit()
{
    Fixture f(false);
    for (int i = 0; i < 60; ++i)
        QVERIFY(
            f.state.data().createPackage(QStringLiteral("cfg %1").arg(i, 2, 10, QLatin1Char('0'))));
    f.window.RefreshList();
    QCOMPARE(f.list()->count(), 60);
    f.select(QStringLiteral("cfg 59"));
    QCOMPARE(f.state.currentPackage(), QStringLiteral("cfg 59"));
}

QTEST_MAIN(tst_frmConfig)
#include "tst_frmconfig.moc"
