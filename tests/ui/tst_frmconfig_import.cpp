#include "core/appstate.h"
#include "scriptedprompter.h"
#include "testsupport.h"
#include "ui/config/frmconfig.h"

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
    QVERIFY(import->width() >= import->sizeHint().width()); // the caption is not clipped
    // Next after Make Copy in the tab order.
    QWidget *next = window.findChild<QPushButton *>(QStringLiteral("btCopy"))->nextInFocusChain();
    while (!(next->focusPolicy() & Qt::TabFocus))
        next = next->nextInFocusChain();
    QCOMPARE(next, import);
}

void tst_frmConfigImport::flow_data()
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
    QTest::newRow("name a class file cannot carry")
        << "a\rb" << QByteArray("none") << qint64(-1)
        << "The configuration name holds the control character \\r at position 2, which a class "
           "file cannot carry.";
    QTest::newRow("no file") << "X" << QByteArray("none") << qint64(-1) << "";
    QTest::newRow("bad record") << "X"
                                << kHead + kBlock +
                                       QByteArray(kBlock).replace("[Scout]", "Scout]") + "\r\n"
                                << qint64(-1)
                                << "Bad Class Record: Scout]\n%1, line 11\nNothing was imported.";
    QTest::newRow("cut short")
        << "X" << kHead + kBlock + kBlock.left(30) << qint64(-1)
        << "The file ends inside the class block that begins on line 11\n%1, line 13\nNothing was "
           "imported.";
    QTest::newRow("missing file") << "X" << QByteArray("missing") << qint64(-1)
                                  << "No such file or directory\n%1\nNothing was imported.";
    QTest::newRow("cancelled") << "X" << many << qint64(1) << "";
}

void tst_frmConfigImport::flow()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, file);
    QFETCH(qint64, cancelAt);
    QFETCH(QString, message);
    DataDir dir;
    AppState &state = dir.start();
    state.setProtect(false);
    ScriptedPrompter prompter;
    frmConfig window(state, prompter);
    const QString path = dir.file("in.class");
    prompter.answerInput(name);
    if (file != "none") {
        if (file != "missing")
            writeFile(path, file);
        prompter.answerFile(path);
    } else if (!name.isEmpty() && message.isEmpty()) {
        prompter.answerFile(QString());
    }
    prompter.cancelProgressAt(cancelAt);

    window.findChild<QPushButton *>(QStringLiteral("btImport"))->click();

    const auto ask = prompter.calls().first();
    QCOMPARE(ask.title + ": " + ask.text,
             "Copy Config: Enter the name of the config you wish to copy to");
    QCOMPARE(prompter.lastMessage(), message.replace("%1", path));
    QCOMPARE(prompter.unexpectedCalls(), 0);
    QVERIFY(prompter.allAnswersUsed());
    QCOMPARE(prompter.busyDepth(), 0);
    QVERIFY(state.protect());
    if (cancelAt > 0)
        QVERIFY(prompter.lastProgress() > 0);

    const bool imported = message == "Import Complete";
    auto *classlist = window.findChild<QListWidget *>(QStringLiteral("classlist"));
    QCOMPARE(classlist->count(), imported ? 2 : 1);
    QCOMPARE(classlist->item(0)->text(), imported ? name : "Sample Config");
    Peek peek(dir.dataPath());
    QCOMPARE(peek.count("package") + peek.count("classdef"), imported ? 6 : 3);
}

QTEST_MAIN(tst_frmConfigImport)
#include "tst_frmconfig_import.moc"
