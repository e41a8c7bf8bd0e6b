#pragma once

#include "store/status.h"

#include <QByteArrayList>

#include <string>
#include <string_view>
#include <vector>

struct pg_conn;

namespace tarn
{

class Database;

// The bulk paths on a server go to libpq under the store's connection: a COPY
// streams an import's rows in, or an export's rows out, without a QVariant per
// value. Both run inside the store's transaction.

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
    void setActive(bool active);
    Status send(const QString &what);
    void separate();

    const Database &mDb;
    pg_conn *mConn = nullptr;
    std::string mBuffer;
    bool mRowStarted = false;
    bool mActive = false;
};

// Rows read with COPY (...) TO STDOUT in the text format, one at a time as the
// server sends them: the rows are taken while the server still produces the
// rest, and none is held longer than its turn.
class CopyOut
{
public:
    explicit CopyOut(const Database &db) : mDb(db) {}
    // A read left part way takes in the rest, so that the connection can go on.
    ~CopyOut();
    CopyOut(const CopyOut &) = delete;
    CopyOut &operator=(const CopyOut &) = delete;

    // sql: "COPY (SELECT ...) TO STDOUT".
    Status start(const QString &sql, const QString &what);
    // Moves to the next row: true, false after the last, or a failure.
    Result<bool> next(const QString &what);

    // The current row's fields, as UTF-8; a NULL reads as empty.
    int fields() const { return int(mFields.size()); }
    std::string_view field(int column) const { return mFields[size_t(column)]; }
    bool isNull(int column) const { return mNulls[size_t(column)]; }

private:
    void setActive(bool active);
    void drain();

    const Database &mDb;
    pg_conn *mConn = nullptr;
    char *mLine = nullptr; // libpq's buffer of the current row, unescaped in place
    std::vector<std::string_view> mFields;
    std::vector<bool> mNulls;
    bool mActive = false;
};

} // namespace tarn
