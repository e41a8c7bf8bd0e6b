// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "store/schema.h"
#include "store/status.h"

#include <QList>
#include <QStringList>

namespace tarn
{

struct JetOptions {
    QString reader; // empty: jetReaderProgram()
    int timeoutMs = 5 * 60 * 1000;
};

struct JetFile {
    QString path;
    // The tables and columns the new file must hold, checked before any file
    // is renamed.
    QList<schema::TableNeed> needs;
};

struct JetConversion {
    QString path;       // now an SQLite file
    QString backupPath; // the Jet file, kept
};

// tarn-jet-reader beside the running program, else in lib/tarn/ of the tree the
// program is installed in; TARN_JET_READER names another (the tests use it to
// put a failing reader in its place).
QString jetReaderProgram();

// Converts Jet data files into SQLite files of the same name, every table, row
// and column kept; each Jet file is kept beside its new file under a free
// backup name (FILE.jet, FILE.jet.1, ...). Every file is read before anything
// is changed, and every new file is built and checked before any is renamed:
// a file that cannot be read or lacks what it needs leaves all of them as
// they were.
Result<QList<JetConversion>> convertJetFiles(const QList<JetFile> &files,
                                             const JetOptions &options = {});

// The same for the program's data files among jetFiles: dataPath must then
// hold what a data file needs, any other what a reference file needs.
Result<QList<JetConversion>> convertJetDataFiles(const QString &dataPath,
                                                 const QStringList &jetFiles,
                                                 const JetOptions &options = {});

} // namespace tarn
