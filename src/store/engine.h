// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "store/schema.h"
#include "store/status.h"

#include <QHash>
#include <QStringList>
#include <QVariant>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <utility>

namespace tarn
{

// The rows a statement gave, read forward. Values come as the engine stores
// them: whole numbers as qlonglong, fractions as double, text as QString,
// binary as QByteArray, NULL as a null QVariant.
class ResultRows
{
public:
    virtual ~ResultRows() = default;
    virtual bool next() = 0;
    virtual QVariant value(int column) const = 0;
    virtual int columnCount() const = 0;
    virtual QString columnName(int column) const = 0;
    // Rows an INSERT, UPDATE or DELETE touched.
    virtual qint64 affected() const = 0;
    // A failure met while stepping through the rows (success after the last).
    virtual Status error() const = 0;
};

// Rows stored in bulk, a row at a time, field by field in the order the
// writer was made for; inside the caller's transaction.
class RowWriter
{
public:
    virtual ~RowWriter() = default;
    // UTF-8 text; an empty text is stored as empty, never as NULL.
    virtual void text(std::string_view utf8) = 0;
    virtual void whole(long long value) = 0;
    // Fields in a row: the values, or bits 0 to count - 1 of flags as 0 or 1.
    virtual void wholes(std::span<const std::int16_t> values)
    {
        for (const std::int16_t value : values)
            whole(value);
    }
    virtual void bits(std::uint32_t flags, int count)
    {
        for (int k = 0; k < count; ++k)
            whole((flags >> k) & 1u);
    }
    virtual Status endRow() = 0;
    virtual Status finish() = 0;
};

// Rows read in bulk as the engine produces them, none held longer than its turn.
class RowReader
{
public:
    virtual ~RowReader() = default;
    // Moves to the next row: true, false after the last, or a failure.
    virtual Result<bool> next() = 0;
    virtual int fields() const = 0;
    virtual bool isNull(int field) const = 0;
    // The field as UTF-8 text; NULL reads as empty.
    virtual std::string_view text(int field) const = 0;
    // The field as a whole number, when it is stored as one.
    virtual std::optional<long long> whole(int field) const = 0;
};

// What sets SQLite files and a PostgreSQL server apart, behind one interface
// chosen when a database opens: the dialect, running statements, locking and
// snapshots, the catalog, other clients' changes, the bulk paths and limits.
// Failures carry the engine's cause alone; Database puts the place and the
// command's words around it.
class Engine
{
public:
    virtual ~Engine() = default;

    // Whether the tables live in a database that a team shares on a server,
    // which also keeps the team's settings.
    virtual bool shared() const = 0;

    // -- Statements. Values are bound in order for the ? in sql.
    virtual Result<std::unique_ptr<ResultRows>> run(const QString &sql,
                                                    const QVariantList &values) = 0;
    // Statements without values that run() is asked for next, in this order
    // or another, with no other statement between: where the engine gains by
    // it, they are sent together now and their rows kept until asked for.
    virtual void readAhead(const QStringList & /*statements*/) {}
    // Statements without values that run() is asked for once the catalog was
    // read at open, and whether other clients' changes are followed from
    // before them on (changedElsewhere() then takes no mark of its own): where
    // the engine gains by it, they go with the catalog's read.
    virtual void readWithCatalog(const QStringList & /*statements*/, bool /*follow*/) {}
    // A write transaction (begin: what beginWrite() gave) and its first
    // statement, which run() is asked for right after that transaction
    // begins, once the catalog was read at open: where the engine gains by
    // it, they go with the catalog's read, and the transaction waits for the
    // caller uncommitted. Anything else asked first takes it back.
    virtual void writeWithCatalog(const QStringList & /*begin*/, const QString & /*sql*/,
                                  const QVariantList & /*values*/)
    {
    }
    // A statement inside a transaction whose rows run() is asked for, with
    // the same sql and values, once the next statement ran: where the engine
    // allows, it goes with that one and its rows are kept until asked for.
    virtual void askAhead(const QString & /*sql*/, const QVariantList & /*values*/) {}
    // A statement inside a transaction whose rows nothing reads: where the
    // engine allows, it goes with the next statement, whose failure then may
    // be its own.
    virtual Status runLater(const QString &sql, const QVariantList &values)
    {
        return run(sql, values).status();
    }
    // The same for a statement that must touch a row, else its transaction
    // fails with ifNone: where the engine defers it, nothing after it runs then.
    virtual Status runLaterOrFail(const QString &sql, const QVariantList &values,
                                  const Status &ifNone)
    {
        Result<std::unique_ptr<ResultRows>> rows = run(sql, values);
        if (!rows)
            return rows.status();
        return (*rows)->affected() > 0 ? Status::success() : ifNone;
    }
    // A statement inside a transaction, run again and again with other
    // values, whose rows written() gives once the COMMIT ran: where the
    // engine allows, it goes with the COMMIT, parsed and planned once per
    // connection. False where it does not; the caller then goes its own way,
    // nothing sent.
    virtual bool writeAhead(const QString & /*sql*/, const QVariantList & /*values*/)
    {
        return false;
    }
    virtual Result<std::unique_ptr<ResultRows>> written()
    {
        return Status::failure(Fault::Other, QStringLiteral("nothing was written ahead"));
    }
    // Whether writeAhead() may go so, and a statement there may hold others
    // as WITH name AS (INSERT ... | UPDATE ... RETURNING ...).
    virtual bool writesAhead() const { return false; }
    // A snapshot read of its own that the caller begins once the next bulk
    // read (readRows with last set) has ended: begin as beginRead() gave it,
    // the statements it asks ahead, then its bulk read. Where the engine
    // allows, it goes in that read's exchange and its answers wait for it.
    virtual void readNext(const QStringList & /*begin*/,
                          const QList<std::pair<QString, QVariantList>> & /*asks*/,
                          const QString & /*select*/, const QVariantList & /*values*/)
    {
    }
    // Runs an INSERT and gives the new row's key.
    virtual Result<qint64> insert(const QString &sql, const QVariantList &values) = 0;
    // Statements without values, in one exchange where the engine allows.
    virtual Status runAll(const QStringList &statements) = 0;

    // -- Transactions. A write takes the store's lock (lock: one per store, so
    // that the two stores of one server database take turns apart); a read
    // sees one snapshot. Inside an open transaction, a savepoint.
    virtual QStringList beginWrite(int lock, const QString &savepoint) const = 0;
    virtual QStringList beginRead(const QString &savepoint) const = 0;
    // Open transactions on this connection, nested ones included.
    int depth() const { return mDepth; }
    void enter() { ++mDepth; }
    void leave()
    {
        if (mDepth > 0)
            --mDepth;
    }

    // -- Dialect.
    // "package_name = ?" without regard to ASCII case; value: what takes the ?.
    virtual QString nameFilter(const QString &value) const = 0;
    // An ORDER BY term for a text without regard to ASCII case.
    virtual QString noCaseOrder(const QString &column) const = 0;
    // An ORDER BY term that puts empty values first.
    virtual QString nullsFirst(const QString &column) const = 0;
    // 1 << bit when the Yes/No column is set, else 0.
    virtual QString flagBit(const QString &column, int bit) const = 0;
    // "name TYPE ..." as CREATE TABLE gives it.
    virtual QString columnDefinition(const schema::Column &column) const = 0;
    // The statements that create a table, with the row key a server needs.
    virtual QString createTable(const QString &table, const QStringList &definitions) const = 0;
    // Further statements (keys, indexes, notifications) after the data tables.
    virtual QStringList afterDataTables() const = 0;
    // After rows were copied with their keys (the column key): new rows take
    // keys after them.
    virtual QStringList keysFollow(const QString &table, const QString &key) const = 0;

    // -- Catalog: every table (lower case) with its columns in stored order,
    // read once for the checks that follow each other at start.
    Result<QHash<QString, QStringList>> tables()
    {
        if (!mTables) {
            Result<QHash<QString, QStringList>> read = readTables();
            if (!read)
                return read;
            mTables = *read;
        }
        return *mTables;
    }
    // Any statement may change the tables.
    void forgetTables() { mTables.reset(); }

    // -- Other clients: whether one committed a change to the configurations
    // since the last call; the first call only takes the mark.
    virtual Result<bool> changedElsewhere() = 0;
    // Calls notify, from the event loop, as soon as such a change is known
    // without asking (a server's notification); nothing where it is not.
    virtual void onChangedElsewhere(std::function<void()> /*notify*/) {}

    // -- Bulk paths, inside the caller's transaction.
    // last: the transaction commits as soon as the rows are finished, and
    // may end with them.
    virtual Result<std::unique_ptr<RowWriter>> writeRows(const QString &table,
                                                         const QStringList &columns, bool last) = 0;
    // select: a SELECT whose ? take values. last: nothing else runs in the
    // transaction, which may then end with the rows (a COMMIT or ROLLBACK
    // after them has nothing left to do).
    virtual Result<std::unique_ptr<RowReader>> readRows(const QString &select,
                                                        const QVariantList &values, bool last) = 0;
    Result<std::unique_ptr<RowReader>> readRows(const QString &select, const QVariantList &values)
    {
        return readRows(select, values, false);
    }

    // -- History (store/history.h).
    // The history's first columns: its key (id), the moment of the change in
    // UTC (changed_at) and who made it, filled in by the engine where it can.
    virtual QStringList historyKey() const = 0;
    // The index term that finds a configuration's rows as nameFilter() compares.
    virtual QString nameIndex() const = 0;
    // Who a record names when the engine does not fill it in itself (empty then).
    virtual QString author() const { return {}; }
    // A column's value as stored, as tagged text (store/historylog.h): NULL
    // stays NULL; whole numbers, fractions and texts stay apart.
    virtual QString taggedValue(const QString &column, schema::Kind kind) const = 0;
    // The record's INSERT and a statement as one statement, where the engine
    // runs that for less than two; empty where it does not.
    virtual QString recordedWith(const QString & /*insert*/, const QString & /*statement*/) const
    {
        return {};
    }
    // An expression for the bytes the tables take, their indexes included.
    virtual QString tableBytes(const QStringList &tables) const = 0;

    // -- Limits: the longest configuration name the engine can index (0: no limit).
    virtual qsizetype maxNameLength() const = 0;

protected:
    virtual Result<QHash<QString, QStringList>> readTables() = 0;

private:
    int mDepth = 0;
    std::optional<QHash<QString, QStringList>> mTables;
};

} // namespace tarn
