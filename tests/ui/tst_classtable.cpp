// SPDX-License-Identifier: GPL-3.0-or-later
#include "classeditor.h"
#include "ui/classes/classtable.h"
#include "widgets.h"

#include <QComboBox>
#include <QHeaderView>
#include <QListWidget>
#include <QMenu>

using namespace tarn;
using namespace tarn::test;

namespace
{

// Four classes; the names differ in case so that sorting by name shows
// whether case counts.
struct Fixture : ClassEditor {
    Fixture()
    {
        const auto add = [this](int n, const char *name, int speed, QVariant w2, const char *flag) {
            insertClass(QStringLiteral("class_num, class_name, max_speed, w2, g1, i1, ") + flag,
                        {n, QLatin1String(name), speed, w2, 1, int(n == 1), 1});
        };
        add(1, "Scout", 400, 2, "i2");
        add(2, "Heavy", 200, 4, "i3");
        add(3, "sniper", 300, 5, "i4");
        add(4, "Medic", 350, QVariant(), "s3");
    }

    // Opens the class editor and, with its shortcut, the table.
    void open()
    {
        ClassEditor::open();
        QTest::keyClick(editor.get(), Qt::Key_T, Qt::ControlModifier);
        table = editor->findChild<frmClassTable *>(QStringLiteral("frmClassTable"));
        QVERIFY(table);
        QVERIFY(QTest::qWaitForWindowExposed(table));
        view = child<QTableView>(table, "tblClasses");
    }

    static int columnOf(const char *dbColumn)
    {
        return ClassTableModel::columnOf(QLatin1String(dbColumn));
    }
    // The cell of a class (by name) in a column, as the view shows it.
    QModelIndex cell(const QString &name, int column) const
    {
        for (int row = 0; row < view->model()->rowCount(); ++row)
            if (view->model()->index(row, 1).data().toString() == name)
                return view->model()->index(row, column);
        return {};
    }
    // A column's texts from top to bottom, joined by spaces.
    QString shown(int column) const
    {
        QStringList texts;
        for (int row = 0; row < view->model()->rowCount(); ++row)
            texts << view->model()->index(row, column).data().toString();
        return texts.join(' ');
    }
    QString selectedName() const
    {
        const QModelIndexList selected = view->selectionModel()->selectedRows();
        return selected.size() == 1 ? view->model()->index(selected[0].row(), 1).data().toString()
                                    : QStringLiteral("(%1 selected)").arg(selected.size());
    }
    // Types into a cell's editor and leaves it with a key.
    void typeInCell(const QModelIndex &index, const QString &text, Qt::Key leave = Qt::Key_Return)
    {
        view->setCurrentIndex(index);
        QTest::keyClick(view, Qt::Key_F2);
        auto *line = qobject_cast<QLineEdit *>(view->indexWidget(index));
        QVERIFY(line);
        line->selectAll();
        QTest::keyClicks(line, text);
        QTest::keyClick(line, leave);
        QCoreApplication::processEvents();
    }
    // Every class as stored: number, name and speed.
    QString everything() const
    {
        return peek.joined("SELECT class_num || ' ' || class_name || ' ' || max_speed "
                           "FROM classdef ORDER BY class_num",
                           QStringLiteral(", "));
    }
    // The item boxes of the class editor, ticked or not.
    QString ticked() const
    {
        QString boxes;
        for (int k = 0; k < 6; ++k)
            boxes +=
                QString::number(box(qPrintable(QStringLiteral("Check1(%1)").arg(k)))->isChecked());
        return boxes;
    }
    // The table shows every class as stored, its selection is the class the
    // form shows, and the form shows that class as stored.
    void agree() const
    {
        const QList<QVariantMap> rows = peek.rows("SELECT class_num, class_name, model_name, "
                                                  "max_speed, w2 FROM classdef ORDER BY class_num");
        QCOMPARE(view->model()->rowCount(), rows.size());
        for (const QVariantMap &row : rows) {
            const QString name = row["class_name"].toString();
            for (const char *c : {"class_num", "model_name", "max_speed"})
                QCOMPARE(cell(name, columnOf(c)).data().toString(), row[c].toString());
            QCOMPARE(cell(name, columnOf("w2")).data(Qt::EditRole), row["w2"]);
        }
        const QString shown = edit("fldClassName")->text();
        QCOMPARE(selectedName(), shown);
        for (auto [field, c] : {std::pair{"fldModel", "model_name"}, {"fldSpeed", "max_speed"}})
            QCOMPARE(edit(field)->text(), stored({c}, shown, "class_name"));
        QCOMPARE(ticked(), stored({"'' || i1 || i2 || i3 || i4 || i5 || i6"}, shown, "class_name"));
    }

    frmClassTable *table = nullptr;
    QTableView *view = nullptr;
};

enum class Action { Cell, Slot, Flag, FormThenMove, Select, Add, Delete };

// A change made in the table or the form.
struct Edit {
    const char *name;
    Action action;
    QString target, column; // the class (by name) and the stored column
    QString value;          // typed, or the weapon chosen
    QString pending;        // the form's Model Name, typed and not stored
    QString selected;       // the class shown afterwards
    int writes;
    bool undo = false; // then Ctrl+Z and Ctrl+Shift+Z in the table
};

struct CellWrite {
    const char *name, *theirs; // what another program sets first
    int answer;                // Keep My Changes, Show Stored Values, Cancel; -1: not asked
    QString stored;            // class_name, max_speed and max_armor afterwards
    QString shown;             // class_name and max_speed in the table
    bool editing;              // the user is back in the cell
    QString undone;            // stored after Ctrl+Z in the table
    const char *column = "class_name", *typed = "Runner";
    QString refusal{};
};

} // namespace

class tst_ClassTable : public QObject
{
    Q_OBJECT

private slots:
    // Every class, slots and flags by name; the filter by name in any case,
    // Escape clearing it and, in an empty one, doing nothing; Tab in the table
    // and out of it; Escape hides the table, and the editor's close ends it.
    void showsAndFiltersEveryClass()
    {
        Fixture f;
        f.open();
        QCOMPARE(f.shown(1), "Scout Heavy sniper Medic");
        const int items = f.view->model()->columnCount() - 2;
        QCOMPARE(f.shown(Fixture::columnOf("w2")),
                 "Scattergun Rocket Tube Rail Lance (5, not offered) (no value)");
        QCOMPARE(f.shown(items), "Jetpack, Medikit Armor Patch Night Goggles ");
        QCOMPARE(f.shown(items + 1), "   Regeneration");
        QCOMPARE(f.selectedName(), "Scout");
        auto *filter = child<QLineEdit>(f.table, "fldFilter");
        for (auto [typed, shown, selected] : {std::tuple{"S", "Scout sniper", "Scout"},
                                              {"niP", "sniper", "(0 selected)"},
                                              {"zz", "", "(0 selected)"}}) {
            QTest::keyClicks(filter, typed);
            QCOMPARE(f.shown(1) + '|' + f.selectedName(), shown + QString('|') + selected);
            for (int escapes = 0; escapes < 2; ++escapes)
                QTest::keyClick(filter, Qt::Key_Escape);
            QCOMPARE(filter->text(), "");
            QVERIFY(f.table->isVisible());
            QCOMPARE(f.shown(1) + '|' + f.selectedName(), "Scout Heavy sniper Medic|Scout");
        }
        f.table->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(f.table));
        for (auto [key, modifiers] : {std::pair{Qt::Key_Tab, Qt::KeyboardModifiers()},
                                      {Qt::Key_Tab, Qt::ControlModifier},
                                      {Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier}}) {
            f.view->setFocus();
            QTest::keyClick(f.view, key, modifiers);
            QCOMPARE(f.view->hasFocus(), modifiers == Qt::NoModifier);
        }
        const QModelIndex railLance = f.cell("sniper", Fixture::columnOf("w2"));
        f.view->edit(railLance);
        auto *list = qobject_cast<QComboBox *>(f.view->indexWidget(railLance));
        QVERIFY(popupShowsEveryEntryWhole(list));
        QTest::keyClick(list, Qt::Key_Escape);
        QTest::keyClick(f.view, Qt::Key_Escape);
        QVERIFY(!f.table->isVisible());
        const QPointer<frmClassTable> table = f.table;
        QVERIFY(f.editor->close());
        QTRY_VERIFY(!table);
    }

    void tableAndFormAgree_data()
    {
        using enum Action;
        addRows<Edit>({
            // The form's own pending edit is stored first, as a move would.
            {"cell, form edit pending", Cell, "Scout", "max_speed", "450", "female", "Scout", 2},
            {"class name", Cell, "Scout", "class_name", "Runner", "", "Runner", 1, true},
            {"weapon slot", Slot, "Scout", "w2", "Nail Driver", "", "Scout", 1},
            // The boxes in the cell are the class editor's: Armor Patch is the third item.
            {"item ticked", Flag, "Scout", "Armor Patch", "2", "", "Scout", 1},
            // Detpack is not enabled: greyed in the editor, it cannot be ticked here either.
            {"item not enabled", Flag, "Scout", "Detpack", "4", "", "Scout", 0},
            {"form field, then a move", FormThenMove, "Scout", "max_speed", "999", "female",
             "Heavy", 1},
            {"row selected in the table", Select, "Medic", "", "", "", "Medic", 0},
            {"add class", Add, "", "", "", "", "Class # 5", 0},
            {"delete class, pending edit dropped", Delete, "Scout", "", "", "female", "Heavy", 0,
             true},
        });
    }

    void tableAndFormAgree()
    {
        QFETCH(Edit, row);
        const auto &[name, action, target, column, value, pending, selected, writes, undo] = row;
        Fixture f;
        f.open();
        const QString before = f.everything();
        if (!pending.isEmpty())
            f.edit("fldModel")->setText(pending);
        const int at = Fixture::columnOf(qPrintable(column));
        switch (action) {
        case Action::Cell:
            f.typeInCell(f.cell(target, at), value);
            break;
        case Action::Slot:
        case Action::Flag: {
            const QModelIndex index =
                f.cell(target, action == Action::Slot ? at : f.view->model()->columnCount() - 2);
            f.view->setCurrentIndex(index);
            QTest::keyClick(f.view, Qt::Key_F2);
            QWidget *cellEditor = f.view->indexWidget(index);
            QVERIFY(cellEditor);
            if (auto *list = qobject_cast<QComboBox *>(cellEditor)) {
                // Down from Scattergun is the next weapon: the choice is stored at once.
                QTest::keyClick(list, Qt::Key_Down);
                QCOMPARE(list->currentText(), value);
                break;
            }
            auto *boxes = qobject_cast<QListWidget *>(cellEditor);
            QCOMPARE(boxes->accessibleName(), "Items of " + target);
            // Every box is a press of Down further, the greyed ones too.
            for (int i = 0; i < value.toInt(); ++i)
                QTest::keyClick(boxes, Qt::Key_Down);
            QCOMPARE(boxes->currentItem()->text(), column);
            QTest::keyClick(boxes, Qt::Key_Space); // a greyed box stays as it is
            QCOMPARE(boxes->currentItem()->checkState(), writes ? Qt::Checked : Qt::Unchecked);
            QTest::keyClick(boxes, Qt::Key_Return);
            break;
        }
        case Action::FormThenMove:
            f.edit("fldSpeed")->setText(value);
            QVERIFY(f.editor->navigator()->moveNext());
            break;
        case Action::Select:
            f.view->setCurrentIndex(f.cell(target, 0));
            break;
        case Action::Add:
        case Action::Delete:
            f.click(action == Action::Add ? "AddClass" : "Command1");
            break;
        }
        QCoreApplication::processEvents();
        QCOMPARE(f.prompter.calls().size(), 0);
        QCOMPARE(f.peek.writes(), writes);

        f.agree();
        QCOMPARE(f.selectedName(), selected);
        if (action == Action::Slot)
            QCOMPARE(child<QComboBox>(f.editor.get(), "w2")->currentText(), value);
        if (action == Action::Flag) // Scout has the first two items
            QCOMPARE(f.ticked(), writes ? "111000" : "110000");
        // One history serves the form and the table: the table's keys take back
        // the last change of either, and both show it.
        const QString after = f.everything();
        for (int redo = 0; undo && redo < 2; ++redo) {
            QTest::keyClick(f.view, Qt::Key_Z,
                            Qt::ControlModifier | (redo ? Qt::ShiftModifier : Qt::NoModifier));
            QCOMPARE(f.everything(), redo ? after : before);
            f.agree();
        }
        QCOMPARE(f.prompter.calls().size(), 0);
    }

    // Sorting, by clicks on a column's header or by Sort > Sort By > its name,
    // keeps the selection, and a move in the form still selects its class.
    void sortingKeepsSelection()
    {
        Fixture f;
        f.open();
        QHeaderView *header = f.view->horizontalHeader();
        for (const auto &[column, clicks, byMenu, order] :
             {std::tuple{"class_num", 1, false, "Medic sniper Heavy Scout"}, // descending
              {"class_name", 1, false, "Heavy Medic Scout sniper"},          // in any case
              {"max_speed", 2, false, "Scout Medic sniper Heavy"},           // by value
              {"w2", 1, false, "Medic sniper Heavy Scout"},                  // by name
              {"items", 1, false, "Medic Heavy Scout sniper"},               // by names
              {"max_speed", 1, true, "Heavy sniper Medic Scout"},
              {"items", 2, true, "sniper Scout Heavy Medic"}}) {
            f.view->setCurrentIndex(f.cell("sniper", 1));
            const int at = QLatin1String(column) == "items" ? f.view->model()->columnCount() - 2
                                                            : Fixture::columnOf(column);
            f.view->scrollTo(f.view->model()->index(0, at));
            for (int i = 0; i < clicks; ++i) {
                if (byMenu)
                    child<QMenu>(f.table, "mnuSortBy")->actions().at(at)->trigger();
                else
                    QTest::mouseClick(
                        header->viewport(), Qt::LeftButton, {},
                        QPoint(header->sectionViewportPosition(at) + 4, header->height() / 2));
            }
            QCOMPARE(f.shown(1), QString(order));
            QCOMPARE(f.selectedName() + ' ' + f.edit("fldClassName")->text(), "sniper sniper");
            QVERIFY(f.editor->navigator()->moveNext());
            QCOMPARE(f.selectedName(), "Medic");
        }
    }

    void cellWrite_data()
    {
        const char *both = "class_name = 'Rover', max_speed = 410";
        addRows<CellWrite>({
            {"keep mine", both, 0, "Runner 410 0", "Runner 410", false, "Rover 410 0"},
            {"show stored", both, 1, "Rover 410 0", "Rover 410", false, "Rover 410 0"},
            {"cancel", both, 2, "Rover 410 0", "Scout 400", true, ""},
            // Another field: stored beside it without a question.
            {"another field", "max_speed = 410", -1, "Runner 410 0", "Runner 410", false,
             "Scout 410 0"},
            // A value the column cannot hold, left with Tab: told which class and field.
            {"refused", "max_speed = 400", -1, "Scout 400 0", "Scout 400", true, "", "max_armor",
             "40000", "Max Armor of class 'Scout': 40000"},
        });
    }

    // A cell stored by storeChecked: not over another program's change of the
    // same field without asking, and not at all when the column cannot hold it;
    // the user is then back in the cell with what they typed.
    void cellWrite()
    {
        QFETCH(CellWrite, row);
        const auto &[name, theirs, answer, stored, shown, editing, undone, column, typed, refusal] =
            row;
        Fixture f;
        f.open();
        f.peek.exec(QStringLiteral("UPDATE classdef SET %1 WHERE class_num = 1").arg(theirs));
        f.prompter.answerChoice(answer);
        const int at = Fixture::columnOf(column);
        f.typeInCell(f.cell("Scout", at), typed, refusal.isEmpty() ? Qt::Key_Return : Qt::Key_Tab);
        QCOMPARE(f.prompter.calls().size(), answer >= 0 || !refusal.isEmpty() ? 1 : 0);
        for (const ScriptedPrompter::Call &call : f.prompter.calls())
            QVERIFY2(call.text.contains(refusal.isEmpty() ? "Class Name: \"Scout\" -> \"Rover\""
                                                          : refusal) &&
                         !call.text.contains("Max Speed"),
                     qPrintable(call.text));
        const QString classSpeedArmor = "SELECT class_name || ' ' || max_speed || ' ' || max_armor "
                                        "FROM classdef WHERE class_num = 1";
        QCOMPARE(f.peek.scalar(classSpeedArmor), stored);
        const QStringList cells = shown.split(' ');
        QCOMPARE(f.cell(cells[0], Fixture::columnOf("max_speed")).data().toString(), cells[1]);
        const QModelIndex cell = f.cell(cells[0], at);
        QTRY_COMPARE(qobject_cast<QLineEdit *>(f.view->indexWidget(cell)) != nullptr, editing);
        if (editing)
            QCOMPARE(qobject_cast<QLineEdit *>(f.view->indexWidget(cell))->text(), typed);
        if (undone.isEmpty())
            return;
        QTest::keyClick(f.view, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(f.peek.scalar(classSpeedArmor), undone);
    }
};

QTEST_MAIN(tst_ClassTable)
#include "tst_classtable.moc"
