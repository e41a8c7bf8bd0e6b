// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/appstate.h"
#include "store/status.h"

#include <QStringList>

namespace tarn
{

struct StartupResult {
    Status status = Status::success();
    // Data files found in the Jet format, which must be converted first.
    QStringList jetFiles;
    // The flag columns that the upgrade added to classdef.
    QStringList addedColumns;
    // Neither data file exists: a first run, not a damaged folder.
    bool noDataFiles = false;
    // A team database that its owner has not upgraded yet: everything works,
    // and no change is recorded.
    bool noHistory = false;
};

// The start-up sequence shared by both programs: the Mod ID, both databases
// (never created), and the upgrade of classdef. Nothing is written but the
// missing columns.
StartupResult startUp(AppState &state);

// Creates both data files (with the sample rows, or empty) in the state's
// folder, making the folder when it is missing. Refuses when either file
// exists; a failure leaves neither file behind. On a server: the tables, in a
// database that holds none of them.
Status createDataFiles(const AppState &files, bool sample);

// Creates the tables of a team database and fills them with the data files of
// dir and its Mod ID, exactly; all or nothing. The files are only read.
Status seedTeamDatabase(const AppState &team, const QString &dir);
// Writes a complete local copy of a team database into dir: both data files
// and tarn.ini with the team's Mod ID. Refuses to overwrite any of them.
Status pullTeamDatabase(const AppState &team, const QString &dir);

// Where the data is: --database (a server address), else --data-dir, else the
// environment's TARN_DATABASE, else the remembered address (the windows'
// choice), else defaultDataDir(). A null option was not given. Refuses both
// options at once, an address that does not parse, and a default that
// cannot be found.
Result<QString> chooseLocation(const QString &dataDir, const QString &database,
                               const QString &remembered = QString());

// The team database the windows last connected to, as the user's
// configuration folder keeps it (never with a password); empty for the local
// files.
QString rememberedLocation();
// Keeps the address without its password, or forgets it when empty.
Status rememberLocation(const QString &location);
// Where: team-database in the user's configuration folder.
QString rememberedLocationFile();

// Names the program after the package, so that the user's data folder is
// ~/.local/share/tarn for both programs, and sets the version.
void setApplicationIdentity();
// Keeps Qt's own messages (its drivers' "Unable to free statement", "This
// version of PostgreSQL is not supported", ...) out of what the user reads:
// only critical faults pass. A debug build shows them all.
void quietQtMessages();
// Gives each closed standard stream /dev/null, so that no file the program
// opens takes its number (and with it the program's output, or Qt's
// messages). True when standard output was closed. Call before anything opens
// a file.
bool guardStandardStreams();

// "tarn-cli (tarn) 1.4": the program, its package and the version.
QString versionText(const QString &program);

// The folder of the data files when no --data-dir is given: the program's own
// folder when a data file is there (a copy that travels with its data), else
// the user's data folder.
QString defaultDataDir();
QString chooseDataDir(const QString &programDir, const QString &userDir);
// $XDG_DATA_HOME/tarn, or ~/.local/share/tarn; empty when neither is an
// absolute folder (a relative XDG_DATA_HOME is ignored, HOME may be unset).
QString userDataDir();
// The same as help texts name it, also when there is none.
QString userDataDirText();
// True when tarn_dat.mdb or tarn_ref.mdb exists in dir.
bool hasDataFile(const QString &dir);

} // namespace tarn
