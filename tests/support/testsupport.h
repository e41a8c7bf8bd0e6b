// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/appstate.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QTemporaryDir>
#include <QTest>
#include <QVariantMap>

#include <initializer_list>
#include <memory>

namespace tarn::test
{

// The server the tests run against instead of SQLite files: the address in
// TARN_TEST_DATABASE, or in the file it names (a database to connect to for
// creating and dropping test databases). Empty: the tests use SQLite files.
QString testServer();
inline bool onTestServer()
{
    return !testServer().isEmpty();
}

// A new database on the test server, empty or a copy of another (which
// nobody may be connected to), dropped when this goes.
struct ServerDatabase {
    explicit ServerDatabase(const QString &copyOf = {});
    const QString &name() const { return mName; }
    ~ServerDatabase() { onServer("DROP DATABASE " + mName + " WITH (FORCE)"); }
    Q_DISABLE_COPY(ServerDatabase)
    const QString &url() const { return mUrl; }

private:
    // Runs a statement on the test server's own database (CREATE and DROP
    // DATABASE cannot run in a transaction, so not through the store).
    static void onServer(const QString &sql);
    QString mName, mUrl;
};

// A PostgreSQL server of a test's own, for a test that stops it midway;
// stopped when this goes, whatever the test's outcome.
struct OwnServer {
    ~OwnServer() { run("stop"); }
    // start, halt (the quick way, as a crash would), resume or stop.
    bool run(const char *what);
    // Started, with a database of the sample rows: its address (empty on failure).
    QString startWithSample();

private:
    QTemporaryDir mState;
};

// Where a test's data is: a temporary directory with both databases created
// (with sample rows or empty) or, on the test server, a new database with the
// tables; on request started up into an AppState. The directory is there in
// both cases, for class files and the like.
struct DataDir {
    explicit DataDir(bool sample = true);
    // A copy of another's data: its files, or its database.
    explicit DataDir(const DataDir *copyOf);
    QString path() const { return mDir.path(); }
    // What the programs are given: the directory, or the database's address.
    QString location() const { return mServer ? mServer->url() : path(); }
    QString dataPath() const { return mServer ? mServer->url() : file("tarn_dat.mdb"); }
    QString refPath() const { return mServer ? mServer->url() : file("tarn_ref.mdb"); }
    QString file(const QString &name) const { return mDir.filePath(name); }
    // The database on the test server; null for files.
    const ServerDatabase *server() const { return mServer.get(); }

    // A fresh AppState on this directory, started up; fails the test on error.
    AppState &start(const FirstReads &first = {});
    AppState &state() { return *mState; }

private:
    QTemporaryDir mDir;
    std::unique_ptr<ServerDatabase> mServer;
    std::unique_ptr<AppState> mState;
};

// A second connection to a database file (or a server's database), to check
// what the program stored.
struct Peek {
    explicit Peek(const QString &path);
    bool onServer() const { return mServer; }
    ~Peek();
    Q_DISABLE_COPY(Peek)

    QList<QVariantMap> rows(const QString &sql, const QVariantList &values = {}) const;
    QVariant scalar(const QString &sql, const QVariantList &values = {}) const;
    // Runs a statement; fails the test when it fails.
    void exec(const QString &sql, const QVariantList &values = {}) const { rows(sql, values); }
    QStringList columns(const QString &table) const;
    // The one column of every row in order, NULLs left out, joined by separator
    // (what SQLite's group_concat gives, which a server lacks).
    QString joined(const QString &sql, const QString &separator = QStringLiteral(","),
                   const QVariantList &values = {}) const;
    // Makes the database refuse new rows of a table with message, when the
    // condition (on NEW, in SQL both engines read) holds.
    void refuseInserts(const QString &table, const QString &message,
                       const QString &condition = QStringLiteral("1 = 1")) const;
    // Counts the rows of a table updated from now on, as writes() tells.
    void countWrites(const QString &table) const;
    int writes() const { return scalar("SELECT n FROM writes").toInt(); }
    qint64 count(const QString &table) const
    {
        return scalar("SELECT count(*) FROM " + table).toLongLong();
    }

private:
    // A trigger on a table, its body in each engine's words.
    void trigger(const QString &name, const QString &event, const QString &table,
                 const QString &server, const QString &file) const;
    QString mName;
    bool mServer = false;
};

// The child of that name. When there is none the test fails and gets a
// stand-in, so that it runs on to its end instead of crashing and taking the
// other tests down; the stand-in is never freed, as the test has failed.
template<typename T> T *child(const QObject *parent, const char *name)
{
    if (T *found = parent->findChild<T *>(QLatin1String(name)))
        return found;
    QTest::qFail(qPrintable(QStringLiteral("no control %1").arg(QLatin1String(name))), __FILE__,
                 __LINE__);
    return new T;
}

// A data table whose one column, "row", holds a whole row: a struct whose first
// member is the row's name, so that each row is one line of the table.
template<typename Row> void addRows(std::initializer_list<Row> rows)
{
    QTest::addColumn<Row>("row");
    for (const Row &row : rows)
        QTest::newRow(row.name) << row;
}

// What tarn-cli is given to work on a location: a folder or a server's database.
inline QStringList cliLocation(const QString &location)
{
    return {location.startsWith("postgresql://") ? "--database" : "--data-dir", location};
}

// Writes bytes to a file, replacing it.
void writeFile(const QString &path, const QByteArray &bytes);
// A shell script of that body, to stand in for a program.
void writeScript(const QString &path, const QByteArray &body);
QByteArray readFile(const QString &path);

// Copies a file of the shared Jet test data (the originals are never touched).
void copyLegacyFile(const QString &name, const QString &target);
// Every file of a directory with its bytes, to show that nothing changed.
QMap<QString, QByteArray> snapshot(const QString &dir);

} // namespace tarn::test
