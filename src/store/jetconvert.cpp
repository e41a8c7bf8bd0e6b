#include "jetconvert.h"

#include "database.h"
#include "initfiles.h"
#include "jetdump.h"
#include "schema.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSqlQuery>

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

QString quoted(QString name)
{
    return QLatin1Char('"') + name.replace(QLatin1Char('"'), QStringLiteral("\"\"")) +
           QLatin1Char('"');
}

// The SQLite table for a Jet table: a table the program knows gets its names,
// types and column order for the columns it has, then the rest as they are.
struct Plan {
    QString table;
    QStringList definitions;
    QStringList names;        // quoted
    QList<qsizetype> sources; // column in the Jet table
};

Plan planFor(const jet::Table &table)
{
    Plan plan{quoted(table.name), {}, {}, {}};
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
            plan.definitions << (own ? name + QLatin1Char(' ') + jet::sqliteType(type)
                                     : schema::columnDefinition(column));
            plan.names << name;
            plan.sources << source;
            placed[source] = true;
        }
    }
    for (qsizetype i = 0; i < table.columns.size(); ++i) {
        if (placed.at(i))
            continue;
        const jet::Column &column = table.columns.at(i);
        plan.definitions << quoted(column.name) + QLatin1Char(' ') + jet::sqliteType(column.type);
        plan.names << quoted(column.name);
        plan.sources << i;
    }
    return plan;
}

Status writeTable(const Database &db, const jet::Table &table)
{
    const Plan plan = planFor(table);
    const QString what = QStringLiteral("Could not copy the table %1.").arg(table.name);
    if (Status s = db.exec(QStringLiteral("CREATE TABLE %1 (%2)")
                               .arg(plan.table, plan.definitions.join(QStringLiteral(", "))),
                           {}, what);
        !s)
        return s;
    QSqlQuery insert(db.connection());
    if (!insert.prepare(QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                            .arg(plan.table, schema::joined(plan.names),
                                 schema::placeholders(plan.names.size()))))
        return db.failure(what, insert);
    for (qsizetype r = 0; r < table.rows.size(); ++r) {
        const QVariantList &row = table.rows.at(r);
        for (qsizetype i = 0; i < plan.sources.size(); ++i)
            insert.bindValue(int(i), row.at(plan.sources.at(i)));
        if (!insert.exec())
            return db.failure(
                QStringLiteral("Could not copy row %1 of the table %2.").arg(r + 1).arg(table.name),
                insert);
    }
    return Status::success();
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
        return Status::failure(QStringLiteral("the Jet reader %1 could not be started (%2)")
                                   .arg(reader, process.errorString()));
    if (!process.waitForFinished(options.timeoutMs)) {
        process.kill();
        process.waitForFinished();
        return Status::failure(
            QStringLiteral("reading it took longer than %1 seconds, so it was stopped")
                .arg(options.timeoutMs / 1000.0));
    }
    if (process.exitStatus() == QProcess::CrashExit)
        return Status::failure(QStringLiteral("the Jet reader crashed while reading it; the file "
                                              "may be damaged%1")
                                   .arg(readerMessage(process)));
    if (process.exitCode() != 0)
        return Status::failure(QStringLiteral("the Jet reader could not read it (status %1)%2")
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

Status failed(const QString &path, const QString &cause)
{
    return Status::failure(
        QStringLiteral("%1 could not be converted: %2\nThe file was left as it is.")
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
        QFile::remove(temp); // left by an earlier run that was cut off
        Status built = buildDatabaseFile(temp, [&](const Database &db) {
            for (const jet::Table &table : std::as_const(contents.at(i)))
                if (Status s = writeTable(db, table); !s)
                    return s;
            // What start-up will ask of the file, asked now: once it is in
            // place, a file that fails is too late to refuse.
            Result<QString> lacks = db.lacking(files.at(i).needs);
            if (!lacks)
                return lacks.status();
            return lacks->isEmpty() ? Status::success() : Status::failure(*lacks);
        });
        if (!built) {
            removeTemps();
            return failed(paths.at(i), built.message());
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
            return Status::failure(message);
        }
        done.append({path, backup});
    }
    return done;
}

} // namespace tarn
