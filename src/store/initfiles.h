// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "store/status.h"

#include <QString>

#include <functional>
#include <optional>

namespace tarn
{

class Database;

// Create a new data or reference database with the schema, and with sample
// rows when asked. An existing file is never overwritten; a failure leaves no
// file behind.
Status createDataFile(const QString &path, bool sample);
Status createRefFile(const QString &path, bool sample);

// A team database on a server: creates the tables of both files in the
// database at url, which must hold none of them, all in one transaction.
// With sample rows, or empty.
Status createServerTables(const QString &url, bool sample);
// The same, filled with every row of the two SQLite files (keys, NULLs and
// all) and, when given, the Mod ID. The files are only read.
Status seedServerTables(const QString &url, const QString &dataFile, const QString &refFile,
                        const std::optional<QString> &modId);
// Writes the server's tables as two new SQLite files (which must not exist),
// read from one snapshot; gives the Mod ID stored there. On failure neither
// file is left.
Result<std::optional<QString>> pullServerTables(const QString &url, const QString &dataFile,
                                                const QString &refFile);

// Refuses a path where a new SQLite file would not be the only file of its
// name: the file exists, a symbolic link stands there (even one that
// dangles), or a side file of the engine (a journal SQLite would play into
// the new file) is left there. The message names the file and what to do.
Status checkNewDatabaseFile(const QString &path);
// Only the side files: for a database about to replace one of another format.
Status checkNoSideFiles(const QString &path);

// Makes a new SQLite file at path (which must not exist) and fills it in one
// transaction; on failure the file is removed again.
using FillDatabase = std::function<Status(Database &)>;
Status buildDatabaseFile(const QString &path, const FillDatabase &fill);
// A name beside path for a file that is built before it is moved into place.
QString temporaryPath(const QString &path);

} // namespace tarn
