// SPDX-License-Identifier: GPL-3.0-or-later
#include "store/database.h"

#include "store/serverengine.h"
#include "store/serverurl.h"
#include "store/sqliteengine.h"

#include <QFile>
#include <QThread>

#include <algorithm>

namespace tarn
{

namespace
{

// A seam for the crash tests, which must know for certain that a command is
// inside its write: the variable names a file made at that moment. With
// hold, the command then waits there until it is killed.
void writeSeam(const char *variable, bool hold)
{
    const QString file = qEnvironmentVariable(variable);
    if (file.isEmpty())
        return;
    QFile(file).open(QIODevice::WriteOnly);
    while (hold)
        QThread::sleep(1);
}

} // namespace

void markWriteBegun()
{
    writeSeam("TARN_TEST_WRITE_BEGUN", false);
}

Status Database::open(const QString &location)
{
    close();
    mLocation = location;
    mWhere = location;
    if (!isServerUrl(location))
        return opened(openSqliteFile(location, false));
    mWhere = withoutPassword(location);
    const Result<ServerUrl> server = parseServerUrl(location);
    if (!server)
        return server.status();
    mWhere = server->shown();
    return opened(openServerDatabase(*server, mPassword));
}

Status Database::openBeside(const QString &location, Database &other)
{
    if (!other.shared() || other.mLocation != location)
        return open(location);
    close();
    mEngine = other.mEngine;
    mLocation = other.mLocation;
    mWhere = other.mWhere;
    return Status::success();
}

Status Database::create(const QString &path)
{
    close();
    mLocation = path;
    mWhere = path;
    return opened(openSqliteFile(path, true));
}

Status Database::opened(Result<std::unique_ptr<Engine>> engine)
{
    if (!engine)
        return failure({}, engine.status());
    mEngine = std::move(*engine);
    mKeepsHistory.reset();
    return Status::success();
}

void Database::close()
{
    mEngine.reset();
    mKeepsHistory.reset();
}

Status Database::failure(const QString &what, const Status &cause) const
{
    if (cause)
        return cause;
    return Status::failure(cause.fault(), QStringLiteral("%1: %2").arg(mWhere, cause.message()))
        .under(what);
}

Status Database::exec(Query &query, const QString &sql, const QVariantList &values,
                      const QString &what)
{
    query.mRows.reset();
    if (!mEngine)
        return failure(what,
                       Status::failure(Fault::Other, QStringLiteral("the database is not open")));
    mEngine->forgetTables(); // any statement may change them
    Result<std::unique_ptr<ResultRows>> rows = mEngine->run(sql, values);
    if (!rows)
        return failure(what, rows.status());
    query.mRows = std::move(*rows);
    return Status::success();
}

Status Database::exec(const QString &sql, const QVariantList &values, const QString &what)
{
    Query query;
    return exec(query, sql, values, what);
}

Status Database::execLater(const QString &sql, const QVariantList &values, const QString &what)
{
    if (!mEngine)
        return failure(what,
                       Status::failure(Fault::Other, QStringLiteral("the database is not open")));
    return failure(what, mEngine->runLater(sql, values));
}

Result<qint64> Database::insert(const QString &sql, const QVariantList &values, const QString &what)
{
    if (!mEngine)
        return failure(what,
                       Status::failure(Fault::Other, QStringLiteral("the database is not open")));
    Result<qint64> key = mEngine->insert(sql, values);
    if (!key)
        return failure(what, key.status());
    return key;
}

Status Database::execAll(const QStringList &statements, const QString &what)
{
    if (!mEngine)
        return failure(what,
                       Status::failure(Fault::Other, QStringLiteral("the database is not open")));
    mEngine->forgetTables();
    return failure(what, mEngine->runAll(statements));
}

Result<bool> Database::changedElsewhere()
{
    Result<bool> changed = mEngine->changedElsewhere();
    if (!changed)
        return failure(QStringLiteral("Could not check the configurations for changes."),
                       changed.status());
    return changed;
}

Result<QStringList> Database::columns(const QString &table)
{
    Result<QHash<QString, QStringList>> tables = mEngine->tables();
    if (!tables)
        return failure({}, tables.status());
    return tables->value(table.toLower());
}

Result<bool> Database::keepsHistory()
{
    if (!mKeepsHistory) {
        if (!mEngine)
            return false;
        Result<QHash<QString, QStringList>> tables = mEngine->tables();
        if (!tables)
            return failure({}, tables.status());
        mKeepsHistory = tables->contains(QLatin1String(schema::kHistoryTable));
    }
    return *mKeepsHistory;
}

Result<QString> Database::lacking(const QList<schema::TableNeed> &needs)
{
    Result<QHash<QString, QStringList>> tables = mEngine->tables();
    if (!tables)
        return failure({}, tables.status());
    mKeepsHistory = tables->contains(QLatin1String(schema::kHistoryTable));
    for (const schema::TableNeed &need : needs) {
        const QStringList present = tables->value(need.table.toLower());
        if (present.isEmpty())
            return QStringLiteral("the table %1 is missing").arg(need.table);
        for (const QString &column : need.columns)
            if (!present.contains(column, Qt::CaseInsensitive))
                return QStringLiteral("the table %1 has no column %2").arg(need.table, column);
    }
    return QString();
}

Status Database::requireTables(const QList<schema::TableNeed> &needs)
{
    Result<QString> lacks = lacking(needs);
    if (!lacks)
        return lacks.status();
    if (lacks->isEmpty())
        return Status::success();
    Result<QHash<QString, QStringList>> tables = mEngine->tables();
    const bool none = tables && std::ranges::none_of(needs, [&](const schema::TableNeed &need) {
                          return tables->contains(need.table.toLower());
                      });
    return Status::failure(none ? Fault::NotFound : Fault::Damaged,
                           QStringLiteral("%1: %2").arg(mWhere, *lacks));
}

Transaction::~Transaction()
{
    rollback();
}

Status Transaction::start(bool write, const QString &what)
{
    if (!mDb.mEngine)
        return mDb.failure(
            what, Status::failure(Fault::Other, QStringLiteral("the database is not open")));
    Engine &engine = *mDb.mEngine;
    // Only a shared connection has another store's transaction open.
    const int open = engine.depth();
    mSavepoint = open > 0 ? QStringLiteral("tarn_nested_%1").arg(open) : QString();
    const QStringList statements =
        write ? engine.beginWrite(mDb.mWriteLock, mSavepoint) : engine.beginRead(mSavepoint);
    if (Status s = mDb.execAll(statements, what); !s) {
        // The first may have begun what a later one failed in.
        if (s.fault() != Fault::ConnectionLost)
            undo();
        return s;
    }
    mActive = true;
    engine.enter();
    mWrite = write && mSavepoint.isEmpty();
    if (mWrite)
        markWriteBegun();
    return Status::success();
}

Status Transaction::begin(const QString &what)
{
    return start(true, what);
}

Status Transaction::beginRead(const QString &what)
{
    return start(false, what);
}

void Transaction::aboutToCommit() const
{
    if (mWrite)
        writeSeam("TARN_TEST_HOLD_COMMIT", true);
}

Status Transaction::commit(const QString &what)
{
    aboutToCommit();
    const QString sql = mSavepoint.isEmpty() ? QStringLiteral("COMMIT")
                                             : QStringLiteral("RELEASE SAVEPOINT ") + mSavepoint;
    if (Status s = mDb.exec(sql, {}, what); !s)
        return s; // still active: the destructor rolls back
    mActive = false;
    mWrite = false;
    mDb.mEngine->leave();
    return Status::success();
}

void Transaction::undo()
{
    if (mSavepoint.isEmpty())
        std::ignore = mDb.exec(QStringLiteral("ROLLBACK"));
    else if (mDb.exec(QStringLiteral("ROLLBACK TO SAVEPOINT ") + mSavepoint))
        std::ignore = mDb.exec(QStringLiteral("RELEASE SAVEPOINT ") + mSavepoint);
}

void Transaction::rollback()
{
    if (!mActive)
        return;
    mActive = false;
    mWrite = false;
    if (mDb.mEngine) {
        undo();
        mDb.mEngine->leave();
    }
}

bool isJetFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray head = file.read(32);
    return head.size() >= 19 && head.at(0) == 0 &&
           (head.mid(4, 15) == "Standard Jet DB" || head.mid(4, 15) == "Standard ACE DB");
}

QStringList databaseFiles(const QString &path)
{
    return {path, path + QStringLiteral("-journal"), path + QStringLiteral("-wal"),
            path + QStringLiteral("-shm")};
}

void removeDatabaseFiles(const QString &path)
{
    for (const QString &file : databaseFiles(path))
        QFile::remove(file);
}

} // namespace tarn
