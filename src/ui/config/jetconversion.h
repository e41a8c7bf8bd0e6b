// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/startup.h"
#include "migrate/jetconvert.h"
#include "platform/prompter.h"

namespace tarn
{

// Start-up found data files in the older Jet format: asks whether to convert
// them; on Yes converts them and starts up again. The result fails when the
// user declines or the conversion fails, with a message that says what to do.
StartupResult offerJetConversion(AppState &state, Prompter &prompter, const QStringList &jetFiles,
                                 const JetOptions &options = {});

} // namespace tarn
