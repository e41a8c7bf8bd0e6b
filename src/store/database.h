#pragma once

#include "store/schema.h"
#include "store/status.h"

#include <QHash>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStringList>
#include <QVariant>

#include <functional>
#include <optional>
#include <vector>

namespace tarn
{

// One connection: to a SQLite file, or to a database on a PostgreSQL server
// (a postgresql:// address). Opening never creates a file: a plain open of a
// missing path would silently make an empty database.
class Database
{
public:
    Database();
    ~Database();
    Database(const Database &) = delete;
    Database &operator=(const Database &) = delete;

    // Opens an existing file read-write, or connects to a server address.
    Status open(const QString &location);
    // The same, but when other is connected to that very server database, its
    // connection serves both: one connection for the data and the reference
    // tables. Each keeps its own write lock; a transaction begun while the
    // other's is open runs inside it (as a savepoint). other must outlive this.
    Status openBeside(const QString &location, const Database &other);
    // Creates a new file (which must not exist) and opens it.
    Status create(const QString &path);
    void close();
    // A password for the next connection to a server, when the address and
    // libpq's own places (~/.pgpass, PGPASSWORD) have none. Kept in memory only.
    void setPassword(const QString &password) { mPassword = password; }
    // True when the last open failed because the server asked for a password.
    bool needsPassword() const { return mNeedsPassword; }

    QSqlDatabase connection() const { return link().mDb; }
    schema::Engine engine() const { return mEngine; }
    bool onServer() const { return mEngine == schema::Engine::Postgres; }
    // The file, or the server address without its password: what messages name.
    const QString &where() const { return mPath; }

    // "package_name = ?" without regard to ASCII case, for every statement that
    // picks a configuration's rows; value: an expression in place of the ?.
    QString nameFilter(const QString &value = QStringLiteral("?")) const;
    // An ORDER BY term that sorts a text column without regard to ASCII case.
    QString noCaseOrder(const QString &column) const;
    // An ORDER BY term that puts empty values first, as SQLite does.
    QString nullsFirst(const QString &column) const;

    // Runs an INSERT and returns the new row's key (rowid).
    Result<qint64> insert(const QString &sql, const QVariantList &values,
                          const QString &what) const;

    // On a server: follows notifications on channel from other clients (an
    // event loop delivers them); takeNotified() tells whether one came since
    // the last call. Kept across reconnection.
    Status listen(const QString &channel);
    bool listensTo(const QString &channel) const { return mChannels.contains(channel); }
    Result<bool> takeNotified(const QString &channel) const;
    // Called, from the event loop, when a notification of another client comes.
    void onNotified(std::function<void()> hook) { mNotifiedHook = std::move(hook); }

    // While a COPY streams through the connection no other statement may run
    // on it (libpq would end the COPY part way, silently for one that reads):
    // exec() refuses meanwhile.
    void setCopying(bool copying) const { link().mCopying = copying; }

    // Serialises the writers of one store (a SQLite file's write lock); on a
    // server, each store takes its own lock, as two files would.
    void setWriteLock(int key) { mWriteLock = key; }

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
    friend class Transaction;

    // The owner of the connection in use: this, or the one it shares.
    const Database &link() const { return mHost ? *mHost : *this; }

    Status openConnection(const QString &path, bool create);
    Status openServer(const QString &url);
    // A server's tables (lower case) and their columns in stored order.
    Result<QHash<QString, QStringList>> serverColumns() const;
    // On a server: reconnects when the connection was found broken, but never
    // inside a transaction, whose earlier statements are gone with it.
    Status reconnectIfBroken() const;
    // Refused while a COPY streams through the connection.
    Status notCopying() const;
    void noteBrokenConnection(const QSqlError &error) const;

    QString mConnectionName;
    QString mPath;
    QString mLocation; // as given, for reconnecting
    QString mPassword;
    Status subscribe();

    QSqlDatabase mDb; // unused while sharing another's
    const Database *mHost = nullptr;
    QStringList mChannels;
    const QObject *mWatchedDriver = nullptr;
    mutable QSet<QString> mNotified;
    std::function<void()> mNotifiedHook;
    schema::Engine mEngine = schema::Engine::Sqlite;
    bool mNeedsPassword = false;
    int mWriteLock = 1;
    // Kept by the connection's owner.
    mutable bool mBroken = false;
    mutable int mTransactions = 0; // open, nested ones included
    // Prepared statements that failed inside a server transaction: freeing
    // them there would fail too, so they go when the transaction ends.
    mutable std::vector<QSqlQuery> mFailed;
    mutable bool mCopying = false;
    mutable std::optional<QHash<QString, QStringList>> mCatalog; // of serverColumns()
    mutable bool mReconnecting = false;
    bool mOpening = false;
};

// begin() takes the store's write lock (SQLite: BEGIN IMMEDIATE; a server: an
// advisory lock for the transaction); beginRead() gives one snapshot for
// several reads. Rolled back on destruction unless committed. On a connection
// that two stores share, one begun inside the other's is a savepoint of it.
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
    Status start(const QStringList &statements, const QString &what);
    // True (and the savepoint named) when another transaction is open on the connection.
    bool nested();
    void finish();

    const Database &mDb;
    QString mSavepoint; // when nested
    bool mActive = false;
};

// True when a driver's handle is libpq's connection.
bool isServerHandle(const QVariant &handle);

// True when the file starts with the header of a Jet (Access) database.
bool isJetFile(const QString &path);

// The database file and the files the engine keeps beside it (journal, write-ahead
// log, shared memory), whether they exist or not.
QStringList databaseFiles(const QString &path);

} // namespace tarn
