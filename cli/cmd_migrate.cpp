// SPDX-License-Identifier: GPL-3.0-or-later
#include "commands.h"

#include "core/startup.h"
#include "migrate/jetconvert.h"

#include <QFile>
#include <QFileInfo>

namespace tarn::cli
{

namespace
{

bool isSqliteFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && file.read(16) == QByteArray("SQLite format 3\0", 16);
}

} // namespace

int cmdMigrate(Context &c)
{
    if (!c.args.isEmpty())
        return c.usage(QStringLiteral("migrate takes no arguments"));
    AppState state(c.location);
    QStringList jetFiles;
    for (const QString &path : {state.dataPath(), state.refPath()}) {
        if (isJetFile(path))
            jetFiles << path;
        else if (isSqliteFile(path))
            c.out << path << ": already an SQLite file, left as it is\n";
        else if (!QFileInfo::exists(path))
            return c.fail(QStringLiteral("%1 does not exist; nothing was converted").arg(path));
        else
            return c.fail(QStringLiteral("%1 is neither a Jet nor an SQLite database; nothing was "
                                         "converted")
                              .arg(path));
    }
    if (!jetFiles.isEmpty()) {
        Result<QList<JetConversion>> converted = convertJetDataFiles(state.dataPath(), jetFiles);
        if (!converted)
            return c.fail(converted.message());
        for (const JetConversion &done : *converted)
            c.out << done.path << ": converted; the Jet file is kept as " << done.backupPath
                  << '\n';
    }
    // The usual start-up checks the new files and brings classdef up to date.
    const StartupResult started = startUp(state);
    if (!started.status)
        return c.fail(started.status.message());
    if (!started.addedColumns.isEmpty())
        c.out << state.dataPath() << ": added the columns "
              << started.addedColumns.join(QStringLiteral(", ")) << " to classdef\n";
    return Success;
}

} // namespace tarn::cli
