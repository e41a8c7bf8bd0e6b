#include "classeditor.h"
#include "store/schema.h"
#include "ui/config/frmconfig.h"
#include "widgets.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>

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
    QCheckBox *box(const char *name) const { return child<QCheckBox>(editor.get(), name); }
    void click(const char *name) const { press(editor.get(), name); }

    // Exports through the menu item to a file of the data directory; returns its bytes.
    QByteArray exportTo(const char *action, const QString &name)
    {
        prompter.answerFile(name.isEmpty() ? QString() : dir.file(name));
        click(action);
        return readFile(dir.file(name));
    }
};

// A slot holding what the lists do not offer, in the second class.
struct Unoffered {
    const char *name, *list;
    QVariant stored;
    QString shown;
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

// A change stored by the editor, taken back and made again by the keys or the
// Edit menu; before and after are the class's columns joined by spaces.
struct Step {
    const char *name;
    QString change;
    bool menu;
    QStringList columns;
    int number;
    QString before, after;
};

} // namespace

class tst_frmClasses : public QObject
{
    Q_OBJECT

private slots:
    void showsFirstClassAndKeepsEdits();
    void unofferedSlotsAreKeptAndNeverWritten_data();
    void unofferedSlotsAreKeptAndNeverWritten();
    void slotListsAndChoice();
    void noWeaponEnabled();
    void addClass_data();
    void addClass();
    void deleteClass();
    void flagBoxesFollowReferenceRows_data();
    void flagBoxesFollowReferenceRows();
    void mainWindowEditOpensEditor();
    void fileMenu_data();
    void fileMenu();
    void cancelOrRefusalWritesNothing();
    void flagSumsAgreeWithTheBoxes();
    void classChangedMeanwhile();
    void undoRedo_data();
    void undoRedo();
    void undoAcrossRefusedWrite();
    void undoWhenAnotherClientChangedTheRow();
};

void tst_frmClasses::showsFirstClassAndKeepsEdits()
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

void tst_frmClasses::unofferedSlotsAreKeptAndNeverWritten_data()
{
    addRows<Unoffered>({
        {"null", "w4", QVariant(), "(no value)"},
        {"zero", "w5", 0, "(none)"},
        {"disabled weapon", "w6", 5, "Rail Lance (5, not offered)"},
        {"deleted weapon", "w7", 99, "99 (no such weapon)"},
        // An older file may hold ids beyond the 16-bit slots: such rows are never offered.
        {"weapon id too large", "w8", 40000, "Big (40000, not offered)"},
        {"grenade id too small", "g3", -40000, "Tiny (-40000, not offered)"},
    });
}

void tst_frmClasses::unofferedSlotsAreKeptAndNeverWritten()
{
    QFETCH(Unoffered, row);
    const auto &[name, list, stored, shown] = row;
    if (onTestServer() && qAbs(stored.toLongLong()) > 32767)
        QSKIP("a server's class columns hold only 16-bit whole numbers");
    Fixture f;
    f.peek.exec(QStringLiteral("UPDATE classdef SET %1 = CASE WHEN class_num = 2 THEN ? ELSE 1 END")
                    .arg(list),
                {stored});
    f.ref.exec("INSERT INTO weapon (w_id, w_name, qz_enabled) VALUES (40000, 'Big', 1)");
    f.ref.exec("INSERT INTO grenade (g_id, g_name, qz_enabled) VALUES (-40000, 'Tiny', 1)");
    f.open();
    QCOMPARE(f.list("w2")->findText("Big"), -1);
    QCOMPARE(f.list("g1")->findText("Tiny"), -1);
    QComboBox *combo = f.list(qPrintable(list));
    QVERIFY(f.nav()->moveNext());
    QCOMPARE(combo->currentText(), shown);
    QVERIFY(popupShowsEveryEntryWhole(combo));
    QVERIFY(f.nav()->moveFirst()); // the extra entry goes with the class
    QCOMPARE(combo->findText(shown), -1);
    QVERIFY(f.editor->close());
    QCOMPARE(f.peek.writes(), 0);
    QCOMPARE(f.prompter.calls().size(), 0);
}

void tst_frmClasses::slotListsAndChoice()
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

void tst_frmClasses::noWeaponEnabled()
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

void tst_frmClasses::addClass_data()
{
    const QList<int> three{1, 2, 7};
    addRows<Add>({
        {"1 2 7", three, 8},
        {"renumbered to 40, pending", three, 41, "", "Text1", "40"},
        {"negative", {-9, -5}, -4},
        // An empty configuration gets class 1 when it is opened.
        {"empty", {}, 2},
        {"no number left", {1, 32767}, 0, "32767"},
        {"pending edit refused", three, 0,
         "Max Health: 40000 is out of range; it must lie between -32768 and 32767.", "fldHealth",
         "40000"},
    });
}

void tst_frmClasses::addClass()
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
        QVERIFY2(f.prompter.lastMessage().contains(message), qPrintable(f.prompter.lastMessage()));
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
    QCOMPARE(f.stored({"package_name", "class_name", "w2", "w3", "w4", "w5", "w6", "w7", "w8", "w9",
                       "w10", "g1", "g2", "g3"},
                      expected),
             f.package + ' ' + added + QString(" 1").repeated(12));
}

// Delete Class taken back brings the class back with its number and every
// column as it was, NULLs too; the last class deleted leaves nothing to edit.
void tst_frmClasses::deleteClass()
{
    Fixture f(QList<int>{1, 2, 3, 4, 5});
    f.insertClass("class_num, class_name, skin_name1, max_armor, i3, s31, w10",
                  {7, "Seven", "red", 55, 1, 1, 4});
    f.open();
    const auto row = [&f] {
        QStringList cells;
        for (const QString &column : schema::classdefColumnNames()) {
            const QVariant v = f.peek.scalar(
                QStringLiteral("SELECT %1 FROM classdef WHERE class_num = 7").arg(column));
            cells << (v.isNull() ? QStringLiteral("NULL") : v.toString());
        }
        return cells;
    };
    const QStringList before = row();
    QCOMPARE(before.size(), 69);
    QVERIFY(f.nav()->moveLast());
    f.click("Command1");
    QCOMPARE(f.stored({"class_name"}, 7), "");
    f.undo();
    QCOMPARE(row(), before);
    f.redo();
    QCOMPARE(f.stored({"class_name"}, 7), "");
    QCOMPARE(f.prompter.calls().size(), 0);

    QVERIFY(f.nav()->moveTo(2));
    f.edit("fldClassName")->setText("dropped");
    f.click("Command1");
    QCOMPARE(f.peek.joined("SELECT class_num FROM classdef ORDER BY class_num"), "1,2,4,5");
    QCOMPARE(f.edit("fldClassName")->text(), "Class 1");
    for (int i = 0; i < 5; ++i) // the last click finds none left
        f.click("Command1");
    QCOMPARE(f.peek.count("classdef"), 0);
    QCOMPARE(f.prompter.messages(),
             QStringList(2, "You should add a new class before changing any fields"));
    QVERIFY(!f.edit("fldClassName")->isEnabled());
    QCOMPARE(f.peek.count("package"), 1);
    QCOMPARE(f.peek.writes(), 0); // the dropped edit was never stored
    f.click("AddClass");
    QVERIFY(f.edit("fldClassName")->isEnabled());
    QCOMPARE(f.edit("fldClassName")->text(), "Class # 1");
}

void tst_frmClasses::flagBoxesFollowReferenceRows_data()
{
    QTest::addColumn<QString>("table");
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("boxes");
    QTest::newRow("5 items") << "item" << 5 << 8;
    QTest::newRow("12 items") << "item" << 12 << 8;
    QTest::newRow("40 specials") << "special" << 40 << 31;
}

void tst_frmClasses::flagBoxesFollowReferenceRows()
{
    QFETCH(QString, table);
    QFETCH(int, rows);
    QFETCH(int, boxes);
    Fixture f;
    f.ref.exec("DELETE FROM " + table);
    // Place 3 breaks the power-of-two rule; qz_enabled cycles through 1, NULL, 0 and 2.
    const auto id = [](int k) {
        return k == 3 ? 12 : qint64(1) << k;
    };
    for (int k = rows - 1; k >= 0; --k)
        f.ref.exec(QStringLiteral("INSERT INTO %1 (%2_id, %2_name, qz_enabled) VALUES (?, ?, ?)")
                       .arg(table, table.left(1)),
                   {id(k), QStringLiteral("%1 %2").arg(table).arg(k),
                    QVariantList{1, QVariant(), 0, 2}.at(k % 4)});
    f.open();
    const QString name = table == "item" ? QStringLiteral("Check1(%1)") : "special(%1)";
    for (int k = 0; k < boxes; ++k) {
        const QCheckBox *box = f.box(qPrintable(name.arg(k)));
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

void tst_frmClasses::mainWindowEditOpensEditor()
{
    Fixture f;
    AppState &state = f.dir.start();
    frmConfig main(state, f.prompter);
    auto *list = child<QListWidget>(&main, "classlist");
    list->setCurrentRow(0);
    QString seen;
    QTimer::singleShot(0, [&seen] {
        auto *editor = qobject_cast<frmClasses *>(QApplication::activeModalWidget());
        QVERIFY(editor);
        auto *name = child<QLineEdit>(editor, "fldClassName");
        seen = name->text();
        name->setText("Via Edit");
        editor->close();
    });
    press(&main, "btEdit");
    QCOMPARE(seen, "Class 1");
    QCOMPARE(f.stored({"class_name"}, 1), "Via Edit");
    QCOMPARE(state.currentPackage(), f.package);
    QCOMPARE(list->selectedItems().size(), 1);
}

void tst_frmClasses::fileMenu_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<bool>("scrambled");
    QTest::newRow("Save As") << "mnuSaveAs" << true;
    QTest::newRow("Save Unprotected") << "mnuSaveUnprotected" << false;
}

void tst_frmClasses::fileMenu()
{
    QFETCH(QString, action);
    QFETCH(bool, scrambled);
    Fixture f(std::nullopt);
    f.open();
    f.dir.state().setProtect(!scrambled);
    QVERIFY(f.nav()->moveNext());
    f.edit("fldClassName")->setText("Edited Soldier"); // stored before export
    const QByteArray bytes = f.exportTo(qPrintable(action), "out.class");
    QCOMPARE(f.prompter.messages(), QStringList());
    QCOMPARE(f.dir.state().protect(), scrambled);
    QCOMPARE(f.edit("fldClassName")->text(), "Scout"); // the first class again
    QCOMPARE(f.prompter.busyDepth(), 0);

    // The pending edit is exported; the layout of the file is the exporter's own test.
    QCOMPARE(bytes.contains("[Scout]\r\n"), !scrambled);
    QCOMPARE(bytes.contains("\r\n[Edited Soldier]\r\n"), !scrambled);
}

void tst_frmClasses::cancelOrRefusalWritesNothing()
{
    Fixture f(std::nullopt);
    f.open();
    writeFile(f.dir.file("earlier.class"), "earlier contents");
    const QStringList files = QDir(f.dir.path()).entryList(QDir::Files);
    f.exportTo("mnuSaveAs", QString());
    QCOMPARE(f.prompter.calls().size(), 1);

    f.edit("fldModel")->setText("two words");
    QCOMPARE(f.exportTo("mnuSaveAs", "earlier.class"), QByteArray("earlier contents"));
    const QString message = f.prompter.lastMessage();
    QVERIFY2(message.contains("class \"Scout\": Model Name holds a space"), qPrintable(message));
    QCOMPARE(QDir(f.dir.path()).entryList(QDir::Files), files); // nothing left behind
}

void tst_frmClasses::flagSumsAgreeWithTheBoxes()
{
    Fixture f(std::nullopt);
    // Ids off the powers of two, and more flags ticked than rows to show them.
    f.ref.exec("UPDATE item SET i_id = 12 WHERE i_id = 8");
    f.ref.exec("UPDATE special SET qz_enabled = 0");
    f.peek.exec("UPDATE classdef SET i1 = 1, i4 = 1, i5 = 1, i8 = 1, i9 = 1, s3 = 1, s8 = 1, "
                "s20 = 1, s31 = 1 WHERE class_num = 2");
    frmClasses &w = f.open();
    QVERIFY(f.nav()->moveNext());
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

// Another program changes the class shown; the conflict names the fields
// both changed as the editor shows them, and the stored values fill the
// fields, the slot list and the box again.
void tst_frmClasses::classChangedMeanwhile()
{
    Fixture f;
    f.open();
    f.peek.exec("UPDATE classdef SET max_speed = 400, w2 = 4, i2 = 1 WHERE class_num = 1");
    retype(f.edit("fldSpeed"), "350");
    f.choose("w2", "Nail Driver");
    f.prompter.answerChoice(1); // show the stored values
    f.editor->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(f.editor.get()));
    QTest::keyClick(f.edit("fldSpeed"), Qt::Key_PageDown);
    QCOMPARE(f.prompter.calls().size(), 1);
    QVERIFY(
        f.prompter.calls().first().text.contains("Changed meanwhile:\n"
                                                 "Max Speed: 301 -> 400\n"
                                                 "Weapon 2: Scattergun (2) -> Rocket Tube (4)\n\n"
                                                 "Your changes:\n"
                                                 "Max Speed: 350\n"
                                                 "Weapon 2: Nail Driver (3)\n\n"));
    // The class shows as stored, the slot list and box included.
    QCOMPARE(f.nav()->currentIndex(), 0);
    QCOMPARE(f.edit("fldSpeed")->text(), "400");
    QCOMPARE(f.list("w2")->currentText(), "Rocket Tube");
    QVERIFY(f.box("Check1(1)")->isChecked());
    QVERIFY(f.editor->close());
    QCOMPARE(f.stored({"max_speed", "w2", "i2"}, 1), "400 4 1");
    QCOMPARE(f.prompter.calls().size(), 1);
}

void tst_frmClasses::undoRedo_data()
{
    addRows<Step>({
        {"field stored by a move", "speed", false, {"max_speed"}, 1, "301", "350"},
        {"slot chosen", "slot", false, {"w2", "g1"}, 1, "2 1", "4 4"},
        {"flag ticked", "flag", false, {"i2", "s3"}, 1, "0 0", "1 0"},
        {"pending edit",
         "pending",
         false,
         {"class_name", "max_speed"},
         1,
         "Class 1 301",
         "Renamed 301"},
        {"add class", "add", false, {"class_name", "w2"}, 4, "", "Class # 4 1"},
        {"add class, by the menu", "add", true, {"class_name"}, 4, "", "Class # 4"},
    });
}

void tst_frmClasses::undoRedo()
{
    QFETCH(Step, row);
    const auto &[name, change, menu, columns, number, before, after] = row;
    Fixture f;
    f.open();
    auto *undoAction = child<QAction>(f.editor.get(), "mnuUndo");
    auto *redoAction = child<QAction>(f.editor.get(), "mnuRedo");
    QVERIFY(!undoAction->isEnabled() && !redoAction->isEnabled());
    if (change == "speed") {
        retype(f.edit("fldSpeed"), "350");
        f.key("fldSpeed", Qt::Key_PageDown);
    } else if (change == "slot") {
        f.choose("w2", "Rocket Tube");
        f.choose("g1", "Gas Grenade");
        f.key("fldSpeed", Qt::Key_PageDown);
    } else if (change == "flag") {
        f.box("Check1(1)")->click();
        f.key("fldSpeed", Qt::Key_PageDown);
    } else if (change == "pending") {
        retype(f.edit("fldClassName"), "Renamed");
    } else {
        f.click("AddClass");
    }
    QVERIFY(undoAction->isEnabled());
    QCOMPARE(f.stored(columns, number), change == "pending" ? before : after);
    const QString shownBefore = f.edit("fldClassName")->text();

    for (int round = 0; round < 2; ++round) {
        menu ? undoAction->trigger() : f.undo();
        QCOMPARE(f.stored(columns, number), before);
        // The class undone is shown as it is now.
        if (number <= 3) {
            QCOMPARE(f.edit("fldClassName")->text(), QStringLiteral("Class %1").arg(number));
            QCOMPARE(f.edit("fldSpeed")->text(), QString::number(300 + number));
        }
        QVERIFY(!undoAction->isEnabled() && redoAction->isEnabled());
        menu ? redoAction->trigger() : f.redo();
        QCOMPARE(f.stored(columns, number), after);
        QVERIFY(undoAction->isEnabled() && !redoAction->isEnabled());
    }
    QCOMPARE(f.edit("fldClassName")->text(), change == "add"       ? shownBefore
                                             : change == "pending" ? "Renamed"
                                                                   : "Class 1");
    QCOMPARE(f.prompter.calls().size(), 0);
    // Its history goes with the window.
    QVERIFY(f.editor->close());
    frmClasses again(f.dir.state(), f.prompter);
    QVERIFY(!child<QAction>(&again, "mnuUndo")->isEnabled());
}

// A write refused for its value is no step of the history, and an undo that
// must first store such an edit does nothing but say why.
void tst_frmClasses::undoAcrossRefusedWrite()
{
    Fixture f;
    f.open();
    f.edit("fldClassName")->setText("First");
    QVERIFY(f.nav()->moveNext());
    f.edit("fldHealth")->setText("40000");
    QVERIFY(!f.nav()->moveNext()); // refused: stays on class 2
    f.undo();
    const QString refusal =
        "Max Health: 40000 is out of range; it must lie between -32768 and 32767.";
    QCOMPARE(f.prompter.messages(), QStringList(2, refusal));
    QCOMPARE(f.stored({"class_name"}, 1), "First");
    QCOMPARE(f.edit("fldHealth")->text(), "40000");

    f.edit("fldHealth")->setText("5");
    f.undo(); // the mended edit is the change undone
    QCOMPARE(f.stored({"class_name"}, 1) + ' ' + f.stored({"max_health"}, 2), "First 0");
    f.undo();
    QCOMPARE(f.stored({"class_name"}, 1), "Class 1");
    QCOMPARE(f.edit("fldClassName")->text(), "Class 1");
    f.redo();
    f.redo();
    QCOMPARE(f.stored({"class_name"}, 1) + ' ' + f.stored({"max_health"}, 2), "First 5");
    QCOMPARE(f.prompter.messages().size(), 2);
}

void tst_frmClasses::undoWhenAnotherClientChangedTheRow()
{
    Fixture f;
    f.open();
    f.edit("fldClassName")->setText("Mine");
    QVERIFY(f.nav()->moveNext());
    f.edit("fldSpeed")->setText("20");
    QVERIFY(f.nav()->moveNext());
    f.peek.exec("UPDATE classdef SET class_name = 'Theirs', max_health = 9 WHERE class_num = 1");
    f.peek.exec("DELETE FROM classdef WHERE class_num = 2");

    // Class 2 is gone: its step cannot be taken back and leaves the history.
    f.undo();
    QCOMPARE(f.prompter.lastMessage(),
             "This change cannot be undone: another user or program deleted the record since. "
             "It is taken out of the history.");
    // Class 1 was changed: asked first, then undone over their name only.
    f.prompter.answerChoice(1);
    f.undo();
    QCOMPARE(f.prompter.calls().size(), 2);
    QCOMPARE(f.prompter.calls().last().choices, QStringList({"Undo Anyway", "Cancel"}));
    QVERIFY(f.prompter.calls().last().text.contains(
        "Changed meanwhile:\nClass Name: \"Mine\" -> \"Theirs\"\n\n"));
    QCOMPARE(f.stored({"class_name", "max_health"}, 1), "Theirs 9");
    f.prompter.answerChoice(0);
    f.undo();
    QCOMPARE(f.stored({"class_name", "max_health"}, 1), "Class 1 9");
    QCOMPARE(f.edit("fldClassName")->text(), "Class 1");
    // Made again over what is stored now, without a question.
    f.redo();
    QCOMPARE(f.stored({"class_name", "max_health"}, 1), "Mine 9");
    QCOMPARE(f.prompter.calls().size(), 3);
}

QTEST_MAIN(tst_frmClasses)
#include "tst_frmclasses.moc"
