// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QStringList>
#include <QTextStream>

namespace tarn::cli
{

// diff answers 1 for "different", so its failures take 3.
enum ExitCode { Success = 0, Failure = 1, Usage = 2, DiffFailure = 3 };

// Runs one command line (without the program name); output and errors go to
// the given streams. Returns the exit status.
int run(const QStringList &arguments, QTextStream &out, QTextStream &err);

} // namespace tarn::cli
