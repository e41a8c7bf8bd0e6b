// SPDX-License-Identifier: GPL-3.0-or-later
#include "store/sqliteengine.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QUrl>

#include <sqlite3.h>

#include <pwd.h>
#include <unistd.h>

namespace tarn
{

namespace
{

// The operating system's user name, which a file's records name.
QString fileAuthor()
{
    static const QString name = [] {
        // Two people on one machine, for the tests.
        if (const QString test = qEnvironmentVariable("TARN_TEST_USER"); !test.isEmpty())
            return test;
        if (const passwd *entry = getpwuid(geteuid()); entry && entry->pw_name)
            return QString::fromLocal8Bit(entry->pw_name);
        return qEnvironmentVariable("USER");
    }();
    return name;
}

} // namespace

namespace
{

int busyTimeoutMs()
{
    const int ms = qEnvironmentVariableIntValue("TARN_BUSY_TIMEOUT_MS");
    return ms > 0 ? ms : 3000;
}

Fault faultOf(int code)
{
    switch (code & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return Fault::Locked;
    case SQLITE_READONLY:
    case SQLITE_IOERR:
    case SQLITE_FULL:
    case SQLITE_CANTOPEN:
    case SQLITE_PERM:
        return Fault::InputOutput;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
        return Fault::Damaged;
    case SQLITE_CONSTRAINT:
    case SQLITE_MISMATCH:
    case SQLITE_TOOBIG:
    case SQLITE_RANGE:
        return Fault::Refused;
    default:
        return Fault::Other;
    }
}

class SqliteEngine;

// A prepared statement; when it goes, it is reset and kept by its engine for
// the next use of the same text (a write-back's UPDATE, say, runs many times).
class Statement
{
public:
    Statement(SqliteEngine &engine, QByteArray sql) : mEngine(engine), mSql(std::move(sql)) {}
    ~Statement();
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;

    sqlite3_stmt *get() const { return mStatement; }
    sqlite3_stmt **out() { return &mStatement; }
    const QByteArray &sql() const { return mSql; }

private:
    SqliteEngine &mEngine;
    QByteArray mSql;
    sqlite3_stmt *mStatement = nullptr;
};

class SqliteRows final : public ResultRows
{
public:
    SqliteRows(SqliteEngine &engine, std::unique_ptr<Statement> statement, int first);
    bool next() override;
    QVariant value(int column) const override;
    int columnCount() const override { return sqlite3_column_count(mStatement->get()); }
    QString columnName(int column) const override
    {
        return QString::fromUtf8(sqlite3_column_name(mStatement->get(), column));
    }
    qint64 affected() const override { return mAffected; }
    Status error() const override { return mError; }

private:
    SqliteEngine &mEngine;
    std::unique_ptr<Statement> mStatement;
    bool mPending = false; // the first row, stepped to already
    bool mOnRow = false;
    bool mDone = false;
    qint64 mAffected = 0;
    Status mError = Status::success();
};

class SqliteWriter final : public RowWriter
{
public:
    SqliteWriter(SqliteEngine &engine, std::unique_ptr<Statement> insert)
        : mEngine(engine), mInsert(std::move(insert))
    {
    }
    void text(std::string_view utf8) override
    {
        // Never a null pointer, so that an empty text stays empty.
        sqlite3_bind_text(mInsert->get(), ++mColumn, utf8.empty() ? "" : utf8.data(),
                          int(utf8.size()), SQLITE_TRANSIENT);
    }
    void whole(long long value) override { sqlite3_bind_int64(mInsert->get(), ++mColumn, value); }
    Status endRow() override;
    Status finish() override { return Status::success(); }

private:
    SqliteEngine &mEngine;
    std::unique_ptr<Statement> mInsert;
    int mColumn = 0;
};

class SqliteReader final : public RowReader
{
public:
    SqliteReader(SqliteEngine &engine, std::unique_ptr<Statement> select)
        : mEngine(engine), mSelect(std::move(select))
    {
    }
    Result<bool> next() override;
    int fields() const override { return sqlite3_column_count(mSelect->get()); }
    bool isNull(int field) const override
    {
        return sqlite3_column_type(mSelect->get(), field) == SQLITE_NULL;
    }
    std::string_view text(int field) const override
    {
        const auto *utf8 =
            reinterpret_cast<const char *>(sqlite3_column_text(mSelect->get(), field));
        return utf8 ? std::string_view(utf8, size_t(sqlite3_column_bytes(mSelect->get(), field)))
                    : std::string_view();
    }
    std::optional<long long> whole(int field) const override
    {
        // One column call rather than two: each takes the connection's mutex.
        sqlite3_value *value = sqlite3_column_value(mSelect->get(), field);
        if (sqlite3_value_type(value) != SQLITE_INTEGER)
            return std::nullopt;
        return sqlite3_value_int64(value);
    }

private:
    SqliteEngine &mEngine;
    std::unique_ptr<Statement> mSelect;
};

class SqliteEngine final : public Engine
{
public:
    SqliteEngine(sqlite3 *db, QString path) : mDb(db), mPath(std::move(path)) {}
    ~SqliteEngine() override
    {
        for (sqlite3_stmt *idle : std::as_const(mIdle))
            sqlite3_finalize(idle);
        sqlite3_close_v2(mDb);
    }

    // A statement that is done: reset, so that it holds no lock, and kept.
    void keep(const QByteArray &sql, sqlite3_stmt *statement)
    {
        if (!statement)
            return;
        sqlite3_reset(statement);
        sqlite3_clear_bindings(statement);
        if (mIdle.size() >= kKeptStatements || mIdle.contains(sql))
            sqlite3_finalize(statement);
        else
            mIdle.insert(sql, statement);
    }

    bool shared() const override { return false; }

    // The engine's last failure as a Status of its kind.
    Status failure() const
    {
        const int code = sqlite3_extended_errcode(mDb);
        // SQLite writes its journal beside the file: a writable file in a
        // folder that cannot be written reads as a "readonly database".
        const QFileInfo file(mPath);
        if ((code & 0xff) == SQLITE_READONLY && file.isWritable() &&
            !QFileInfo(file.absolutePath()).isWritable())
            return Status::failure(Fault::InputOutput,
                                   QStringLiteral("the folder %1 must be writable, since SQLite "
                                                  "keeps the file's journal there")
                                       .arg(QDir::toNativeSeparators(file.absolutePath())));
        return Status::failure(faultOf(code), QString::fromUtf8(sqlite3_errmsg(mDb)));
    }

    Result<std::unique_ptr<Statement>> prepare(const QString &sql, const QVariantList &values)
    {
        auto statement = std::make_unique<Statement>(*this, sql.toUtf8());
        const QByteArray &utf8 = statement->sql();
        if (sqlite3_stmt *idle = mIdle.take(utf8))
            *statement->out() = idle;
        else if (sqlite3_prepare_v2(mDb, utf8.constData(), int(utf8.size()), statement->out(),
                                    nullptr) != SQLITE_OK)
            return failure();
        for (int i = 0; i < values.size(); ++i)
            if (bind(statement->get(), i + 1, values.at(i)) != SQLITE_OK)
                return failure();
        return statement;
    }

    Result<std::unique_ptr<ResultRows>> run(const QString &sql, const QVariantList &values) override
    {
        Result<std::unique_ptr<Statement>> statement = prepare(sql, values);
        if (!statement)
            return statement.status();
        // Stepped once now, so that a statement without rows has run when this returns.
        const int first = sqlite3_step(statement.value()->get());
        if (first != SQLITE_ROW && first != SQLITE_DONE)
            return failure();
        return std::unique_ptr<ResultRows>(
            std::make_unique<SqliteRows>(*this, std::move(statement.value()), first));
    }

    Result<qint64> insert(const QString &sql, const QVariantList &values) override
    {
        if (Result<std::unique_ptr<ResultRows>> rows = run(sql, values); !rows)
            return rows.status();
        return qint64(sqlite3_last_insert_rowid(mDb));
    }

    Status runAll(const QStringList &statements) override
    {
        for (const QString &sql : statements)
            if (Result<std::unique_ptr<ResultRows>> rows = run(sql, {}); !rows)
                return rows.status();
        return Status::success();
    }

    QStringList beginWrite(int, const QString &savepoint) const override
    {
        // One file, one store: the file's own write lock serialises writers.
        return {savepoint.isEmpty() ? QStringLiteral("BEGIN IMMEDIATE")
                                    : QStringLiteral("SAVEPOINT ") + savepoint};
    }
    QStringList beginRead(const QString &savepoint) const override
    {
        return {savepoint.isEmpty() ? QStringLiteral("BEGIN")
                                    : QStringLiteral("SAVEPOINT ") + savepoint};
    }

    QString nameFilter(const QString &value) const override
    {
        // Stated in the comparison itself: a file made by another tool may
        // lack the column's collation.
        return QStringLiteral("package_name = %1 COLLATE NOCASE").arg(value);
    }
    QString noCaseOrder(const QString &column) const override
    {
        return column + QStringLiteral(" COLLATE NOCASE");
    }
    QString nullsFirst(const QString &column) const override { return column; }
    QString flagBit(const QString &column, int bit) const override
    {
        return QStringLiteral("(ifnull(%1 <> 0, 0) << %2)").arg(column).arg(bit);
    }

    QString columnDefinition(const schema::Column &column) const override
    {
        using K = schema::Kind;
        const QString name = QString::fromLatin1(column.name);
        switch (column.kind) {
        case K::Text:
            return name + (name == QLatin1String("package_name")
                               ? QStringLiteral(" TEXT COLLATE NOCASE")
                               : QStringLiteral(" TEXT"));
        case K::Whole16:
            return name + QStringLiteral(" INTEGER DEFAULT 0");
        case K::YesNo:
            return name + QStringLiteral(" INTEGER NOT NULL DEFAULT 0");
        case K::Id16:
        case K::Id32:
            return name + QStringLiteral(" INTEGER");
        case K::Number:
            return name + QStringLiteral(" NUMERIC");
        }
        return name;
    }
    QString createTable(const QString &table, const QStringList &definitions) const override
    {
        return QStringLiteral("CREATE TABLE %1 (%2)")
            .arg(table, definitions.join(QStringLiteral(", ")));
    }
    QStringList afterDataTables() const override { return {}; }
    QStringList keysFollow(const QString &, const QString &) const override { return {}; }

    Result<QHash<QString, QStringList>> readTables() override
    {
        Result<std::unique_ptr<ResultRows>> rows =
            run(QStringLiteral("SELECT m.name, p.name FROM sqlite_master m, "
                               "pragma_table_info(m.name) p WHERE m.type = 'table' "
                               "ORDER BY m.name, p.cid"),
                {});
        if (!rows)
            return rows.status();
        QHash<QString, QStringList> tables;
        while ((*rows)->next())
            tables[(*rows)->value(0).toString().toLower()] << (*rows)->value(1).toString();
        if (Status s = (*rows)->error(); !s)
            return s;
        return tables;
    }

    Result<bool> changedElsewhere() override
    {
        // The engine counts the commits of other connections to the file; its
        // own are not counted, and the window that made them shows them already.
        Result<std::unique_ptr<ResultRows>> rows = run(QStringLiteral("PRAGMA data_version"), {});
        if (!rows)
            return rows.status();
        if (!(*rows)->next())
            return failure();
        const qint64 version = (*rows)->value(0).toLongLong();
        const bool changed = mSeenVersion && *mSeenVersion != version;
        mSeenVersion = version;
        return changed;
    }

    Result<std::unique_ptr<RowWriter>> writeRows(const QString &table, const QStringList &columns,
                                                 bool /*last*/) override
    {
        Result<std::unique_ptr<Statement>> insert =
            prepare(QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                        .arg(table, schema::joined(columns), schema::placeholders(columns.size())),
                    {});
        if (!insert)
            return insert.status();
        return std::unique_ptr<RowWriter>(
            std::make_unique<SqliteWriter>(*this, std::move(insert.value())));
    }

    Result<std::unique_ptr<RowReader>> readRows(const QString &select, const QVariantList &values,
                                                bool /*last*/) override
    {
        Result<std::unique_ptr<Statement>> statement = prepare(select, values);
        if (!statement)
            return statement.status();
        return std::unique_ptr<RowReader>(
            std::make_unique<SqliteReader>(*this, std::move(statement.value())));
    }

    qsizetype maxNameLength() const override { return 0; }

    QStringList historyKey() const override
    {
        // No AUTOINCREMENT, whose counter costs a write-back a page more: a
        // prune removes the older records, so the newest id stays and the
        // next is higher.
        return {QStringLiteral("id INTEGER PRIMARY KEY"),
                QStringLiteral("changed_at TEXT NOT NULL DEFAULT "
                               "(strftime('%Y-%m-%dT%H:%M:%fZ', 'now'))"),
                QStringLiteral("who TEXT")};
    }
    QString nameIndex() const override { return QStringLiteral("package_name COLLATE NOCASE"); }
    QString author() const override { return fileAuthor(); }
    QString tableBytes(const QStringList &tables) const override
    {
        // The pages of the tables and of their indexes.
        return QStringLiteral("(SELECT coalesce(sum(pgsize), 0) FROM dbstat WHERE name IN "
                              "(SELECT name FROM sqlite_master WHERE tbl_name IN ('%1')))")
            .arg(tables.join(QStringLiteral("', '")));
    }
    QString taggedValue(const QString &column, schema::Kind) const override
    {
        // A file keeps each value's own type, whatever the column's.
        return QStringLiteral("CASE typeof(%1) WHEN 'integer' THEN 'i' || %1 "
                              "WHEN 'real' THEN 'r' || printf('%.17g', %1) "
                              "WHEN 'text' THEN 't' || %1 WHEN 'blob' THEN 't' || CAST(%1 AS TEXT) "
                              "END")
            .arg(column);
    }

private:
    static int bind(sqlite3_stmt *statement, int at, const QVariant &value)
    {
        if (value.isNull())
            return sqlite3_bind_null(statement, at);
        switch (value.typeId()) {
        case QMetaType::Bool:
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::Short:
        case QMetaType::UShort:
        case QMetaType::Long:
        case QMetaType::LongLong:
            return sqlite3_bind_int64(statement, at, value.toLongLong());
        case QMetaType::ULongLong:
        case QMetaType::ULong:
            if (value.toULongLong() <= quint64(std::numeric_limits<qint64>::max()))
                return sqlite3_bind_int64(statement, at, value.toLongLong());
            return sqlite3_bind_double(statement, at, value.toDouble());
        case QMetaType::Double:
        case QMetaType::Float:
            return sqlite3_bind_double(statement, at, value.toDouble());
        case QMetaType::QByteArray: {
            const QByteArray bytes = value.toByteArray();
            return sqlite3_bind_blob64(statement, at, bytes.constData(),
                                       sqlite3_uint64(bytes.size()), SQLITE_TRANSIENT);
        }
        default: {
            const QByteArray utf8 = value.toString().toUtf8();
            return sqlite3_bind_text64(statement, at, utf8.constData(), sqlite3_uint64(utf8.size()),
                                       SQLITE_TRANSIENT, SQLITE_UTF8);
        }
        }
    }

    static constexpr qsizetype kKeptStatements = 32;
    sqlite3 *mDb;
    QString mPath;
    std::optional<qint64> mSeenVersion;
    QHash<QByteArray, sqlite3_stmt *> mIdle;
};

Statement::~Statement()
{
    mEngine.keep(mSql, mStatement);
}

SqliteRows::SqliteRows(SqliteEngine &engine, std::unique_ptr<Statement> statement, int first)
    : mEngine(engine), mStatement(std::move(statement)), mPending(first == SQLITE_ROW),
      mDone(first == SQLITE_DONE)
{
    if (mDone)
        mAffected = sqlite3_changes64(sqlite3_db_handle(mStatement->get()));
}

bool SqliteRows::next()
{
    mOnRow = false;
    if (mPending) {
        mPending = false;
        mOnRow = true;
        return true;
    }
    if (mDone)
        return false;
    const int stepped = sqlite3_step(mStatement->get());
    if (stepped == SQLITE_ROW) {
        mOnRow = true;
        return true;
    }
    mDone = true;
    if (stepped != SQLITE_DONE)
        mError = mEngine.failure();
    return false;
}

QVariant SqliteRows::value(int column) const
{
    if (!mOnRow)
        return {};
    sqlite3_stmt *s = mStatement->get();
    switch (sqlite3_column_type(s, column)) {
    case SQLITE_INTEGER:
        return qlonglong(sqlite3_column_int64(s, column));
    case SQLITE_FLOAT:
        return sqlite3_column_double(s, column);
    case SQLITE_BLOB:
        return QByteArray(static_cast<const char *>(sqlite3_column_blob(s, column)),
                          sqlite3_column_bytes(s, column));
    case SQLITE_NULL:
        return QVariant(QMetaType::fromType<QString>()); // as Qt's driver gave it
    default:
        return QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(s, column)),
                                 sqlite3_column_bytes(s, column));
    }
}

Status SqliteWriter::endRow()
{
    const int stepped = sqlite3_step(mInsert->get());
    sqlite3_reset(mInsert->get());
    mColumn = 0;
    if (stepped != SQLITE_DONE)
        return mEngine.failure();
    return Status::success();
}

Result<bool> SqliteReader::next()
{
    const int stepped = sqlite3_step(mSelect->get());
    if (stepped == SQLITE_ROW)
        return true;
    if (stepped == SQLITE_DONE)
        return false;
    return mEngine.failure();
}

} // namespace

Result<std::unique_ptr<Engine>> openSqliteFile(const QString &path, bool create)
{
    const QFileInfo info(path);
    if (create && info.exists())
        return Status::failure(Fault::Exists, QStringLiteral("the file exists already"));
    if (!create && !info.exists())
        return Status::failure(Fault::NotFound, QStringLiteral("the file does not exist"));
    if (!create && !info.isFile())
        return Status::failure(Fault::Refused, QStringLiteral("not a file"));
    // A URI with mode=rw (or rwc) so that the mode is explicit; the path is
    // percent-encoded so that '?', '#' and '%' in folder names survive.
    QUrl url = QUrl::fromLocalFile(info.absoluteFilePath());
    url.setQuery(create ? QStringLiteral("mode=rwc") : QStringLiteral("mode=rw"));
    sqlite3 *db = nullptr;
    const int opened = sqlite3_open_v2(
        url.toString(QUrl::FullyEncoded).toUtf8().constData(), &db,
        SQLITE_OPEN_READWRITE | SQLITE_OPEN_URI | (create ? SQLITE_OPEN_CREATE : 0) |
            // One thread uses a connection: no lock around each call.
            SQLITE_OPEN_NOMUTEX,
        nullptr);
    auto engine = std::make_unique<SqliteEngine>(db, info.absoluteFilePath());
    if (opened != SQLITE_OK)
        return engine->failure();
    sqlite3_extended_result_codes(db, 1);
    sqlite3_busy_timeout(db, busyTimeoutMs());
    // Opening is lazy in SQLite: read the schema now so that a file that is
    // not a database is refused here and not at the first command.
    if (Result<std::unique_ptr<ResultRows>> probe =
            engine->run(QStringLiteral("SELECT count(*) FROM sqlite_master"), {});
        !probe)
        return probe.status();
    return std::unique_ptr<Engine>(std::move(engine));
}

} // namespace tarn
