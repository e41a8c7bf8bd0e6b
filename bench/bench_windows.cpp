// SPDX-License-Identifier: GPL-3.0-or-later
// Times the windows on large data, offscreen: the main window filling its
// list, and the class editor opening on a configuration and moving between
// its classes. Prints medians of repeated runs in milliseconds.
//   bench_windows DATA_DIR CONFIGURATION [RUNS]

#include "benchsupport.h"
#include "core/appstate.h"
#include "core/startup.h"
#include "platform/datacontrol.h"
#include "scriptedprompter.h"
#include "ui/classes/frmclasses.h"
#include "ui/config/frmconfig.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QListWidget>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace tarn;
using namespace tarn::bench;

namespace
{

// Lets the window lay itself out and paint.
void settle()
{
    QCoreApplication::processEvents();
}

} // namespace

int main(int argc, char *argv[])
{
    qInstallMessageHandler(quietOffscreen);
    QApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench_windows DATA_DIR CONFIGURATION [RUNS]\n");
        return 2;
    }
    const QString configuration = QString::fromLocal8Bit(argv[2]);
    const int runs = argc > 3 ? std::max(1, atoi(argv[3])) : 7;
    AppState state(QString::fromLocal8Bit(argv[1]));
    if (StartupResult started = startUp(state); !started.status) {
        std::fprintf(stderr, "%s\n", qPrintable(started.status.message()));
        return 1;
    }
    ScriptedPrompter prompter;

    std::vector<double> shown, refilled;
    int listed = 0;
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer timer;
        timer.start();
        frmConfig window(state, prompter);
        window.show();
        if (!QTest::qWaitForWindowExposed(&window))
            return 1;
        settle();
        shown.push_back(msSince(timer));
        timer.restart();
        window.RefreshList();
        settle();
        refilled.push_back(msSince(timer));
        listed = window.findChild<QListWidget *>(QStringLiteral("classlist"))->count();
    }

    std::vector<double> opened, moves;
    int classes = 0;
    for (int run = 0; run < runs; ++run) {
        state.setCurrentPackage(configuration);
        QElapsedTimer timer;
        timer.start();
        frmClasses editor(state, prompter);
        editor.show();
        if (!QTest::qWaitForWindowExposed(&editor))
            return 1;
        settle();
        opened.push_back(msSince(timer));
        DataControl *navigator = editor.navigator();
        classes = navigator->recordCount();
        // Forward through every class, painting each, then back to the first.
        for (bool forward : {true, false}) {
            for (int i = 1; i < classes; ++i) {
                timer.restart();
                if (!(forward ? navigator->moveNext() : navigator->movePrevious()))
                    return 1;
                settle();
                moves.push_back(msSince(timer));
            }
        }
    }
    std::sort(moves.begin(), moves.end());
    std::printf("Main window, %d configurations: shown with the list filled %.1f ms, "
                "list refilled %.1f ms\n",
                listed, median(shown), median(refilled));
    std::printf("Class editor, %d classes: shown %.1f ms; a move %.2f ms (median), %.2f ms "
                "(99th percentile) over %zu moves\n",
                classes, median(opened), median(moves), moves[moves.size() * 99 / 100],
                moves.size());
    std::printf("(medians of %d runs, offscreen)\n", runs);
    // For the goals, one figure a line.
    std::printf("figure shown %.1f\nfigure refilled %.1f\nfigure opened %.1f\nfigure move %.2f\n",
                median(shown), median(refilled), median(opened), median(moves));
    return 0;
}
