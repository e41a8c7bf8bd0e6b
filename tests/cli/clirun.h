#pragma once

#include "cli.h"

#include <QStringList>
#include <QTextStream>

namespace tarn::test
{

// One tarn-cli command line run in-process on a data directory.
struct CliRun {
    int code;
    QString out;
    QString err;
};

inline CliRun runCli(const QString &dataDir, const QStringList &args)
{
    CliRun run{};
    QTextStream out(&run.out), err(&run.err);
    run.code = cli::run(QStringList{"--data-dir", dataDir} + args, out, err);
    return run;
}

} // namespace tarn::test
