// SPDX-License-Identifier: GPL-3.0-or-later
// Times the class table on a large configuration, offscreen: the table opened
// from the class editor (every class read and the first page painted), its
// rows read alone, a page scrolled and painted, a sort by a column and a
// keystroke in the filter. Prints medians of repeated runs in milliseconds.
//   bench_table DATA_DIR CONFIGURATION [RUNS]

#include "benchsupport.h"
#include "core/appstate.h"
#include "core/startup.h"
#include "scriptedprompter.h"
#include "ui/classes/classrefs.h"
#include "ui/classes/classtable.h"
#include "ui/classes/frmclasses.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QLineEdit>
#include <QScrollBar>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace tarn;
using namespace tarn::bench;

namespace
{

double percentile99(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() * 99 / 100];
}

// Paints the table as it stands now.
void paint(QTableView *view)
{
    view->viewport()->repaint();
    QCoreApplication::processEvents();
}

} // namespace

int main(int argc, char *argv[])
{
    qInstallMessageHandler(quietOffscreen);
    QApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench_table DATA_DIR CONFIGURATION [RUNS]\n");
        return 2;
    }
    const QString configuration = QString::fromLocal8Bit(argv[2]);
    const int runs = argc > 3 ? std::max(1, atoi(argv[3])) : 7;
    AppState state(QString::fromLocal8Bit(argv[1]));
    if (StartupResult started = startUp(state); !started.status) {
        std::fprintf(stderr, "%s\n", qPrintable(started.status.message()));
        return 1;
    }
    state.setCurrentPackage(configuration);
    ScriptedPrompter prompter;
    frmClasses editor(state, prompter);
    editor.show();
    if (!QTest::qWaitForWindowExposed(&editor))
        return 1;

    ClassRefs refs;
    refs.read(state.ref());
    std::vector<double> opened, loaded, pages, sorts, keys;
    int classes = 0;
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer timer;
        timer.start();
        frmClassTable *table = editor.mnuClassTable_Click();
        if (!QTest::qWaitForWindowExposed(table))
            return 1;
        paint(table->view());
        opened.push_back(msSince(timer));
        classes = table->model()->rowCount();

        {
            // The read alone, into a model of its own.
            ClassTableModel model(state.data().database(), configuration, refs, prompter);
            timer.restart();
            if (!model.load())
                return 1;
            loaded.push_back(msSince(timer));
        }

        // Page by page to the end, painting each.
        QScrollBar *bar = table->view()->verticalScrollBar();
        for (int value = 0; value < bar->maximum(); value += bar->pageStep()) {
            timer.restart();
            bar->setValue(value + bar->pageStep());
            paint(table->view());
            pages.push_back(msSince(timer));
        }
        // By class name (texts) and back by class number.
        for (int column : {1, 0}) {
            timer.restart();
            table->view()->horizontalHeader()->setSortIndicator(column, Qt::AscendingOrder);
            paint(table->view());
            sorts.push_back(msSince(timer));
        }
        auto *filter = table->findChild<QLineEdit *>(QStringLiteral("fldFilter"));
        for (const char *key : {"C", "l", "a", "s", "s", " ", "1", "2"}) {
            timer.restart();
            QTest::keyClicks(filter, QLatin1String(key));
            paint(table->view());
            keys.push_back(msSince(timer));
        }
        table->close();
        QCoreApplication::processEvents();
    }
    std::printf("Class table, %d classes: opened %.1f ms (rows read %.1f ms); a page scrolled "
                "%.2f ms (median), %.2f ms (99th percentile) over %zu pages; a sort %.1f ms; a "
                "key in the filter %.1f ms\n",
                classes, median(opened), median(loaded), median(pages), percentile99(pages),
                pages.size(), median(sorts), median(keys));
    std::printf("(medians of %d runs, offscreen)\n", runs);
    std::printf("figure opened %.1f\nfigure loaded %.1f\nfigure page %.2f\nfigure page99 %.2f\n"
                "figure sort %.1f\nfigure key %.1f\n",
                median(opened), median(loaded), median(pages), percentile99(pages), median(sorts),
                median(keys));
    return 0;
}
