#include "appstate.h"
#include "frmconfig.h"
#include "scriptedprompter.h"
#include "testsupport.h"

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

class tst_frmConfigImport : public QObject
{
    Q_OBJECT

private slots:
    void button();
    void flow_data();
    void flow();
};

void tst_frmConfigImport::button()
{
    DataDir dir;
    ScriptedPrompter prompter;
    frmConfig window(dir.start(), prompter);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto *import = window.findChild<QPushButton *>(QStringLiteral("btImport"));
    QCOMPARE(import->text(), QStringLiteral("Import from Class File..."));
    QVERIFY(import->width() >= import->sizeHint().width()); // the caption is not clipped
    auto *copy = window.findChild<QPushButton *>(QStringLiteral("btCopy"));
    QVERIFY(import->y() > copy->y());
    QWidget *next = copy->nextInFocusChain();
    while (!(next->focusPolicy() & Qt::TabFocus))
        next = next->nextInFocusChain();
    QCOMPARE(next, import);
}

void tst_frmConfigImport::flow_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("file"); // "none": the dialog is cancelled
    QTest::addColumn<qint64>("cancelAt");
    QTest::addColumn<QStringList>("list");
    QTest::addColumn<QString>("message"); // %1: the file
    QTest::addColumn<int>("classes");

    const QStringList sample{"Sample Config"};
    QByteArray many = kHead;
    for (int i = 0; i < 600; ++i)
        many += kBlock;
    QTest::newRow("imported") << "Imported" << kHead + kBlock + kBlock << qint64(-1)
                              << QStringList{"Imported", "Sample Config"} << "Import Complete" << 4;
    QTest::newRow("no name") << "" << QByteArray("none") << qint64(-1) << sample << "" << 2;
    QTest::newRow("name exists")
        << "SAMPLE config" << QByteArray("none") << qint64(-1) << sample
        << "A configuration named 'SAMPLE config' exists already. Choose another name." << 2;
    QTest::newRow("no file") << "X" << QByteArray("none") << qint64(-1) << sample << "" << 2;
    QTest::newRow("bad record") << "X"
                                << kHead + kBlock +
                                       QByteArray(kBlock).replace("[Scout]", "Scout]") + "\r\n"
                                << qint64(-1) << sample
                                << "Bad Class Record: Scout]\n%1, line 11\nNothing was imported."
                                << 2;
    QTest::newRow("cancelled") << "X" << many << qint64(1) << sample << "" << 2;
}

void tst_frmConfigImport::flow()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, file);
    QFETCH(qint64, cancelAt);
    QFETCH(QStringList, list);
    QFETCH(QString, message);
    QFETCH(int, classes);
    DataDir dir;
    AppState &state = dir.start();
    state.setProtect(false);
    ScriptedPrompter prompter;
    frmConfig window(state, prompter);
    const QString path = dir.file("in.class");
    prompter.answerInput(name);
    if (file != "none") {
        writeFile(path, file);
        prompter.answerFile(path);
    } else if (!name.isEmpty() && message.isEmpty()) {
        prompter.answerFile(QString());
    }
    prompter.cancelProgressAt(cancelAt);

    window.findChild<QPushButton *>(QStringLiteral("btImport"))->click();

    const auto ask = prompter.calls().first();
    QCOMPARE(ask.text, QStringLiteral("Enter the name of the config you wish to copy to"));
    QCOMPARE(ask.title, QStringLiteral("Copy Config"));
    QCOMPARE(ask.defaultText, QString());
    for (const ScriptedPrompter::Call &call : prompter.calls())
        if (call.kind == ScriptedPrompter::Call::OpenFile)
            QCOMPARE(call.text, Prompter::classFileFilter());
    QCOMPARE(prompter.lastMessage(), message.contains("%1") ? message.arg(path) : message);
    if (!message.isEmpty())
        QCOMPARE(prompter.calls().last().title, Prompter::applicationTitle());
    QCOMPARE(prompter.unexpectedCalls(), 0);
    QVERIFY(prompter.allAnswersUsed());
    QCOMPARE(prompter.busyDepth(), 0);
    QVERIFY(state.protect());

    QStringList shown;
    auto *classlist = window.findChild<QListWidget *>(QStringLiteral("classlist"));
    for (int i = 0; i < classlist->count(); ++i)
        shown << classlist->item(i)->text();
    QCOMPARE(shown, list);
    Peek peek(dir.dataPath());
    QCOMPARE(peek.count("package"), list.size());
    QCOMPARE(peek.count("classdef"), classes);
    if (cancelAt > 0)
        QVERIFY(prompter.lastProgress() > 0);
}

QTEST_MAIN(tst_frmConfigImport)
#include "tst_frmconfig_import.moc"
