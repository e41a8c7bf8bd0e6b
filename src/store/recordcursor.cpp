// SPDX-License-Identifier: GPL-3.0-or-later
#include "store/recordcursor.h"

#include "store/database.h"
#include "store/datastore.h"
#include "store/historylog.h"

namespace tarn
{

// The key is the rowid (SQLite's own, or the column of that name a server's
// tables have): it survives changes to every column.

QVariant RowValues::value(const QString &column) const
{
    const qsizetype at = columns.indexOf(column);
    return at < 0 ? QVariant() : values.at(at);
}

void RowValues::set(const QString &column, const QVariant &value)
{
    const qsizetype at = columns.indexOf(column);
    if (at < 0) {
        columns << column;
        values << value;
    } else {
        values[at] = value;
    }
}

bool sameValue(const QVariant &a, const QVariant &b)
{
    if (a.isNull() || b.isNull())
        return a.isNull() == b.isNull();
    bool okA = false, okB = false;
    const double da = a.toDouble(&okA), db = b.toDouble(&okB);
    if (okA && okB && a.typeId() != QMetaType::QString && b.typeId() != QMetaType::QString)
        return da == db;
    return a.toString() == b.toString();
}

RecordSource RecordSource::classesOf(const QString &package)
{
    RecordSource s;
    s.mTable = QStringLiteral("classdef");
    s.mMatchColumn = QStringLiteral("package_name");
    s.mMatchValue = package;
    s.mOrderColumn = QStringLiteral("class_num");
    s.mOwnerTable = QStringLiteral("package");
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

namespace
{

bool isClasses(const RecordSource &source)
{
    return source.table() == QLatin1String("classdef");
}

// The columns that name a row in its records: a class's configuration, number
// and name, or a reference row's id and name.
QStringList identity(const RecordSource &source)
{
    if (isClasses(source))
        return {QStringLiteral("package_name"), QStringLiteral("class_num"),
                QStringLiteral("class_name")};
    for (const schema::RefKind kind : schema::refKinds()) {
        const schema::RefTable &t = schema::refTable(kind);
        if (source.table() == QLatin1String(t.table))
            return {QLatin1String(t.idColumn), QLatin1String(t.nameColumn)};
    }
    return {};
}

// A record of the row, named by its identity columns as row holds them.
Change changeOf(const RecordSource &source, const RowValues &row, Change::Kind kind)
{
    Change change;
    change.kind = kind;
    change.table = source.table();
    const QStringList names = identity(source);
    if (isClasses(source)) {
        change.package = row.value(names.at(0)).toString();
        change.rowKey = row.value(names.at(1)).toLongLong();
        change.rowName = row.value(names.at(2)).toString();
    } else if (!names.isEmpty()) {
        change.rowKey = row.value(names.at(0)).toLongLong();
        change.rowName = row.value(names.at(1)).toString();
    }
    return change;
}

} // namespace

RecordCursor::RecordCursor(Database &db, RecordSource source) : mDb(&db), mSource(std::move(source))
{
}

Status RecordCursor::select(Query &query, const QStringList &columns)
{
    QString sql =
        QStringLiteral("SELECT %1 FROM %2")
            .arg(schema::joined(QStringList{QStringLiteral("rowid")} + columns), mSource.mTable);
    QVariantList values;
    if (!mSource.mMatchColumn.isEmpty()) {
        // Only configurations are matched, and their names without regard to
        // case; the classes a Delete left for the history belong to none.
        sql += QStringLiteral(" WHERE %1 AND EXISTS (SELECT 1 FROM %2 WHERE %1)")
                   .arg(mDb->nameFilter(), mSource.mOwnerTable);
        values << mSource.mMatchValue << mSource.mMatchValue;
    }
    sql += QStringLiteral(" ORDER BY %1, rowid").arg(mDb->nullsFirst(mSource.mOrderColumn));
    return mDb->exec(query, sql, values,
                     QStringLiteral("Could not read the records of %1.").arg(mSource.mTable));
}

Status RecordCursor::reload()
{
    mKeys.clear();
    Query query;
    if (Status s = select(query, {}); !s)
        return s;
    while (query.next())
        mKeys.append(query.value(0).toLongLong());
    return Status::success();
}

Status RecordCursor::loadAll(const QStringList &columns,
                             const std::function<void(Key, const QVariantList &)> &onRow)
{
    mKeys.clear();
    Query query;
    if (Status s = select(query, columns); !s)
        return s;
    QVariantList row;
    row.resize(columns.size());
    while (query.next()) {
        const Key key = query.value(0).toLongLong();
        mKeys.append(key);
        for (int i = 0; i < columns.size(); ++i)
            row[i] = query.value(i + 1);
        onRow(key, row);
    }
    return Status::success();
}

QString RecordCursor::owned() const
{
    // A row whose owner is gone is gone: a Delete's classes stay for the history.
    if (mSource.mOwnerTable.isEmpty())
        return {};
    return QStringLiteral(" AND EXISTS (SELECT 1 FROM %1 WHERE %2)")
        .arg(mSource.mOwnerTable,
             mDb->nameFilter(mSource.mTable + QStringLiteral(".") + mSource.mMatchColumn));
}

Result<std::optional<QVariantList>> RecordCursor::load(Key key, const QStringList &columns)
{
    Query query;
    if (Status s =
            mDb->exec(query,
                      QStringLiteral("SELECT %1 FROM %2 WHERE rowid = ?%3")
                          .arg(schema::joined(columns), mSource.mTable, owned()),
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

Result<std::optional<RowValues>> RecordCursor::lockRow(Key key, const QStringList &columns)
{
    Query query;
    if (Status s =
            mDb->exec(query,
                      QStringLiteral("SELECT %1 FROM %2 WHERE rowid = ?%3")
                          .arg(columns.isEmpty() ? QStringLiteral("*") : schema::joined(columns),
                               mSource.mTable, owned()),
                      {key}, QStringLiteral("Could not read a record of %1.").arg(mSource.mTable));
        !s)
        return s;
    if (!query.next())
        return std::optional<RowValues>();
    RowValues row;
    for (int i = 0; i < query.columnCount(); ++i) {
        // A server's key column is no part of the row, as SQLite's rowid is not.
        const QString name = query.columnName(i);
        if (columns.isEmpty() && name == QLatin1String("rowid"))
            continue;
        row.columns << (columns.isEmpty() ? name : columns.at(i));
        row.values << query.value(i);
    }
    return std::optional<RowValues>(std::move(row));
}

WriteOutcome RecordCursor::compare(const RowValues &shown, const std::optional<RowValues> &now)
{
    WriteOutcome outcome;
    if (!now) {
        outcome.kind = WriteOutcome::Gone;
        return outcome;
    }
    for (qsizetype i = 0; i < shown.columns.size(); ++i) {
        const QVariant stored = now->value(shown.columns.at(i));
        if (!sameValue(shown.values.at(i), stored))
            outcome.changes.append({shown.columns.at(i), shown.values.at(i), stored});
    }
    if (!outcome.changes.isEmpty()) {
        outcome.kind = WriteOutcome::Changed;
        outcome.row.columns = shown.columns;
        for (const QString &column : shown.columns)
            outcome.row.values << now->value(column);
    }
    return outcome;
}

Result<WriteOutcome> RecordCursor::store(Key key, const RowValues &edits, const RowValues &shown)
{
    const QString what = QStringLiteral("The changes to this record could not be stored.");
    if (edits.columns.isEmpty())
        return WriteOutcome();
    Transaction transaction(*mDb);
    if (Status s = transaction.begin(what); !s)
        return s;
    const bool keeps = historylog::kept(*mDb);
    const Result<std::optional<RowValues>> now =
        lockRow(key, shown.columns + edits.columns + (keeps ? identity(mSource) : QStringList()));
    if (!now)
        return now.status();
    WriteOutcome outcome = compare(shown, *now);
    if (outcome.kind != WriteOutcome::Done)
        return outcome;
    QList<Change> changes;
    if (keeps) {
        for (qsizetype i = 0; i < edits.columns.size(); ++i) {
            const QVariant before = (*now)->value(edits.columns.at(i));
            if (sameValue(before, edits.values.at(i)) &&
                before.typeId() == edits.values.at(i).typeId())
                continue;
            // The row as the change leaves it names the class.
            RowValues after = **now;
            for (qsizetype j = 0; j < edits.columns.size(); ++j)
                after.set(edits.columns.at(j), edits.values.at(j));
            Change change = changeOf(mSource, after, Change::Field);
            change.column = edits.columns.at(i);
            change.before = before;
            change.after = edits.values.at(i);
            changes << change;
        }
    }
    QStringList assignments;
    for (const QString &column : edits.columns)
        assignments << column + QStringLiteral(" = ?");
    // The row is locked and checked: the UPDATE, with its records, goes with
    // the COMMIT.
    if (Status s = historylog::recordWith(
            *mDb, changes,
            {QStringLiteral("UPDATE %1 SET %2 WHERE rowid = ?")
                 .arg(mSource.mTable, assignments.join(QStringLiteral(", "))),
             edits.values + QVariantList{key}},
            what);
        !s)
        return s;
    if (Status s = transaction.commit(what); !s)
        return s;
    return outcome;
}

Result<RecordCursor::Key> RecordCursor::insert(const QStringList &columns,
                                               const QVariantList &values)
{
    const QString what = QStringLiteral("The new record could not be stored.");
    Transaction transaction(*mDb);
    if (Status s = transaction.begin(what); !s)
        return s;
    if (!mSource.mOwnerTable.isEmpty()) {
        // A class whose configuration was deleted meanwhile would be left
        // without one.
        Query owner;
        if (Status s = mDb->exec(owner,
                                 QStringLiteral("SELECT 1 FROM %1 WHERE %2")
                                     .arg(mSource.mOwnerTable, mDb->nameFilter()),
                                 {mSource.mMatchValue}, what);
            !s)
            return s;
        if (!owner.next())
            return Status::failure(
                Fault::NotFound,
                what + QLatin1Char('\n') +
                    QStringLiteral("The configuration %1 no longer exists: another user or program "
                                   "deleted it.")
                        .arg(mSource.mMatchValue.toString()));
    }
    const Result<Key> key = mDb->insert(
        QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
            .arg(mSource.mTable, schema::joined(columns), schema::placeholders(columns.size())),
        values, what);
    if (!key)
        return key;
    if (historylog::kept(*mDb)) {
        if (isClasses(mSource)) {
            // The row as stored, defaults and all.
            const qint64 keep = historylog::newKeep();
            if (Status s =
                    historylog::keepClasses(*mDb, keep, QStringLiteral("rowid = ?"), {*key}, what);
                !s)
                return s;
            if (Status s = historylog::recordRow(*mDb, Change::AddClass, *key, {}, {}, keep, what);
                !s)
                return s;
        } else {
            RowValues row{columns, values};
            Change change = changeOf(mSource, row, Change::AddRow);
            change.row = row;
            if (Status s = historylog::record(*mDb, {change}, what); !s)
                return s;
        }
    }
    if (Status s = transaction.commit(what); !s)
        return s;
    if (Status s = reload(); !s)
        return s;
    return *key;
}

Result<WriteOutcome> RecordCursor::remove(Key key, const RowValues &shown)
{
    const QString what = QStringLiteral("The record could not be deleted.");
    Transaction transaction(*mDb);
    if (Status s = transaction.begin(what); !s)
        return s;
    const Result<std::optional<RowValues>> now = lockRow(key, {});
    if (!now)
        return now.status();
    WriteOutcome outcome = compare(shown, *now);
    if (outcome.kind != WriteOutcome::Done)
        return outcome;
    outcome.row = **now;
    if (historylog::kept(*mDb)) {
        if (isClasses(mSource)) {
            const qint64 keep = historylog::newKeep();
            if (Status s =
                    historylog::keepClasses(*mDb, keep, QStringLiteral("rowid = ?"), {key}, what);
                !s)
                return s;
            if (Status s =
                    historylog::recordRow(*mDb, Change::DeleteClass, key, {}, {}, keep, what);
                !s)
                return s;
        } else {
            Change change = changeOf(mSource, outcome.row, Change::DeleteRow);
            change.row = outcome.row;
            if (Status s = historylog::record(*mDb, {change}, what); !s)
                return s;
        }
    }
    if (Status s = mDb->exec(QStringLiteral("DELETE FROM %1 WHERE rowid = ?").arg(mSource.mTable),
                             {key}, what);
        !s)
        return s;
    if (Status s = transaction.commit(what); !s)
        return s;
    if (Status s = reload(); !s)
        return s;
    return outcome;
}

} // namespace tarn
