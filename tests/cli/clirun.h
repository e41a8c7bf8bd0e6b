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
    QString out, err;
    QTextStream o(&out), e(&err);
    const int code = cli::run(QStringList{"--data-dir", dataDir} + args, o, e);
    return {code, out, err};
}

} // namespace tarn::test
