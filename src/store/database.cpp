#include "store/database.h"

#include <QAtomicInteger>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QUrl>

namespace tarn
{

namespace
{

QString nextConnectionName()
{
    static QAtomicInteger<int> counter;
    return QStringLiteral("tarn-%1").arg(counter.fetchAndAddRelaxed(1));
}

constexpr int kSqliteReadOnly = 8; // SQLITE_READONLY, any extended code

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

Status Database::open(const QString &path)
{
    return openConnection(path, false);
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
    mPath = path;
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
    mDb.setConnectOptions(QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=%1")
                              .arg(qEnvironmentVariableIntValue("TARN_BUSY_TIMEOUT_MS") > 0
                                       ? qEnvironmentVariableIntValue("TARN_BUSY_TIMEOUT_MS")
                                       : 3000));
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
    if (mDb.isValid()) {
        mDb.close();
        mDb = QSqlDatabase();
        QSqlDatabase::removeDatabase(mConnectionName);
    }
}

Status Database::failure(const QString &what, const QSqlError &error) const
{
    QString cause = QStringLiteral("%1: %2").arg(mPath, causeOf(error));
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
    query = QSqlQuery(mDb);
    query.setForwardOnly(true);
    if (!query.prepare(sql))
        return failure(what, query);
    for (qsizetype i = 0; i < values.size(); ++i)
        query.bindValue(int(i), values.at(i));
    if (!query.exec())
        return failure(what, query);
    return Status::success();
}

Status Database::exec(const QString &sql, const QVariantList &values, const QString &what) const
{
    QSqlQuery query;
    return exec(query, sql, values, what);
}

Result<QStringList> Database::columns(const QString &table) const
{
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
    for (const schema::TableNeed &need : needs) {
        Result<QStringList> present = columns(need.table);
        if (!present)
            return present.status();
        if (present->isEmpty())
            return QStringLiteral("the table %1 is missing").arg(need.table);
        for (const QString &column : need.columns)
            if (!present->contains(column, Qt::CaseInsensitive))
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

Status Transaction::begin(const QString &what)
{
    if (Status s = mDb.exec(QStringLiteral("BEGIN IMMEDIATE"), {}, what); !s)
        return s;
    mActive = true;
    return Status::success();
}

Status Transaction::beginRead(const QString &what)
{
    if (Status s = mDb.exec(QStringLiteral("BEGIN"), {}, what); !s)
        return s;
    mActive = true;
    return Status::success();
}

Status Transaction::commit(const QString &what)
{
    if (Status s = mDb.exec(QStringLiteral("COMMIT"), {}, what); !s)
        return s; // still active: the destructor rolls back
    mActive = false;
    return Status::success();
}

void Transaction::rollback()
{
    if (mActive) {
        mDb.exec(QStringLiteral("ROLLBACK"));
        mActive = false;
    }
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
