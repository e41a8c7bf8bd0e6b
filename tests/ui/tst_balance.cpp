#include "classeditor.h"
#include "ui/classes/balance.h"
#include "ui/classes/classtable.h"

#include <QBarSeries>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QImage>
#include <QSvgRenderer>
#include <QTableView>

using namespace tarn;
using namespace tarn::test;

namespace
{

struct Change {
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
        addRows<Change>({
            {"speed in the editor", false, "max_speed", "999"},
            {"cells in the table", true, "maxcells", "77"},
            {"a new largest armour in the table", true, "max_armor", "500"},
        });
    }

    void followsStoredValues()
    {
        QFETCH(Change, row);
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
};

QTEST_MAIN(tst_Balance)
#include "tst_balance.moc"
