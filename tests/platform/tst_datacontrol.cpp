// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/datacontrol.h"
#include "platform/recorddialog.h"
#include "scriptedprompter.h"
#include "testsupport.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QVBoxLayout>

using namespace tarn;
using namespace tarn::test;

namespace
{

// A window over classdef with a few bound columns, as the editors build them.
class Editor : public RecordDialog
{
public:
    Editor(Database &db, Prompter &prompter, const QString &package)
    {
        auto *layout = new QVBoxLayout(this);
        for (QWidget *w : std::initializer_list<QWidget *>{name, speed, flag, owner, control})
            layout->addWidget(w);
        control->setPrompter(&prompter);
        control->setRecordSource(db, RecordSource::classesOf(package));
        control->bind(owner, "package_name");
        control->bind(name, "class_name", schema::Kind::Text, "Class Name");
        control->bind(speed, "max_speed", schema::Kind::Whole16, "Max Speed");
        control->bind(flag, "s31", "s31");
        control->bindValue("w2", schema::Kind::Whole16, "Weapon 2");
        setDataControl(control);
        control->refresh();
    }
    QLineEdit *name = new QLineEdit(this);
    QLineEdit *speed = new QLineEdit(this);
    QCheckBox *flag = new QCheckBox(this);
    QLabel *owner = new QLabel(this);
    DataControl *control = new DataControl(this);
};

struct Fixture {
    Fixture()
    {
        peek.exec("DELETE FROM classdef");
        peek.exec("INSERT INTO package VALUES ('It''s')");
        for (int n : {3, 1, 2})
            peek.exec("INSERT INTO classdef (package_name, class_name, class_num, max_speed, w2, "
                      "s31) VALUES ('It''s', ?, ?, ?, ?, ?)",
                      {QStringLiteral("Class %1").arg(n), n, n * 100, n, int(n == 2)});
        peek.exec("INSERT INTO classdef (package_name, class_name, class_num) "
                  "VALUES ('Other', 'X', 1)");
        peek.countWrites("classdef");
        editor = std::make_unique<Editor>(dir.start().data().database(), prompter, "It's");
        editor->show(); // a hidden dialog closes without asking
    }
    // The stored name, speed, flag and weapon of a class.
    QString stored(int number) const
    {
        return peek
            .scalar("SELECT class_name || '|' || coalesce(CAST(max_speed AS TEXT), 'null') || '|' "
                    "|| s31 || '|' "
                    "|| w2 FROM classdef WHERE package_name = 'It''s' AND class_num = ?",
                    {number})
            .toString();
    }
    // The stored names of the classes, by number.
    QString names() const
    {
        return peek.joined(
            "SELECT class_name FROM classdef WHERE package_name = 'It''s' ORDER BY class_num");
    }
    DataDir dir;
    Peek peek{dir.dataPath()};
    ScriptedPrompter prompter;
    std::unique_ptr<Editor> editor;
};

struct Conflict {
    const char *name, *theirs; // the name they store
    int choice;
    QString stored, shown; // stored afterwards; name and speed in the fields
    QString undone;        // stored after an undo; empty: not tried
};

struct Deleted {
    const char *name;
    int choice;
    QString names, shown; // stored, by class number; the name shown
};

} // namespace

class tst_DataControl : public QObject
{
    Q_OBJECT

private slots:
    // The rows of one configuration, shown without a write; then every way out
    // of a row stores its edits: empty text as NULL, a box as 0 or 1.
    void navigatesAndEditSurvivesEveryWayOut()
    {
        Fixture f;
        DataControl *c = f.editor->control;
        QCOMPARE(c->recordCount(), 3);
        QCOMPARE(f.editor->name->text() + ' ' + f.editor->owner->text(), "Class 1 It's");
        QVERIFY(c->moveNext());
        QVERIFY(f.editor->flag->isChecked());
        QVERIFY(c->moveLast());
        QCOMPARE(f.editor->name->text() + ' ' + c->value("w2").toString(), "Class 3 3");
        QVERIFY(!f.editor->flag->isChecked()); // not carried over from the previous row
        QVERIFY(c->moveNext());                // already last: stays
        QVERIFY(c->movePrevious());
        f.editor->name->setText("temp"); // and typed back: no change
        f.editor->name->setText("Class 2");
        QVERIFY(c->refresh());
        QCOMPARE(f.peek.writes() + f.prompter.calls().size(), 0);
        f.editor->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(f.editor.get()));
        int writes = 0;
        for (QString way :
             {"next", "previous", "first", "last", "refresh", "key", "button", "close"}) {
            QVERIFY(c->moveTo(1)); // Class 2
            f.editor->name->selectAll();
            QTest::keyClicks(f.editor->name, "Class 2 " + way);
            f.editor->speed->clear();
            f.editor->flag->setChecked(false);
            c->setValue("w2", 7);
            if (way == "key")
                QTest::keyClick(f.editor->name, Qt::Key_PageDown);
            else if (way == "button")
                QTest::mouseClick(child<QWidget>(c, "next"), Qt::LeftButton);
            else
                QVERIFY(way == "next"       ? c->moveNext()
                        : way == "previous" ? c->movePrevious()
                        : way == "first"    ? c->moveFirst()
                        : way == "last"     ? c->moveLast()
                        : way == "refresh"  ? c->refresh()
                                            : f.editor->close());
            QCOMPARE(f.stored(2), "Class 2 " + way + "|null|0|7");
            QCOMPARE(f.peek.writes(), ++writes);
        }
    }

    void refusedNewRowStaysPending()
    {
        Fixture f;
        f.peek.refuseInserts("classdef", "disk full");
        DataControl *c = f.editor->control;
        QVERIFY(c->addNew());
        f.editor->name->setText("typed");
        QVERIFY(!c->moveFirst());
        QVERIFY(f.prompter.lastMessage().contains("disk full"));
        QVERIFY(c->isAddingNew());
        QCOMPARE(f.editor->name->text(), "typed");
        QVERIFY(!f.editor->close());
    }

    // Class 1 is edited here (name, and the slot as a window sets it) while
    // another client changes it (name, speed, flag).
    void conflictIsShownAndNothingLost_data()
    {
        // Keep mine: stored over their name; their other changes stay, and my
        // slot is stored with either choice. Undo puts back what was stored.
        // Nothing that both changed differs: stored beside theirs without a word.
        addRows<Conflict>({
            {"keep mine", "theirs", 0, "mine|150|1|9", "", "theirs|150|1|1"},
            {"show stored", "theirs", 1, "theirs|150|1|9", "theirs 150", "theirs|150|1|1"},
            {"cancel", "theirs", 2, "theirs|150|1|1", "mine 100", ""},
            {"box closed", "theirs", -1, "theirs|150|1|1", "mine 100", ""},
            {"other fields", "Class 1", -1, "mine|150|1|9", "", "Class 1|150|1|1"},
            {"the same name", "mine", -1, "mine|150|1|9", "", "mine|150|1|1"},
        });
    }

    void conflictIsShownAndNothingLost()
    {
        QFETCH(Conflict, row);
        const auto &[name, theirs, choice, stored, shown, undone] = row;
        Fixture f;
        DataControl *c = f.editor->control;
        f.editor->name->setText("mine");
        c->setValue("w2", 9);
        f.peek.exec("UPDATE classdef SET class_name = ?, max_speed = 150, s31 = 1 "
                    "WHERE class_num = 1",
                    {theirs});
        f.prompter.answerChoice(choice);
        const bool asked = theirs == QLatin1String("theirs");
        QCOMPARE(c->moveNext(), choice == 0 || !asked);
        QCOMPARE(f.stored(1), stored);
        QCOMPARE(f.prompter.calls().size(), int(asked));
        if (asked) { // only the field both changed, from what to what, and mine
            const ScriptedPrompter::Call &call = f.prompter.calls().first();
            QCOMPARE(call.choices,
                     QStringList({"Keep My Changes", "Show Stored Values", "Cancel"}));
            QVERIFY(call.text.contains("\nClass Name: \"Class 1\" -> \"theirs\"\n\n"));
            QVERIFY(call.text.contains("\nClass Name: \"mine\"\n\n"));
            QVERIFY(!call.text.contains("Max Speed") && !call.text.contains("Weapon 2"));
        }
        if (choice == 0 || !asked) {
            QCOMPARE(c->currentIndex(), 1);
            QVERIFY(c->movePrevious()); // and nothing more to ask
            QCOMPARE(f.editor->speed->text(), "150");
        } else {
            QCOMPARE(c->currentIndex(), 0);
            QCOMPARE(f.editor->name->text() + ' ' + f.editor->speed->text(), shown);
            // Shown as stored, the row moves on without a word; a kept edit asks again.
            f.prompter.answerChoice(0);
            QVERIFY(c->moveNext());
            QCOMPARE(f.prompter.calls().size(), choice == 1 ? 1 : 2);
            QCOMPARE(f.stored(1), choice == 1 ? stored : "mine|150|1|9");
        }
        if (!undone.isEmpty()) {
            QVERIFY(c->undo());
            QCOMPARE(f.stored(1), undone);
            QCOMPARE(f.prompter.calls().size(), int(asked));
        }
    }

    // Stored again (with the columns shown, and the edit), dropped, or cancelled.
    void rowDeletedElsewhere_data()
    {
        addRows<Deleted>({{"store again", 0, "mine,Class 2,Class 3", "mine"},
                          {"drop", 1, "Class 2,Class 3", "Class 2"},
                          {"cancel", 2, "Class 2,Class 3", "mine"}});
    }

    void rowDeletedElsewhere()
    {
        QFETCH(Deleted, row);
        Fixture f;
        DataControl *c = f.editor->control;
        f.peek.exec("DELETE FROM classdef WHERE class_num = 1");
        f.editor->name->setText("mine");
        f.prompter.answerChoice(row.choice);
        QCOMPARE(c->moveTo(1), row.choice == 0);
        QCOMPARE(f.prompter.calls().first().choices,
                 QStringList({"Store As New Record", "Drop My Changes", "Cancel"}));
        QCOMPARE(f.names(), row.names);
        if (row.choice)
            QCOMPARE(f.editor->name->text(), row.shown);
        else
            QCOMPARE(f.peek.scalar("SELECT max_speed || '|' || s31 || '|' || w2 FROM classdef "
                                   "WHERE class_name = 'mine'"),
                     "100|0|1");
    }

    // Rows that come back get new keys; the steps after them must follow.
    void undoWalksTheHistoryBothWays()
    {
        Fixture f;
        DataControl *c = f.editor->control;
        const QString all = "SELECT * FROM classdef ORDER BY class_num, package_name";
        const QList<QVariantMap> start = f.peek.rows(all);
        QVERIFY(!c->canUndo() && !c->canRedo());

        QVERIFY(c->moveTo(1));
        f.editor->name->setText("two");
        QVERIFY(c->moveTo(1)); // stays: nothing to store, no step
        QVERIFY(c->moveNext());
        QVERIFY(c->moveTo(1));
        QVERIFY(c->deleteCurrent());
        QVERIFY(c->insertRow({"package_name", "class_num", "class_name"}, {"It's", 9, "nine"}));
        const QStringList walk{"Class 1,two,Class 3", "Class 1,Class 3", "Class 1,Class 3,nine"};
        QCOMPARE(f.names(), walk.last());

        for (int round = 0; round < 2; ++round) {
            for (int i = 1; i >= 0; --i) {
                QSignalSpy changed(c, &DataControl::rowChanged);
                QVERIFY(c->undo());
                QCOMPARE(f.names(), walk.at(i));
                // Other views hear of the row; of both keys when it came back
                // under a new one. (SQLite takes the next rowid: the first time a
                // new one, then the one just freed; a server never gives a key twice.)
                const bool newKey = !i && (!round || f.peek.onServer());
                QCOMPARE(changed.size(), newKey ? 2 : 1);
                if (!i)
                    QCOMPARE(changed.last().first().toLongLong(), c->currentKey());
            }
            QVERIFY(c->undo());
            QCOMPARE(f.peek.rows(all), start);
            QCOMPARE(f.editor->name->text(), "Class 2");
            QVERIFY(!c->canUndo() && !c->undo());
            for (const QString &expected : walk) {
                QVERIFY(c->redo());
                QCOMPARE(f.names(), expected);
            }
            QVERIFY(!c->canRedo() && !c->redo());
        }
        // A new change after an undo leaves nothing to redo.
        QVERIFY(c->undo());
        QVERIFY(c->moveFirst());
        f.editor->speed->setText("5");
        QVERIFY(c->canUndo() && !c->canRedo()); // the pending edit counts
        QVERIFY(c->moveNext());
        QVERIFY(!c->redo());
        QCOMPARE(f.names(), walk.at(1));
        QCOMPARE(f.prompter.calls().size(), 0);
    }
};

QTEST_MAIN(tst_DataControl)
#include "tst_datacontrol.moc"
