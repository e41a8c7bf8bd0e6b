#include "store/database.h"

#include "store/serverurl.h"

#include <QAtomicInteger>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSqlDriver>
#include <QSqlError>
#include <QUrl>

#include <libpq-fe.h>

#include <utility>

namespace tarn
{

namespace
{

QString nextConnectionName()
{
    static QAtomicInteger<int> counter;
    return QStringLiteral("tarn-%1").arg(counter.fetchAndAddRelaxed(1));
}

const QString kLostConnection =
    QStringLiteral("\nThe connection to the server was lost; nothing of this command was stored. "
                   "The next command connects again.");

constexpr int kSqliteReadOnly = 8; // SQLITE_READONLY, any extended code

int busyTimeoutMs()
{
    const int ms = qEnvironmentVariableIntValue("TARN_BUSY_TIMEOUT_MS");
    return ms > 0 ? ms : 3000;
}

// Options for libpq's connection string; values quoted as it reads them.
QString connectOption(const QString &key, const QString &value)
{
    QString quoted = value;
    quoted.replace(u'\\', QStringLiteral("\\\\")).replace(u'\'', QStringLiteral("\\'"));
    return key + QStringLiteral("='") + quoted + u'\'';
}

PGconn *serverHandle(const QSqlDatabase &db)
{
    if (!db.isValid() || !db.driver())
        return nullptr;
    const QVariant handle = db.driver()->handle();
    if (handle.isValid() && isServerHandle(handle))
        return *static_cast<PGconn *const *>(handle.constData());
    return nullptr;
}

// A server's text without libpq's frame: "ERROR:  disk full\nCONTEXT: ...(P0001)"
// reads "disk full"; a lost connection's text has no code, "()", and its
// lines are continued with a tab.
QString serverText(QString text)
{
    static const QRegularExpression frame(
        QStringLiteral(
            "^(ERROR|FATAL|PANIC):\\s+|\\n(CONTEXT|LINE \\d+|QUERY):.*$|\\((\\w{5})?\\)$"),
        QRegularExpression::DotMatchesEverythingOption);
    for (QString previous; previous != text;) {
        previous = text;
        text = text.trimmed().remove(frame);
    }
    return text.replace(QStringLiteral("\n\t"), QStringLiteral(" ")).trimmed();
}

QString causeOf(const QSqlError &error)
{
    QString text = error.databaseText().trimmed();
    if (text.isEmpty())
        text = error.driverText().trimmed();
    if (text.isEmpty())
        text = QStringLiteral("unknown database error");
    return text;
}

} // namespace

Database::Database() : mConnectionName(nextConnectionName()) {}

Database::~Database()
{
    close();
}

Status Database::open(const QString &location)
{
    if (isServerUrl(location))
        return openServer(location);
    return openConnection(location, false);
}

Status Database::openBeside(const QString &location, const Database &other)
{
    const Database &owner = other.link();
    if (!isServerUrl(location) || !owner.onServer() || owner.mLocation != location ||
        !owner.mDb.isOpen())
        return open(location);
    close();
    mHost = &owner;
    mEngine = owner.mEngine;
    mLocation = owner.mLocation;
    mPath = owner.mPath;
    return Status::success();
}

Status Database::openServer(const QString &url)
{
    close();
    mEngine = schema::Engine::Postgres;
    mLocation = url;
    mNeedsPassword = false;
    mPath = withoutPassword(url);
    const Result<ServerUrl> server = parseServerUrl(url);
    if (!server)
        return server.status();
    mPath = server->shown();
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QPSQL")))
        return Status::failure(QStringLiteral("%1: Qt's PostgreSQL driver is not installed (the "
                                              "Debian package libqt6sql6-psql)")
                                   .arg(mPath));
    mDb = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), mConnectionName);
    mDb.setHostName(server->host);
    if (server->port > 0)
        mDb.setPort(server->port);
    mDb.setUserName(server->user);
    mDb.setDatabaseName(server->dbname);
    if (!server->password.isEmpty())
        mDb.setPassword(server->password);
    else if (!mPassword.isEmpty())
        mDb.setPassword(mPassword);
    // A server that does not answer, or a network that goes, ends a command
    // with a message instead of a hang: a connect timeout, keepalives, and a
    // limit on unacknowledged writes.
    QStringList options{connectOption(QStringLiteral("connect_timeout"), QStringLiteral("10")),
                        connectOption(QStringLiteral("keepalives"), QStringLiteral("1")),
                        connectOption(QStringLiteral("keepalives_idle"), QStringLiteral("20")),
                        connectOption(QStringLiteral("keepalives_interval"), QStringLiteral("5")),
                        connectOption(QStringLiteral("keepalives_count"), QStringLiteral("3")),
                        connectOption(QStringLiteral("tcp_user_timeout"), QStringLiteral("30000")),
                        connectOption(QStringLiteral("application_name"), QStringLiteral("tarn"))};
    // A writer waits for another's lock as long as SQLite's busy timeout, then
    // gives up with a message; set as the connection starts, without a round trip.
    QString serverOptions = QStringLiteral("-c lock_timeout=%1").arg(busyTimeoutMs());
    for (const auto &[key, value] : server->options)
        if (key == QLatin1String("options"))
            serverOptions = value + u' ' + serverOptions;
        else
            options << connectOption(key, value);
    options << connectOption(QStringLiteral("options"), serverOptions);
    mDb.setConnectOptions(options.join(u';'));
    mOpening = true;
    const bool opened = mDb.open();
    mOpening = false;
    if (!opened) {
        const QSqlError error = mDb.lastError();
        const QString text = error.databaseText() + error.driverText();
        mNeedsPassword = text.contains(QLatin1String("no password supplied")) ||
                         text.contains(QLatin1String("password authentication failed"));
        mOpening = true;
        Status status = failure({}, error);
        mOpening = false;
        close();
        return status;
    }
    return subscribe();
}

Status Database::subscribe()
{
    QSqlDriver *driver = mDb.driver();
    for (const QString &channel : std::as_const(mChannels))
        if (!driver->subscribedToNotifications().contains(channel) &&
            !driver->subscribeToNotification(channel))
            return failure(QStringLiteral("Could not follow the changes of other users."),
                           driver->lastError());
    // A program with an event loop hears of them as they come.
    if (!mChannels.isEmpty() && mWatchedDriver != driver) {
        mWatchedDriver = driver;
        QObject::connect(driver, &QSqlDriver::notification, driver,
                         [this](const QString &name, QSqlDriver::NotificationSource source) {
                             if (source == QSqlDriver::SelfSource)
                                 return;
                             mNotified.insert(name);
                             if (mNotifiedHook)
                                 mNotifiedHook();
                         });
    }
    return Status::success();
}

Status Database::notCopying() const
{
    if (!link().mCopying)
        return Status::success();
    return Status::failure(QStringLiteral("%1: the connection is busy with another command's "
                                          "rows; try again when it is done")
                               .arg(mPath));
}

Status Database::listen(const QString &channel)
{
    if (!onServer() || mChannels.contains(channel))
        return Status::success();
    // The driver sends LISTEN itself.
    if (Status s = notCopying(); !s)
        return s;
    mChannels << channel;
    return subscribe();
}

Result<bool> Database::takeNotified(const QString &channel) const
{
    // A round trip brings what the server has sent since; libpq keeps it
    // until asked, whether or not an event loop ran.
    if (Status s = exec(QStringLiteral("SELECT 1"), {},
                        QStringLiteral("Could not check for the changes of other users."));
        !s)
        return s;
    if (PGconn *conn = serverHandle(link().mDb))
        while (PGnotify *notice = PQnotifies(conn)) {
            if (notice->be_pid != PQbackendPID(conn))
                mNotified.insert(QString::fromUtf8(notice->relname));
            PQfreemem(notice);
        }
    return mNotified.remove(channel);
}

QString Database::nullsFirst(const QString &column) const
{
    return onServer() ? column + QStringLiteral(" NULLS FIRST") : column;
}

QString Database::nameFilter(const QString &value) const
{
    // Stated in the comparison itself: a file made by another tool may lack
    // the column's collation. On a server, lower() in the "C" collation folds
    // ASCII letters only, as NOCASE does; the parameter is typed, since lower()
    // has more than one form.
    return onServer() ? QStringLiteral("lower(package_name COLLATE \"C\") = "
                                       "lower(CAST(%1 AS TEXT) COLLATE \"C\")")
                            .arg(value)
                      : QStringLiteral("package_name = %1 COLLATE NOCASE").arg(value);
}

QString Database::noCaseOrder(const QString &column) const
{
    return onServer() ? QStringLiteral("lower(%1 COLLATE \"C\"), %1 COLLATE \"C\"").arg(column)
                      : column + QStringLiteral(" COLLATE NOCASE");
}

Result<qint64> Database::insert(const QString &sql, const QVariantList &values,
                                const QString &what) const
{
    QSqlQuery query;
    // A server returns the key itself: lastval() would need a right on the
    // key's sequence that a team's role need not have.
    if (Status s =
            exec(query, onServer() ? sql + QStringLiteral(" RETURNING rowid") : sql, values, what);
        !s)
        return s;
    if (onServer())
        return query.next() ? query.value(0).toLongLong() : qint64(-1);
    return query.lastInsertId().toLongLong();
}

Status Database::reconnectIfBroken() const
{
    if (mHost)
        return mHost->reconnectIfBroken();
    if (!onServer() || (!mBroken && !mDb.isValid()))
        return Status::success();
    PGconn *conn = serverHandle(mDb);
    if (!mBroken && conn && PQstatus(conn) == CONNECTION_OK)
        return Status::success();
    if (mReconnecting)
        return Status::failure(
            QStringLiteral("%1: the connection to the server failed").arg(mPath));
    if (mTransactions > 0)
        return Status::failure(
            QStringLiteral("%1: the connection to the server was lost; nothing of this "
                           "command was stored")
                .arg(mPath));
    // A new connection: the old one may hold a half-read result.
    auto *self = const_cast<Database *>(this);
    const QString location = mLocation;
    const int lock = mWriteLock;
    mReconnecting = true;
    const Status reopened = self->openServer(location);
    mReconnecting = false;
    if (!reopened) {
        // Still broken: the command after this one tries again, instead of
        // finding the connection closed for good.
        mBroken = true;
        return Status::failure(reopened.message() + kLostConnection);
    }
    self->mWriteLock = lock;
    mBroken = false;
    return Status::success();
}

void Database::noteBrokenConnection(const QSqlError &error) const
{
    if (!onServer() || mOpening)
        return;
    // libpq does not always mark the connection bad when the server went
    // between two statements: its words say so too.
    PGconn *conn = serverHandle(link().mDb);
    const QString text = error.databaseText() + error.driverText();
    if (!conn || PQstatus(conn) != CONNECTION_OK || error.type() == QSqlError::ConnectionError ||
        text.contains(QLatin1String("server closed the connection")) ||
        text.contains(QLatin1String("no connection to the server")) ||
        text.contains(QLatin1String("terminating connection")))
        link().mBroken = true;
}

Status Database::create(const QString &path)
{
    if (QFileInfo::exists(path))
        return Status::failure(QStringLiteral("%1: the file exists already").arg(path));
    return openConnection(path, true);
}

Status Database::openConnection(const QString &path, bool create)
{
    close();
    mEngine = schema::Engine::Sqlite;
    mPath = path;
    mLocation = path;
    if (!create) {
        QFileInfo info(path);
        if (!info.exists())
            return Status::failure(QStringLiteral("%1: the file does not exist").arg(path));
        if (!info.isFile())
            return Status::failure(QStringLiteral("%1: not a file").arg(path));
    }
    mDb = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), mConnectionName);
    // A URI with mode=rw (or rwc) so that the mode is explicit; the path is
    // percent-encoded so that '?', '#' and '%' in directory names survive.
    QUrl url = QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath());
    url.setQuery(create ? QStringLiteral("mode=rwc") : QStringLiteral("mode=rw"));
    mDb.setDatabaseName(url.toString(QUrl::FullyEncoded));
    mDb.setConnectOptions(
        QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=%1").arg(busyTimeoutMs()));
    if (!mDb.open()) {
        Status status = failure({}, mDb.lastError());
        close();
        return status;
    }
    // Opening is lazy in SQLite: read the schema now so that a file that is not
    // a database is refused here and not at the first command.
    QSqlQuery probe(mDb);
    if (!probe.exec(QStringLiteral("SELECT count(*) FROM sqlite_master"))) {
        Status status = failure({}, probe);
        probe = QSqlQuery();
        close();
        return status;
    }
    return Status::success();
}

void Database::close()
{
    if (mHost) {
        mHost = nullptr;
        return;
    }
    mBroken = false;
    mTransactions = 0;
    mFailed.clear();
    mCopying = false;
    mCatalog.reset();
    if (mDb.isValid()) {
        mDb.close();
        mDb = QSqlDatabase();
        QSqlDatabase::removeDatabase(mConnectionName);
    }
}

Status Database::failure(const QString &what, const QSqlError &error) const
{
    QString cause = QStringLiteral("%1: %2").arg(mPath, causeOf(error));
    if (onServer()) {
        cause = QStringLiteral("%1: %2").arg(mPath, serverText(causeOf(error)));
        // The server's "canceling statement due to lock timeout" says nothing
        // of why: another writer kept the store's lock past the busy timeout.
        if (error.nativeErrorCode() == QLatin1String("55P03"))
            cause = QStringLiteral("%1: the database is locked by another user's command (waited "
                                   "%2 ms); nothing was stored, try again")
                        .arg(mPath)
                        .arg(busyTimeoutMs());
        noteBrokenConnection(error);
        if (link().mBroken)
            cause += kLostConnection;
        return Status::failure(what.isEmpty() ? cause : what + QLatin1Char('\n') + cause);
    }
    // SQLite writes its journal beside the file: a writable file in a folder
    // that cannot be written reads as a "readonly database".
    const QFileInfo file(mPath);
    if (error.nativeErrorCode().toInt() % 256 == kSqliteReadOnly && file.isWritable() &&
        !QFileInfo(file.absolutePath()).isWritable())
        cause = QStringLiteral("%1: the folder %2 must be writable, since SQLite keeps the "
                               "file's journal there")
                    .arg(mPath, QDir::toNativeSeparators(file.absolutePath()));
    return Status::failure(what.isEmpty() ? cause : what + QLatin1Char('\n') + cause);
}

Status Database::failure(const QString &what, const QSqlQuery &query) const
{
    return failure(what, query.lastError());
}

Status Database::exec(QSqlQuery &query, const QString &sql, const QVariantList &values,
                      const QString &what) const
{
    if (Status s = notCopying(); !s)
        return what.isEmpty() ? s : Status::failure(what + QLatin1Char('\n') + s.message());
    if (Status s = reconnectIfBroken(); !s)
        return what.isEmpty() ? s : Status::failure(what + QLatin1Char('\n') + s.message());
    link().mCatalog.reset(); // any statement may change the tables
    query = QSqlQuery(link().mDb);
    query.setForwardOnly(true);
    // A server cannot prepare BEGIN, SET or CREATE: a statement without values
    // runs as it is.
    if (values.isEmpty()) {
        if (!query.exec(sql))
            return failure(what, query);
        return Status::success();
    }
    if (!query.prepare(sql))
        return failure(what, query);
    for (qsizetype i = 0; i < values.size(); ++i)
        query.bindValue(int(i), values.at(i));
    if (!query.exec()) {
        Status failed = failure(what, query);
        if (onServer() && link().mTransactions > 0)
            link().mFailed.push_back(std::exchange(query, QSqlQuery()));
        return failed;
    }
    return Status::success();
}

Status Database::exec(const QString &sql, const QVariantList &values, const QString &what) const
{
    QSqlQuery query;
    return exec(query, sql, values, what);
}

Result<QHash<QString, QStringList>> Database::serverColumns() const
{
    // The checks at start (both stores', the upgrade's) follow each other
    // with no statement between: they read it once.
    if (link().mCatalog)
        return *link().mCatalog;
    // Every table of the schema in one round trip, from the catalog itself
    // (information_schema's views cost more to plan than this reads).
    QSqlQuery query;
    if (Status s =
            exec(query,
                 QStringLiteral("SELECT c.relname, a.attname FROM pg_catalog.pg_attribute a "
                                "JOIN pg_catalog.pg_class c ON c.oid = a.attrelid "
                                "JOIN pg_catalog.pg_namespace n ON n.oid = c.relnamespace "
                                "WHERE n.nspname = current_schema() AND c.relkind IN ('r', 'p') "
                                "AND a.attnum > 0 AND NOT a.attisdropped AND a.attname <> 'rowid' "
                                "ORDER BY c.relname, a.attnum"));
        !s)
        return s;
    QHash<QString, QStringList> tables;
    while (query.next())
        tables[query.value(0).toString()] << query.value(1).toString();
    link().mCatalog = tables;
    return tables;
}

Result<QStringList> Database::columns(const QString &table) const
{
    if (onServer()) {
        Result<QHash<QString, QStringList>> tables = serverColumns();
        if (!tables)
            return tables.status();
        return tables->value(table.toLower());
    }
    QSqlQuery query;
    if (Status s = exec(query, QStringLiteral("SELECT name FROM pragma_table_info(?)"), {table});
        !s)
        return s;
    QStringList names;
    while (query.next())
        names << query.value(0).toString();
    return names;
}

Result<QString> Database::lacking(const QList<schema::TableNeed> &needs) const
{
    QHash<QString, QStringList> server;
    if (onServer()) {
        Result<QHash<QString, QStringList>> tables = serverColumns();
        if (!tables)
            return tables.status();
        server = *tables;
    }
    for (const schema::TableNeed &need : needs) {
        QStringList present;
        if (onServer())
            present = server.value(need.table.toLower());
        else if (Result<QStringList> file = columns(need.table); file)
            present = *file;
        else
            return file.status();
        if (present.isEmpty())
            return QStringLiteral("the table %1 is missing").arg(need.table);
        for (const QString &column : need.columns)
            if (!present.contains(column, Qt::CaseInsensitive))
                return QStringLiteral("the table %1 has no column %2").arg(need.table, column);
    }
    return QString();
}

Status Database::requireTables(const QList<schema::TableNeed> &needs) const
{
    Result<QString> lacks = lacking(needs);
    if (!lacks)
        return lacks.status();
    if (!lacks->isEmpty())
        return Status::failure(QStringLiteral("%1: %2").arg(mPath, *lacks));
    return Status::success();
}

Transaction::~Transaction()
{
    rollback();
}

Status Transaction::start(const QStringList &statements, const QString &what)
{
    for (const QString &sql : statements) {
        if (Status s = mDb.exec(sql, {}, what); !s) {
            rollback();
            return s;
        }
        if (!mActive) {
            mActive = true;
            ++mDb.link().mTransactions;
        }
    }
    return Status::success();
}

Status Transaction::begin(const QString &what)
{
    if (!mDb.onServer())
        return start({QStringLiteral("BEGIN IMMEDIATE")}, what);
    // Writers of a store take turns, as with SQLite's write lock: a check
    // inside the transaction (a name that exists) sees every earlier writer's
    // rows. The key is the lock's; the lock ends with the transaction.
    const QString lock =
        QStringLiteral("SELECT pg_advisory_xact_lock(7305, %1)").arg(mDb.mWriteLock);
    if (nested())
        return start({QStringLiteral("SAVEPOINT ") + mSavepoint, lock}, what);
    return start({QStringLiteral("BEGIN"), lock}, what);
}

Status Transaction::beginRead(const QString &what)
{
    if (!mDb.onServer())
        return start({QStringLiteral("BEGIN")}, what);
    if (nested())
        return start({QStringLiteral("SAVEPOINT ") + mSavepoint}, what);
    return start({QStringLiteral("BEGIN ISOLATION LEVEL REPEATABLE READ")}, what);
}

bool Transaction::nested()
{
    // Only a shared connection has another store's transaction open.
    const int open = mDb.link().mTransactions;
    mSavepoint = open > 0 ? QStringLiteral("tarn_nested_%1").arg(open) : QString();
    return open > 0;
}

Status Transaction::commit(const QString &what)
{
    const QString sql = mSavepoint.isEmpty() ? QStringLiteral("COMMIT")
                                             : QStringLiteral("RELEASE SAVEPOINT ") + mSavepoint;
    if (Status s = mDb.exec(sql, {}, what); !s)
        return s; // still active: the destructor rolls back
    finish();
    return Status::success();
}

void Transaction::rollback()
{
    if (!mActive)
        return;
    if (mSavepoint.isEmpty())
        mDb.exec(QStringLiteral("ROLLBACK"));
    else if (mDb.exec(QStringLiteral("ROLLBACK TO SAVEPOINT ") + mSavepoint))
        mDb.exec(QStringLiteral("RELEASE SAVEPOINT ") + mSavepoint);
    finish();
}

void Transaction::finish()
{
    mActive = false;
    if (mDb.link().mTransactions > 0)
        --mDb.link().mTransactions;
    if (mDb.link().mTransactions == 0)
        mDb.link().mFailed.clear();
}

bool isServerHandle(const QVariant &handle)
{
    // Qt names the type by the struct that libpq's typedef names.
    return handle.isValid() && (qstrcmp(handle.typeName(), "pg_conn*") == 0 ||
                                qstrcmp(handle.typeName(), "PGconn*") == 0);
}

bool isJetFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray head = file.read(32);
    return head.size() >= 19 && head.at(0) == 0 &&
           (head.mid(4, 15) == "Standard Jet DB" || head.mid(4, 15) == "Standard ACE DB");
}

QStringList databaseFiles(const QString &path)
{
    return {path, path + QStringLiteral("-journal"), path + QStringLiteral("-wal"),
            path + QStringLiteral("-shm")};
}

} // namespace tarn
