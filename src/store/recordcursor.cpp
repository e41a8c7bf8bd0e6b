#include "store/recordcursor.h"

#include "store/database.h"
#include "store/datastore.h"

#include <QSqlQuery>

namespace tarn
{

// The key is SQLite's rowid: it survives changes to every column.

RecordSource RecordSource::classesOf(const QString &package)
{
    RecordSource s;
    s.mTable = QStringLiteral("classdef");
    s.mMatchColumn = QStringLiteral("package_name");
    s.mMatchValue = package;
    s.mOrderColumn = QStringLiteral("class_num");
    return s;
}

RecordSource RecordSource::referenceRows(schema::RefKind kind)
{
    const schema::RefTable &t = schema::refTable(kind);
    RecordSource s;
    s.mTable = QLatin1String(t.table);
    s.mOrderColumn = QLatin1String(t.idColumn);
    return s;
}

RecordCursor::RecordCursor(const Database &db, RecordSource source)
    : mDb(&db), mSource(std::move(source))
{
}

Status RecordCursor::reload()
{
    mKeys.clear();
    QString sql = QStringLiteral("SELECT rowid FROM %1").arg(mSource.mTable);
    QVariantList values;
    if (!mSource.mMatchColumn.isEmpty()) {
        // Only configurations are matched, and their names without regard to case.
        sql += QStringLiteral(" WHERE ") + DataStore::nameFilter();
        values << mSource.mMatchValue;
    }
    sql += QStringLiteral(" ORDER BY %1, rowid").arg(mSource.mOrderColumn);
    QSqlQuery query;
    if (Status s =
            mDb->exec(query, sql, values,
                      QStringLiteral("Could not read the records of %1.").arg(mSource.mTable));
        !s)
        return s;
    while (query.next())
        mKeys.append(query.value(0).toLongLong());
    return Status::success();
}

Result<std::optional<QVariantList>> RecordCursor::load(Key key, const QStringList &columns) const
{
    QSqlQuery query;
    if (Status s =
            mDb->exec(query,
                      QStringLiteral("SELECT %1 FROM %2 WHERE rowid = ?")
                          .arg(schema::joined(columns), mSource.mTable),
                      {key}, QStringLiteral("Could not read a record of %1.").arg(mSource.mTable));
        !s)
        return s;
    if (!query.next())
        return std::optional<QVariantList>();
    QVariantList row;
    row.reserve(columns.size());
    for (int i = 0; i < columns.size(); ++i)
        row << query.value(i);
    return std::optional<QVariantList>(std::move(row));
}

Result<bool> RecordCursor::store(Key key, const QStringList &columns,
                                 const QVariantList &values) const
{
    if (columns.isEmpty())
        return true;
    QStringList assignments;
    for (const QString &column : columns)
        assignments << column + QStringLiteral(" = ?");
    QSqlQuery query;
    if (Status s = mDb->exec(query,
                             QStringLiteral("UPDATE %1 SET %2 WHERE rowid = ?")
                                 .arg(mSource.mTable, assignments.join(QStringLiteral(", "))),
                             values + QVariantList{key},
                             QStringLiteral("The changes to this record could not be stored."));
        !s)
        return s;
    return query.numRowsAffected() > 0;
}

Result<RecordCursor::Key> RecordCursor::insert(const QStringList &columns,
                                               const QVariantList &values)
{
    QSqlQuery query;
    if (Status s = mDb->exec(
            query,
            QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                .arg(mSource.mTable, schema::joined(columns), schema::placeholders(columns.size())),
            values, QStringLiteral("The new record could not be stored."));
        !s)
        return s;
    const Key key = query.lastInsertId().toLongLong();
    if (Status s = reload(); !s)
        return s;
    return key;
}

Status RecordCursor::remove(Key key)
{
    if (Status s = mDb->exec(QStringLiteral("DELETE FROM %1 WHERE rowid = ?").arg(mSource.mTable),
                             {key}, QStringLiteral("The record could not be deleted."));
        !s)
        return s;
    return reload();
}

} // namespace tarn
