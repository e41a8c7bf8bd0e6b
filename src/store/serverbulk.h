#pragma once

#include "store/status.h"

#include <QByteArrayList>

#include <string>
#include <string_view>

struct pg_conn;
struct pg_result;

namespace tarn
{

class Database;

// The bulk paths on a server go to libpq under the store's connection: a COPY
// streams an import's rows in one go, and a long read comes back as one result,
// without a QVariant per value. Both run inside the store's transaction.

// Rows sent with COPY ... FROM STDIN in the text format.
class CopyIn
{
public:
    explicit CopyIn(const Database &db) : mDb(db) {}
    // A COPY cut short (a failure of the rows' source) is cancelled, so that
    // the connection can roll back.
    ~CopyIn();
    CopyIn(const CopyIn &) = delete;
    CopyIn &operator=(const CopyIn &) = delete;

    // sql: "COPY table (columns) FROM STDIN".
    Status start(const QString &sql, const QString &what);
    // UTF-8 text; NULL is never sent.
    void text(std::string_view utf8);
    void whole(long long value);
    void endRow();
    // Sends what is buffered when there is enough of it.
    Status flushIfFull(const QString &what);
    Status finish(const QString &what);

private:
    Status send(const QString &what);
    void separate();

    const Database &mDb;
    pg_conn *mConn = nullptr;
    std::string mBuffer;
    bool mRowStarted = false;
    bool mActive = false;
};

// A query's whole result, as text values, freed when it goes.
class ServerResult
{
public:
    ServerResult() = default;
    ~ServerResult();
    ServerResult(const ServerResult &) = delete;
    ServerResult &operator=(const ServerResult &) = delete;

    // Runs sql ($1, $2... for the values, bound as text).
    Status exec(const Database &db, const QString &sql, const QByteArrayList &values,
                const QString &what);
    pg_result *get() const { return mResult; }
    int rows() const;

private:
    pg_result *mResult = nullptr;
};

} // namespace tarn
