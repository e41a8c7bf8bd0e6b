#pragma once

#include "status.h"

#include <QList>
#include <QStringList>

namespace tarn
{

struct JetOptions {
    QString reader; // empty: jetReaderProgram()
    int timeoutMs = 5 * 60 * 1000;
};

struct JetConversion {
    QString path;       // now an SQLite file
    QString backupPath; // the Jet file, kept
};

// tarn-jet-reader beside the running program; TARN_JET_READER names another
// (the tests use it to put a failing reader in its place).
QString jetReaderProgram();

// Converts Jet data files into SQLite files of the same name, every table, row
// and column kept; each Jet file is kept beside its new file under a free
// backup name (FILE.jet, FILE.jet.1, ...). Every file is read before anything
// is changed, so a file that cannot be read leaves all of them as they were.
Result<QList<JetConversion>> convertJetFiles(const QStringList &paths,
                                             const JetOptions &options = {});

} // namespace tarn
