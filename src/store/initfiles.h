#pragma once

#include "store/status.h"

#include <functional>

namespace tarn
{

class Database;

// Create a new data or reference database with the schema, and with sample
// rows when asked. An existing file is never overwritten; a failure leaves no
// file behind.
Status createDataFile(const QString &path, bool sample);
Status createRefFile(const QString &path, bool sample);

// Makes a new SQLite file at path (which must not exist) and fills it in one
// transaction; on failure the file is removed again.
using FillDatabase = std::function<Status(const Database &)>;
Status buildDatabaseFile(const QString &path, const FillDatabase &fill);
// A name beside path for a file that is built before it is moved into place.
QString temporaryPath(const QString &path);

} // namespace tarn
