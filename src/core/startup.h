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
};

// The start-up sequence shared by both programs: the Mod ID, both databases
// (never created), and the upgrade of classdef. Nothing is written but the
// missing columns.
StartupResult startUp(AppState &state);

// Creates both data files (with the sample rows, or empty) in the state's
// folder, making the folder when it is missing. Refuses when either file
// exists; a failure leaves neither file behind.
Status createDataFiles(const AppState &files, bool sample);

// Names the program after the package, so that the user's data folder is
// ~/.local/share/tarn for both programs, and sets the version.
void setApplicationIdentity();
// "tarn-cli (tarn) 1.4": the program, its package and the version.
QString versionText(const QString &program);

// The folder of the data files when no --data-dir is given: the program's own
// folder when a data file is there (a copy that travels with its data), else
// the user's data folder.
QString defaultDataDir();
QString chooseDataDir(const QString &programDir, const QString &userDir);
QString userDataDir();
// True when tarn_dat.mdb or tarn_ref.mdb exists in dir.
bool hasDataFile(const QString &dir);

} // namespace tarn
