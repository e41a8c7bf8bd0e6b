#include "appstate.h"
#include "datacontrol.h"
#include "frmclasses.h"
#include "scriptedprompter.h"
#include "testsupport.h"

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
    struct Fixture {
        Fixture()
        {
            state.setCurrentPackage("Sample Config");
            editor = std::make_unique<frmClasses>(state, prompter);
            editor->show();
        }
        void trigger(const char *action)
        {
            editor->findChild<QAction *>(QLatin1String(action))->trigger();
        }
        QLineEdit *edit(const char *name)
        {
            return editor->findChild<QLineEdit *>(QLatin1String(name));
        }
        DataDir dir;
        AppState &state = dir.start();
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
    f.state.setProtect(!scrambled);
    QVERIFY(f.editor->navigator()->moveNext());
    f.edit("fldClassName")->setText("Edited Soldier"); // stored before export
    const QString path = f.dir.file("out.class");
    f.prompter.answerFile(path);
    f.trigger(action.toLatin1());

    QCOMPARE(f.prompter.calls().first().kind, ScriptedPrompter::Call::SaveFile);
    QCOMPARE(f.prompter.calls().first().text, "Class Config (*.class);;All Files (*)");
    QCOMPARE(f.prompter.messages(), QStringList());
    QCOMPARE(f.state.protect(), scrambled);
    QCOMPARE(f.edit("fldClassName")->text(), "Scout"); // the first class again
    QCOMPARE(f.prompter.busyDepth(), 0);

    QByteArray bytes = readFile(path);
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
    const QString path = f.dir.file("earlier.class");
    writeFile(path, "earlier contents");
    f.prompter.answerFile(QString());
    f.trigger("mnuSaveAs");
    QCOMPARE(f.prompter.calls().size(), 1);

    f.edit("fldModel")->setText("two words");
    f.prompter.answerFile(path);
    f.trigger("mnuSaveAs");
    const QString message = f.prompter.lastMessage();
    QVERIFY2(message.contains("Scout") && message.contains("model"), qPrintable(message));
    QCOMPARE(readFile(path), QByteArray("earlier contents"));
    QCOMPARE(QDir(f.dir.path()).entryList(QDir::Files).size(), 3); // nothing left behind
}

void tst_frmClassesExport::flagSumsAgreeWithTheBoxes()
{
    Fixture f;
    Peek ref(f.dir.refPath());
    // Ids off the powers of two, and more flags ticked than rows to show them.
    ref.exec("UPDATE item SET i_id = 12 WHERE i_id = 8");
    ref.exec("UPDATE special SET qz_enabled = 0");
    Peek(f.dir.dataPath())
        .exec(QStringLiteral(
            "UPDATE classdef SET i1 = 1, i4 = 1, i5 = 1, i8 = 1, i9 = 1, s3 = 1, s8 = 1, "
            "s20 = 1, s31 = 1 WHERE class_num = 2"));
    f.editor.reset();
    f.editor = std::make_unique<frmClasses>(f.state, f.prompter);

    // What the boxes on screen add up to, class by class.
    QList<QPair<qint64, qint64>> shown;
    DataControl *nav = f.editor->navigator();
    for (int i = 0; i < nav->recordCount(); ++i) {
        QVERIFY(nav->moveTo(i));
        qint64 items = 0, specials = 0;
        for (QCheckBox *box : f.editor->findChildren<QCheckBox *>()) {
            if (!box->isVisibleTo(f.editor.get()) || !box->isChecked())
                continue;
            (box->objectName().startsWith(QLatin1String("Check1")) ? items : specials) +=
                box->property("tag").toLongLong();
        }
        shown << qMakePair(specials, items);
    }
    const QString path = f.dir.file("sums.class");
    f.prompter.answerFile(path);
    f.trigger("mnuSaveUnprotected");
    QList<QPair<qint64, qint64>> written;
    const QList<QByteArray> lines = readFile(path).split('\n');
    for (int i = 7; i < lines.size(); i += 7) {
        const QList<QByteArray> fields = lines.at(i).trimmed().split(' ');
        written << qMakePair(fields.at(fields.size() - 3).toLongLong(), fields.last().toLongLong());
    }
    QCOMPARE(written, shown);
    QCOMPARE(shown.at(1), qMakePair(qint64(2 + 4 + 128), qint64(1 + 2 + 4 + 12 + 16)));
}

QTEST_MAIN(tst_frmClassesExport)
#include "tst_frmclasses_export.moc"
