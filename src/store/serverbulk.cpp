#include "store/serverbulk.h"

#include "store/database.h"

#include <QSqlDriver>
#include <QSqlError>

#include <libpq-fe.h>

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

} // namespace

CopyIn::~CopyIn()
{
    if (mActive) {
        PQputCopyEnd(mConn, "the import was cut short");
        while (PGresult *result = PQgetResult(mConn))
            PQclear(result);
    }
}

Status CopyIn::start(const QString &sql, const QString &what)
{
    Result<PGconn *> conn = serverOf(mDb, what);
    if (!conn)
        return conn.status();
    mConn = *conn;
    PGresult *result = PQexec(mConn, sql.toUtf8().constData());
    const bool copying = PQresultStatus(result) == PGRES_COPY_IN;
    Status status = copying ? Status::success() : serverFailure(mDb, mConn, result, what);
    PQclear(result);
    mActive = copying;
    mBuffer.reserve(kCopyChunk + 4096);
    return status;
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
    mActive = false;
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

ServerResult::~ServerResult()
{
    PQclear(mResult);
}

Status ServerResult::exec(const Database &db, const QString &sql, const QByteArrayList &values,
                          const QString &what)
{
    Result<PGconn *> conn = serverOf(db, what);
    if (!conn)
        return conn.status();
    std::vector<const char *> params;
    for (const QByteArray &value : values)
        params.push_back(value.constData());
    PQclear(mResult);
    mResult = PQexecParams(*conn, sql.toUtf8().constData(), int(params.size()), nullptr,
                           params.data(), nullptr, nullptr, 0);
    if (PQresultStatus(mResult) != PGRES_TUPLES_OK && PQresultStatus(mResult) != PGRES_COMMAND_OK)
        return serverFailure(db, *conn, mResult, what);
    return Status::success();
}

int ServerResult::rows() const
{
    return mResult ? PQntuples(mResult) : 0;
}

} // namespace tarn
