// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "cli.h"
#include "testsupport.h"

#include <QDebug>
#include <QStringList>
#include <QTextStream>

namespace tarn::test
{

// One tarn-cli command line run in-process on a data directory or a server's
// database (DataDir::location()).
struct CliRun {
    int code;
    QString out, err;
};

inline CliRun runCli(const QString &location, const QStringList &args)
{
    CliRun run{};
    QTextStream out(&run.out), err(&run.err);
    run.code = cli::run(cliLocation(location) + args, out, err);
    return run;
}

// Whether a run exited with code and printed part (on stderr when it failed);
// says what it printed when not.
inline bool ranAs(const CliRun &run, int code, const QString &part = {})
{
    if (run.code == code && (code ? run.err : run.out).contains(part))
        return true;
    qWarning().noquote() << "exit status" << run.code << '\n' + run.out + run.err;
    return false;
}

} // namespace tarn::test
