// SPDX-License-Identifier: GPL-3.0-or-later
// The windows' round trips to a team database through tools/latency-proxy:
// the main window shown, the class editor opened, a move between classes, a
// write-back (an edited name, then a move), an undo of it.
// Prints, for each, the round trips the proxy counted and the wall time.
//   bench_windowtrips ADDRESS CONFIGURATION TRIPS_FILE

#include "benchsupport.h"
#include "core/appstate.h"
#include "core/startup.h"
#include "platform/datacontrol.h"
#include "scriptedprompter.h"
#include "ui/classes/frmclasses.h"
#include "ui/config/frmconfig.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QTest>

#include <cstdio>

using namespace tarn;
using namespace tarn::bench;

namespace
{

QString tripsFile;

int trips()
{
    QFile file(tripsFile);
    return file.open(QIODevice::ReadOnly) ? file.readAll().trimmed().toInt() : 0;
}

// One action's trips and time, once the window has painted.
struct Mark {
    Mark() : before(trips()) { timer.start(); }
    void print(const char *action, int times = 1)
    {
        QCoreApplication::processEvents();
        std::printf("%-24s %6.1f %8.0fms\n", action, double(trips() - before) / times,
                    msSince(timer) / times);
    }
    int before;
    QElapsedTimer timer;
};

} // namespace

int main(int argc, char *argv[])
{
    qInstallMessageHandler(quietOffscreen);
    QApplication app(argc, argv);
    if (argc < 4) {
        std::fprintf(stderr, "usage: bench_windowtrips ADDRESS CONFIGURATION TRIPS_FILE\n");
        return 2;
    }
    tripsFile = QString::fromLocal8Bit(argv[3]);
    ScriptedPrompter prompter;
    Mark start;
    AppState state(QString::fromLocal8Bit(argv[1]));
    if (StartupResult started = startUp(state); !started.status) {
        std::fprintf(stderr, "%s\n", qPrintable(started.status.message()));
        return 1;
    }
    frmConfig window(state, prompter);
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return 1;
    start.print("main window shown");

    state.setCurrentPackage(QString::fromLocal8Bit(argv[2]));
    Mark open;
    frmClasses editor(state, prompter);
    editor.show();
    if (!QTest::qWaitForWindowExposed(&editor))
        return 1;
    open.print("class editor opened");

    DataControl *navigator = editor.navigator();
    const int moves = navigator->recordCount() - 1;
    Mark move;
    for (int i = 0; i < moves; ++i) {
        if (!navigator->moveNext())
            return 1;
        QCoreApplication::processEvents();
    }
    move.print("a move (mean)", moves);

    auto *name = editor.findChild<QLineEdit *>(QStringLiteral("fldClassName"));
    auto *undo = editor.findChild<QAction *>(QStringLiteral("mnuUndo"));
    if (!name || !undo)
        return 1;
    Mark write;
    name->setText(name->text() + QStringLiteral(" edited"));
    if (!navigator->movePrevious())
        return 1;
    write.print("a write-back with a move");
    Mark undone;
    undo->trigger();
    undone.print("an undo");
    return 0;
}
