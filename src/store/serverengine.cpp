// SPDX-License-Identifier: GPL-3.0-or-later
#include "store/serverengine.h"

#include "store/database.h"
#include "store/serverurl.h"

#include <QDeadlineTimer>
#include <QLocale>
#include <QRegularExpression>
#include <QSocketNotifier>

#include <libpq-fe.h>
#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace tarn
{

namespace
{

// libpq's type numbers of the columns whose values are not text.
enum : Oid {
    kBool = 16,
    kBytea = 17,
    kInt8 = 20,
    kInt2 = 21,
    kInt4 = 23,
    kOid = 26,
    kFloat4 = 700,
    kFloat8 = 701,
    kNumeric = 1700,
};

// A SQLSTATE in a verbose message: five letters or digits, at least one a
// digit (so that a severity such as FATAL is not taken for one).
const QString kStateRule = QStringLiteral("(?=[A-Z]*[0-9])[0-9A-Z]{5}");
// Rows go to the server in messages of about this size. The server takes in a
// whole message before it parses any of it: small ones keep it parsing while
// the next arrive (messages of 256 KiB made its COPY up to a fifth slower).
constexpr size_t kCopyChunk = 16 * 1024;

const QString kLostConnection =
    QStringLiteral("\nThe connection to the server was lost; nothing of this command was stored. "
                   "The next command connects again.");

// How long a server may stay silent, after the last byte sent to it, before
// the link is taken for dead: no statement of the store's waits that long on
// the server's work (writers wait for a lock at most busyTimeoutMs()), and
// rows keep the link busy while they flow. A seam lets tests use less.
int answerTimeoutMs()
{
    const int ms = qEnvironmentVariableIntValue("TARN_ANSWER_TIMEOUT_MS");
    return ms > 0 ? ms : 20000;
}

int connectTimeoutMs()
{
    return std::min(10000, answerTimeoutMs());
}

const QString kNotKnown =
    QStringLiteral("\nWhether the change was stored is not known: look before doing it again. "
                   "The next command connects again.");

int busyTimeoutMs()
{
    const int ms = qEnvironmentVariableIntValue("TARN_BUSY_TIMEOUT_MS");
    return ms > 0 ? ms : 3000;
}

// The kind of a failure by the server's SQLSTATE, which no translation touches.
Fault faultOf(const QByteArray &state)
{
    if (state.isEmpty())
        return Fault::ConnectionLost; // libpq's own: the link failed
    const QByteArray kind = state.left(2);
    if (kind == "08" || state == "57P01" || state == "57P02" || state == "57P03")
        return Fault::ConnectionLost;
    if (state == "55P03" || state == "40001" || state == "40P01")
        return Fault::Locked;
    if (state == "23505")
        return Fault::Exists;
    if (kind == "23" || kind == "22" || state == "42501")
        return Fault::Refused;
    if (state == "42P01" || state == "42703" || kind == "XX")
        return Fault::Damaged;
    if (kind == "53" || kind == "58")
        return Fault::InputOutput;
    if (state == "3D000")
        return Fault::NotFound;
    if (state == "28P01")
        return Fault::NeedsPassword;
    if (kind == "28")
        return Fault::Refused;
    return Fault::Other;
}

// Text without the frame libpq puts around it, its lines joined.
QString plainText(QString text)
{
    static const QRegularExpression location(QStringLiteral("\\n?LOCATION:[^\\n]*"));
    static const QRegularExpression code(QStringLiteral("[^\\s:]+:\\s+%1: ").arg(kStateRule));
    text.remove(location).remove(code);
    static const QRegularExpression severity(QStringLiteral("^(ERROR|FATAL|PANIC):\\s+"));
    text = text.trimmed().remove(severity);
    return text.replace(QStringLiteral("\n\t"), QStringLiteral(" ")).trimmed();
}

// A statement's ? as libpq's $1, $2, ... outside quoted text and names, or
// as the literals given.
QByteArray numbered(const QString &sql, const std::vector<QByteArray> *literals = nullptr)
{
    const QByteArray utf8 = sql.toUtf8();
    QByteArray out;
    out.reserve(utf8.size() + 16);
    int n = 0;
    char quote = 0;
    for (const char c : utf8) {
        if (quote) {
            if (c == quote)
                quote = 0;
            out += c;
        } else if (c == '\'' || c == '"') {
            quote = c;
            out += c;
        } else if (c == '?') {
            ++n;
            if (literals && size_t(n) <= literals->size())
                out += (*literals)[size_t(n - 1)];
            else
                out += '$' + QByteArray::number(n);
        } else {
            out += c;
        }
    }
    return out;
}

QByteArray numberText(double d)
{
    return std::isnan(d)   ? QByteArray("NaN")
           : std::isinf(d) ? QByteArray(d > 0 ? "Infinity" : "-Infinity")
                           : QByteArray::number(d, 'g', QLocale::FloatingPointShortest);
}

// A value as the server reads it in text form; bytes stay as they are.
QByteArray valueText(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::Bool:
        return value.toBool() ? "1" : "0";
    case QMetaType::Double:
    case QMetaType::Float:
        return numberText(value.toDouble());
    case QMetaType::QByteArray:
        return value.toByteArray();
    default:
        return value.toString().toUtf8();
    }
}

// A value whose text needs no escaping: digits, a sign, a point, an exponent
// or a word (NaN, Infinity).
bool plainLiteral(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::Bool:
    case QMetaType::Double:
    case QMetaType::Float:
        return true;
    default:
        return false;
    }
}

// A value's type by the column's: int2 and int4 as int, int8 as qlonglong,
// numeric and floating point as double, bool, bytea; anything else as text.
// NULL is a null value of that type.
QMetaType typeOf(Oid type)
{
    switch (type) {
    case kBool:
        return QMetaType::fromType<bool>();
    case kInt2:
    case kInt4:
    case kOid:
        return QMetaType::fromType<int>();
    case kInt8:
        return QMetaType::fromType<qlonglong>();
    case kFloat4:
    case kFloat8:
    case kNumeric:
        return QMetaType::fromType<double>();
    case kBytea:
        return QMetaType::fromType<QByteArray>();
    default:
        return QMetaType::fromType<QString>();
    }
}

QVariant valueOf(const PGresult *result, int row, int column)
{
    const Oid oid = PQftype(result, column);
    if (PQgetisnull(result, row, column))
        return QVariant(typeOf(oid));
    const char *text = PQgetvalue(result, row, column);
    const int length = PQgetlength(result, row, column);
    switch (oid) {
    case kBool:
        return text[0] == 't';
    case kInt2:
    case kInt4:
    case kOid:
        return QByteArray(text, length).toInt();
    case kInt8: {
        long long n = 0;
        std::from_chars(text, text + length, n);
        return qlonglong(n);
    }
    case kFloat4:
    case kFloat8:
    case kNumeric:
        return QByteArray(text, length).toDouble();
    case kBytea: {
        size_t size = 0;
        unsigned char *bytes =
            PQunescapeBytea(reinterpret_cast<const unsigned char *>(text), &size);
        const QByteArray value(reinterpret_cast<const char *>(bytes), qsizetype(size));
        PQfreemem(bytes);
        return value;
    }
    default:
        return QString::fromUtf8(text, length);
    }
}

// A statement's result, freed when it goes.
struct ResultHolder {
    explicit ResultHolder(PGresult *r = nullptr) : result(r) {}
    ~ResultHolder() { PQclear(result); }
    ResultHolder(const ResultHolder &) = delete;
    ResultHolder &operator=(const ResultHolder &) = delete;
    PGresult *result;
};

class ServerRows final : public ResultRows
{
public:
    explicit ServerRows(PGresult *result) : mResult(result) {}
    bool next() override { return ++mRow < PQntuples(mResult.result); }
    QVariant value(int column) const override
    {
        if (mRow < 0 || mRow >= PQntuples(mResult.result) || column >= PQnfields(mResult.result))
            return {};
        return valueOf(mResult.result, mRow, column);
    }
    int columnCount() const override { return PQnfields(mResult.result); }
    QString columnName(int column) const override
    {
        return QString::fromUtf8(PQfname(mResult.result, column));
    }
    qint64 affected() const override
    {
        return QByteArray(PQcmdTuples(mResult.result)).toLongLong();
    }
    Status error() const override { return Status::success(); }

private:
    ResultHolder mResult;
    int mRow = -1;
};

class ServerEngine;

// Rows sent with COPY ... FROM STDIN in the text format.
class CopyIn final : public RowWriter
{
public:
    // The COPY starts with the first rows: none, no exchange. ends: the
    // COPY's statement commits after the rows.
    CopyIn(ServerEngine &engine, QString sql, bool ends);
    // A COPY cut short (a failure of the rows' source) is cancelled, so that
    // the connection can roll back.
    ~CopyIn() override;
    void text(std::string_view utf8) override;
    void whole(long long value) override;
    void wholes(std::span<const std::int16_t> values) override;
    void bits(std::uint32_t flags, int count) override;
    Status endRow() override;
    Status finish() override;

private:
    // Room for n more bytes. Rows are written in place: an import's client
    // should take less time over them than the server's reading.
    char *room(size_t n)
    {
        if (mUsed + n > mBuffer.size())
            mBuffer.resize(std::max(mBuffer.size() * 2, mUsed + n));
        return mBuffer.data() + mUsed;
    }
    // Room for a field of up to n bytes, after its separator where one is due.
    char *field(size_t n)
    {
        char *out = room(n + 1);
        if (mRowStarted)
            *out++ = '\t';
        mRowStarted = true;
        return out;
    }
    Status send();
    PGconn *conn() const;

    ServerEngine &mEngine;
    QString mSql;
    std::string mBuffer; // the rows not sent yet are its first mUsed bytes
    size_t mUsed = 0;
    bool mRowStarted = false;
    bool mStarted = false;
    Status mStart = Status::success();
    bool mActive = true;
    bool mEnds = false;
};

// Rows read with COPY (...) TO STDOUT in the text format, one at a time as
// the server sends them, while it still produces the rest.
class CopyOut final : public RowReader
{
public:
    explicit CopyOut(ServerEngine &engine) : mEngine(engine) {}
    // A read left part way takes in the rest, so that the connection can go on.
    ~CopyOut() override;
    Result<bool> next() override;
    int fields() const override { return int(mFields.size()); }
    bool isNull(int field) const override { return !mFields[size_t(field)].data(); }
    std::string_view text(int field) const override { return mFields[size_t(field)]; }
    std::optional<long long> whole(int field) const override
    {
        const std::string_view digits = mFields[size_t(field)];
        long long n = 0;
        const char *end = digits.data() + digits.size();
        if (digits.empty())
            return std::nullopt;
        // Most values are a digit or a few (flags, slots): no call for them.
        if (digits.size() <= 4 && std::all_of(digits.begin(), digits.end(),
                                              [](char c) { return c >= '0' && c <= '9'; })) {
            for (const char c : digits)
                n = n * 10 + (c - '0');
            return n;
        }
        if (const auto [ptr, ec] = std::from_chars(digits.data(), end, n);
            ec == std::errc() && ptr == end)
            return n;
        return std::nullopt;
    }

private:
    void drain();
    PGconn *conn() const;
    // The next row into mLine: its length, -1 at the end, or the failure.
    Result<int> line();

    ServerEngine &mEngine;
    char *mLine = nullptr;                 // libpq's buffer of the current row, unescaped in place
    std::vector<std::string_view> mFields; // NULL: no data, an empty text: data

    bool mActive = true;
};

class ServerEngine final : public Engine
{
public:
    ServerEngine(const ServerUrl &server, const QString &password)
        : mServer(server), mPassword(password)
    {
    }
    ~ServerEngine() override
    {
        mWatch.reset(); // before its socket closes
        dropAhead();
        dropWrite();
        PQfinish(mConn);
    }

    Status connect();

    bool shared() const override { return true; }

    // A failure of the connection or of a statement (result may be null).
    Status failure(const PGresult *result)
    {
        const QByteArray state =
            result ? QByteArray(PQresultErrorField(result, PG_DIAG_SQLSTATE)) : QByteArray();
        Fault fault = faultOf(state);
        QString text;
        if (const char *primary =
                result ? PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY) : nullptr)
            text = QString::fromUtf8(primary);
        else
            text = plainText(QString::fromUtf8(PQerrorMessage(mConn)));
        if (text.isEmpty())
            text = QStringLiteral("unknown database error");
        if (state == "55P03")
            // The server's "canceling statement due to lock timeout" says
            // nothing of why: another writer kept the store's lock.
            text = QStringLiteral("the database is locked by another user's command (waited %1 "
                                  "ms); nothing was stored, try again")
                       .arg(busyTimeoutMs());
        if (PQstatus(mConn) != CONNECTION_OK)
            fault = Fault::ConnectionLost;
        // A statement prepared in a failed exchange may or may not be there.
        mPrepared.clear();
        if (fault == Fault::ConnectionLost) {
            mBroken = true;
            text += mCommitting ? kNotKnown : kLostConnection;
        }
        return Status::failure(fault, text);
    }

    PGconn *connection() const { return mConn; }

    // Waits until the server has something to read. A server silent that long
    // after the last byte sent has a dead link (a pulled cable, a dropped
    // route), which no error of the socket would tell for many minutes.
    Status awaitReadable()
    {
        const int socket = PQsocket(mConn);
        if (socket < 0)
            return failure(nullptr);
        pollfd wait{socket, POLLIN, 0};
        const QDeadlineTimer deadline(answerTimeoutMs());
        for (;;) {
            const int ready = ::poll(&wait, 1, int(deadline.remainingTime()));
            if (ready > 0)
                return Status::success();
            if (ready < 0 && errno == EINTR)
                continue;
            if (ready < 0)
                return failure(nullptr);
            return silent();
        }
    }

    // The next result of what was sent, read without blocking past the bound;
    // null after the last.
    Result<PGresult *> nextResult()
    {
        while (PQisBusy(mConn)) {
            if (Status s = awaitReadable(); !s)
                return s;
            if (PQconsumeInput(mConn) != 1)
                return failure(nullptr);
        }
        return PQgetResult(mConn);
    }

    // The answer to what was sent, as PQexec() would give it: the first
    // failure, else the last result; a COPY's start ends it.
    Result<PGresult *> answer()
    {
        // The rows asked ahead belong to this exchange alone.
        const auto keep = std::exchange(mKeep, {});
        const auto checks = std::exchange(mChecks, {});
        std::optional<Status> unmet;
        bool keptAhead = false;
        PGresult *kept = nullptr;
        for (int at = 0;; ++at) {
            Result<PGresult *> next = nextResult();
            if (!next) {
                PQclear(kept);
                return next;
            }
            PGresult *result = *next;
            if (!result)
                break;
            const ExecStatusType status = PQresultStatus(result);
            if (const auto check =
                    std::ranges::find(checks, at, &decltype(mChecks)::value_type::first);
                check != checks.end() && status == PGRES_FATAL_ERROR &&
                qstrcmp(PQresultErrorField(result, PG_DIAG_SQLSTATE), "22012") == 0)
                unmet = check->second; // division by zero: no row touched
            if (status == PGRES_COPY_IN || status == PGRES_COPY_OUT || status == PGRES_COPY_BOTH) {
                PQclear(kept);
                return result;
            }
            if (const auto asked = std::ranges::find(keep, at, &decltype(mKeep)::value_type::first);
                asked != keep.end() && status == PGRES_TUPLES_OK) {
                mAhead.emplace_back(asked->second, result);
                keptAhead = true;
                continue;
            }
            const ExecStatusType keptStatus = PQresultStatus(kept);
            if (kept && keptStatus != PGRES_COMMAND_OK && keptStatus != PGRES_TUPLES_OK) {
                PQclear(result);
                continue;
            }
            PQclear(kept);
            kept = result;
        }
        if (unmet) {
            PQclear(kept);
            return *unmet;
        }
        if (!kept && keptAhead) // only rows asked ahead went
            return PQmakeEmptyPGresult(mConn, PGRES_COMMAND_OK);
        if (!kept)
            return failure(nullptr);
        return kept;
    }

    Status usable()
    {
        takeBackWrite();
        dropFollowing();
        // A link lost meanwhile shows here, and the connection is made again.
        for (; mUnanswered > 0 && !mBroken && mConn; --mUnanswered)
            if (Result<PGresult *> result = answer())
                PQclear(*result);
        mUnanswered = 0;
        if (mCopying)
            return Status::failure(Fault::Locked,
                                   QStringLiteral("the connection is busy with another command's "
                                                  "rows; try again when it is done"));
        noticeClosed();
        if (!mBroken && PQstatus(mConn) == CONNECTION_OK)
            return Status::success();
        // A transaction's earlier statements went with the connection.
        if (depth() > mPendingOpeners)
            return Status::failure(Fault::ConnectionLost,
                                   QStringLiteral("the connection to the server was lost; nothing "
                                                  "of this command was stored"));
        if (Status s = connect(); !s)
            return Status::failure(s.fault(), s.message() + kLostConnection);
        return Status::success();
    }

    // A server gone while the connection was idle (a restart, a crash) has
    // closed its socket: seen before a write goes out with its COMMIT, which
    // would leave its fate unknown, and the connection is made again.
    void noticeClosed()
    {
        if (mBroken || !mConn || PQstatus(mConn) != CONNECTION_OK || depth() > mPendingOpeners)
            return;
        // A server going away says so, then closes: the hang-up tells it.
        pollfd idle{PQsocket(mConn), POLLIN | POLLRDHUP, 0};
        if (idle.fd < 0 || ::poll(&idle, 1, 0) != 1)
            return;
        if ((idle.revents & (POLLHUP | POLLRDHUP | POLLERR)) || PQconsumeInput(mConn) != 1 ||
            PQstatus(mConn) != CONNECTION_OK) {
            mBroken = true;
            return;
        }
        // What the watch would have been told, taken in here instead.
        if (takeNotified() && !std::exchange(mHeard, true) && mWatch)
            QMetaObject::invokeMethod(mWatch.get(), mNotify, Qt::QueuedConnection);
    }

    // The result of a statement that ran, or its failure.
    Result<PGresult *> finished(PGresult *result)
    {
        const ExecStatusType status = PQresultStatus(result);
        if (result && (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK))
            return result;
        Status failed = failure(result);
        PQclear(result);
        return failed;
    }

    Result<PGresult *> execute(const QString &sql, const QVariantList &values)
    {
        takeBackWrite();
        const bool ending = sql == QLatin1String("COMMIT") || sql == QLatin1String("ROLLBACK");
        if (std::exchange(mEndedWithRows, false) && ending && depth() == 1)
            return PQmakeEmptyPGresult(mConn, PGRES_COMMAND_OK);
        dropFollowing();
        if (sql == QLatin1String("ROLLBACK") && !mPending.isEmpty()) {
            // Whatever waits to start goes with it; with nothing sent, nothing to end.
            const bool sentNothing = depth() <= mPendingOpeners;
            takePending();
            mPrepared.clear(); // a PREPARE among them never went
            mKeep.clear();
            mChecks.clear();
            if (sentNothing)
                return PQmakeEmptyPGresult(mConn, PGRES_COMMAND_OK);
        }
        if (sql == QLatin1String("ROLLBACK") && !mCopying && !mBroken && mConn &&
            PQstatus(mConn) == CONNECTION_OK && PQsendQuery(mConn, "ROLLBACK") == 1) {
            // Nothing waits on its answer: it is taken in before the next
            // statement, and a connection that ends meanwhile rolls back too.
            ++mUnanswered;
            return PQmakeEmptyPGresult(mConn, PGRES_COMMAND_OK);
        }
        // A link that dies while COMMIT waits leaves the outcome unknown.
        mCommitting = sql == QLatin1String("COMMIT");
        Result<PGresult *> result = send(sql, values);
        mCommitting = false;
        return result;
    }

    // The answer to a statement sent, as a result that ran or its failure.
    Result<PGresult *> exchange(int sent)
    {
        if (sent != 1)
            return failure(nullptr);
        Result<PGresult *> result = answer();
        if (!result)
            return result.status();
        return finished(*result);
    }

    Result<PGresult *> send(const QString &sql, const QVariantList &values)
    {
        // Settings read ahead hold only until the next statement.
        dropAhead();
        mEndedWithRows = false;
        if (Status s = usable(); !s)
            return s;
        if (!mPending.isEmpty() && !values.isEmpty()) {
            // The transaction's start goes with the statement: its values
            // as literals, in one simple query.
            std::optional<QByteArray> literal = literalSql(sql, values);
            if (!literal) {
                if (Status s = flushPending(); !s)
                    return s;
            } else {
                const QByteArray joined = takePending() + *literal;
                return exchange(PQsendQuery(mConn, joined.constData()));
            }
        }
        if (values.isEmpty()) {
            const QByteArray joined = takePending() + sql.toUtf8();
            return exchange(PQsendQuery(mConn, joined.constData()));
        }
        std::vector<QByteArray> texts(size_t(values.size()));
        std::vector<const char *> pointers(size_t(values.size()), nullptr);
        std::vector<int> lengths(size_t(values.size()), 0), formats(size_t(values.size()), 0);
        for (size_t i = 0; i < texts.size(); ++i) {
            const QVariant &value = values.at(qsizetype(i));
            if (value.isNull())
                continue;
            QByteArray &text = texts[i];
            text = valueText(value);
            if (value.typeId() == QMetaType::QByteArray) {
                formats[i] = 1;
                lengths[i] = int(text.size());
            } else if (text.contains('\0')) {
                // A server's text cannot hold NUL, and libpq would cut the
                // value short at it.
                return Status::failure(Fault::Refused,
                                       QStringLiteral("the value '%1' holds the character "
                                                      "\\x00, which a database on a server "
                                                      "cannot store")
                                           .arg(value.toString().replace(QChar(0), u' ')));
            }
            pointers[i] = text.constData();
        }
        return exchange(PQsendQueryParams(mConn, numbered(sql).constData(), int(values.size()),
                                          nullptr, pointers.data(), lengths.data(), formats.data(),
                                          0));
    }

    Result<std::unique_ptr<ResultRows>> run(const QString &sql, const QVariantList &values) override
    {
        if (PGresult *begun = claimWrite(sql, values)) {
            Result<PGresult *> result = finished(begun);
            if (!result)
                return result.status();
            return std::unique_ptr<ResultRows>(std::make_unique<ServerRows>(*result));
        }
        if (!mAhead.empty()) {
            const std::optional<QByteArray> key =
                values.isEmpty() ? sql.toUtf8() : literalSql(sql, values);
            if (PGresult *ahead = key ? takeAhead(*key) : nullptr)
                return std::unique_ptr<ResultRows>(std::make_unique<ServerRows>(ahead));
        }
        Result<PGresult *> result = execute(sql, values);
        if (!result)
            return result.status();
        return std::unique_ptr<ResultRows>(std::make_unique<ServerRows>(*result));
    }

    Status runLater(const QString &sql, const QVariantList &values) override
    {
        if (depth() > 0 && !mCopying)
            if (std::optional<QByteArray> literal = literalSql(sql, values)) {
                dropAhead();
                addPending(*literal);
                return Status::success();
            }
        return run(sql, values).status();
    }

    Status runLaterOrFail(const QString &sql, const QVariantList &values,
                          const Status &ifNone) override
    {
        // Deferred, a row not touched must still stop what follows it in the
        // same query: the statement fails by itself then, and its place in
        // the query tells that failure from others.
        if (depth() > 0 && !mCopying)
            if (std::optional<QByteArray> literal = literalSql(sql, values)) {
                dropAhead();
                mPendingChecks.emplace_back(mPendingCount, ifNone);
                addPending("WITH touched AS (" + *literal +
                           " RETURNING 1) SELECT 1 / count(*) FROM touched");
                return Status::success();
            }
        return Engine::runLaterOrFail(sql, values, ifNone);
    }

    void askAhead(const QString &sql, const QVariantList &values) override
    {
        if (depth() == 0 || mCopying)
            return;
        if (std::optional<QByteArray> literal = literalSql(sql, values)) {
            mPendingKeep.emplace_back(mPendingCount, *literal);
            addPending(*literal);
        }
    }

    bool writesAhead() const override { return true; }
    bool writeAhead(const QString &sql, const QVariantList &values) override
    {
        if (depth() == 0 || mCopying)
            return false;
        std::optional<std::vector<QByteArray>> literals = literalValues(values);
        if (!literals)
            return false;
        // Prepared in the exchange of its first use: parsing and planning a
        // write with its records costs the server more than running it.
        auto prepared = mPrepared.find(sql);
        if (prepared == mPrepared.end()) {
            if (mPrepared.size() >= kMostPrepared) {
                // The one used longest ago goes, in the same exchange.
                auto oldest = mPrepared.begin();
                for (auto p = mPrepared.begin(); p != mPrepared.end(); ++p)
                    if (p->used < oldest->used)
                        oldest = p;
                dropAhead();
                addPending("DEALLOCATE " + oldest->name);
                mPrepared.erase(oldest);
            }
            const QByteArray name = "tarn_write_" + QByteArray::number(++mPreparedCount);
            dropAhead();
            addPending("PREPARE " + name + " AS " + numbered(sql));
            prepared = mPrepared.insert(sql, {name, 0});
        }
        prepared->used = ++mPreparedUses;
        QByteArray execute = "EXECUTE " + prepared->name;
        if (!literals->empty()) {
            qsizetype size = execute.size() + 2;
            for (const QByteArray &literal : *literals)
                size += literal.size() + 2;
            execute.reserve(size);
            execute += '(';
            for (size_t i = 0; i < literals->size(); ++i)
                execute += (i ? ", " : "") + (*literals)[i];
            execute += ')';
        }
        dropAhead();
        mPendingKeep.emplace_back(mPendingCount, kWrittenKey);
        addPending(execute);
        return true;
    }
    Result<std::unique_ptr<ResultRows>> written() override
    {
        PGresult *rows = takeAhead(kWrittenKey);
        if (!rows)
            return Status::failure(Fault::Other,
                                   QStringLiteral("the server sent no answer to the write"));
        return std::unique_ptr<ResultRows>(std::make_unique<ServerRows>(rows));
    }

    void readWithCatalog(const QStringList &statements, bool follow) override
    {
        mWithCatalog = statements;
        mFollowWithCatalog = follow;
    }

    void writeWithCatalog(const QStringList &begin, const QString &sql,
                          const QVariantList &values) override
    {
        takeBackWrite();
        dropWrite();
        if (std::optional<QByteArray> literal = literalSql(sql, values))
            mWrite = FirstWrite{begin, *literal, nullptr};
    }

    Result<qint64> insert(const QString &sql, const QVariantList &values) override
    {
        // The server returns the key itself: lastval() would need a right on
        // the key's sequence that a team's role need not have.
        Result<PGresult *> result = execute(sql + QStringLiteral(" RETURNING rowid"), values);
        if (!result)
            return result.status();
        const ResultHolder held(*result);
        return PQntuples(held.result) > 0 ? valueOf(held.result, 0, 0).toLongLong() : qint64(-1);
    }

    Status runAll(const QStringList &statements) override
    {
        // A transaction's start waits for its first statement and goes in
        // the same exchange: a round trip less for every transaction.
        if (!statements.isEmpty() && (statements.first().startsWith(QLatin1String("BEGIN")) ||
                                      statements.first().startsWith(QLatin1String("SAVEPOINT")))) {
            dropAhead();
            for (const QString &statement : statements)
                addPending(statement.toUtf8());
            ++mPendingOpeners;
            return Status::success();
        }
        // One exchange: the statements go as one simple query.
        Result<PGresult *> result = execute(statements.join(QStringLiteral("; ")), {});
        if (!result)
            return result.status();
        PQclear(*result);
        return Status::success();
    }

    QStringList beginWrite(int lock, const QString &savepoint) const override
    {
        // Writers of a store take turns, as with SQLite's write lock: a check
        // inside the transaction (a name that exists) sees every earlier
        // writer's rows. The lock ends with the transaction.
        return {savepoint.isEmpty() ? QStringLiteral("BEGIN")
                                    : QStringLiteral("SAVEPOINT ") + savepoint,
                QStringLiteral("SELECT pg_advisory_xact_lock(7305, %1)").arg(lock)};
    }
    QStringList beginRead(const QString &savepoint) const override
    {
        return {savepoint.isEmpty() ? QStringLiteral("BEGIN ISOLATION LEVEL REPEATABLE READ")
                                    : QStringLiteral("SAVEPOINT ") + savepoint};
    }

    QString nameFilter(const QString &value) const override
    {
        // lower() in the "C" collation folds ASCII letters only, as SQLite's
        // NOCASE does; the value is typed, since lower() has more than one form.
        return QStringLiteral(
                   "lower(package_name COLLATE \"C\") = lower(CAST(%1 AS TEXT) COLLATE \"C\")")
            .arg(value);
    }
    QString noCaseOrder(const QString &column) const override
    {
        return QStringLiteral("lower(%1 COLLATE \"C\"), %1 COLLATE \"C\"").arg(column);
    }
    QString nullsFirst(const QString &column) const override
    {
        return column + QStringLiteral(" NULLS FIRST");
    }
    QString flagBit(const QString &column, int bit) const override
    {
        return QStringLiteral("(((%1 <> 0) IS TRUE)::int << %2)").arg(column).arg(bit);
    }

    QString columnDefinition(const schema::Column &column) const override
    {
        // Typed columns: the server itself keeps class values in 16 bits. Ids
        // take 64 bits, as older files may hold ids beyond a slot's range.
        using K = schema::Kind;
        const QString name = QString::fromLatin1(column.name);
        switch (column.kind) {
        case K::Text:
            return name + QStringLiteral(" TEXT");
        case K::Whole16:
            return name + QStringLiteral(" SMALLINT DEFAULT 0");
        case K::YesNo:
            return name + QStringLiteral(" SMALLINT NOT NULL DEFAULT 0");
        case K::Id16:
        case K::Id32:
            return name + QStringLiteral(" BIGINT");
        case K::Number:
            return name + QStringLiteral(" NUMERIC");
        }
        return name;
    }
    QString createTable(const QString &table, const QStringList &definitions) const override
    {
        // A server has no rowid: a column of that name keeps each row's key,
        // so that the statements that find rows by key read the same on both
        // engines. Last, so that an INSERT without column names fills the
        // same columns as in a file.
        return QStringLiteral("CREATE TABLE %1 (%2, rowid BIGINT GENERATED BY DEFAULT AS "
                              "IDENTITY PRIMARY KEY)")
            .arg(table, definitions.join(QStringLiteral(", ")));
    }
    QStringList afterDataTables() const override
    {
        const QString channel = QLatin1String(schema::kChangedChannel);
        QStringList sql{
            // Names unique without regard to ASCII case (the "C" collation
            // folds nothing else), whoever creates them; the same expression
            // finds them.
            QStringLiteral("CREATE UNIQUE INDEX package_name_nocase ON package "
                           "(lower(package_name COLLATE \"C\"))"),
            // In the order the lists, the class editor and export read them.
            QStringLiteral("CREATE INDEX classdef_package ON classdef "
                           "(lower(package_name COLLATE \"C\"), class_num NULLS FIRST, rowid)"),
            QStringLiteral("CREATE TABLE %1 (name TEXT PRIMARY KEY, value TEXT)")
                .arg(QLatin1String(schema::kSettingsTable)),
            QStringLiteral("CREATE FUNCTION tarn_changed() RETURNS trigger LANGUAGE plpgsql "
                           "AS $$BEGIN PERFORM pg_notify('%1', TG_TABLE_NAME); RETURN NULL; "
                           "END$$")
                .arg(channel)};
        for (const char *table : {"package", "classdef"})
            sql << QStringLiteral("CREATE TRIGGER %1_changed AFTER INSERT OR UPDATE OR DELETE "
                                  "ON %1 FOR EACH STATEMENT EXECUTE FUNCTION tarn_changed()")
                       .arg(QLatin1String(table));
        return sql;
    }
    QStringList historyKey() const override
    {
        // The server names who and when itself: the login role, its clock.
        return {QStringLiteral("id BIGINT GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY"),
                QStringLiteral("changed_at TEXT NOT NULL DEFAULT to_char(now() AT TIME ZONE "
                               "'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"Z\"')"),
                QStringLiteral("who TEXT NOT NULL DEFAULT session_user")};
    }
    QString nameIndex() const override
    {
        return QStringLiteral("lower(package_name COLLATE \"C\")");
    }
    QString taggedValue(const QString &column, schema::Kind kind) const override
    {
        // Typed columns: the type tells what a value is.
        using K = schema::Kind;
        const char *tag = kind == K::Text ? "t" : kind == K::Number ? "n" : "i";
        return QStringLiteral("'%1' || %2::text").arg(QLatin1String(tag), column);
    }
    QString recordedWith(const QString &insert, const QString &statement) const override
    {
        return QStringLiteral("WITH recorded AS (%1) %2").arg(insert, statement);
    }
    QString tableBytes(const QStringList &tables) const override
    {
        QStringList sizes;
        for (const QString &table : tables)
            sizes << QStringLiteral("pg_total_relation_size('%1')").arg(table);
        return QStringLiteral("(%1)::bigint").arg(sizes.join(QStringLiteral(" + ")));
    }
    QStringList keysFollow(const QString &table, const QString &key) const override
    {
        return {QStringLiteral("SELECT setval(pg_get_serial_sequence('%1', '%2'), max(%2)) "
                               "FROM %1")
                    .arg(table, key)};
    }

    Result<QHash<QString, QStringList>> readTables() override
    {
        // Every table in one exchange, from the catalog itself
        // (information_schema's views cost more to plan than this reads).
        const QString catalog =
            QStringLiteral("SELECT c.relname, a.attname FROM pg_catalog.pg_attribute a "
                           "JOIN pg_catalog.pg_class c ON c.oid = a.attrelid "
                           "JOIN pg_catalog.pg_namespace n ON n.oid = c.relnamespace "
                           "WHERE n.nspname = current_schema() AND c.relkind IN ('r', 'p') "
                           "AND a.attnum > 0 AND NOT a.attisdropped AND a.attname <> 'rowid' "
                           "ORDER BY c.relname, a.attnum");
        // What the program reads next at start goes along: following other
        // clients begins before those reads, in a transaction of its own so
        // that no commit falls between the two. The team's settings come last.
        QStringList ahead{catalog};
        const bool follow = std::exchange(mFollowWithCatalog, false) && !mListening;
        if (follow)
            ahead << listenSql() << QStringLiteral("COMMIT");
        ahead << std::exchange(mWithCatalog, {})
              << QStringLiteral("SELECT name, value FROM %1")
                     .arg(QLatin1String(schema::kSettingsTable));
        // Then the command's write begins, left open: the caller commits it
        // once the catalog is found as it needs it, or it is taken back.
        qsizetype writes = 0;
        if (mWrite && !mWriteOpen) {
            ahead << mWrite->begin << QString::fromUtf8(mWrite->statement);
            writes = mWrite->begin.size() + 1;
            markWriteBegun();
        }
        Status lost = Status::success();
        if (sendAhead(ahead, writes, &lost) > 2 && follow) {
            mListening = true;
            mUnmarked = true;
        }
        if (!mWriteOpen)
            dropWrite();
        PGresult *read = takeAhead(catalog.toUtf8());
        // A link that died meanwhile is not waited on twice.
        if (!read && !lost)
            return lost;
        Result<PGresult *> result = read ? Result<PGresult *>(read) : execute(catalog, {});
        if (!result)
            return result.status();
        const ResultHolder held(*result);
        QHash<QString, QStringList> tables;
        for (int row = 0; row < PQntuples(held.result); ++row)
            tables[QString::fromUtf8(PQgetvalue(held.result, row, 0))]
                << QString::fromUtf8(PQgetvalue(held.result, row, 1));
        return tables;
    }

    Result<bool> changedElsewhere() override
    {
        // The server tells of other clients' changes as they commit them,
        // once asked to: only a window that shows the configurations follows
        // them. What it sent is taken in without an exchange.
        if (mCopying)
            return false;
        if (!mListening || mBroken) {
            const bool missed = mListening; // while the connection was gone
            if (Status s = listen(); !s)
                return s;
            return missed;
        }
        // Following began with the reads at start: what came since is news to
        // the next call.
        if (std::exchange(mUnmarked, false))
            return false;
        if (PQconsumeInput(mConn) != 1)
            return failure(nullptr);
        const bool heard = std::exchange(mHeard, false);
        if (takeNotified() || heard)
            return true;
        // A watched socket brings what the server sends as it comes.
        if (mWatch)
            return false;
        // The server sends what it has for this connection before it
        // answers: one exchange makes sure nothing committed is missed.
        Result<PGresult *> result = execute(QStringLiteral("SELECT 1"), {});
        if (!result)
            return result.status();
        PQclear(*result);
        return takeNotified();
    }

    Result<std::unique_ptr<RowWriter>> writeRows(const QString &table, const QStringList &columns,
                                                 bool last) override
    {
        // Rows flow for as long as the import lasts: no limit on the statement.
        // The server runs what follows the COPY in the same query once the
        // rows are in: a transaction of its own ends in that exchange.
        const bool ends = last && depth() == 1;
        return std::unique_ptr<RowWriter>(std::make_unique<CopyIn>(
            *this,
            QStringLiteral("SET LOCAL statement_timeout = 0; COPY %1 (%2) FROM STDIN%3")
                .arg(table, schema::joined(columns), ends ? QStringLiteral("; COMMIT") : QString()),
            ends));
    }

    Result<std::unique_ptr<RowReader>> readRows(const QString &select, const QVariantList &values,
                                                bool last) override
    {
        // COPY takes no bound values: they reach it as settings of the
        // caller's transaction. The planner is steered to an index that holds
        // the rows in the order asked, rather than sorting them all before
        // the first is sent; the steering's estimate must not start the JIT
        // compiler, which takes longer than the whole read.
        if (depth() == 0)
            return Status::failure(Fault::Other, QStringLiteral("a bulk read needs a transaction"));
        // A transaction of its own that ends with the rows ends in the same
        // exchange: no closing round trip.
        const bool ends = last && depth() == 1;
        const auto [set, copy] = bulkRead(select, values.size(), ends);
        // The settings go with the COPY where their values can be literals.
        if (std::optional<QByteArray> literal = literalSql(set, values)) {
            addPending(*literal);
        } else {
            Result<PGresult *> done = execute(set, values);
            if (!done)
                return done.status();
            PQclear(*done);
        }
        const QByteArray then = std::exchange(mNextRead, {});
        if (Status s = startCopy(copy, PGRES_COPY_OUT, ends ? then : QByteArray()); !s)
            return s;
        mCopyEnds = ends;
        return std::unique_ptr<RowReader>(std::make_unique<CopyOut>(*this));
    }

    void readNext(const QStringList &begin, const QList<std::pair<QString, QVariantList>> &asks,
                  const QString &select, const QVariantList &values) override
    {
        // The text its own calls will make, so that they are known for it.
        mNextRead.clear();
        QByteArray text;
        for (const QString &statement : begin)
            text += statement.toUtf8() + "; ";
        for (const auto &[sql, asked] : asks) {
            const std::optional<QByteArray> literal = literalSql(sql, asked);
            if (!literal)
                return;
            text += *literal + "; ";
        }
        const auto [set, copy] = bulkRead(select, values.size(), true);
        const std::optional<QByteArray> literal = literalSql(set, values);
        if (literal)
            mNextRead = text + *literal + "; " + copy.toUtf8();
    }

    qsizetype maxNameLength() const override
    {
        // An index entry holds at most 2704 bytes: the name in UTF-8 (up to
        // two bytes a character here), the class number and the row key.
        return 1300;
    }

    void onChangedElsewhere(std::function<void()> notify) override
    {
        mNotify = std::move(notify);
        watch();
    }

    void setCopying(bool copying)
    {
        mCopying = copying;
        // The rows of a COPY are the reader's to take, and would keep the
        // socket readable meanwhile.
        if (mWatch)
            mWatch->setEnabled(!copying);
    }

private:
    // A bulk read's settings (its values as ? to bind) and its COPY, which
    // ends the transaction when ends is set.
    static std::pair<QString, QString> bulkRead(const QString &select, qsizetype values, bool ends)
    {
        QString sql = select;
        QStringList settings{QStringLiteral("set_config('statement_timeout', '0', true)"),
                             QStringLiteral("set_config('enable_sort', 'off', true)"),
                             QStringLiteral("set_config('jit', 'off', true)"),
                             QStringLiteral("set_config('work_mem', '32MB', true)")};
        for (qsizetype i = 0; i < values; ++i) {
            settings << QStringLiteral("set_config('tarn.arg%1', CAST(? AS TEXT), true)").arg(i);
            const qsizetype at = sql.indexOf(u'?');
            if (at >= 0)
                sql.replace(at, 1, QStringLiteral("current_setting('tarn.arg%1')").arg(i));
        }
        return {QStringLiteral("SELECT ") + settings.join(QStringLiteral(", ")),
                QStringLiteral("COPY (%1) TO STDOUT").arg(sql) +
                    (ends ? QStringLiteral("; COMMIT") : QString())};
    }

    // While the connection listens, the event loop watches its socket for
    // the server's notifications, which come between statements.
    void watch()
    {
        if (!mNotify || !mListening || mBroken || PQstatus(mConn) != CONNECTION_OK) {
            mWatch.reset();
            return;
        }
        if (mWatch && mWatch->socket() == PQsocket(mConn))
            return;
        mWatch = std::make_unique<QSocketNotifier>(PQsocket(mConn), QSocketNotifier::Read);
        QObject::connect(mWatch.get(), &QSocketNotifier::activated, [this] {
            // A connection that is gone stays readable: it is no longer
            // watched, and changedElsewhere() connects again.
            if (PQconsumeInput(mConn) != 1) {
                mBroken = true;
                mWatch.release()->deleteLater();
                mNotify();
            } else if (takeNotified()) {
                mHeard = true;
                mNotify();
            }
        });
    }

    bool takeNotified()
    {
        bool changed = false;
        const QByteArray channel(schema::kChangedChannel);
        while (PGnotify *notice = PQnotifies(mConn)) {
            if (notice->be_pid != PQbackendPID(mConn) && channel == notice->relname)
                changed = true;
            PQfreemem(notice);
        }
        return changed;
    }

    static QString listenSql()
    {
        return QStringLiteral("LISTEN %1").arg(QLatin1String(schema::kChangedChannel));
    }

    Status listen()
    {
        mListening = true;
        Result<PGresult *> result = execute(listenSql(), {});
        if (!result)
            return result.status();
        PQclear(*result);
        watch();
        return Status::success();
    }

public:
    // The answer to a COPY out whose rows are all read, with the COMMIT that
    // ended its transaction.
    Status copyDone()
    {
        Result<PGresult *> result = mFollowing ? answerBefore(mCopyEnds ? 2 : 1) : answer();
        if (!result)
            return result.status();
        const Status status =
            PQresultStatus(*result) == PGRES_COMMAND_OK ? Status::success() : failure(*result);
        PQclear(*result);
        mEndedWithRows = std::exchange(mCopyEnds, false) && status;
        return status;
    }

    // The end of the rows of a COPY in, and the answer to it and to what
    // followed it in its query.
    Status copyInDone(bool ends)
    {
        // A link lost while the rows' COMMIT is under way leaves it unknown.
        mCommitting = ends;
        Status status = PQputCopyEnd(mConn, nullptr) == 1 ? Status::success() : failure(nullptr);
        if (status) {
            Result<PGresult *> result = answer();
            if (!result)
                status = result.status();
            else if (PQresultStatus(*result) != PGRES_COMMAND_OK)
                status = failure(*result);
            if (result)
                PQclear(*result);
        }
        mCommitting = false;
        mEndedWithRows = ends && status;
        return status;
    }

    // then: a read of its own sent after it in the same exchange, whose
    // answers wait until it is asked for (readNext).
    Status startCopy(const QString &sql, ExecStatusType expected, const QByteArray &then = {})
    {
        // Sent already, after the read before it: its answers are next.
        const bool sent = mFollowing && mPending + sql.toUtf8() == mFollowText;
        if (!sent)
            if (Status s = usable(); !s)
                return s;
        mFollowing = false;
        mFollowText.clear();
        dropAhead();
        QByteArray joined = takePending() + sql.toUtf8();
        if (!sent) {
            if (!then.isEmpty())
                joined += "; " + then;
            if (PQsendQuery(mConn, joined.constData()) != 1)
                return failure(nullptr);
            mFollowing = !then.isEmpty();
            mFollowText = then;
        }
        Result<PGresult *> result = answer();
        if (!result)
            return result.status();
        const Status status =
            PQresultStatus(*result) == expected ? Status::success() : failure(*result);
        PQclear(*result);
        if (status)
            setCopying(true);
        return status;
    }

private:
    void dropAhead()
    {
        for (const auto &[sql, result] : mAhead)
            PQclear(result);
        mAhead.clear();
    }

    PGresult *takeAhead(const QByteArray &key)
    {
        if (mAhead.empty())
            return nullptr;
        const auto found = std::ranges::find(mAhead, key, &decltype(mAhead)::value_type::first);
        if (found == mAhead.end())
            return nullptr;
        PGresult *result = found->second;
        mAhead.erase(found);
        return result;
    }

public:
    void readAhead(const QStringList &statements) override
    {
        // Those read already (with the catalog) stay.
        QStringList missing;
        for (const QString &statement : statements)
            if (std::ranges::find(mAhead, statement.toUtf8(),
                                  &decltype(mAhead)::value_type::first) == mAhead.end())
                missing << statement;
        sendAhead(missing);
    }

private:
    // The statements in one exchange, their rows kept; how many ran. The
    // last writes of them begin a write and its first statement (mWrite).
    // lost: the link's failure, when it failed meanwhile.
    qsizetype sendAhead(const QStringList &statements, qsizetype writes = 0, Status *lost = nullptr)
    {
        // Outside a transaction only: a failing one (a table not there yet)
        // ends the exchange, and is run again alone when asked for.
        if (statements.size() < 2 || depth() > 0 || !mPending.isEmpty())
            return 0;
        if (Status s = usable(); !s) {
            if (lost)
                *lost = s;
            return 0;
        }
        if (PQsendQuery(mConn, statements.join(QStringLiteral("; ")).toUtf8().constData()) != 1)
            return 0;
        qsizetype ran = 0;
        for (qsizetype i = 0;; ++i) {
            Result<PGresult *> next = nextResult();
            if (!next && lost)
                *lost = next.status();
            if (!next || !*next)
                return ran;
            const ExecStatusType status = PQresultStatus(*next);
            const bool ok = status == PGRES_TUPLES_OK || status == PGRES_COMMAND_OK;
            if (ok)
                ++ran;
            if (const qsizetype w = i - (statements.size() - writes); w >= 0 && mWrite) {
                // The transaction is open once its BEGIN ran, whatever fails
                // after it; its answer is the statement's or the first failure.
                if (w == 0 && ok)
                    mWriteOpen = true;
                if (!mWrite->answer && (!ok || w == writes - 1))
                    mWrite->answer = *next;
                else
                    PQclear(*next);
            } else if (i < statements.size() && status == PGRES_TUPLES_OK)
                mAhead.emplace_back(statements.at(i).toUtf8(), *next);
            else
                PQclear(*next);
        }
    }

private:
    // The write begun with the catalog's read, when the caller has just begun
    // that transaction and asks for its first statement: that statement's
    // answer, or its failure, or the failure of the transaction's start.
    PGresult *claimWrite(const QString &sql, const QVariantList &values)
    {
        if (!mWriteOpen || !mWrite->answer || depth() != 1 || mPendingOpeners != 1)
            return nullptr;
        QByteArray begun;
        for (const QString &statement : mWrite->begin)
            begun += statement.toUtf8() + "; ";
        if (mPending != begun || literalSql(sql, values) != mWrite->statement)
            return nullptr;
        dropAhead();
        takePending();
        mWriteOpen = false;
        PGresult *answer = std::exchange(mWrite->answer, nullptr);
        mWrite.reset();
        return answer;
    }

    // The answers of the next count statements of what was sent, as answer()
    // gives them, when a read sent after them is still to come. A failure
    // ends the exchange, and that read with it.
    Result<PGresult *> answerBefore(int count)
    {
        PGresult *kept = nullptr;
        for (int at = 0; at < count; ++at) {
            Result<PGresult *> next = nextResult();
            if (!next || !*next) {
                PQclear(kept);
                mFollowing = false;
                if (!next)
                    return next;
                return failure(nullptr);
            }
            PQclear(kept);
            kept = *next;
            if (const ExecStatusType status = PQresultStatus(kept);
                status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
                dropFollowing();
                return kept;
            }
        }
        return kept;
    }

    // The read sent ahead is not asked for: its answers, rows and all, are
    // taken in and dropped, so that the connection can go on.
    void dropFollowing()
    {
        if (!std::exchange(mFollowing, false))
            return;
        mFollowText.clear();
        for (;;) {
            Result<PGresult *> next = nextResult();
            if (!next || !*next)
                return;
            const bool rows = PQresultStatus(*next) == PGRES_COPY_OUT;
            PQclear(*next);
            while (rows) {
                char *line = nullptr;
                const int length = PQgetCopyData(mConn, &line, 1);
                if (line)
                    PQfreemem(line);
                if (length > 0)
                    continue;
                if (length < 0)
                    break;
                if (!awaitReadable() || PQconsumeInput(mConn) != 1)
                    return;
            }
        }
    }

    // Something else goes first: the write begun at open is rolled back, its
    // answer taken in before the next statement.
    void takeBackWrite()
    {
        if (!std::exchange(mWriteOpen, false))
            return;
        dropWrite();
        if (!mBroken && mConn && PQstatus(mConn) == CONNECTION_OK &&
            PQsendQuery(mConn, "ROLLBACK") == 1)
            ++mUnanswered;
    }

    void dropWrite()
    {
        if (mWrite)
            PQclear(mWrite->answer);
        mWrite.reset();
    }

    // The statements that start a transaction, not yet sent.
    QByteArray takePending()
    {
        mPendingOpeners = 0;
        mPendingCount = 0;
        mKeep = std::exchange(mPendingKeep, {});
        mChecks = std::exchange(mPendingChecks, {});
        return std::exchange(mPending, QByteArray());
    }

    void addPending(const QByteArray &statement)
    {
        mPending += statement + "; ";
        ++mPendingCount;
    }

    Status flushPending()
    {
        if (mPending.isEmpty())
            return Status::success();
        QByteArray sql = takePending();
        sql.chop(2);
        Result<PGresult *> result = exchange(PQsendQuery(mConn, sql.constData()));
        if (!result)
            return result.status();
        PQclear(*result);
        return Status::success();
    }

    // The statement with its values as literals, where each has one.
    std::optional<QByteArray> literalSql(const QString &sql, const QVariantList &values)
    {
        const std::optional<std::vector<QByteArray>> literals = literalValues(values);
        if (!literals)
            return std::nullopt;
        return numbered(sql, &*literals);
    }

    std::optional<std::vector<QByteArray>> literalValues(const QVariantList &values)
    {
        std::vector<QByteArray> literals;
        for (const QVariant &value : values) {
            if (value.isNull()) {
                literals.emplace_back("NULL");
                continue;
            }
            if (value.typeId() == QMetaType::QByteArray)
                return std::nullopt; // bound as bytes
            if (plainLiteral(value)) {
                literals.emplace_back('\'' + valueText(value) + '\'');
                continue;
            }
            const QByteArray text = valueText(value);
            if (text.contains('\0'))
                return std::nullopt; // refused where it is bound
            char *quoted = PQescapeLiteral(mConn, text.constData(), size_t(text.size()));
            if (!quoted)
                return std::nullopt;
            literals.emplace_back(quoted);
            PQfreemem(quoted);
        }
        return literals;
    }

    // The link is dead: the connection goes now, so that the server ends its
    // side (and the transaction's locks) as soon as the link carries the close.
    Status silent()
    {
        return dropSilent(
            QStringLiteral("nothing came back for %1 seconds").arg(answerTimeoutMs() / 1000.0),
            mCommitting ? kNotKnown : kLostConnection);
    }

    Status dropSilent(const QString &how, const QString &after = QString())
    {
        mWatch.reset();
        PQfinish(mConn);
        mConn = nullptr;
        mBroken = true;
        return Status::failure(Fault::ConnectionLost,
                               QStringLiteral("the server is not answering (%1); "
                                              "the network or the server may be down")
                                       .arg(how) +
                                   after);
    }

    ServerUrl mServer;
    QString mPassword;
    PGconn *mConn = nullptr;
    bool mBroken = false;
    bool mCopying = false;
    bool mCommitting = false;
    bool mListening = false;
    QByteArray mPending;
    int mPendingOpeners = 0;
    int mPendingCount = 0; // statements in mPending
    // Of the statements in mPending, then of the exchange that carries them:
    // the rows to keep (by the statement's place) and what run() asks them by.
    std::vector<std::pair<int, QByteArray>> mPendingKeep, mKeep;
    // The same for the statements that must touch a row, with their failure.
    std::vector<std::pair<int, Status>> mPendingChecks, mChecks;
    QStringList mWithCatalog;
    bool mFollowWithCatalog = false;
    // A write asked to begin with the catalog's read: its start, its first
    // statement with literal values, then that statement's answer.
    struct FirstWrite {
        QStringList begin;
        QByteArray statement;
        PGresult *answer = nullptr;
    };
    std::optional<FirstWrite> mWrite;
    QByteArray mNextRead;        // the read that follows the next one (readNext)
    bool mFollowing = false;     // such a read was sent and its answers are to come
    QByteArray mFollowText;      // its statements
    bool mWriteOpen = false;     // begun on the server, waiting for the caller
    bool mUnmarked = false;      // following began without changedElsewhere()
    bool mCopyEnds = false;      // the COPY streaming now ends its transaction
    bool mEndedWithRows = false; // the transaction ended with its last rows
    int mUnanswered = 0;         // statements sent whose answers are not taken in yet
    // Rows read ahead, by statement, until asked for or another statement goes.
    std::vector<std::pair<QByteArray, PGresult *>> mAhead;
    // This connection's prepared writes by their text, and the last name.
    static constexpr qsizetype kMostPrepared = 32;
    // What the rows of a write sent ahead are kept by: no statement's text.
    static inline const QByteArray kWrittenKey{"\x01written"};
    struct Prepared {
        QByteArray name;
        quint64 used; // when last, by mPreparedUses
    };
    QHash<QString, Prepared> mPrepared;
    int mPreparedCount = 0;
    quint64 mPreparedUses = 0;
    std::function<void()> mNotify;
    std::unique_ptr<QSocketNotifier> mWatch;
    bool mHeard = false; // a notification taken in by the watch, not yet asked for
};

CopyIn::CopyIn(ServerEngine &engine, QString sql, bool ends)
    : mEngine(engine), mSql(std::move(sql)), mEnds(ends)
{
    mBuffer.resize(kCopyChunk + 4096);
}

PGconn *CopyIn::conn() const
{
    return mEngine.connection();
}

CopyIn::~CopyIn()
{
    if (mActive && mStarted) {
        mEngine.setCopying(false);
        if (PQputCopyEnd(conn(), "the import was cut short") == 1)
            if (Result<PGresult *> result = mEngine.answer())
                PQclear(*result);
    }
}

void CopyIn::text(std::string_view utf8)
{
    char *out = field(2 * utf8.size());
    for (const char c : utf8) {
        char escaped = 0;
        switch (c) {
        case '\\':
            escaped = '\\';
            break;
        case '\t':
            escaped = 't';
            break;
        case '\n':
            escaped = 'n';
            break;
        case '\r':
            escaped = 'r';
            break;
        default:
            *out++ = c;
            continue;
        }
        *out++ = '\\';
        *out++ = escaped;
    }
    mUsed = size_t(out - mBuffer.data());
}

void CopyIn::whole(long long value)
{
    char *out = field(20);
    if (value >= 0 && value <= 9) { // a flag, most often
        *out = char('0' + value);
        mUsed = size_t(out + 1 - mBuffer.data());
        return;
    }
    mUsed = size_t(std::to_chars(out, out + 20, value).ptr - mBuffer.data());
}

void CopyIn::wholes(std::span<const std::int16_t> values)
{
    // Room for each field at its longest: no check per value.
    char *out = room(values.size() * 7);
    for (const std::int16_t value : values) {
        if (mRowStarted)
            *out++ = '\t';
        mRowStarted = true;
        if (value >= 0 && value <= 9)
            *out++ = char('0' + value);
        else
            out = std::to_chars(out, out + 6, value).ptr;
    }
    mUsed = size_t(out - mBuffer.data());
}

void CopyIn::bits(std::uint32_t flags, int count)
{
    char *out = room(size_t(count) * 2);
    for (int k = 0; k < count; ++k) {
        if (mRowStarted)
            *out++ = '\t';
        mRowStarted = true;
        *out++ = char('0' + ((flags >> k) & 1u));
    }
    mUsed = size_t(out - mBuffer.data());
}

Status CopyIn::send()
{
    if (!mStart)
        return mStart;
    if (mUsed > 0 && !mStarted) {
        mStart = mEngine.startCopy(mSql, PGRES_COPY_IN);
        if (!mStart)
            return mStart;
        mStarted = true;
    }
    if (mUsed > 0 && PQputCopyData(conn(), mBuffer.data(), int(mUsed)) != 1)
        return mEngine.failure(nullptr);
    mUsed = 0;
    return Status::success();
}

Status CopyIn::endRow()
{
    *room(1) = '\n';
    ++mUsed;
    mRowStarted = false;
    return mUsed >= kCopyChunk ? send() : Status::success();
}

Status CopyIn::finish()
{
    if (Status s = send(); !s)
        return s;
    mActive = false;
    if (!mStarted)
        return Status::success();
    mEngine.setCopying(false);
    return mEngine.copyInDone(mEnds);
}

CopyOut::~CopyOut()
{
    drain();
}

PGconn *CopyOut::conn() const
{
    return mEngine.connection();
}

Result<int> CopyOut::line()
{
    for (;;) {
        const int length = PQgetCopyData(conn(), &mLine, 1);
        if (length != 0)
            return length;
        if (Status s = mEngine.awaitReadable(); !s)
            return s;
        if (PQconsumeInput(conn()) != 1)
            return mEngine.failure(nullptr);
    }
}

void CopyOut::drain()
{
    if (mLine)
        PQfreemem(mLine);
    mLine = nullptr;
    if (!mActive)
        return;
    Result<int> length = 0;
    while ((length = line()) && *length > 0) {
        PQfreemem(mLine);
        mLine = nullptr;
    }
    mActive = false;
    mEngine.setCopying(false);
    if (length)
        std::ignore = mEngine.copyDone();
}

// The text format's escapes, undone in place; the text only shrinks.
std::string_view unescape(char *begin, char *end)
{
    // Most fields hold no escape: nothing to move.
    char *out = static_cast<char *>(std::memchr(begin, '\\', size_t(end - begin)));
    if (!out)
        return std::string_view(begin, size_t(end - begin));
    for (const char *in = out; in < end; ++in) {
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

Result<bool> CopyOut::next()
{
    if (mLine)
        PQfreemem(mLine);
    mLine = nullptr;
    mFields.clear();
    if (!mActive)
        return false;
    const Result<int> read = line();
    const int length = read ? *read : -2;
    if (length < 0) {
        mActive = false;
        mEngine.setCopying(false);
    }
    if (!read)
        return read.status();
    if (length == -1) { // the end: the command's result says how it went
        if (Status s = mEngine.copyDone(); !s)
            return s;
        return false;
    }
    if (length < 0)
        return mEngine.failure(nullptr);
    char *end = mLine + length;
    if (end > mLine && end[-1] == '\n')
        --end;
    // One pass over a field finds its end and whether it holds an escape
    // (NULL is one): fields are short, and most hold none.
    for (char *field = mLine;;) {
        char *tab = field;
        bool escaped = false;
        for (; tab != end && *tab != '\t'; ++tab)
            escaped |= *tab == '\\';
        if (!escaped)
            mFields.emplace_back(field, size_t(tab - field));
        else if (tab - field == 2 && field[1] == 'N')
            mFields.emplace_back();
        else
            mFields.push_back(unescape(field, tab));
        if (tab == end)
            break;
        field = tab + 1;
    }
    return true;
}

Status ServerEngine::connect()
{
    mWatch.reset();
    PQfinish(mConn);
    mConn = nullptr;
    mBroken = false;
    mEndedWithRows = mCopyEnds = false;
    mPrepared.clear();
    // A server that does not answer, or a network that goes, ends a command
    // with a message instead of a hang: the bound on silence, keepalives and
    // a limit on unacknowledged writes (a write that blocks). A writer waits
    // for another's lock as long as SQLite's busy timeout, then gives up; a
    // client gone mid-transaction holds its locks for a minute at most, and
    // the server ends a statement of one soon after the client gave up (the
    // bulk paths lift that limit).
    QString serverOptions = QStringLiteral("-c lock_timeout=%1 -c statement_timeout=%2 "
                                           "-c idle_in_transaction_session_timeout=60000")
                                .arg(busyTimeoutMs())
                                .arg(answerTimeoutMs() + 5000);
    const QByteArray untilDead = QByteArray::number(answerTimeoutMs());
    // The address's own settings come later and win.
    std::vector<std::pair<QByteArray, QByteArray>> params{
        {"keepalives", "1"},        {"keepalives_idle", "10"},       {"keepalives_interval", "3"},
        {"keepalives_count", "3"},  {"tcp_user_timeout", untilDead}, {"application_name", "tarn"},
        {"client_encoding", "UTF8"}};
    auto add = [&params](const char *key, const QString &value) {
        if (!value.isEmpty())
            params.emplace_back(key, value.toUtf8());
    };
    add("host", mServer.host);
    if (mServer.port > 0)
        add("port", QString::number(mServer.port));
    add("user", mServer.user);
    add("dbname", mServer.dbname);
    add("password", mServer.password.isEmpty() ? mPassword : mServer.password);
    for (const auto &[key, value] : mServer.options)
        if (key == QLatin1String("options"))
            serverOptions = value + u' ' + serverOptions;
        else
            add(key.toUtf8().constData(), value);
    add("options", serverOptions);
    std::vector<const char *> keys, values;
    for (const auto &[key, value] : params) {
        keys.push_back(key.constData());
        values.push_back(value.constData());
    }
    keys.push_back(nullptr);
    values.push_back(nullptr);

    mConn = PQconnectStartParams(keys.data(), values.data(), 0);
    if (!mConn)
        return Status::failure(Fault::Other,
                               QStringLiteral("could not start a connection (out of memory)"));
    // The server's notices (a ROLLBACK with nothing to roll back, say) are
    // not for the user: what goes wrong comes back as a failure.
    PQsetNoticeProcessor(
        mConn, [](void *, const char *) {}, nullptr);
    // The server's refusal then carries its SQLSTATE, by which a wrong
    // password is told from other refusals in any language.
    PQsetErrorVerbosity(mConn, PQERRORS_VERBOSE);
    PostgresPollingStatusType polled = PGRES_POLLING_WRITING;
    const QDeadlineTimer deadline(connectTimeoutMs());
    // A failure while TLS starts is the certificate's, or the server's refusal of TLS.
    bool securing = false;
    while (PQstatus(mConn) != CONNECTION_BAD && polled != PGRES_POLLING_OK &&
           polled != PGRES_POLLING_FAILED) {
        pollfd wait{PQsocket(mConn), short(polled == PGRES_POLLING_READING ? POLLIN : POLLOUT), 0};
        const int ready = ::poll(&wait, 1, int(deadline.remainingTime()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready == 0)
            return dropSilent(
                QStringLiteral("no connection within %1 seconds").arg(connectTimeoutMs() / 1000.0));
        securing = PQstatus(mConn) == CONNECTION_SSL_STARTUP;
        polled = PQconnectPoll(mConn);
    }
    if (PQstatus(mConn) == CONNECTION_OK) {
        PQsetErrorVerbosity(mConn, PQERRORS_DEFAULT);
        if (mListening)
            return listen();
        return Status::success();
    }
    const QString text = QString::fromUtf8(PQerrorMessage(mConn));
    static const QRegularExpression stateRule(QStringLiteral(":\\s+(%1): ").arg(kStateRule));
    const QByteArray state = stateRule.match(text).captured(1).toLatin1();
    Fault fault = faultOf(state);
    if (PQconnectionNeedsPassword(mConn) || (PQconnectionUsedPassword(mConn) && state == "28P01"))
        fault = Fault::NeedsPassword;
    else if (fault == Fault::NeedsPassword)
        fault = Fault::Refused;
    // The server's words may be in another language: what matters is said in ours.
    QString lead;
    if (securing && state.isEmpty()) {
        fault = Fault::Refused;
        lead = QStringLiteral("the server's identity could not be verified, so the secure (TLS) "
                              "connection was refused: its certificate must be for the host "
                              "name in the address and signed by the root certificate "
                              "(sslrootcert); ");
    } else if (fault == Fault::NeedsPassword)
        lead = QStringLiteral("the server asks for a password, and none was given or it was "
                              "refused: ");
    else if (fault == Fault::NotFound)
        lead = QStringLiteral("the database %1 does not exist on the server: ").arg(mServer.dbname);
    return Status::failure(fault, lead + plainText(text));
}

} // namespace

Result<std::unique_ptr<Engine>> openServerDatabase(const ServerUrl &server, const QString &password)
{
    auto engine = std::make_unique<ServerEngine>(server, password);
    if (Status s = engine->connect(); !s)
        return s;
    return std::unique_ptr<Engine>(std::move(engine));
}

} // namespace tarn
