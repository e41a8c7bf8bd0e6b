#pragma once

#include "status.h"

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
    // Refuses a table that is missing or lacks one of the columns (any case).
    Status requireColumns(const QString &table, const QStringList &needed) const;

private:
    Status openConnection(const QString &path, bool create);

    QString mConnectionName;
    QString mPath;
    QSqlDatabase mDb;
};

// BEGIN IMMEDIATE in begin(); rolled back on destruction unless committed.
class Transaction
{
public:
    explicit Transaction(const Database &db) : mDb(db) {}
    ~Transaction();
    Transaction(const Transaction &) = delete;
    Transaction &operator=(const Transaction &) = delete;

    Status begin(const QString &what);
    Status commit(const QString &what);
    void rollback();

private:
    const Database &mDb;
    bool mActive = false;
};

// True when the file starts with the header of a Jet (Access) database.
bool isJetFile(const QString &path);

} // namespace tarn
