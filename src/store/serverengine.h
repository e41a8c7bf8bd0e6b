// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "store/engine.h"

namespace tarn
{

struct ServerUrl;

// Connects to the database a server address names. password serves when the
// address and libpq's own places (~/.pgpass, PGPASSWORD) give none. A server
// that asks for a password that is missing or wrong fails as NeedsPassword.
Result<std::unique_ptr<Engine>> openServerDatabase(const ServerUrl &server,
                                                   const QString &password);

} // namespace tarn
