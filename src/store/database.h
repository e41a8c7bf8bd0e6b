#pragma once

#include "store/schema.h"
#include "store/status.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStringList>
#include <QVariant>

namespace tarn
{

// One SQLite file, one connection. Opening never creates a file: a plain open
// of a missing path would silently make an empty database.
class Database
{
public:
    Database();
    ~Database();
    Database(const Database &) = delete;
    Database &operator=(const Database &) = delete;

    // Opens an existing file read-write.
    Status open(const QString &path);
    // Creates a new file (which must not exist) and opens it.
    Status create(const QString &path);
    void close();

    QSqlDatabase connection() const { return mDb; }

    // "what\nFILE: cause", the engine's own text as the cause.
    Status failure(const QString &what, const QSqlError &error) const;
    Status failure(const QString &what, const QSqlQuery &query) const;

    // Runs one statement with its values bound in order; the query is left on
    // its result (forward only).
    Status exec(QSqlQuery &query, const QString &sql, const QVariantList &values = {},
                const QString &what = {}) const;
    Status exec(const QString &sql, const QVariantList &values = {},
                const QString &what = {}) const;

    // Column names of a table in stored order.
    Result<QStringList> columns(const QString &table) const;
    // What the file lacks of the tables and columns (columns in any case):
    // "the table T is missing" or "the table T has no column C"; empty when
    // it lacks nothing.
    Result<QString> lacking(const QList<schema::TableNeed> &needs) const;
    // The same as a failure that names the file.
    Status requireTables(const QList<schema::TableNeed> &needs) const;

private:
    Status openConnection(const QString &path, bool create);

    QString mConnectionName;
    QString mPath;
    QSqlDatabase mDb;
};

// BEGIN IMMEDIATE in begin(), a plain BEGIN in beginRead() (one snapshot for
// several reads, from the first of them on); rolled back on destruction unless
// committed.
class Transaction
{
public:
    explicit Transaction(const Database &db) : mDb(db) {}
    ~Transaction();
    Transaction(const Transaction &) = delete;
    Transaction &operator=(const Transaction &) = delete;

    Status begin(const QString &what);
    Status beginRead(const QString &what);
    Status commit(const QString &what);
    void rollback();

private:
    const Database &mDb;
    bool mActive = false;
};

// True when the file starts with the header of a Jet (Access) database.
bool isJetFile(const QString &path);

// The database file and the files the engine keeps beside it (journal, write-ahead
// log, shared memory), whether they exist or not.
QStringList databaseFiles(const QString &path);

} // namespace tarn
