#include "platform/datacontrol.h"
#include "scriptedprompter.h"
#include "testsupport.h"
#include "ui/classes/classtable.h"
#include "ui/classes/frmclasses.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QTest>

using namespace tarn;
using namespace tarn::test;

namespace
{

const QString kPackage = QStringLiteral("Cfg 'A'");

// Four classes; the names differ in case so that sorting by name shows
// whether case counts.
struct Fixture {
    Fixture()
    {
        peek.exec("DELETE FROM classdef");
        peek.exec("DELETE FROM package");
        peek.exec("INSERT INTO package VALUES (?)", {kPackage});
        // number, name, speed, weapon slot 2, the flag that is ticked
        const struct {
            int number;
            const char *name;
            int speed;
            QVariant w2;
            const char *flag;
        } classes[] = {{1, "Scout", 400, 2, "i2"},
                       {2, "Heavy", 200, 4, "i3"},
                       {3, "sniper", 300, 5, "i4"},
                       {4, "Medic", 350, QVariant(), "s3"}};
        for (const auto &c : classes)
            peek.exec(
                QStringLiteral("INSERT INTO classdef (package_name, class_num, class_name, "
                               "max_speed, w2, g1, i1, %1) VALUES (?, ?, ?, ?, ?, 1, ?, 1)")
                    .arg(QLatin1String(c.flag)),
                {kPackage, c.number, QLatin1String(c.name), c.speed, c.w2, c.number == 1 ? 1 : 0});
    }

    // Opens the class editor and, with its shortcut, the table; the class rows
    // updated from here on are counted.
    void open()
    {
        peek.countWrites("classdef");
        AppState &state = dir.start();
        state.setCurrentPackage(kPackage);
        editor = std::make_unique<frmClasses>(state, prompter);
        editor->show();
        QVERIFY(QTest::qWaitForWindowExposed(editor.get()));
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
    QString formText(const char *field) const
    {
        return child<QLineEdit>(editor.get(), field)->text();
    }
    void typeInForm(const char *field, const QString &text) const
    {
        child<QLineEdit>(editor.get(), field)->setText(text);
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
    QString stored(const char *column, const QString &name) const
    {
        return peek
            .scalar(QStringLiteral("SELECT %1 FROM classdef WHERE class_name = ?")
                        .arg(QLatin1String(column)),
                    {name})
            .toString();
    }

    DataDir dir;
    Peek peek{dir.dataPath()};
    ScriptedPrompter prompter;
    std::unique_ptr<frmClasses> editor;
    frmClassTable *table = nullptr;
    QTableView *view = nullptr;
};

enum class Action {
    TableCell,
    TableSlot,
    TableFlag,
    FormFieldThenMove,
    SelectInTable,
    AddClass,
    DeleteClass
};

} // namespace

Q_DECLARE_METATYPE(Action)

class tst_ClassTable : public QObject
{
    Q_OBJECT

private slots:
    void showsEveryClass();
    void tableAndFormAgree_data();
    void tableAndFormAgree();
    void sortingKeepsSelection_data();
    void sortingKeepsSelection();
    void refusedEditStoresNothing_data();
    void refusedEditStoresNothing();
    void cellChangedMeanwhile_data();
    void cellChangedMeanwhile();
    void undoRedoFromTheTable_data();
    void undoRedoFromTheTable();
    void filter_data();
    void filter();
};

void tst_ClassTable::showsEveryClass()
{
    Fixture f;
    f.open();
    QCOMPARE(f.shown(1), "Scout Heavy sniper Medic");
    const int items = f.view->model()->columnCount() - 2;
    // Slots and flags by name, as the class editor shows them.
    QCOMPARE(f.shown(Fixture::columnOf("w2")),
             "Scattergun Rocket Tube Rail Lance (5, not offered) (no value)");
    QCOMPARE(f.shown(items), "Jetpack, Medikit Armor Patch Night Goggles ");
    QCOMPARE(f.shown(items + 1), "   Regeneration");
    QCOMPARE(f.view->model()->headerData(Fixture::columnOf("w2"), Qt::Horizontal).toString(),
             "Weapon slot 2");
    QCOMPARE(f.selectedName(), "Scout");
    QVERIFY(!f.view->accessibleName().isEmpty());
    QVERIFY(!child<QLineEdit>(f.table, "fldFilter")->accessibleName().isEmpty());

    const QPointer<frmClassTable> table = f.table;
    QVERIFY(f.editor->close());
    QTRY_VERIFY(!table);
}

void tst_ClassTable::tableAndFormAgree_data()
{
    QTest::addColumn<Action>("action");
    QTest::addColumn<QString>("target");   // class name
    QTest::addColumn<QString>("column");   // stored column
    QTest::addColumn<QString>("value");    // typed, or the weapon chosen
    QTest::addColumn<QString>("pending");  // the form's Model Name, typed and not stored
    QTest::addColumn<QString>("selected"); // the class shown afterwards
    QTest::addColumn<int>("writes");

    QTest::newRow("cell of the class shown") << Action::TableCell << "Scout"
                                             << "max_speed"
                                             << "450"
                                             << ""
                                             << "Scout" << 1;
    // The form's own pending edit is stored first, as a move would.
    QTest::newRow("cell, form edit pending") << Action::TableCell << "Scout"
                                             << "max_speed"
                                             << "450"
                                             << "female"
                                             << "Scout" << 2;
    QTest::newRow("class name") << Action::TableCell << "Scout"
                                << "class_name"
                                << "Runner"
                                << ""
                                << "Runner" << 1;
    QTest::newRow("weapon slot") << Action::TableSlot << "Scout"
                                 << "w2"
                                 << "Nail Driver"
                                 << ""
                                 << "Scout" << 1;
    // The boxes in the cell are the class editor's: Armor Patch is the third item.
    QTest::newRow("item ticked") << Action::TableFlag << "Scout"
                                 << "Armor Patch"
                                 << "2"
                                 << ""
                                 << "Scout" << 1;
    // Detpack is not enabled: greyed in the editor, it cannot be ticked here either.
    QTest::newRow("item not enabled") << Action::TableFlag << "Scout"
                                      << "Detpack"
                                      << "4"
                                      << ""
                                      << "Scout" << 0;
    QTest::newRow("form field, then a move") << Action::FormFieldThenMove << "Scout"
                                             << "max_speed"
                                             << "999"
                                             << "female"
                                             << "Heavy" << 1;
    QTest::newRow("row selected in the table") << Action::SelectInTable << "Medic"
                                               << ""
                                               << ""
                                               << ""
                                               << "Medic" << 0;
    QTest::newRow("add class") << Action::AddClass << ""
                               << ""
                               << ""
                               << ""
                               << "Class # 5" << 0;
    QTest::newRow("delete class, pending edit dropped") << Action::DeleteClass << "Scout"
                                                        << ""
                                                        << ""
                                                        << "female"
                                                        << "Heavy" << 0;
}

void tst_ClassTable::tableAndFormAgree()
{
    QFETCH(Action, action);
    QFETCH(QString, target);
    QFETCH(QString, column);
    QFETCH(QString, value);
    QFETCH(QString, pending);
    QFETCH(QString, selected);
    QFETCH(int, writes);
    Fixture f;
    f.open();
    if (!pending.isEmpty())
        f.typeInForm("fldModel", pending);
    const int at = Fixture::columnOf(qPrintable(column));
    const QString items = f.peek
                              .scalar("SELECT group_concat(i1 || i2 || i3 || i4 || i5 || i6) "
                                      "FROM classdef WHERE class_name = ?",
                                      {target})
                              .toString();
    switch (action) {
    case Action::TableCell:
        f.typeInCell(f.cell(target, at), value);
        break;
    case Action::TableSlot: {
        const QModelIndex index = f.cell(target, at);
        f.view->setCurrentIndex(index);
        QTest::keyClick(f.view, Qt::Key_F2);
        auto *list = qobject_cast<QComboBox *>(f.view->indexWidget(index));
        QVERIFY(list);
        // Down from Scattergun is the next weapon: the choice is stored at once.
        QTest::keyClick(list, Qt::Key_Down);
        QCOMPARE(list->currentText(), value);
        break;
    }
    case Action::TableFlag: {
        const QModelIndex index = f.cell(target, f.view->model()->columnCount() - 2);
        f.view->setCurrentIndex(index);
        QTest::keyClick(f.view, Qt::Key_F2);
        auto *boxes = qobject_cast<QListWidget *>(f.view->indexWidget(index));
        QVERIFY(boxes);
        boxes->setCurrentRow(value.toInt());
        QCOMPARE(boxes->currentItem()->text(), column);
        QTest::keyClick(boxes, Qt::Key_Space);
        QTest::keyClick(boxes, Qt::Key_Return);
        break;
    }
    case Action::FormFieldThenMove:
        f.typeInForm("fldSpeed", value);
        QVERIFY(f.editor->navigator()->moveNext());
        break;
    case Action::SelectInTable:
        f.view->setCurrentIndex(f.cell(target, 0));
        break;
    case Action::AddClass:
        child<QPushButton>(f.editor.get(), "AddClass")->click();
        break;
    case Action::DeleteClass:
        child<QPushButton>(f.editor.get(), "Command1")->click();
        break;
    }
    QCoreApplication::processEvents();
    QCOMPARE(f.prompter.calls().size(), 0);
    QCOMPARE(f.peek.writes(), writes);

    // The table shows every class as stored, and its selection is the class shown.
    const QList<QVariantMap> rows = f.peek.rows(
        "SELECT class_num, class_name, model_name, max_speed, w2 FROM classdef ORDER BY class_num");
    QCOMPARE(f.view->model()->rowCount(), rows.size());
    for (const QVariantMap &row : rows) {
        const QString name = row["class_name"].toString();
        for (const char *c : {"class_num", "model_name", "max_speed"})
            QCOMPARE(f.cell(name, Fixture::columnOf(c)).data().toString(), row[c].toString());
        QCOMPARE(f.cell(name, Fixture::columnOf("w2")).data(Qt::EditRole), row["w2"]);
    }
    QCOMPARE(f.selectedName(), selected);
    QCOMPARE(f.formText("fldClassName"), selected);
    for (auto [field, c] : {std::pair{"fldModel", "model_name"}, {"fldSpeed", "max_speed"}})
        QCOMPARE(f.formText(field), f.stored(c, selected));
    if (action == Action::TableSlot)
        QCOMPARE(child<QComboBox>(f.editor.get(), "w2")->currentText(), value);
    // The item boxes of the class shown are the flags stored.
    QString ticked;
    for (int k = 0; k < 6; ++k)
        ticked += child<QCheckBox>(f.editor.get(), qPrintable(QStringLiteral("Check1(%1)").arg(k)))
                          ->isChecked()
                      ? '1'
                      : '0';
    QCOMPARE(ticked, f.peek
                         .scalar("SELECT i1 || i2 || i3 || i4 || i5 || i6 FROM classdef "
                                 "WHERE class_name = ?",
                                 {selected})
                         .toString());
    if (action == Action::TableFlag) {
        QString expected = items;
        if (writes)
            expected[value.toInt()] = '1';
        QCOMPARE(ticked, expected);
    }
}

void tst_ClassTable::sortingKeepsSelection_data()
{
    QTest::addColumn<QString>("column"); // stored column, or "items"
    QTest::addColumn<int>("clicks");
    QTest::addColumn<QString>("order");
    // "header": clicks on it; "column": Sort > Sort by This Column in a cell of
    // it; "by": Sort > Sort By > its name.
    QTest::addColumn<QString>("how");
    QTest::newRow("name, without regard to case") << "class_name" << 1 << "Heavy Medic Scout sniper"
                                                  << "header";
    QTest::newRow("speed, by value, descending") << "max_speed" << 2 << "Scout Medic sniper Heavy"
                                                 << "header";
    QTest::newRow("weapon slot, by name") << "w2" << 1 << "Medic sniper Heavy Scout"
                                          << "header";
    QTest::newRow("items, by name") << "items" << 1 << "Medic Heavy Scout sniper"
                                    << "header";
    QTest::newRow("class number, descending") << "class_num" << 1 << "Medic sniper Heavy Scout"
                                              << "header";
    QTest::newRow("menu, this column: speed, descending")
        << "max_speed" << 2 << "Scout Medic sniper Heavy"
        << "column";
    QTest::newRow("menu, this column: class number, descending")
        << "class_num" << 1 << "Medic sniper Heavy Scout"
        << "column";
    QTest::newRow("menu, by name: speed") << "max_speed" << 1 << "Heavy sniper Medic Scout"
                                          << "by";
    QTest::newRow("menu, by name: items, descending") << "items" << 2 << "sniper Scout Heavy Medic"
                                                      << "by";
}

void tst_ClassTable::sortingKeepsSelection()
{
    QFETCH(QString, column);
    QFETCH(int, clicks);
    QFETCH(QString, order);
    QFETCH(QString, how);
    Fixture f;
    f.open();
    f.view->setCurrentIndex(f.cell("sniper", 1));
    QHeaderView *header = f.view->horizontalHeader();
    const int at = column == "items" ? f.view->model()->columnCount() - 2
                                     : Fixture::columnOf(qPrintable(column));
    f.view->scrollTo(f.view->model()->index(0, at));
    if (how == "column")
        f.view->setCurrentIndex(f.cell("sniper", at));
    for (int i = 0; i < clicks; ++i) {
        if (how == "column")
            child<QAction>(f.table, "mnuSortByColumn")->trigger();
        else if (how == "by") {
            QAction *byName = child<QMenu>(f.table, "mnuSortBy")->actions().at(at);
            QCOMPARE(byName->text(), f.view->model()->headerData(at, Qt::Horizontal).toString());
            byName->trigger();
        } else
            QTest::mouseClick(
                header->viewport(), Qt::LeftButton, {},
                QPoint(header->sectionViewportPosition(at) + 4, header->height() / 2));
    }
    QCOMPARE(f.shown(1), order);
    QCOMPARE(f.selectedName(), "sniper");
    QCOMPARE(f.formText("fldClassName"), "sniper");
    // A move in the form still selects its class in the sorted table.
    QVERIFY(f.editor->navigator()->moveNext());
    QCOMPARE(f.selectedName(), "Medic");
}

void tst_ClassTable::refusedEditStoresNothing_data()
{
    QTest::addColumn<QString>("column");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("leave");          // the key that leaves the cell
    QTest::addColumn<QString>("formHealth"); // the form's pending edit
    QTest::addColumn<QString>("message");
    QTest::newRow("letters") << "max_speed"
                             << "fast" << int(Qt::Key_Return) << ""
                             << "Max Speed of class 'Scout': 'fast' is not a whole number.";
    QTest::newRow("beyond 16 bits, left with Tab")
        << "max_armor"
        << "40000" << int(Qt::Key_Tab) << ""
        << "Max Armor of class 'Scout': 40000 is out of range; it must lie between -32768 and "
           "32767.";
    QTest::newRow("fraction in the class number")
        << "class_num"
        << "1.5" << int(Qt::Key_Return) << ""
        << "Class Num of class 'Scout': '1.5' is not a whole number.";
    QTest::newRow("beyond any number")
        << "maxbullets"
        << "1e999" << int(Qt::Key_Return) << ""
        << "Bullets (Ammo Limits) of class 'Scout': 1e999 is out of range.";
    // The form's own edit of the class is stored first; its refusal stops the cell.
    QTest::newRow("form edit refused") << "max_speed"
                                       << "450" << int(Qt::Key_Return) << "xyz"
                                       << "Max Health: 'xyz' is not a whole number.";
}

void tst_ClassTable::refusedEditStoresNothing()
{
    QFETCH(QString, column);
    QFETCH(QString, typed);
    QFETCH(int, leave);
    QFETCH(QString, formHealth);
    QFETCH(QString, message);
    Fixture f;
    f.open();
    if (!formHealth.isEmpty())
        f.typeInForm("fldHealth", formHealth);
    const QModelIndex index = f.cell("Scout", Fixture::columnOf(qPrintable(column)));
    const QString before = index.data().toString();
    f.typeInCell(index, typed, Qt::Key(leave));
    QCOMPARE(f.prompter.messages(), QStringList{message});
    QCOMPARE(f.peek.writes(), 0);
    QCOMPARE(index.data().toString(), before);
    // The user is back on the cell with what they typed.
    QTRY_VERIFY(qobject_cast<QLineEdit *>(f.view->indexWidget(index)));
    QCOMPARE(f.view->currentIndex(), index);
    QCOMPARE(qobject_cast<QLineEdit *>(f.view->indexWidget(index))->text(), typed);
    QCOMPARE(f.formText("fldClassName"), "Scout");
    QCOMPARE(f.formText("fldHealth"), formHealth.isEmpty() ? "0" : formHealth);
}

void tst_ClassTable::cellChangedMeanwhile_data()
{
    QTest::addColumn<int>("answer");     // Keep My Changes, Show Stored Values, Cancel
    QTest::addColumn<QString>("stored"); // class_name and max_speed afterwards
    QTest::addColumn<QString>("shown");  // the same in the table
    QTest::addColumn<bool>("editing");   // the user is back in the cell
    QTest::newRow("keep mine") << 0 << "Runner 410"
                               << "Runner 410" << false;
    QTest::newRow("show stored") << 1 << "Scout 410"
                                 << "Scout 410" << false;
    QTest::newRow("cancel") << 2 << "Scout 410"
                            << "Scout 400" << true;
}

// Another program changes a class the table shows; a cell edit of that class
// is not stored over it without asking.
void tst_ClassTable::cellChangedMeanwhile()
{
    QFETCH(int, answer);
    QFETCH(QString, stored);
    QFETCH(QString, shown);
    QFETCH(bool, editing);
    Fixture f;
    f.open();
    f.peek.exec("UPDATE classdef SET max_speed = 410 WHERE class_num = 1");
    f.prompter.answerChoice(answer);
    const QModelIndex index = f.cell("Scout", Fixture::columnOf("class_name"));
    f.typeInCell(index, "Runner");
    QCOMPARE(f.prompter.calls().size(), 1);
    QVERIFY2(f.prompter.calls()[0].text.contains("Max Speed: 400 -> 410"),
             qPrintable(f.prompter.calls()[0].text));
    QCOMPARE(f.peek.scalar("SELECT class_name || ' ' || max_speed FROM classdef "
                           "WHERE class_num = 1"),
             stored);
    const QStringList cells = shown.split(' ');
    QCOMPARE(f.cell(cells[0], Fixture::columnOf("max_speed")).data().toString(), cells[1]);
    QTRY_COMPARE(qobject_cast<QLineEdit *>(f.view->indexWidget(f.cell(cells[0], 1))) != nullptr,
                 editing);
}

void tst_ClassTable::undoRedoFromTheTable_data()
{
    QTest::addColumn<bool>("deleteClass"); // else a cell of the table
    QTest::newRow("cell") << false;
    QTest::newRow("class deleted in the form") << true;
}

// One history serves the form and the table: Ctrl+Z in the table takes back
// the last change of either, and both show it.
void tst_ClassTable::undoRedoFromTheTable()
{
    QFETCH(bool, deleteClass);
    Fixture f;
    f.open();
    const QString everything = "SELECT group_concat(class_num || ' ' || class_name || ' ' || "
                               "max_speed, ', ') FROM (SELECT * FROM classdef ORDER BY class_num)";
    const QString before = f.peek.scalar(everything).toString();
    if (deleteClass)
        child<QPushButton>(f.editor.get(), "Command1")->click();
    else
        f.typeInCell(f.cell("Scout", Fixture::columnOf("max_speed")), "450");
    const QString after = f.peek.scalar(everything).toString();
    QVERIFY(after != before);
    for (auto [modifiers, expected] :
         {std::pair{Qt::KeyboardModifiers(Qt::ControlModifier), before},
          std::pair{Qt::ControlModifier | Qt::ShiftModifier, after}}) {
        QTest::keyClick(f.view, Qt::Key_Z, modifiers);
        QCOMPARE(f.peek.scalar(everything).toString(), expected);
        QStringList rows;
        for (int row = 0; row < f.view->model()->rowCount(); ++row) {
            QStringList cells;
            for (int column : {0, 1, Fixture::columnOf("max_speed")})
                cells << f.view->model()->index(row, column).data().toString();
            rows << cells.join(' ');
        }
        rows.sort();
        QStringList stored = expected.split(", ");
        stored.sort();
        QCOMPARE(rows, stored);
        QCOMPARE(f.selectedName(), f.formText("fldClassName"));
    }
    QCOMPARE(f.prompter.calls().size(), 0);
}

void tst_ClassTable::filter_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("selected");
    QTest::newRow("any case") << "S"
                              << "Scout sniper"
                              << "Scout";
    QTest::newRow("inside a name") << "niP"
                                   << "sniper"
                                   << "(0 selected)";
    QTest::newRow("none") << "zz"
                          << ""
                          << "(0 selected)";
}

void tst_ClassTable::filter()
{
    QFETCH(QString, typed);
    QFETCH(QString, shown);
    QFETCH(QString, selected);
    Fixture f;
    f.open();
    auto *filter = child<QLineEdit>(f.table, "fldFilter");
    QTest::keyClicks(filter, typed);
    QCOMPARE(f.shown(1), shown);
    QCOMPARE(f.selectedName(), selected);
    QTest::keyClick(filter, Qt::Key_Escape);
    QCOMPARE(filter->text(), "");
    QVERIFY(f.table->isVisible());
    QCOMPARE(f.shown(1), "Scout Heavy sniper Medic");
    QCOMPARE(f.selectedName(), "Scout");
}

QTEST_MAIN(tst_ClassTable)
#include "tst_classtable.moc"
