// SPDX-License-Identifier: GPL-3.0-or-later
#include "classeditor.h"
#include "widgets.h"

#include <QComboBox>
#include <QPushButton>

using namespace tarn;
using namespace tarn::test;

namespace
{

// A configuration of classes (number, name), or the sample configuration,
// and the class editor with the keys and lists a user works it by.
struct Fixture : ClassEditor {
    explicit Fixture(const std::optional<QList<int>> &numbers = QList<int>{1, 2, 3})
        : ClassEditor(!numbers)
    {
        for (int n : numbers.value_or(QList<int>{}))
            insertClass("class_num, class_name, max_speed, w2, w3, g1",
                        {n, QStringLiteral("Class %1").arg(n), 300 + n % 100, 2, 3, 1});
    }
    // Presses a key in a field of the active editor.
    void key(const char *field, Qt::Key key, Qt::KeyboardModifiers modifiers = {}) const
    {
        editor->activateWindow();
        if (!QTest::qWaitForWindowActive(editor.get()))
            QTest::qFail("the editor is not active", __FILE__, __LINE__);
        edit(field)->setFocus();
        QTest::keyClick(edit(field), key, modifiers);
    }
    void undo() const { key("fldClassName", Qt::Key_Z, Qt::ControlModifier); }
    void redo() const { key("fldClassName", Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier); }
    void choose(const char *slot, const QString &entry) const
    {
        QComboBox *combo = list(slot);
        combo->setCurrentIndex(combo->findText(entry));
        emit combo->activated(combo->currentIndex());
    }
    QComboBox *list(const char *name) const { return child<QComboBox>(editor.get(), name); }

    // Exports through the menu item to a file of the data directory; returns its bytes.
    QByteArray exportTo(const char *action, const QString &name)
    {
        prompter.answerFile(name.isEmpty() ? QString() : dir.file(name));
        click(action);
        return readFile(dir.file(name));
    }
};

// Add Class with classes of these numbers, maybe an edit of the shown class pending.
struct Add {
    const char *name;
    QList<int> numbers;
    int expected;      // the new number; 0: refused with the message
    QString message{}; // a part of it
    const char *field = nullptr;
    QString typed{};
};

} // namespace

class tst_frmClasses : public QObject
{
    Q_OBJECT

private slots:
    void showsFirstClassAndKeepsEdits()
    {
        Fixture f(QList<int>{3, 1, 2});
        f.open();
        QCOMPARE(f.edit("fldClassName")->text(), "Class 1");
        // Tab goes down each column of fields, then through the frames in reading order.
        QCOMPARE(tabChain(f.edit("fldClassName"), 13),
                 "fldClassName fldModel fldSkin1 fldSkin2 Text1 fldArmor fldSpeed fldHealth "
                 "fldDecoySkin AddClass Command1 w2 w3");
        const QStringList fields{"fldClassName", "fldModel",  "fldSkin1",   "fldSkin2",
                                 "fldArmor",     "fldSpeed",  "fldHealth",  "fldDecoySkin",
                                 "maxbullets",   "maxshells", "maxrockets", "maxgrenades",
                                 "maxcells",     "maxslugs"};
        const QStringList typed{"Sniper", "female", "red", "blue", "-5", "32767", "0",
                                "7",      "1",      "2",   "3",    "4",  "5",     "6"};
        for (int i = 0; i < fields.size(); ++i)
            retype(f.edit(qPrintable(fields[i])), typed[i]);
        // Click near the left edge: a wide check box is not toggled in its middle.
        QTest::mouseClick(f.box("Check1(1)"), Qt::LeftButton, {},
                          QPoint(6, f.box("Check1(1)")->height() / 2));
        f.box("special(9)")->setChecked(true);
        QVERIFY(f.nav()->moveNext());
        QCOMPARE(f.edit("fldClassName")->text(), "Class 2");
        // The ammunition fields are named as their columns; check boxes store 0 or 1.
        QCOMPARE(f.stored(QStringList{"class_name", "model_name", "skin_name1", "skin_name2",
                                      "max_armor", "max_speed", "max_health", "decoyskin"} +
                              fields.mid(8) + QStringList{"i2", "s10", "i1", "s1"},
                          1),
                 typed.join(' ') + " 1 1 0 0");

        f.edit("fldClassName")->setText("Closed");
        QVERIFY(f.editor->close());
        QCOMPARE(f.stored({"class_name"}, 2), "Closed");
        QCOMPARE(f.peek.writes(), 2);
    }

    // Slots of the second class holding what the lists do not offer: each shown
    // as such (the entry going with the class), kept, never written.
    void unofferedSlotsAreKeptAndNeverWritten()
    {
        // An older file may hold ids beyond the 16-bit slots (a server's columns
        // cannot): such rows are never offered.
        const bool wide = !onTestServer();
        Fixture f;
        f.peek.exec("UPDATE classdef SET w4 = 1, w5 = 1, w6 = 1, w7 = 1, w8 = 1, g3 = 1");
        f.peek.exec(QStringLiteral("UPDATE classdef SET w4 = NULL, w5 = 0, w6 = 5, w7 = 99%1 "
                                   "WHERE class_num = 2")
                        .arg(wide ? ", w8 = 40000, g3 = -40000" : ""));
        f.ref.exec("INSERT INTO weapon (w_id, w_name, qz_enabled) VALUES (40000, 'Big', 1)");
        f.ref.exec("INSERT INTO grenade (g_id, g_name, qz_enabled) VALUES (-40000, 'Tiny', 1)");
        f.open();
        QCOMPARE(f.list("w2")->findText("Big"), -1);
        QCOMPARE(f.list("g1")->findText("Tiny"), -1);
        QList<std::pair<const char *, QString>> unoffered{{"w4", "(no value)"},
                                                          {"w5", "(none)"},
                                                          {"w6", "Rail Lance (5, not offered)"},
                                                          {"w7", "99 (no such weapon)"}};
        if (wide)
            unoffered += {{"w8", "Big (40000, not offered)"}, {"g3", "Tiny (-40000, not offered)"}};
        QVERIFY(f.nav()->moveNext());
        for (const auto &[list, shown] : unoffered) {
            QCOMPARE(f.list(list)->currentText(), shown);
            QVERIFY(popupShowsEveryEntryWhole(f.list(list)));
        }
        QVERIFY(f.nav()->moveFirst());
        for (const auto &[list, shown] : unoffered)
            QCOMPARE(f.list(list)->findText(shown), -1);
        QVERIFY(f.editor->close());
        QCOMPARE(f.peek.writes(), 0);
        QCOMPARE(f.prompter.calls().size(), 0);
    }

    void slotListsAndChoice()
    {
        Fixture f;
        // Of two weapons with the same id, the later entry shows it.
        f.ref.exec("INSERT INTO weapon (w_id, w_name, qz_enabled) "
                   "VALUES (12, 'Twelve', 1), (3, 'Second Three', 1)");
        f.open();
        QCOMPARE(f.list("w3")->currentText(), "Second Three");
        // A choice stores the entry's id, not its place in the list.
        f.choose("w5", "Twelve");
        f.choose("g3", "Gas Grenade");
        QVERIFY(f.nav()->moveNext());
        QCOMPARE(f.stored({"w5", "g3"}, 1), "12 4");
        QCOMPARE(f.list("w5")->currentText(), "(none)"); // class 2 still holds none
    }

    void noWeaponEnabled()
    {
        Fixture f;
        f.ref.exec("UPDATE weapon SET qz_enabled = 0");
        f.open();
        QComboBox *w2 = f.list("w2");
        QVERIFY(!w2->isEnabled());
        QCOMPARE(w2->count(), 1);
        QCOMPARE(w2->currentText(), "Scattergun (2, not offered)");
        f.click("AddClass");
        QCOMPARE(f.stored({"g1", "w2"}, 4), "1 0"); // w2: the column's default
    }

    void addClass_data()
    {
        const QList<int> three{1, 2, 7};
        addRows<Add>({
            {"1 2 7", three, 8},
            {"renumbered to 40, pending", three, 41, "", "Text1", "40"},
            {"negative", {-9, -5}, -4},
            // An empty configuration gets class 1 when it is opened.
            {"empty", {}, 2},
            {"no number left", {1, 32767}, 0, "32767"},
            {"pending edit refused", three, 0, "Max Health: 40000", "fldHealth", "40000"},
        });
    }

    void addClass()
    {
        QFETCH(Add, row);
        const auto &[name, numbers, expected, message, field, typed] = row;
        Fixture f(numbers);
        f.open();
        if (field)
            f.edit(field)->setText(typed);
        QTest::mouseClick(child<QPushButton>(f.editor.get(), "AddClass"), Qt::LeftButton);
        QCOMPARE(f.prompter.busyDepth(), 0);
        if (!expected) {
            QVERIFY2(f.prompter.lastMessage().contains(message),
                     qPrintable(f.prompter.lastMessage()));
            QCOMPARE(f.peek.count("classdef"), numbers.size());
            QCOMPARE(f.nav()->currentIndex(), 0);
            QCOMPARE(f.edit("fldHealth")->text(), field ? typed : "0");
            QCOMPARE(f.peek.writes(), 0);
            return;
        }
        const QString added = QString(expected < 0 ? "Class #%1" : "Class # %1").arg(expected);
        QCOMPARE(f.edit("fldClassName")->text(), added);
        QCOMPARE(f.nav()->currentIndex(), f.nav()->recordCount() - 1);
        // A new class holds the first offered weapon and grenade in every slot.
        QCOMPARE(f.stored({"package_name", "class_name", "w2", "w3", "w4", "w5", "w6", "w7", "w8",
                           "w9", "w10", "g1", "g2", "g3"},
                          expected),
                 f.package + ' ' + added + QString(" 1").repeated(12));
    }

    // A pending edit goes with its class; with none left, Delete Class says so
    // and Add Class starts again. (The rest is a test of every editing window,
    // tst_refeditors.)
    void deleteClass()
    {
        Fixture f(QList<int>{1, 2});
        f.open();
        QVERIFY(f.nav()->moveTo(1));
        f.edit("fldClassName")->setText("dropped");
        for (int i = 0; i < 3; ++i) // the last click finds none left
            f.click("Command1");
        QCOMPARE(f.peek.count("classdef"), 0);
        QCOMPARE(f.prompter.messages(),
                 QStringList(2, "You should add a new class before changing any fields"));
        QCOMPARE(f.peek.count("package"), 1);
        QCOMPARE(f.peek.writes(), 0); // the dropped edit was never stored
        f.click("AddClass");
        QVERIFY(f.edit("fldClassName")->isEnabled());
        QCOMPARE(f.edit("fldClassName")->text(), "Class # 1");
    }

    // The item and special boxes follow the reference rows in id order: with
    // fewer rows than boxes the rest are hidden; rows beyond the boxes are not shown.
    void flagBoxesFollowReferenceRows()
    {
        Fixture f;
        const std::tuple<QString, int, int, const char *> tables[] = {
            {"item", 5, 8, "Check1(%1)"}, {"special", 40, 31, "special(%1)"}};
        // Place 3 breaks the power-of-two rule; qz_enabled cycles through 1, NULL, 0 and 2.
        const auto id = [](int k) {
            return k == 3 ? 12 : qint64(1) << k;
        };
        for (const auto &[table, rows, boxes, name] : tables) {
            f.ref.exec("DELETE FROM " + table);
            for (int k = rows - 1; k >= 0; --k)
                f.ref.exec(
                    QStringLiteral("INSERT INTO %1 (%2_id, %2_name, qz_enabled) VALUES (?, ?, ?)")
                        .arg(table, table.left(1)),
                    {id(k), QStringLiteral("%1 %2").arg(table).arg(k),
                     QVariantList{1, QVariant(), 0, 2}.at(k % 4)});
        }
        f.open();
        for (const auto &[table, rows, boxes, name] : tables)
            for (int k = 0; k < boxes; ++k) {
                const QCheckBox *box = f.box(qPrintable(QString(name).arg(k)));
                const bool used = k < rows;
                QCOMPARE(box->isVisibleTo(f.editor.get()), used);
                QCOMPARE(box->property("tag").toString(), used ? QString::number(id(k)) : "0");
                if (used) {
                    QCOMPARE(box->text(), QStringLiteral("%1 %2").arg(table).arg(k));
                    QCOMPARE(box->isEnabled(), k % 4 < 2);
                    QCOMPARE(box->toolTip().isEmpty(), k != 3);
                }
            }
    }

    // Export stores the pending edit first, and Save As (scrambled) or Save
    // Unprotected is remembered; a cancel or a refusal writes nothing; the flag
    // sums are what the boxes add up to. (What a class file holds is the
    // exporter's test, tst_classfileio.)
    void exportFromTheWindow_data()
    {
        QTest::addColumn<bool>("scrambled");
        QTest::newRow("Save As") << true;
        QTest::newRow("Save Unprotected") << false;
    }

    void exportFromTheWindow()
    {
        QFETCH(bool, scrambled);
        const char *action = scrambled ? "mnuSaveAs" : "mnuSaveUnprotected";
        Fixture f(std::nullopt);
        // Ids off the powers of two, and more flags ticked than rows to show them.
        f.ref.exec("UPDATE item SET i_id = 12 WHERE i_id = 8");
        f.ref.exec("UPDATE special SET qz_enabled = 0");
        f.peek.exec("UPDATE classdef SET i1 = 1, i4 = 1, i5 = 1, i8 = 1, i9 = 1, s3 = 1, s8 = 1, "
                    "s20 = 1, s31 = 1 WHERE class_num = 2");
        frmClasses &w = f.open();
        f.dir.state().setProtect(!scrambled);
        writeFile(f.dir.file("out.class"), "earlier");
        const QStringList files = QDir(f.dir.path()).entryList(QDir::Files);
        const QString model = f.edit("fldModel")->text();
        f.exportTo(action, QString());
        f.edit("fldModel")->setText("two words");
        QCOMPARE(f.exportTo(action, "out.class"), QByteArray("earlier"));
        QCOMPARE(f.prompter.messages().size(), 1); // why, after a cancel that asks nothing
        QVERIFY(f.prompter.lastMessage().contains("class \"Scout\": Model Name"));
        QCOMPARE(QDir(f.dir.path()).entryList(QDir::Files), files); // nothing left behind

        f.edit("fldModel")->setText(model);
        QVERIFY(f.nav()->moveNext());
        f.edit("fldClassName")->setText("Edited Soldier");
        qint64 items = 0, specials = 0; // what the boxes on screen add up to
        for (QCheckBox *box : w.findChildren<QCheckBox *>())
            if (box->isVisibleTo(&w) && box->isChecked())
                (box->objectName().startsWith("Check1") ? items : specials) +=
                    box->property("tag").toLongLong();
        QCOMPARE(items * 1000 + specials, (1 + 2 + 4 + 12 + 16) * 1000 + 2 + 4 + 128);
        const QByteArray bytes = f.exportTo(action, "out.class");
        QCOMPARE(f.prompter.messages().size(), 1);
        QCOMPARE(f.dir.state().protect(), scrambled);
        QCOMPARE(f.edit("fldClassName")->text(), "Scout"); // the first class again
        QCOMPARE(f.prompter.busyDepth(), 0);
        QCOMPARE(bytes.contains("[Scout]\r\n"), !scrambled);
        QCOMPARE(bytes.contains("\r\n[Edited Soldier]\r\n"), !scrambled);
        // The second class's line of flags: specials, ..., items.
        const QList<QByteArray> flags = bytes.split('\n').at(14).split(' ');
        if (!scrambled)
            QCOMPARE(flags.at(flags.size() - 3) + ' ' + flags.last().trimmed(),
                     QByteArray::number(specials) + ' ' + QByteArray::number(items));
    }

    // Undo and redo by the keys and the menu, the slot list and the boxes
    // showing the class as it is now; the history goes with the window. (The steps of every
    // window, and their conflicts, are tests of tst_refeditors.)
    void undoRedo()
    {
        Fixture f;
        f.open();
        auto *undo = child<QAction>(f.editor.get(), "mnuUndo");
        auto *redo = child<QAction>(f.editor.get(), "mnuRedo");
        QVERIFY(!undo->isEnabled() && !redo->isEnabled());
        f.choose("w2", "Rocket Tube");
        f.box("Check1(1)")->click();
        f.key("fldSpeed", Qt::Key_PageDown);
        for (int round = 0; round < 2; ++round) {
            round ? undo->trigger() : f.undo();
            QCOMPARE(f.stored({"w2", "i2"}, 1), "2 0");
            QCOMPARE(f.list("w2")->currentText() + ' ' + f.edit("fldClassName")->text(),
                     "Scattergun Class 1");
            QVERIFY(!f.box("Check1(1)")->isChecked());
            QVERIFY(!undo->isEnabled() && redo->isEnabled());
            round ? redo->trigger() : f.redo();
            QCOMPARE(f.stored({"w2", "i2"}, 1), "4 1");
            QVERIFY(undo->isEnabled() && !redo->isEnabled());
        }
        QCOMPARE(f.prompter.calls().size(), 0);
        QVERIFY(f.editor->close());
        frmClasses again(f.dir.state(), f.prompter);
        QVERIFY(!child<QAction>(&again, "mnuUndo")->isEnabled());
    }
};

QTEST_MAIN(tst_frmClasses)
#include "tst_frmclasses.moc"
