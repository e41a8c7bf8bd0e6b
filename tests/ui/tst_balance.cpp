// SPDX-License-Identifier: GPL-3.0-or-later
#include "classeditor.h"
#include "core/sheet.h"
#include "ui/classes/balance.h"
#include "ui/classes/classtable.h"

#include <QAction>
#include <QApplication>
#include <QBarSeries>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QImage>
#include <QSvgRenderer>
#include <QTableView>
#include <QTableWidget>
#include <QTimer>

using namespace tarn;
using namespace tarn::test;

namespace
{

struct Answer {
    const char *name;
    bool ok;        // else Cancel
    bool meanwhile; // another user changes Scout's Max Speed before the undo
};

struct Edit {
    const char *name;
    bool inTable; // else in the class editor
    const char *column;
    QString value;
};

// Every bar and every cell of the table against what is stored.
void compareWithStored(const frmBalance &balance, const Peek &peek)
{
    const QList<QAbstractSeries *> series =
        balance.findChild<QChartView *>("chartClasses")->chart()->series();
    QCOMPARE(series.size(), 1);
    const QList<QBarSet *> sets = static_cast<QBarSeries *>(series[0])->barSets();
    const QStringList columns = balance.ticked();
    QCOMPARE(sets.size(), columns.size());
    const QTableView *table = balance.findChild<QTableView *>("tblBalance");
    for (qsizetype f = 0; f < columns.size(); ++f) {
        const QList<QVariantMap> stored = peek.rows(
            QStringLiteral("SELECT %1 AS v FROM classdef ORDER BY class_num").arg(columns[f]));
        double largest = 0;
        for (const QVariantMap &row : stored)
            largest = std::max(largest, row["v"].toDouble());
        const int column = ClassTableModel::columnOf(columns[f]);
        QVERIFY(!table->isColumnHidden(column));
        QCOMPARE(sets[f]->count(), stored.size());
        for (int r = 0; r < stored.size(); ++r) {
            const double value = stored[r]["v"].toDouble();
            QCOMPARE(balance.bars()[size_t(f)].values[size_t(r)], value);
            QCOMPARE(sets[f]->at(r), largest > 0 ? 100 * value / largest : 0.0); // none: no bar
            QCOMPARE(table->model()->index(r, column).data().toDouble(), value);
        }
    }
}

} // namespace

class tst_Balance : public QObject
{
    Q_OBJECT

private slots:
    void followsStoredValues_data()
    {
        addRows<Edit>({
            {"speed in the editor", false, "max_speed", "999"},
            {"cells in the table", true, "maxcells", "77"},
            {"a new largest armour in the table", true, "max_armor", "500"},
        });
    }

    void followsStoredValues()
    {
        QFETCH(Edit, row);
        ClassEditor e(true);
        frmClasses &editor = e.open();
        frmBalance *balance = editor.mnuBalance_Click();
        QVERIFY(balance);
        for (const QString &column : frmBalance::fields())
            child<QCheckBox>(balance, qPrintable("chk_" + column))->setChecked(true);
        compareWithStored(*balance, e.peek);

        if (row.inTable) {
            ClassTableModel *model = editor.mnuClassTable_Click()->model();
            QVERIFY(model->setData(model->index(0, ClassTableModel::columnOf(row.column)),
                                   row.value, Qt::EditRole));
        } else {
            e.edit("fldSpeed")->setText(row.value);
            QVERIFY(e.nav()->writeBack());
        }
        QCOMPARE(e.stored({row.column}, 1), row.value);
        QTest::qWait(1); // the redraw waits for the event loop
        compareWithStored(*balance, e.peek);

        // Unticked, a field leaves the chart and the table.
        balance->setTicked(row.column, false);
        QVERIFY(!balance->ticked().contains(row.column));
        QVERIFY(balance->findChild<QTableView *>("tblBalance")
                    ->isColumnHidden(ClassTableModel::columnOf(row.column)));
    }

    void savesChart()
    {
        ClassEditor e(true);
        frmBalance *balance = e.open().mnuBalance_Click();
        const QString png = e.dir.file("chart.png"), svg = e.dir.file("chart.svg");
        QVERIFY(balance->saveChart(png));
        QVERIFY(balance->saveChart(svg));
        QVERIFY(!QImage(png).isNull());
        QVERIFY(QSvgRenderer(svg).isValid());
        // A folder that is not there: told, nothing written.
        QVERIFY(!balance->saveChart(e.dir.file("none/chart.png")));
        QCOMPARE(e.prompter.messages().size(), 1);
    }
    void applySpreadsheet_data()
    {
        addRows<Answer>(
            {{"OK", true, false}, {"Cancel", false, false}, {"changed meanwhile", true, true}});
    }

    // File > Apply Spreadsheet: the changes listed, stored on OK, one undo step.
    void applySpreadsheet()
    {
        QFETCH(Answer, row);
        ClassEditor e(true);
        frmClasses &editor = e.open();
        SheetMark mark;
        const Result<RefNames> names = RefNames::read(e.dir.state().ref());
        QVERIFY(names);
        QVERIFY(readStoredClasses(e.dir.state(), e.package, *names, [&](const StoredRow &stored) {
            mark.add(stored);
            return Status::success();
        }));
        const QString path = e.dir.file("sheet.csv");
        writeFile(path,
                  ("class_num;max_speed;class_name\r\n1;450;Scout\r\n3;10;Medic\r\n# tarn mark " +
                   mark.text() + "\r\n")
                      .toUtf8());
        e.prompter.answerFile(path);
        int listed = 0;
        QTimer::singleShot(0, [&] {
            auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            listed = child<QTableWidget>(dialog, "tblChanges")->rowCount();
            row.ok ? dialog->accept() : dialog->reject();
        });
        child<QAction>(&editor, "mnuApplySpreadsheet")->trigger();
        QCOMPARE(listed, 2); // Max Speed of Scout, the new Medic
        const QString before = "400 2";
        const QString after = row.ok ? "450 3" : before;
        auto stored = [&] {
            return e.stored({"max_speed"}, 1) + ' ' +
                   e.peek.scalar("SELECT count(*) FROM classdef").toString();
        };
        QCOMPARE(stored(), after);
        if (!row.ok)
            return;
        if (row.meanwhile) {
            e.peek.exec("UPDATE classdef SET max_speed = 470 WHERE class_num = 1");
            QVERIFY(!e.nav()->undo()); // refused whole: the Medic stays too
            QCOMPARE(stored(), "470 3");
            QVERIFY(e.prompter.lastMessage().contains("Max Speed"));
            QVERIFY(e.prompter.lastMessage().contains("Scout"));
            return;
        }
        QVERIFY(e.nav()->undo());
        QCOMPARE(stored(), before);
        QVERIFY(!e.nav()->undo()); // one step took all of it back
        QVERIFY(e.nav()->redo());
        QCOMPARE(stored(), after);
    }
};

QTEST_MAIN(tst_Balance)
#include "tst_balance.moc"
