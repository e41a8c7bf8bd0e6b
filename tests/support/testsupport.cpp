// SPDX-License-Identifier: GPL-3.0-or-later
#include "testsupport.h"

#include "core/startup.h"
#include "store/database.h"
#include "store/initfiles.h"
#include "store/serverurl.h"

#include <QCoreApplication>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

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
            qFatal("TARN_TEST_DATABASE: %s holds no server address (is the server running?)",
                   qPrintable(value));
        return url;
    }();
    return server;
}

void ServerDatabase::onServer(const QString &sql)
{
    Database admin;
    if (Status s = admin.open(testServer()); !s || !(s = admin.exec(sql)))
        qFatal("test server: %s", qPrintable(s.message()));
}

ServerDatabase::ServerDatabase(const QString &copyOf)
{
    static int counter = 0;
    mName = QString("tarn_test_%1_%2").arg(QCoreApplication::applicationPid()).arg(++counter);
    onServer("CREATE DATABASE " + mName + (copyOf.isEmpty() ? "" : " TEMPLATE " + copyOf));
    ServerUrl server = *parseServerUrl(testServer());
    server.dbname = mName;
    mUrl = server.shown();
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
    const QString url = QString::fromUtf8(readFile(mState.filePath("url"))).trimmed();
    Peek(url).exec("CREATE DATABASE team");
    const QString team = QString(url).replace("/postgres", "/team");
    return createDataFiles(AppState(team), true) ? team : QString();
}

DataDir::DataDir(bool sample)
    : mServer(onTestServer() ? std::make_unique<ServerDatabase>() : nullptr)
{
    Status s =
        mServer ? createServerTables(mServer->url(), sample) : createDataFile(dataPath(), sample);
    if (s && !mServer)
        s = createRefFile(refPath(), sample);
    if (!s)
        qFatal("could not create test data: %s", qPrintable(s.message()));
}

DataDir::DataDir(const DataDir *copyOf)
    : mServer(copyOf->mServer ? std::make_unique<ServerDatabase>(copyOf->mServer->name()) : nullptr)
{
    if (!mServer &&
        !(QFile::copy(copyOf->dataPath(), dataPath()) && QFile::copy(copyOf->refPath(), refPath())))
        qFatal("cannot copy %s", qPrintable(copyOf->path()));
}

AppState &DataDir::start(const FirstReads &first)
{
    mState = std::make_unique<AppState>(location());
    const StartupResult started = startUp(*mState, first);
    if (!started.status)
        qFatal("start-up failed: %s", qPrintable(started.status.message()));
    return *mState;
}

Peek::Peek(const QString &path)
    : mName(QStringLiteral("peek-%1").arg(quintptr(this))), mServer(isServerUrl(path))
{
    QSqlDatabase db = QSqlDatabase::addDatabase(mServer ? "QPSQL" : "QSQLITE", mName);
    const ServerUrl server = mServer ? *parseServerUrl(path) : ServerUrl{};
    db.setHostName(server.host);
    db.setPort(server.port > 0 ? server.port : -1);
    db.setUserName(server.user);
    db.setDatabaseName(mServer ? server.dbname : path);
    if (!db.open())
        qFatal("cannot open %s: %s", qPrintable(path), qPrintable(db.lastError().text()));
    if (!mServer) // test set-up need not survive a power cut
        QSqlQuery(db).exec("PRAGMA synchronous = OFF");
}

Peek::~Peek()
{
    QSqlDatabase::database(mName, false).close();
    QSqlDatabase::removeDatabase(mName);
}

QList<QVariantMap> Peek::rows(const QString &sql, const QVariantList &values) const
{
    QSqlQuery query(QSqlDatabase::database(mName));
    // A server prepares no CREATE or SET: a statement without values runs as it is.
    bool ran = values.isEmpty() ? query.exec(sql) : query.prepare(sql);
    for (int i = 0; i < values.size(); ++i)
        query.bindValue(i, values.at(i));
    if (ran && !values.isEmpty())
        ran = query.exec();
    if (!ran) // a test's own statement is wrong
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
         rows(mServer ? "SELECT column_name AS name FROM information_schema.columns WHERE "
                        "table_name = ? AND column_name <> 'rowid' ORDER BY ordinal_position"
                      : "SELECT name FROM pragma_table_info(?)",
              {table}))
        names << row.value("name").toString();
    return names;
}

void Peek::trigger(const QString &name, const QString &event, const QString &table,
                   const QString &server, const QString &file) const
{
    if (!mServer)
        return exec(QString("CREATE TRIGGER %1 %2 ON %3 %4").arg(name, event, table, file));
    exec("CREATE FUNCTION " + name + "() RETURNS trigger LANGUAGE plpgsql AS $$BEGIN " + server +
         "; RETURN NEW; END$$");
    exec(QString("CREATE TRIGGER %1 %2 ON %3 FOR EACH ROW EXECUTE FUNCTION %1()")
             .arg(name, event, table));
}

void Peek::refuseInserts(const QString &table, const QString &message,
                         const QString &condition) const
{
    trigger("refuse", "BEFORE INSERT", table,
            QString("IF %1 THEN RAISE EXCEPTION '%2'; END IF").arg(condition, message),
            QString("WHEN %1 BEGIN SELECT RAISE(ABORT, '%2'); END").arg(condition, message));
}

void Peek::countWrites(const QString &table) const
{
    exec("CREATE TABLE writes (n INTEGER)");
    exec("INSERT INTO writes VALUES (0)");
    trigger("counted", "AFTER UPDATE", table, "UPDATE writes SET n = n + 1",
            "BEGIN UPDATE writes SET n = n + 1; END");
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
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
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
