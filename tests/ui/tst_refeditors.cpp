// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/datacontrol.h"
#include "platform/recorddialog.h"
#include "scriptedprompter.h"
#include "testsupport.h"
#include "ui/classes/frmclasses.h"
#include "ui/reference/refeditors.h"
#include "widgets.h"

#include <QLabel>

using namespace tarn;
using namespace tarn::test;
using schema::RefKind;

Q_DECLARE_METATYPE(RefKind)

namespace
{

const RefKind kAll[] = {RefKind::Weapon, RefKind::Grenade, RefKind::Item, RefKind::Special};
const RefKind kFlags[] = {RefKind::Item, RefKind::Special};

// A row for each kind, named "<table> <name>", for the tests the twins share.
template<typename... Values>
void rowPerKind(std::span<const RefKind> kinds, const char *name, Values... values)
{
    for (RefKind kind : kinds)
        ((QTest::newRow(qPrintable(QString::fromLatin1(schema::refTable(kind).table) + ' ' + name))
          << kind)
         << ... << values);
}

// What tells the editing windows apart in the behaviour they share: the labels
// of a name and a number field, a number the latter cannot hold, its range's end.
struct Window {
    const char *name, *nameLabel, *numberLabel, *refused, *bound;
};
const Window kWindows[] = {
    {"weapons", "Weapon Name", "Weapon ID", "32768", "32767."},
    {"grenades", "Grenade Name", "Grenade ID", "-32769", "32767."},
    {"items", "Items Name", "Item ID", "2147483648", "2147483647."},
    {"specials", "Special Name", "Special ID", "-2147483649", "2147483647."},
    {"classes", "Class Name", "Max Health", "40000", "32767."},
};
enum Step { Refused, Changed, Deleted, Undo, UndoAdd, UndoDel, UndoChanged, Gone, DelAll, Quiet };
const char *const kSteps[] = {
    "refused value", "changed meanwhile",   "deleted meanwhile",   "undo edit",  "undo add",
    "undo delete",   "undo, changed since", "undo, deleted since", "delete all", "unedited"};

// An editing window (0-3: a reference editor, of a RefKind; 4: the class
// editor) over rows of these ids (class numbers) named "Row <id>".
struct Fixture {
    explicit Fixture(int w, const QVariantList &ids = {1, 2, 4})
        : classes(w == 4), peek(classes ? dir.dataPath() : dir.refPath())
    {
        const schema::RefTable *t = classes ? nullptr : &schema::refTable(RefKind(w));
        table = classes ? QStringLiteral("classdef") : t->table;
        key = classes ? QStringLiteral("class_num") : t->idColumn;
        name = classes ? QStringLiteral("class_name") : t->nameColumn;
        peek.exec("DELETE FROM " + table);
        if (classes) {
            peek.exec("DELETE FROM package");
            peek.exec("INSERT INTO package VALUES ('P')");
        }
        for (const QVariant &id : ids)
            peek.exec(
                QStringLiteral("INSERT INTO %1 (%2, %3%4) VALUES (?, ?%5)")
                    .arg(table, key, name, classes ? ", package_name" : "", classes ? ", 'P'" : ""),
                {id, "Row " + id.toString()});
        peek.countWrites(table);
        AppState &state = dir.start();
        state.setCurrentPackage("P");
        window = classes ? std::make_unique<frmClasses>(state, prompter)
                         : makeRefEditor(RefKind(w), state, prompter);
        window->show(); // a hidden dialog closes without storing
    }
    QLineEdit *edit(const char *field) const { return window->findChild<QLineEdit *>(field); }
    QString text(const char *field) const { return edit(field)->text(); }
    DataControl *control() const { return window->findChild<DataControl *>(); }
    void click(const char *control) const { press(window.get(), control); }
    QLabel *warning() const { return window->findChild<QLabel *>("lblIdWarning"); }
    QString storedIds() const // in id order
    {
        return peek.joined(QStringLiteral("SELECT %1 FROM %2 ORDER BY %1").arg(key, table), " ");
    }
    QString stored(int id) const // the name of a row, empty when there is none
    {
        return peek
            .scalar(QStringLiteral("SELECT %1 FROM %2 WHERE %3 = ?").arg(name, table, key), {id})
            .toString();
    }

    bool classes;
    DataDir dir;
    Peek peek;
    QString table, key, name;
    ScriptedPrompter prompter;
    std::unique_ptr<RecordDialog> window;
};

} // namespace

class tst_RefEditors : public QObject
{
    Q_OBJECT

private slots:
    void everyWindow_data()
    {
        QTest::addColumn<int>("window");
        QTest::addColumn<int>("scenario");
        for (int w = 0; w < 5; ++w)
            for (int s = Refused; s <= Quiet; ++s)
                QTest::addRow("%s, %s", kWindows[w].name, kSteps[s]) << w << s;
    }

    void everyWindow()
    {
        QFETCH(int, window);
        QFETCH(int, scenario);
        const Window &w = kWindows[window];
        Fixture f(window);
        DataControl *c = f.control();
        QLineEdit *name = f.edit(f.classes ? "fldClassName" : "Text2");
        QLineEdit *number = f.edit(f.classes ? "fldHealth" : "Text1");
        const char *remove = f.classes ? "Command1" : "Command2";
        const QString row1 = QStringLiteral("WHERE %1 = 1").arg(f.key);
        const QList<QVariantMap> before = f.peek.rows("SELECT * FROM " + f.table + ' ' + row1);
        switch (scenario) {
        case Refused: // no write, no step: the user stays with the edit, told why each time
            retype(number, w.refused);
            QVERIFY(!c->moveNext());
            QVERIFY(!f.window->close());
            f.click("mnuUndo");
            QCOMPARE(f.prompter.messages().size(), 3);
            for (const char *fact : {w.numberLabel, w.refused, w.bound})
                QVERIFY2(f.prompter.lastMessage().contains(fact), fact);
            QCOMPARE(c->currentIndex(), 0);
            QCOMPARE(number->text(), w.refused);
            QCOMPARE(f.peek.writes(), 0);
            retype(number, "8"); // mended
            QVERIFY(c->moveNext());
            break;
        case Changed: // the same field: asked; kept, and an undo puts theirs back
            f.peek.exec(QStringLiteral("UPDATE %1 SET %2 = 'Theirs' ").arg(f.table, f.name) + row1);
            retype(name, "Mine");
            f.prompter.answerChoice(0);
            QVERIFY(c->moveNext());
            QCOMPARE(f.prompter.calls().size(), 1);
            QVERIFY(f.prompter.calls()[0].text.contains(w.nameLabel +
                                                        QString(": \"Row 1\" -> \"Theirs\"")));
            QCOMPARE(f.stored(1), "Mine");
            f.click("mnuUndo");
            QCOMPARE(f.stored(1), "Theirs");
            break;
        case Deleted: // stored again as a new row
            f.peek.exec(QStringLiteral("DELETE FROM %1 ").arg(f.table) + row1);
            retype(name, "Mine");
            f.prompter.answerChoice(0);
            QVERIFY(c->moveNext());
            QCOMPARE(f.prompter.calls()[0].choices.value(0), "Store As New Record");
            QCOMPARE(f.stored(1), "Mine");
            break;
        case Undo: // a pending edit is stored, then is the step taken back
            retype(name, "Mine");
            f.click("mnuUndo");
            QCOMPARE(f.stored(1) + ' ' + name->text(), "Row 1 Row 1");
            f.click("mnuRedo");
            QCOMPARE(f.stored(1) + ' ' + name->text(), "Mine Mine");
            break;
        case UndoAdd:
            f.click(f.classes ? "AddClass" : "Command1");
            if (!f.classes) { // a new reference row is stored by the next move
                retype(number, "8");
                retype(name, "New");
            }
            QVERIFY(c->moveFirst());
            QCOMPARE(f.peek.count(f.table), 4);
            f.click("mnuUndo");
            QCOMPARE(f.peek.count(f.table), 3);
            f.click("mnuRedo");
            QCOMPARE(f.peek.count(f.table), 4);
            break;
        case UndoDel: // back with every column as it was, NULLs too
            f.click(remove);
            QCOMPARE(f.peek.count(f.table), 2);
            f.click("mnuUndo");
            QCOMPARE(f.peek.rows("SELECT * FROM " + f.table + ' ' + row1), before);
            f.click("mnuRedo");
            QCOMPARE(f.peek.count(f.table), 2);
            break;
        case UndoChanged: // not over their change without a word
        case Gone:        // nothing to take back: the step leaves the history
            retype(name, "Mine");
            QVERIFY(c->moveNext());
            f.peek.exec((scenario == Gone
                             ? "DELETE FROM " + f.table
                             : QStringLiteral("UPDATE %1 SET %2 = 'Theirs'").arg(f.table, f.name)) +
                        ' ' + row1);
            f.prompter.answerChoice(0);
            f.click("mnuUndo");
            QCOMPARE(f.prompter.calls().size(), 1);
            if (scenario == Gone) {
                QCOMPARE(f.prompter.calls()[0].kind, ScriptedPrompter::Call::Message);
                QVERIFY(!c->canUndo());
                break;
            }
            QCOMPARE(f.prompter.calls()[0].choices, QStringList({"Undo Anyway", "Cancel"}));
            QVERIFY(f.prompter.calls()[0].text.contains(w.nameLabel +
                                                        QString(": \"Mine\" -> \"Theirs\"")));
            QCOMPARE(f.stored(1), "Row 1");
            f.click("mnuRedo"); // made again over what is stored now, without a question
            QCOMPARE(f.stored(1), "Mine");
            break;
        case DelAll: // the first row shown next (not the one before), then none
            QVERIFY(c->moveLast());
            f.click(remove);
            QCOMPARE(name->text(), "Row 1");
            f.click(remove);
            f.click(remove);
            QCOMPARE(f.peek.count(f.table), 0);
            QVERIFY(name->text().isEmpty() && !name->isEnabled() && !number->isEnabled());
            break;
        case Quiet: { // nothing asked or written; a deleted row passed over, a changed one shown
            f.peek.exec(QStringLiteral("UPDATE %1 SET %2 = 'Theirs' ").arg(f.table, f.name) + row1);
            f.peek.exec(QStringLiteral("DELETE FROM %1 WHERE %2 = 2").arg(f.table, f.key));
            const int theirs = f.peek.writes();
            QVERIFY(c->moveNext());
            QCOMPARE(name->text(), "Row 4");
            QVERIFY(c->moveFirst());
            QCOMPARE(name->text() + ' ' + QString::number(c->recordCount()), "Theirs 2");
            QCOMPARE(f.prompter.calls().size(), 0);
            QCOMPARE(f.peek.writes(), theirs);
            break;
        }
        }
        QCOMPARE(f.prompter.unexpectedCalls(), 0);
    }

    void laidOut_data()
    {
        QTest::addColumn<RefKind>("kind");
        rowPerKind(kAll, "");
    }

    void laidOut()
    {
        QFETCH(RefKind, kind);
        Fixture f{int(kind)};
        const QString tabOrder =
            kind <= RefKind::Grenade
                ? "Text1 Text2 Text3 Text4 Text5 Command1 Command2"
                : "Text1 Text2 Text5 Command1 Command2 fldBitNum btnCalc fldResult";
        QCOMPARE(tabChain(f.edit("Text1"), int(tabOrder.count(' ')) + 1), tabOrder);
        QList<QWidget *> shown;
        for (QWidget *w : f.window->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
            if (!w->isVisible())
                continue;
            for (QWidget *other : std::as_const(shown))
                QVERIFY2(!w->geometry().intersects(other->geometry()),
                         qPrintable(w->objectName() + " overlaps " + other->objectName()));
            shown << w;
            if (auto *label = qobject_cast<QLabel *>(w))
                QVERIFY2(label->width() >= label->sizeHint().width(), qPrintable(label->text()));
        }
    }

    // A new row is stored by the next move or the close once something was
    // typed, each field as typed; untyped it is dropped, and Delete drops it.
    void addRecord_data() { laidOut_data(); }

    void addRecord()
    {
        QFETCH(RefKind, kind);
        Fixture f{int(kind)};
        const QStringList values{"0", "New one", "12.75", "-0.5", "1"}; // Text1 to Text5
        const auto add = [&f, &values](bool typed) {
            QVERIFY(f.control()->moveLast());
            f.click("Command1");
            for (int i = 0; typed && i < values.size(); ++i)
                if (QLineEdit *edit = f.edit(qPrintable(QStringLiteral("Text%1").arg(i + 1))))
                    QTest::keyClicks(edit, values[i]);
        };
        add(false);
        QVERIFY(f.control()->moveFirst());
        add(true);
        f.click("Command2"); // deletes nothing
        QCOMPARE(f.storedIds() + ' ' + f.text("Text1") + ' ' +
                     QString::number(f.peek.count(f.table)),
                 "1 2 4 1 3");
        add(true);
        QVERIFY(f.control()->moveFirst());
        QCOMPARE(f.storedIds() + ' ' + f.text("Text1"), "0 1 2 4 0");
        const auto &columns = schema::refTable(kind).columns;
        const QVariantMap row =
            f.peek.rows("SELECT * FROM " + f.table + " WHERE " + f.key + " = 0")[0];
        for (size_t i = 1; i < columns.size(); ++i) // fractions kept as typed
            QCOMPARE(row.value(columns[i].name).toString(),
                     values[i + 1 == columns.size() ? 4 : i]);
        add(true);
        QVERIFY(f.window->close());
        QCOMPARE(f.storedIds(), "0 0 1 2 4");
    }

    // The bit number and the warning of the row shown; a new row (an empty id)
    // keeps the bit number and has no warning.
    void bitAndWarning_data()
    {
        QTest::addColumn<RefKind>("kind");
        QTest::addColumn<QVariantList>("ids");
        QTest::addColumn<int>("row");
        QTest::addColumn<QString>("bit");  // empty: none shown; -: not checked
        QTest::addColumn<QString>("says"); // empty: no warning
        const auto both = [](const char *name, const QVariantList &ids, int row, const char *bit,
                             const char *says) {
            rowPerKind(kFlags, name, ids, row, QString(bit), QString(says));
        };
        both("powers of two", {1, 2, 4, 8}, 3, "3", "");
        both("gap", {1, 2, 8}, 2, "3", "3 in id order, so its id should be 4");
        both("not a power", {1, 2, 3}, 2, "2", "should be 4");
        both("no id", {QVariant(), 1}, 0, "", "should be 1");
        both("shared", {1, 2, 2}, 2, "1", "has this id");
        both("zero", {0}, 0, "0", "should be 1");
        both("negative", {-4}, 0, "", "should be 1");
        both("5", {1, 2, 5}, 2, "2", "should be 4");
        both("6", {1, 2, 6}, 2, "3", "should be 4");
        both("12", {1, 2, 4, 12}, 3, "4", "should be 8");
        // Only as many rows as a class has boxes can be set on a class.
        QVariantList powers;
        for (int k = 0; k < 32; ++k)
            powers << (qint64(1) << k);
        QTest::newRow("item 8 of 8 boxes") << RefKind::Item << powers << 7 << "7" << QString();
        QTest::newRow("item 9") << RefKind::Item << powers << 8 << "8" << QString("first 8 items");
        QTest::newRow("special 31 of 31") << RefKind::Special << powers << 30 << "30" << QString();
        QTest::newRow("special 32")
            << RefKind::Special << powers << 31 << "-" << QString("first 31 special abilities");
    }

    void bitAndWarning()
    {
        QFETCH(RefKind, kind);
        QFETCH(QVariantList, ids);
        QFETCH(int, row);
        QFETCH(QString, bit);
        QFETCH(QString, says);
        Fixture f(int(kind), ids);
        QVERIFY(f.control()->moveTo(row));
        if (bit != "-")
            QCOMPARE(f.text("fldCalcBit"), bit);
        bit = f.text("fldCalcBit");
        QCOMPARE(f.warning()->isVisible(), !says.isEmpty());
        QVERIFY(f.warning()->text().contains(says));
        f.click("Command1");
        QCOMPARE(f.text("fldCalcBit"), bit);
        QVERIFY(!f.warning()->isVisible());
        if (ids.size() != 4 || !says.isEmpty())
            return;
        // It follows the stored ids: one shared shows when stored.
        QVERIFY(f.control()->moveLast());
        f.edit("Text1")->setText("1");
        QVERIFY(f.control()->moveFirst());
        QVERIFY(f.warning()->text().contains("has this id"));
    }

    // One kind: the calculator does not depend on the table. A number it
    // refuses leaves the last answer and says why.
    void calculator()
    {
        Fixture f{int(RefKind::Item)};
        int refused = 0;
        for (const char *pair :
             {"0:1", "30:1073741824", " 10 :1024", "2.5:4", "3.5:16", "31:", "-1:", ":", "two:"}) {
            const QString typed = QString(pair).section(':', 0, 0);
            const QString answer = QString(pair).section(':', 1);
            f.edit("fldBitNum")->setText("1");
            f.click("btnCalc");
            f.edit("fldBitNum")->setText(typed);
            f.click("btnCalc");
            QCOMPARE(f.text("fldResult"), answer.isEmpty() ? "2" : answer);
            refused += answer.isEmpty();
            QCOMPARE(f.prompter.messages(),
                     QStringList(refused, "Number must be between 0 and 30"));
        }
    }
};

QTEST_MAIN(tst_RefEditors)
#include "tst_refeditors.moc"