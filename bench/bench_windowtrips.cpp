// SPDX-License-Identifier: GPL-3.0-or-later
// The windows' round trips to a team database through tools/latency-proxy:
// the main window shown, the class editor opened, a move between classes, a
// write-back (an edited name, then a move), an undo of it, the class table
// opened, a conflict shown (a field another client changed meanwhile, put to
// the user at the next move), Connect to Team Database (the same one again).
// Prints, for each, the round trips the proxy counted and the wall time.
//   bench_windowtrips ADDRESS CONFIGURATION TRIPS_FILE

#include "benchsupport.h"
#include "core/appstate.h"
#include "core/startup.h"
#include "platform/datacontrol.h"
#include "scriptedprompter.h"
#include "ui/classes/classtable.h"
#include "ui/classes/frmclasses.h"
#include "ui/config/firstrun.h"
#include "ui/config/frmconfig.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QStandardPaths>
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

// Prints the mark's trips and time at the moment a conflict is put to the
// user, who then takes the stored values.
struct ConflictPrompter : ScriptedPrompter {
    int choose(const QString &text, const QStringList &choices, int defaultChoice,
               Icon icon) override
    {
        if (conflict) {
            std::printf("%-24s %6.1f %8.0fms\n", "a conflict shown",
                        double(trips() - conflict->before), msSince(conflict->timer));
            conflict = nullptr;
        }
        answerChoice(1);
        return ScriptedPrompter::choose(text, choices, defaultChoice, icon);
    }
    Mark *conflict = nullptr;
};

bool editClasses(AppState &state, ConflictPrompter &prompter, const QString &package)
{
    Mark open;
    frmClasses editor(state, prompter);
    editor.show();
    if (!QTest::qWaitForWindowExposed(&editor))
        return false;
    open.print("class editor opened");

    DataControl *navigator = editor.navigator();
    const int moves = navigator->recordCount() - 1;
    Mark move;
    for (int i = 0; i < moves; ++i) {
        if (!navigator->moveNext())
            return false;
        QCoreApplication::processEvents();
    }
    move.print("a move (mean)", moves);

    auto *name = editor.findChild<QLineEdit *>(QStringLiteral("fldClassName"));
    auto *undo = editor.findChild<QAction *>(QStringLiteral("mnuUndo"));
    if (!name || !undo)
        return false;
    Mark write;
    name->setText(name->text() + QStringLiteral(" edited"));
    if (!navigator->movePrevious())
        return false;
    write.print("a write-back with a move");
    Mark undone;
    undo->trigger();
    undone.print("an undo");

    Mark table;
    frmClassTable *shown = editor.mnuClassTable_Click();
    if (!QTest::qWaitForWindowExposed(shown))
        return false;
    table.print("class table opened");

    // Another client renames the class the user renames too.
    Database other;
    if (!other.open(state.location()) ||
        !other.exec(QStringLiteral("UPDATE classdef SET class_name = 'Theirs' WHERE %1 AND "
                                   "class_name = ?")
                        .arg(other.nameFilter()),
                    {package, name->text()}))
        return false;
    other.close();
    Mark conflict;
    prompter.conflict = &conflict;
    name->setText(QStringLiteral("Mine"));
    navigator->moveNext();
    // The answer to its closing ROLLBACK, which nothing waits for, counts here.
    QTest::qWait(500);
    return !prompter.conflict;
}

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
    // Connect remembers the address: not in the user's own folders.
    QStandardPaths::setTestModeEnabled(true);
    const QString address = QString::fromLocal8Bit(argv[1]);
    ConflictPrompter prompter;
    Mark start;
    AppState state(address);
    if (StartupResult started = startUp(state, kMainWindowReads); !started.status) {
        std::fprintf(stderr, "%s\n", qPrintable(started.status.message()));
        return 1;
    }
    frmConfig window(state, prompter);
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return 1;
    start.print("main window shown");

    const QString package = QString::fromLocal8Bit(argv[2]);
    state.setCurrentPackage(package);
    if (!editClasses(state, prompter, package))
        return 1;

    Mark connect;
    prompter.answerInput(address);
    if (auto *team = window.findChild<QAction *>(QStringLiteral("mnuConnect")))
        team->trigger();
    connect.print("Connect to Team Database");
    return prompter.texts(ScriptedPrompter::Call::Message).isEmpty() ? 0 : 1;
}
