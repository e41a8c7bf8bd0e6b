// SPDX-License-Identifier: GPL-3.0-or-later
#include "migrate/jetconvert.h"

#include "migrate/jetdump.h"
#include "store/database.h"
#include "store/initfiles.h"
#include "store/schema.h"
#include "store/tablecopy.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <optional>
#include <span>

namespace tarn
{

namespace
{

struct KnownTable {
    QString name;
    std::span<const schema::Column> columns;
};

std::optional<KnownTable> knownTable(const QString &name)
{
    QList<KnownTable> known{{QStringLiteral("package"), schema::packageColumns()},
                            {QStringLiteral("classdef"), schema::classdefColumns()}};
    for (schema::RefKind kind : schema::refKinds())
        known.append({QLatin1String(schema::refTable(kind).table), schema::refTable(kind).columns});
    for (const KnownTable &table : known)
        if (table.name.compare(name, Qt::CaseInsensitive) == 0)
            return table;
    return std::nullopt;
}

// The table the program keeps a Jet table as: a table the program knows gets
// its names, types and column order for the columns it has, then the rest as
// they are.
struct Plan {
    QString table;
    QList<CopiedColumn> columns;
};

Plan planFor(const jet::Table &table)
{
    Plan plan{table.name, {}};
    QList<bool> placed(table.columns.size(), false);
    if (const std::optional<KnownTable> known = knownTable(table.name)) {
        plan.table = known->name;
        for (const schema::Column &column : known->columns) {
            const QString name = QLatin1String(column.name);
            qsizetype source = 0;
            while (source < table.columns.size() &&
                   table.columns.at(source).name.compare(name, Qt::CaseInsensitive) != 0)
                ++source;
            if (source == table.columns.size())
                continue;
            const jet::Type type = table.columns.at(source).type;
            // A flag column that is not Yes/No in the Jet file may hold other
            // values and NULL: its own type keeps them.
            const bool own = column.kind == schema::Kind::YesNo && type != jet::Type::Bool;
            plan.columns.append({name, own ? nullptr : &column, jet::storedAs(type), source});
            placed[source] = true;
        }
    }
    for (qsizetype i = 0; i < table.columns.size(); ++i)
        if (!placed.at(i))
            plan.columns.append(
                {table.columns.at(i).name, nullptr, jet::storedAs(table.columns.at(i).type), i});
    return plan;
}

QString readerMessage(QProcess &process)
{
    const QString said = QString::fromLocal8Bit(process.readAllStandardError()).trimmed();
    return said.isEmpty() ? QString() : QStringLiteral(": ") + said.left(500);
}

Result<QList<jet::Table>> readJetFile(const QString &path, const JetOptions &options)
{
    const QString reader = options.reader.isEmpty() ? jetReaderProgram() : options.reader;
    QProcess process;
    process.start(reader, {QFileInfo(path).absoluteFilePath()}, QIODevice::ReadOnly);
    if (!process.waitForStarted())
        return Status::failure(Fault::InputOutput,
                               QStringLiteral("the Jet reader %1 could not be started (%2)")
                                   .arg(reader, process.errorString()));
    if (!process.waitForFinished(options.timeoutMs)) {
        process.kill();
        process.waitForFinished();
        return Status::failure(
            Fault::Damaged,
            QStringLiteral("reading it took longer than %1 seconds, so it was stopped")
                .arg(options.timeoutMs / 1000.0));
    }
    if (process.exitStatus() == QProcess::CrashExit)
        return Status::failure(Fault::Damaged,
                               QStringLiteral("the Jet reader crashed while reading it; the file "
                                              "may be damaged%1")
                                   .arg(readerMessage(process)));
    if (process.exitCode() != 0)
        return Status::failure(Fault::Damaged,
                               QStringLiteral("the Jet reader could not read it (status %1)%2")
                                   .arg(process.exitCode())
                                   .arg(readerMessage(process)));
    return jet::parseDump(process.readAllStandardOutput());
}

QString freeBackupName(const QString &path)
{
    auto taken = [](const QString &name) {
        const QFileInfo info(name);
        return info.exists() || info.isSymLink();
    };
    QString name = path + QStringLiteral(".jet");
    for (int n = 1; taken(name); ++n)
        name = path + QStringLiteral(".jet.%1").arg(n);
    return name;
}

Status failed(const QString &path, const QString &cause, Fault fault = Fault::InputOutput)
{
    return Status::failure(
        fault, QStringLiteral("%1 could not be converted: %2\nThe file was left as it is.")
                   .arg(path, cause));
}

} // namespace

QString jetReaderProgram()
{
    const QString chosen = qEnvironmentVariable("TARN_JET_READER");
    if (!chosen.isEmpty())
        return chosen;
    // Beside the program in the build folder; in an installed tree the programs
    // are in bin/ and the reader in the private folder next to it.
    const QDir programDir(QCoreApplication::applicationDirPath());
    const QString beside = programDir.filePath(QStringLiteral("tarn-jet-reader"));
    const QString installed = QDir::cleanPath(
        programDir.filePath(QStringLiteral("../" TARN_PRIVATE_DIR "/tarn-jet-reader")));
    return QFileInfo::exists(beside) || !QFileInfo::exists(installed) ? beside : installed;
}

Result<QList<JetConversion>> convertJetFiles(const QList<JetFile> &files, const JetOptions &options)
{
    QStringList paths;
    for (const JetFile &file : files)
        paths << file.path;
    QList<QList<jet::Table>> contents;
    for (const QString &path : std::as_const(paths)) {
        if (!isJetFile(path))
            return failed(path, QStringLiteral("it is not a Jet database"));
        // The new file takes the Jet file's name: a journal left there would be played into it.
        if (Status s = checkNoSideFiles(path); !s)
            return failed(path, s.message());
        Result<QList<jet::Table>> tables = readJetFile(path, options);
        if (!tables)
            return failed(path, tables.message());
        contents.append(*tables);
    }

    QStringList temps;
    auto removeTemps = [&temps] {
        for (const QString &temp : std::as_const(temps))
            QFile::remove(temp);
    };
    for (qsizetype i = 0; i < paths.size(); ++i) {
        const QString temp = temporaryPath(paths.at(i));
        removeDatabaseFiles(temp); // left by an earlier run that was cut off
        Status built = buildDatabaseFile(temp, [&](Database &db) {
            for (const jet::Table &table : std::as_const(contents.at(i))) {
                const Plan plan = planFor(table);
                if (Status s = copyTable(db, plan.table, plan.columns, table.rows); !s)
                    return s;
            }
            // What start-up will ask of the file, asked now: once it is in
            // place, a file that fails is too late to refuse.
            Result<QString> lacks = db.lacking(files.at(i).needs);
            if (!lacks)
                return lacks.status();
            return lacks->isEmpty() ? Status::success() : Status::failure(Fault::Damaged, *lacks);
        });
        if (!built) {
            removeTemps();
            return failed(paths.at(i), built.message(), built.fault());
        }
        temps << temp;
    }

    QList<JetConversion> done;
    for (qsizetype i = 0; i < paths.size(); ++i) {
        const QString &path = paths.at(i);
        const QString backup = freeBackupName(path);
        QString message;
        if (!QFile::rename(path, backup)) {
            message =
                failed(path, QStringLiteral("it could not be renamed to %1").arg(backup)).message();
        } else if (!QFile::rename(temps.at(i), path)) {
            const QString cause = QStringLiteral("the new file could not be moved into its place");
            message = QFile::rename(backup, path)
                          ? failed(path, cause).message()
                          : QStringLiteral("%1 could not be converted: %2.\nThe Jet file is kept "
                                           "as %3; rename it back to use it.")
                                .arg(path, cause, backup);
        }
        if (!message.isEmpty()) {
            removeTemps();
            for (const JetConversion &c : std::as_const(done))
                message += QStringLiteral("\n%1 was converted; its Jet file is kept as %2.")
                               .arg(c.path, c.backupPath);
            return Status::failure(Fault::InputOutput, message);
        }
        done.append({path, backup});
    }
    return done;
}

Result<QList<JetConversion>>
convertJetDataFiles(const QString &dataPath, const QStringList &jetFiles, const JetOptions &options)
{
    QList<JetFile> files;
    for (const QString &path : jetFiles)
        files.append({path, path == dataPath ? schema::dataFileNeeds() : schema::refFileNeeds()});
    return convertJetFiles(files, options);
}

} // namespace tarn
