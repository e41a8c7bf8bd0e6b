// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

namespace tarn
{

class AppState;

// Saves a picture of each window, filled from the given data, into dir; used
// by the README's screenshots. Returns the number of pictures written.
int takeScreenshots(AppState &state, const QString &dir);

} // namespace tarn
