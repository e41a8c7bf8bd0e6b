#pragma once

#include <QStringList>
#include <QTextStream>

namespace tarn::cli
{

enum ExitCode { Success = 0, Failure = 1, Usage = 2 };

// Runs one command line (without the program name); output and errors go to
// the given streams. Returns the exit status.
int run(const QStringList &arguments, QTextStream &out, QTextStream &err);

} // namespace tarn::cli
