#include "core/appstate.h"
#include "platform/datacontrol.h"
#include "scriptedprompter.h"
#include "testsupport.h"
#include "ui/classes/frmclasses.h"

#include <QAction>
#include <QCheckBox>
#include <QLineEdit>
#include <QTest>

using namespace tarn;
using namespace tarn::test;

class tst_frmClassesExport : public QObject
{
    Q_OBJECT

private slots:
    void fileMenu_data();
    void fileMenu();
    void cancelOrRefusalWritesNothing();
    void flagSumsAgreeWithTheBoxes();

private:
    // The class editor on the sample configuration, opened once the data is set up.
    struct Fixture {
        frmClasses &open()
        {
            AppState &state = dir.start();
            state.setCurrentPackage("Sample Config");
            editor = std::make_unique<frmClasses>(state, prompter);
            editor->show();
            return *editor;
        }
        // Exports through the menu item to a file of the data directory; returns its bytes.
        QByteArray exportTo(const char *action, const QString &name)
        {
            prompter.answerFile(name.isEmpty() ? QString() : dir.file(name));
            child<QAction>(editor.get(), action)->trigger();
            return readFile(dir.file(name));
        }
        QLineEdit *edit(const char *name) { return child<QLineEdit>(editor.get(), name); }
        DataDir dir;
        ScriptedPrompter prompter;
        std::unique_ptr<frmClasses> editor;
    };
};

void tst_frmClassesExport::fileMenu_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<bool>("scrambled");
    QTest::newRow("Save As") << "mnuSaveAs" << true;
    QTest::newRow("Save Unprotected") << "mnuSaveUnprotected" << false;
}

void tst_frmClassesExport::fileMenu()
{
    QFETCH(QString, action);
    QFETCH(bool, scrambled);
    Fixture f;
    f.open();
    f.dir.state().setProtect(!scrambled);
    QVERIFY(f.editor->navigator()->moveNext());
    f.edit("fldClassName")->setText("Edited Soldier"); // stored before export
    QByteArray bytes = f.exportTo(qPrintable(action), "out.class");
    QCOMPARE(f.prompter.messages(), QStringList());
    QCOMPARE(f.dir.state().protect(), scrambled);
    QCOMPARE(f.edit("fldClassName")->text(), "Scout"); // the first class again
    QCOMPARE(f.prompter.busyDepth(), 0);

    QCOMPARE(bytes.contains("[Scout]"), !scrambled);
    for (char &c : bytes)
        if (uchar(c) >= 159)
            c = char(uchar(c) - 128);
    QVERIFY2(bytes.startsWith("V3 0\r\nSample Config\r\n\r\n[Scout]\r\n"), bytes.constData());
    QVERIFY(bytes.contains(
        "\r\n\r\n[Edited Soldier]\r\nmale soldier_r soldier_b 2\r\n1 2 4 7 0 0 0 0 0 0\r\n"));
}

void tst_frmClassesExport::cancelOrRefusalWritesNothing()
{
    Fixture f;
    f.open();
    writeFile(f.dir.file("earlier.class"), "earlier contents");
    f.exportTo("mnuSaveAs", QString());
    QCOMPARE(f.prompter.calls().size(), 1);

    f.edit("fldModel")->setText("two words");
    QCOMPARE(f.exportTo("mnuSaveAs", "earlier.class"), QByteArray("earlier contents"));
    const QString message = f.prompter.lastMessage();
    QVERIFY2(message.contains("class \"Scout\": Model Name holds a space"), qPrintable(message));
    QCOMPARE(QDir(f.dir.path()).entryList(QDir::Files).size(), 3); // nothing left behind
}

void tst_frmClassesExport::flagSumsAgreeWithTheBoxes()
{
    Fixture f;
    // Ids off the powers of two, and more flags ticked than rows to show them.
    Peek ref(f.dir.refPath());
    ref.exec("UPDATE item SET i_id = 12 WHERE i_id = 8");
    ref.exec("UPDATE special SET qz_enabled = 0");
    Peek(f.dir.dataPath())
        .exec("UPDATE classdef SET i1 = 1, i4 = 1, i5 = 1, i8 = 1, i9 = 1, s3 = 1, s8 = 1, "
              "s20 = 1, s31 = 1 WHERE class_num = 2");
    frmClasses &w = f.open();
    QVERIFY(w.navigator()->moveNext());
    qint64 items = 0, specials = 0; // what the boxes on screen add up to
    for (QCheckBox *box : w.findChildren<QCheckBox *>())
        if (box->isVisibleTo(&w) && box->isChecked())
            (box->objectName().startsWith("Check1") ? items : specials) +=
                box->property("tag").toLongLong();
    QCOMPARE(items, 1 + 2 + 4 + 12 + 16);
    QCOMPARE(specials, 2 + 4 + 128);
    // The second class's line of flags: specials, ..., items.
    const QList<QByteArray> flags =
        f.exportTo("mnuSaveUnprotected", "sums.class").split('\n').at(14).split(' ');
    QCOMPARE(flags.at(flags.size() - 3).toLongLong(), specials);
    QCOMPARE(flags.last().trimmed().toLongLong(), items);
}

QTEST_MAIN(tst_frmClassesExport)
#include "tst_frmclasses_export.moc"
