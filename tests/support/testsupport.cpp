#include "testsupport.h"

#include "core/startup.h"
#include "store/initfiles.h"

#include <QDir>
#include <QFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTest>

namespace tarn::test
{

DataDir::DataDir(bool sample)
{
    const Status data = createDataFile(dataPath(), sample);
    const Status ref = createRefFile(refPath(), sample);
    if (!data || !ref)
        qFatal("could not create test data: %s %s", qPrintable(data.message()),
               qPrintable(ref.message()));
}

AppState &DataDir::start()
{
    mState = std::make_unique<AppState>(mDir.path());
    const StartupResult started = startUp(*mState);
    if (!started.status)
        qFatal("start-up failed: %s", qPrintable(started.status.message()));
    return *mState;
}

Peek::Peek(const QString &path) : mName(QStringLiteral("peek-%1").arg(quintptr(this)))
{
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
    query.prepare(sql);
    for (int i = 0; i < values.size(); ++i)
        query.bindValue(i, values.at(i));
    if (!query.exec())
        qFatal("%s: %s", qPrintable(sql), qPrintable(query.lastError().text()));
    QList<QVariantMap> result;
    while (query.next()) {
        QVariantMap row;
        const QSqlRecord record = query.record();
        for (int i = 0; i < record.count(); ++i)
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

QStringList Peek::columns(const QString &table) const
{
    QStringList names;
    for (const QVariantMap &row :
         rows(QStringLiteral("SELECT name FROM pragma_table_info(?)"), {table}))
        names << row.value(QStringLiteral("name")).toString();
    return names;
}

void Peek::countWrites(const QString &table) const
{
    exec("CREATE TABLE writes (n INTEGER)");
    exec("INSERT INTO writes VALUES (0)");
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
