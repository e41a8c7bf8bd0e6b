#pragma once

#include "appstate.h"

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

// Where the data files live when no --data-dir is given.
QString defaultDataDir();

} // namespace tarn
