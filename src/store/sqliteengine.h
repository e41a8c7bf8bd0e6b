// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "store/engine.h"

namespace tarn
{

// Opens an existing SQLite file read-write, or creates a new one (which must
// not exist). Never creates a file by opening it.
Result<std::unique_ptr<Engine>> openSqliteFile(const QString &path, bool create);

} // namespace tarn
