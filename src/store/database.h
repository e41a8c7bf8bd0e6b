// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "store/engine.h"
#include "store/schema.h"
#include "store/status.h"

#include <QStringList>
#include <QVariant>

#include <functional>
#include <memory>
#include <optional>

namespace tarn
{

// The rows of a statement that ran, read forward.
class Query
{
public:
    bool next() { return mRows && mRows->next(); }
    QVariant value(int column) const { return mRows ? mRows->value(column) : QVariant(); }
    int columnCount() const { return mRows ? mRows->columnCount() : 0; }
    QString columnName(int column) const { return mRows ? mRows->columnName(column) : QString(); }
    // Rows an INSERT, UPDATE or DELETE touched.
    qint64 affected() const { return mRows ? mRows->affected() : 0; }
    // A failure met while stepping through the rows.
    Status error() const { return mRows ? mRows->error() : Status::success(); }

private:
    friend class Database;
    std::unique_ptr<ResultRows> mRows;
};

// One database: a SQLite file, or a database on a PostgreSQL server (a
// postgresql:// address). Which engine serves it is chosen here, once, when it
// opens; the store's statements are written once for both, through the
// engine's dialect. Opening never creates a file: a plain open of a missing
// path would silently make an empty database.
class Database
{
public:
    Database() = default;
    Database(const Database &) = delete;
    Database &operator=(const Database &) = delete;

    // Opens an existing file read-write, or connects to a server address.
    Status open(const QString &location);
    // The same, but when other is connected to that very server database, its
    // connection serves both: one connection for the data and the reference
    // tables. Each keeps its own write lock; a transaction begun while the
    // other's is open runs inside it (as a savepoint).
    Status openBeside(const QString &location, Database &other);
    // Creates a new file (which must not exist) and opens it.
    Status create(const QString &path);
    void close();
    bool isOpen() const { return bool(mEngine); }
    // A password for the next connection to a server, when the address and
    // libpq's own places (~/.pgpass, PGPASSWORD) have none. Kept in memory only.
    void setPassword(const QString &password) { mPassword = password; }

    // The file, or the server address without its password: what messages name.
    const QString &where() const { return mWhere; }
    // True when the database is one that a team shares on a server.
    bool shared() const { return mEngine && mEngine->shared(); }
    // The longest configuration name the engine can index; 0: no limit.
    qsizetype maxNameLength() const { return mEngine ? mEngine->maxNameLength() : 0; }
    // For the store's own classes: the dialect and the bulk paths.
    Engine &engine() { return *mEngine; }

    // "package_name = ?" without regard to ASCII case, for every statement that
    // picks a configuration's rows; value: an expression in place of the ?.
    QString nameFilter(const QString &value = QStringLiteral("?")) const
    {
        return mEngine->nameFilter(value);
    }
    QString noCaseOrder(const QString &column) const { return mEngine->noCaseOrder(column); }
    QString nullsFirst(const QString &column) const { return mEngine->nullsFirst(column); }

    // Runs one statement with its values bound in order; query holds its rows.
    Status exec(Query &query, const QString &sql, const QVariantList &values = {},
                const QString &what = {});
    Status exec(const QString &sql, const QVariantList &values = {}, const QString &what = {});
    // A statement inside a transaction whose outcome the next one's (or the
    // COMMIT's) tells: on a server it goes in the same exchange.
    Status execLater(const QString &sql, const QVariantList &values, const QString &what);
    // Runs an INSERT and returns the new row's key (rowid).
    Result<qint64> insert(const QString &sql, const QVariantList &values, const QString &what);
    // Statements without values, in one exchange where the engine allows.
    Status execAll(const QStringList &statements, const QString &what = {});

    // Whether another connection (another window, another program) has
    // committed a change to the configurations since the last call; the first
    // call only takes the mark.
    Result<bool> changedElsewhere();
    // Calls notify, from the event loop, when a server tells of such a change
    // (once changedElsewhere() was asked); a file tells nothing.
    void onChangedElsewhere(std::function<void()> notify)
    {
        if (mEngine)
            mEngine->onChangedElsewhere(std::move(notify));
    }

    // Column names of a table in stored order; empty when there is no such table.
    Result<QStringList> columns(const QString &table);
    // What the database lacks of the tables and columns (columns in any
    // case): "the table T is missing" or "the table T has no column C"; empty
    // when it lacks nothing.
    Result<QString> lacking(const QList<schema::TableNeed> &needs);
    // The same as a failure that names the file: NotFound when none of the
    // tables is there, Damaged when some are.
    Status requireTables(const QList<schema::TableNeed> &needs);

    // Whether the database holds the history tables (store/history.h): taken
    // from the catalog that opening reads, so that asking costs nothing.
    Result<bool> keepsHistory();
    // After the history tables were added.
    void forgetHistory() { mKeepsHistory.reset(); }

    // "what\nWHERE: cause", of the cause's kind.
    Status failure(const QString &what, const Status &cause) const;

    // Serialises the writers of one store (a SQLite file's write lock); on a
    // server, each store takes its own lock, as two files would.
    void setWriteLock(int key) { mWriteLock = key; }

private:
    friend class Transaction;

    Status opened(Result<std::unique_ptr<Engine>> engine);

    std::shared_ptr<Engine> mEngine;
    QString mWhere;
    QString mLocation; // as given
    QString mPassword;
    int mWriteLock = 1;
    std::optional<bool> mKeepsHistory;
};

// begin() takes the store's write lock (SQLite: BEGIN IMMEDIATE; a server: an
// advisory lock for the transaction); beginRead() gives one snapshot for
// several reads. Rolled back on destruction unless committed. On a connection
// that two stores share, one begun inside the other's is a savepoint of it.
class Transaction
{
public:
    explicit Transaction(Database &db) : mDb(db) {}
    ~Transaction();
    Transaction(const Transaction &) = delete;
    Transaction &operator=(const Transaction &) = delete;

    Status begin(const QString &what);
    Status beginRead(const QString &what);
    Status commit(const QString &what);
    void rollback();
    // Work that commits with its last statement comes here before it.
    void aboutToCommit() const;

private:
    Status start(bool write, const QString &what);
    void undo();

    Database &mDb;
    QString mSavepoint; // when nested
    bool mActive = false;
    bool mWrite = false; // a write transaction of its own, not a savepoint
};

// The crash tests' seam for the moment a write transaction begins, which a
// server's engine may reach before Transaction does (Engine::writeWithCatalog).
void markWriteBegun();

// True when the file starts with the header of a Jet (Access) database.
bool isJetFile(const QString &path);

// The database file and the files the engine keeps beside it (journal, write-ahead
// log, shared memory), whether they exist or not.
QStringList databaseFiles(const QString &path);
// Removes them all: for a temporary database left by a run that was cut off.
void removeDatabaseFiles(const QString &path);

} // namespace tarn
