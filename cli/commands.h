// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "cli.h"

#include "core/appstate.h"

#include <QHash>

namespace tarn::cli
{

// What a command gets: its own arguments (options taken out), the options it
// was given, the streams and where the data is (a folder or a server address). The state is started
// up (databases open, upgrade done) for commands that need it, and null for the others.
struct Context {
    QStringList args;
    QStringList flags; // names of the command's options given, without dashes
    QTextStream &out;
    QTextStream &err;
    QString location;
    AppState *state = nullptr;
    QHash<QString, QString> values{}; // options with a value given, by name
    int failure = Failure;            // the status fail() returns
    QString withoutData{}; // why state is null, for a command that runs without data files

    int fail(const QString &message) const;
    int usage(const QString &message) const;
};

using Handler = int (*)(Context &);

struct Command {
    const char *name;
    const char *synopsis; // names the command's options, as "[--plain]"
    const char *help;
    bool needsStartup;
    Handler handler;
    int failure = Failure;    // the status of a failure, output cut short included
    bool withoutData = false; // runs, state null, when the data folder holds no data files
    FirstReads reads = {};    // what it reads first, which a server sends with the start's reads
    // The change it begins with, on its last argument (a copy's source first).
    FirstWrite::Kind writes = FirstWrite::None;
};

// Commands on configurations and settings.
int cmdInit(Context &);
int cmdPull(Context &);
int cmdList(Context &);
int cmdNew(Context &);
int cmdDelete(Context &);
int cmdCopy(Context &);
int cmdModId(Context &);
// Conversion of Jet data files.
int cmdMigrate(Context &);

// Class files.
int cmdExport(Context &);
int cmdImport(Context &);
int cmdCheck(Context &);
int cmdShow(Context &);
int cmdDiff(Context &);
// Spreadsheets back.
int cmdApply(Context &);

// History.
int cmdHistory(Context &);
int cmdRestore(Context &);
int cmdDeleted(Context &);
int cmdUpgrade(Context &);

} // namespace tarn::cli
