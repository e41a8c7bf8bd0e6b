#include "testsupport.h"

#include "core/startup.h"
#include "store/database.h"
#include "store/initfiles.h"
#include "store/serverurl.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTest>

namespace tarn::test
{

QString testServer()
{
    static const QString server = [] {
        const QString value = qEnvironmentVariable("TARN_TEST_DATABASE");
        if (value.isEmpty() || isServerUrl(value))
            return value;
        const QString url = QString::fromUtf8(readFile(value)).trimmed();
        if (!isServerUrl(url))
            qFatal("TARN_TEST_DATABASE: %s holds no server address (is the test server "
                   "running?)",
                   qPrintable(value));
        return url;
    }();
    return server;
}

namespace
{

// Runs a statement on the test server's own database (CREATE and DROP DATABASE
// cannot run in a transaction, so not through the store).
void onServer(const QString &sql)
{
    Database admin;
    if (Status s = admin.open(testServer()); !s)
        qFatal("test server: %s", qPrintable(s.message()));
    if (Status s = admin.exec(sql); !s)
        qFatal("test server: %s", qPrintable(s.message()));
}

} // namespace

ServerDatabase::ServerDatabase(const QString &copyOf)
{
    static int counter = 0;
    mName =
        QStringLiteral("tarn_test_%1_%2").arg(QCoreApplication::applicationPid()).arg(++counter);
    onServer(QStringLiteral("CREATE DATABASE %1").arg(mName) +
             (copyOf.isEmpty() ? QString() : QStringLiteral(" TEMPLATE ") + copyOf));
    Result<ServerUrl> url = parseServerUrl(testServer());
    ServerUrl server = *url;
    server.dbname = mName;
    mUrl = server.shown();
}

ServerDatabase::~ServerDatabase()
{
    onServer(QStringLiteral("DROP DATABASE %1 WITH (FORCE)").arg(mName));
}

bool OwnServer::run(const char *what)
{
    QProcess script;
    script.start(QStringLiteral(TARN_PGSERVER), {QString::fromLatin1(what), mState.path()});
    return script.waitForFinished(120000) && script.exitCode() == 0;
}

QString OwnServer::startWithSample()
{
    if (!run("start"))
        return {};
    const QString url =
        QString::fromUtf8(readFile(mState.filePath(QStringLiteral("url")))).trimmed();
    Peek(url).exec(QStringLiteral("CREATE DATABASE team"));
    const QString team = QString(url).replace(QStringLiteral("/postgres"), QStringLiteral("/team"));
    return createDataFiles(AppState(team), true) ? team : QString();
}

DataDir::DataDir(bool sample)
{
    if (onTestServer()) {
        mServer = std::make_unique<ServerDatabase>();
        if (Status s = createServerTables(mServer->url(), sample); !s)
            qFatal("could not create test data: %s", qPrintable(s.message()));
        return;
    }
    const Status data = createDataFile(dataPath(), sample);
    const Status ref = createRefFile(refPath(), sample);
    if (!data || !ref)
        qFatal("could not create test data: %s %s", qPrintable(data.message()),
               qPrintable(ref.message()));
}

AppState &DataDir::start()
{
    mState = std::make_unique<AppState>(location());
    const StartupResult started = startUp(*mState);
    if (!started.status)
        qFatal("start-up failed: %s", qPrintable(started.status.message()));
    return *mState;
}

Peek::Peek(const QString &path)
    : mName(QStringLiteral("peek-%1").arg(quintptr(this))), mServer(isServerUrl(path))
{
    if (mServer) {
        const ServerUrl server = *parseServerUrl(path);
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), mName);
        db.setHostName(server.host);
        db.setPort(server.port > 0 ? server.port : -1);
        db.setUserName(server.user);
        db.setDatabaseName(server.dbname);
        if (!db.open())
            qFatal("cannot open %s: %s", qPrintable(path), qPrintable(db.lastError().text()));
        return;
    }
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), mName);
    db.setDatabaseName(path);
    if (!db.open())
        qFatal("cannot open %s", qPrintable(path));
    // Test set-up need not survive a power cut.
    QSqlQuery(db).exec(QStringLiteral("PRAGMA synchronous = OFF"));
}

Peek::~Peek()
{
    QSqlDatabase::database(mName, false).close();
    QSqlDatabase::removeDatabase(mName);
}

QList<QVariantMap> Peek::rows(const QString &sql, const QVariantList &values) const
{
    QSqlQuery query(connection());
    bool ran = false;
    if (values.isEmpty()) {
        ran = query.exec(sql); // a server prepares no CREATE or SET
    } else {
        query.prepare(sql);
        for (int i = 0; i < values.size(); ++i)
            query.bindValue(i, values.at(i));
        ran = query.exec();
    }
    if (!ran)
        qFatal("%s: %s", qPrintable(sql), qPrintable(query.lastError().text()));
    QList<QVariantMap> result;
    // A server's tables hold their key as a column that SQLite keeps hidden:
    // left out unless asked for, so that SELECT * reads the same on both.
    const bool hideKey = mServer && !sql.contains(QLatin1String("rowid"));
    while (query.next()) {
        QVariantMap row;
        const QSqlRecord record = query.record();
        for (int i = 0; i < record.count(); ++i)
            if (!hideKey || record.fieldName(i) != QLatin1String("rowid"))
                row.insert(record.fieldName(i), query.value(i));
        result << row;
    }
    return result;
}

QVariant Peek::scalar(const QString &sql, const QVariantList &values) const
{
    const QList<QVariantMap> result = rows(sql, values);
    return result.isEmpty() || result.first().isEmpty() ? QVariant() : result.first().first();
}

QString Peek::joined(const QString &sql, const QString &separator, const QVariantList &values) const
{
    QStringList parts;
    for (const QVariantMap &row : rows(sql, values))
        if (!row.isEmpty() && !row.first().isNull())
            parts << row.first().toString();
    return parts.join(separator);
}

QStringList Peek::columns(const QString &table) const
{
    QStringList names;
    for (const QVariantMap &row :
         rows(mServer ? QStringLiteral("SELECT column_name AS name FROM information_schema.columns "
                                       "WHERE table_name = ? AND column_name <> 'rowid' "
                                       "ORDER BY ordinal_position")
                      : QStringLiteral("SELECT name FROM pragma_table_info(?)"),
              {table}))
        names << row.value(QStringLiteral("name")).toString();
    return names;
}

void Peek::refuseInserts(const QString &table, const QString &message,
                         const QString &condition) const
{
    if (mServer) {
        exec(QStringLiteral("CREATE FUNCTION refuse() RETURNS trigger LANGUAGE plpgsql AS "
                            "$$BEGIN IF %1 THEN RAISE EXCEPTION '%2'; END IF; RETURN NEW; END$$")
                 .arg(condition, message));
        exec(QStringLiteral("CREATE TRIGGER refuse BEFORE INSERT ON %1 FOR EACH ROW "
                            "EXECUTE FUNCTION refuse()")
                 .arg(table));
        return;
    }
    exec(QStringLiteral("CREATE TRIGGER refuse BEFORE INSERT ON %1 WHEN %2 "
                        "BEGIN SELECT RAISE(ABORT, '%3'); END")
             .arg(table, condition, message));
}

void Peek::countWrites(const QString &table) const
{
    exec("CREATE TABLE writes (n INTEGER)");
    exec("INSERT INTO writes VALUES (0)");
    if (mServer) {
        exec("CREATE FUNCTION counted() RETURNS trigger LANGUAGE plpgsql AS "
             "$$BEGIN UPDATE writes SET n = n + 1; RETURN NEW; END$$");
        exec(QStringLiteral("CREATE TRIGGER counted AFTER UPDATE ON %1 FOR EACH ROW "
                            "EXECUTE FUNCTION counted()")
                 .arg(table));
        return;
    }
    exec(QStringLiteral("CREATE TRIGGER counted AFTER UPDATE ON %1 BEGIN "
                        "UPDATE writes SET n = n + 1; END")
             .arg(table));
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

void writeScript(const QString &path, const QByteArray &body)
{
    writeFile(path, "#!/bin/sh\n" + body + "\n");
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

void copyLegacyFile(const QString &name, const QString &target)
{
    const QString source = QStringLiteral(TARN_LEGACY_DATA "/") + name;
    const QByteArray bytes = readFile(source);
    if (bytes.isEmpty())
        qFatal("cannot read %s", qPrintable(source));
    writeFile(target, bytes);
}

QMap<QString, QByteArray> snapshot(const QString &dir)
{
    QMap<QString, QByteArray> files;
    for (const QString &name : QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System))
        files.insert(name, readFile(QDir(dir).filePath(name)));
    return files;
}

} // namespace tarn::test
