// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/startup.h"
#include "platform/prompter.h"

#include <memory>

namespace tarn
{

// What the main window reads as it opens: the list, following other clients.
inline const FirstReads kMainWindowReads{.names = true, .follow = true, .refs = {}};

// Start-up found neither data file: offers to create both in the folder in use
// (with the sample rows, or empty) and starts up again. Returns false when the
// user declines, with nothing changed, or when the files could not be made
// (the reason has been shown).
bool offerDataFiles(AppState &state, Prompter &prompter, StartupResult &started);

// Starts state up as the windows do: asks for a server's password when libpq's
// own places (~/.pgpass, PGPASSFILE, PGPASSWORD) give none, offers to create
// missing data files and to convert Jet files. False when the user declined
// (or the files could not be made, which has been shown); otherwise started
// holds the outcome, a failure not shown yet.
bool startInWindows(AppState &state, Prompter &prompter, StartupResult &started);

// The state the windows start on, started up. When the team database the
// windows remembered cannot be reached, says so and offers the local files of
// localDir. Null when the program ends; the reason has been shown.
std::unique_ptr<AppState> openForWindows(const QString &location, bool remembered,
                                         const QString &localDir, Prompter &prompter);

} // namespace tarn
