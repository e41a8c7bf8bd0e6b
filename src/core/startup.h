#pragma once

#include "appstate.h"
#include "jetconvert.h"

namespace tarn
{

struct StartupResult {
    Status status = Status::success();
    // Data files found in the Jet format, which must be converted first.
    QStringList jetFiles;
    // The flag columns that the upgrade added to classdef.
    QStringList addedColumns;
};

// The start-up sequence shared by both programs: the Mod ID, both databases
// (never created), and the upgrade of classdef. Nothing is written but the
// missing columns.
StartupResult startUp(AppState &state);

// Converts the given Jet files among the state's data files; each new file
// must hold what start-up asks of it, or no file changes.
Result<QList<JetConversion>> convertJetDataFiles(const AppState &state, const QStringList &jetFiles,
                                                 const JetOptions &options = {});

// Where the data files live when no --data-dir is given.
QString defaultDataDir();

} // namespace tarn
