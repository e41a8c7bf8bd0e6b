// SPDX-License-Identifier: GPL-3.0-or-later
// Times the Balance window's chart on a configuration, offscreen, every field
// ticked: a value stored (through the model, as the editor and the class table
// store) until the chart is painted again; and the whole chart built anew, as
// ticking a field does. Prints medians of repeated runs in milliseconds.
//   bench_balance DATA_DIR CONFIGURATION [RUNS]

#include "benchsupport.h"
#include "core/appstate.h"
#include "core/startup.h"
#include "scriptedprompter.h"
#include "ui/classes/balance.h"
#include "ui/classes/frmclasses.h"

#include <QApplication>
#include <QChartView>
#include <QTest>

using namespace tarn;
using namespace tarn::bench;

int main(int argc, char *argv[])
{
    qInstallMessageHandler(quietOffscreen);
    QApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench_balance DATA_DIR CONFIGURATION [RUNS]\n");
        return 2;
    }
    const int runs = argc > 3 ? std::max(1, atoi(argv[3])) : 7;
    AppState state(QString::fromLocal8Bit(argv[1]));
    if (StartupResult started = startUp(state); !started.status) {
        std::fprintf(stderr, "%s\n", qPrintable(started.status.message()));
        return 1;
    }
    state.setCurrentPackage(QString::fromLocal8Bit(argv[2]));
    ScriptedPrompter prompter;
    frmClasses editor(state, prompter);
    frmBalance *balance = editor.mnuBalance_Click();
    if (!balance || !QTest::qWaitForWindowExposed(balance))
        return 1;
    for (const QString &column : frmBalance::fields())
        balance->setTicked(column, true);
    auto *view = balance->findChild<QChartView *>(QStringLiteral("chartClasses"));
    ClassTableModel &model = balance->model();
    const QModelIndex speed =
        model.index(0, ClassTableModel::columnOf(QStringLiteral("max_speed")));
    std::vector<double> stored, redrawn, rebuilt;
    QElapsedTimer timer;
    double signalled = 0; // when the store said the value is in
    QObject::connect(&model, &QAbstractItemModel::dataChanged,
                     [&] { signalled = double(timer.nsecsElapsed()) / 1e6; });
    for (int run = 0; run <= runs; ++run) {
        timer.start();
        if (!model.setData(speed, QString::number(1000 + run), Qt::EditRole))
            return 1;
        QCoreApplication::processEvents(); // the redraw waits for the event loop
        view->viewport()->repaint();
        QCoreApplication::processEvents();
        if (run) { // the first only warms up
            stored.push_back(msSince(timer));
            redrawn.push_back(stored.back() - signalled);
        }
        timer.restart();
        balance->setTicked(QStringLiteral("maxslugs"), run % 2);
        view->viewport()->repaint();
        QCoreApplication::processEvents();
        if (run)
            rebuilt.push_back(msSince(timer));
    }
    std::printf("Balance chart, %d classes, up to %lld fields: the chart painted again after "
                "the store's signal %.1f ms (%.1f ms with the store's commit); a field ticked "
                "and the chart built anew %.1f ms (medians of %d runs, offscreen)\n",
                model.rowCount(), qlonglong(frmBalance::fields().size()), median(redrawn),
                median(stored), median(rebuilt), runs);
    std::printf("figure redraw %.1f\nfigure stored %.1f\nfigure rebuild %.1f\n", median(redrawn),
                median(stored), median(rebuilt));
    return 0;
}
