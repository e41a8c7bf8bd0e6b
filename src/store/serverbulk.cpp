#include "store/serverbulk.h"

#include "store/database.h"

#include <QSqlDriver>
#include <QSqlError>

#include <libpq-fe.h>

#include <algorithm>
#include <charconv>

namespace tarn
{

namespace
{

constexpr size_t kCopyChunk = 256 * 1024;

Result<PGconn *> serverOf(const Database &db, const QString &what)
{
    const QSqlDatabase connection = db.connection();
    if (connection.isValid() && connection.driver()) {
        const QVariant handle = connection.driver()->handle();
        if (handle.isValid() && isServerHandle(handle))
            if (PGconn *conn = *static_cast<PGconn *const *>(handle.constData()))
                return conn;
    }
    return db.failure(what,
                      QSqlError(QString(), QStringLiteral("the database is not open on a server"),
                                QSqlError::ConnectionError));
}

Status serverFailure(const Database &db, PGconn *conn, const PGresult *result, const QString &what)
{
    QString text =
        QString::fromUtf8(result ? PQresultErrorMessage(result) : PQerrorMessage(conn)).trimmed();
    if (text.isEmpty())
        text = QString::fromUtf8(PQerrorMessage(conn)).trimmed();
    if (text.startsWith(QLatin1String("ERROR:")))
        text = text.mid(6).trimmed();
    // failure() notices a connection that went and says so.
    return db.failure(what, QSqlError(QString(), text, QSqlError::StatementError));
}

// Sends a COPY statement: the connection, once the server has entered the
// expected copy state.
Result<PGconn *> startCopy(const Database &db, const QString &sql, ExecStatusType expected,
                           const QString &what)
{
    Result<PGconn *> conn = serverOf(db, what);
    if (!conn)
        return conn.status();
    PGresult *result = PQexec(*conn, sql.toUtf8().constData());
    const Status status = PQresultStatus(result) == expected
                              ? Status::success()
                              : serverFailure(db, *conn, result, what);
    PQclear(result);
    if (!status)
        return status;
    return conn;
}

} // namespace

void CopyIn::setActive(bool active)
{
    mActive = active;
    mDb.setCopying(active);
}

CopyIn::~CopyIn()
{
    if (mActive) {
        PQputCopyEnd(mConn, "the import was cut short");
        while (PGresult *result = PQgetResult(mConn))
            PQclear(result);
        setActive(false);
    }
}

Status CopyIn::start(const QString &sql, const QString &what)
{
    Result<PGconn *> conn = startCopy(mDb, sql, PGRES_COPY_IN, what);
    if (!conn)
        return conn.status();
    mConn = *conn;
    setActive(true);
    mBuffer.reserve(kCopyChunk + 4096);
    return Status::success();
}

void CopyIn::separate()
{
    if (mRowStarted)
        mBuffer += '\t';
    mRowStarted = true;
}

void CopyIn::text(std::string_view utf8)
{
    separate();
    for (const char c : utf8) {
        switch (c) {
        case '\\':
            mBuffer += "\\\\";
            break;
        case '\t':
            mBuffer += "\\t";
            break;
        case '\n':
            mBuffer += "\\n";
            break;
        case '\r':
            mBuffer += "\\r";
            break;
        default:
            mBuffer += c;
        }
    }
}

void CopyIn::whole(long long value)
{
    separate();
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    mBuffer.append(digits, end);
}

void CopyIn::endRow()
{
    mBuffer += '\n';
    mRowStarted = false;
}

Status CopyIn::send(const QString &what)
{
    if (!mBuffer.empty() && PQputCopyData(mConn, mBuffer.data(), int(mBuffer.size())) != 1)
        return serverFailure(mDb, mConn, nullptr, what);
    mBuffer.clear();
    return Status::success();
}

Status CopyIn::flushIfFull(const QString &what)
{
    return mBuffer.size() >= kCopyChunk ? send(what) : Status::success();
}

Status CopyIn::finish(const QString &what)
{
    if (Status s = send(what); !s)
        return s;
    setActive(false);
    if (PQputCopyEnd(mConn, nullptr) != 1)
        return serverFailure(mDb, mConn, nullptr, what);
    Status status = Status::success();
    while (PGresult *result = PQgetResult(mConn)) {
        if (status && PQresultStatus(result) != PGRES_COMMAND_OK)
            status = serverFailure(mDb, mConn, result, what);
        PQclear(result);
    }
    return status;
}

void CopyOut::setActive(bool active)
{
    mActive = active;
    mDb.setCopying(active);
}

CopyOut::~CopyOut()
{
    drain();
}

void CopyOut::drain()
{
    if (mLine)
        PQfreemem(mLine);
    mLine = nullptr;
    if (!mActive)
        return;
    setActive(false);
    char *rest = nullptr;
    while (PQgetCopyData(mConn, &rest, 0) > 0)
        PQfreemem(rest);
    while (PGresult *result = PQgetResult(mConn))
        PQclear(result);
}

Status CopyOut::start(const QString &sql, const QString &what)
{
    Result<PGconn *> conn = startCopy(mDb, sql, PGRES_COPY_OUT, what);
    if (!conn)
        return conn.status();
    mConn = *conn;
    setActive(true);
    return Status::success();
}

namespace
{

// The text format's escapes, undone in place; the text only shrinks.
std::string_view unescape(char *begin, char *end)
{
    char *out = begin;
    for (const char *in = begin; in < end; ++in) {
        if (*in != '\\' || in + 1 == end) {
            *out++ = *in;
            continue;
        }
        switch (*++in) {
        case 'b':
            *out++ = '\b';
            break;
        case 'f':
            *out++ = '\f';
            break;
        case 'n':
            *out++ = '\n';
            break;
        case 'r':
            *out++ = '\r';
            break;
        case 't':
            *out++ = '\t';
            break;
        case 'v':
            *out++ = '\v';
            break;
        default: // the server escapes nothing else but the backslash itself
            *out++ = *in;
        }
    }
    return std::string_view(begin, size_t(out - begin));
}

} // namespace

Result<bool> CopyOut::next(const QString &what)
{
    if (mLine)
        PQfreemem(mLine);
    mLine = nullptr;
    mFields.clear();
    mNulls.clear();
    if (!mActive)
        return false;
    const int length = PQgetCopyData(mConn, &mLine, 0);
    if (length == -1) { // the end: the command's result says how it went
        setActive(false);
        Status status = Status::failure(
            what +
            QStringLiteral("\n%1: the server ended the rows without a word").arg(mDb.where()));
        bool told = false;
        while (PGresult *result = PQgetResult(mConn)) {
            if (!told)
                status = PQresultStatus(result) == PGRES_COMMAND_OK
                             ? Status::success()
                             : serverFailure(mDb, mConn, result, what);
            told = true;
            PQclear(result);
        }
        if (!status)
            return status;
        return false;
    }
    if (length < 0) {
        setActive(false);
        return serverFailure(mDb, mConn, nullptr, what);
    }
    char *end = mLine + length;
    if (end > mLine && end[-1] == '\n')
        --end;
    for (char *field = mLine;;) {
        char *tab = std::find(field, end, '\t');
        const bool null = tab - field == 2 && field[0] == '\\' && field[1] == 'N';
        mNulls.push_back(null);
        mFields.push_back(null ? std::string_view() : unescape(field, tab));
        if (tab == end)
            break;
        field = tab + 1;
    }
    return true;
}

} // namespace tarn
