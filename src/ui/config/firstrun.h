#pragma once

#include "core/startup.h"
#include "platform/prompter.h"

namespace tarn
{

// Start-up found neither data file: offers to create both in the folder in use
// (with the sample rows, or empty) and starts up again. Returns false when the
// user declines, with nothing changed, or when the files could not be made
// (the reason has been shown).
bool offerDataFiles(AppState &state, Prompter &prompter, StartupResult &started);

} // namespace tarn
