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

// Whether a stored value of the column can be compared with value by the
// engine itself: a value of another kind is left to the check that reads the row.
bool comparable(const QString &table, const QString &column, const QVariant &value)
{
    if (value.isNull())
        return true;
    switch (value.typeId()) {
    case QMetaType::LongLong:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Short:
    case QMetaType::Bool:
        return historylog::columnKind(table, column) != schema::Kind::Text;
    case QMetaType::Double:
        return historylog::columnKind(table, column) == schema::Kind::Number;
    case QMetaType::QString:
        return historylog::columnKind(table, column) == schema::Kind::Text;
    default:
        return false;
    }
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
    if (mDb->engine().writesAhead()) {
        // One exchange, which also tells what changed meanwhile; the row is
        // read and compared below only when it cannot.
        Result<std::optional<WriteOutcome>> stored = storeAhead(key, edits, shown, what);
        if (!stored)
            return stored.status();
        if (*stored)
            return std::move(**stored);
    }
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

Result<std::optional<WriteOutcome>> RecordCursor::storeAhead(Key key, const RowValues &edits,
                                                             const RowValues &shown,
                                                             const QString &what)
{
    const QString &table = mSource.mTable;
    for (qsizetype i = 0; i < shown.columns.size(); ++i)
        if (!comparable(table, shown.columns.at(i), shown.values.at(i)))
            return std::optional<WriteOutcome>();
    const QStringList names = identity(mSource);
    const bool keeps = historylog::kept(*mDb) && !names.isEmpty();
    QVariantList values;
    QStringList assignments;
    for (const QString &column : edits.columns)
        assignments << column + QStringLiteral(" = ?");
    values << edits.values << key;
    QString where = QStringLiteral("%1.rowid = ?%2").arg(table, owned());
    where.reserve(where.size() + shown.columns.size() * (table.size() + 40));
    for (qsizetype i = 0; i < shown.columns.size(); ++i) {
        where += QStringLiteral(" AND ") + table + QLatin1Char('.') + shown.columns.at(i) +
                 QStringLiteral(" IS NOT DISTINCT FROM ?");
        values << shown.values.at(i);
    }
    // Each record: the column, its value before (as the row was shown, which
    // the UPDATE finds stored, else as stored) and after.
    QStringList rows, before;
    QVariantList records;
    if (keeps) {
        Engine &engine = mDb->engine();
        for (qsizetype i = 0; i < edits.columns.size(); ++i) {
            const QString &column = edits.columns.at(i);
            const QVariant &after = edits.values.at(i);
            if (const qsizetype at = shown.columns.indexOf(column); at >= 0) {
                const QVariant &was = shown.values.at(at);
                if (sameValue(was, after) && was.typeId() == after.typeId())
                    continue;
                rows << QStringLiteral("('%1', CAST(? AS TEXT), CAST(? AS TEXT))").arg(column);
                records << historylog::tagged(was) << historylog::tagged(after);
            } else {
                before << QStringLiteral("%1 AS o%2")
                              .arg(
                                  engine.taggedValue(column, historylog::columnKind(table, column)))
                              .arg(i);
                rows << QStringLiteral("('%1', u.o%2, CAST(? AS TEXT))").arg(column).arg(i);
                records << historylog::tagged(after);
            }
        }
    }
    // Whether it hit, else the row as stored (none when it is gone), for the
    // user to see what changed: in the same exchange.
    QStringList nulls;
    for (qsizetype i = 0; i < shown.columns.size(); ++i)
        nulls << QStringLiteral(", NULL");
    const QString outcome =
        QStringLiteral(
            " SELECT 1%1 FROM updated UNION ALL SELECT 0%2 FROM %3 WHERE rowid = ?%4 AND "
            "NOT EXISTS (SELECT 1 FROM updated)")
            .arg(nulls.join(QString()),
                 shown.columns.isEmpty() ? QString()
                                         : QStringLiteral(", ") + schema::joined(shown.columns),
                 table, owned());
    QString sql;
    if (rows.isEmpty()) {
        sql = QStringLiteral("WITH updated AS (UPDATE %1 SET %2 WHERE %3 RETURNING %1.rowid)")
                  .arg(table, assignments.join(QStringLiteral(", ")), where) +
              outcome;
    } else {
        // The UPDATE and its records in one statement: both or neither. Its
        // RETURNING names the row as the change leaves it.
        QStringList returning;
        for (const QString &column : names)
            returning << table + QLatin1Char('.') + column;
        QString from;
        QVariantList first;
        if (!before.isEmpty()) {
            // Values before that were not shown: read in the same statement.
            from = QStringLiteral("stored AS (SELECT rowid, %1 FROM %2 WHERE rowid = ?), ")
                       .arg(before.join(QStringLiteral(", ")), table);
            first << key;
            where += QStringLiteral(" AND stored.rowid = %1.rowid").arg(table);
            returning << QStringLiteral("stored.*");
        }
        QVariantList fixedValues;
        QStringList picks;
        const QStringList fixed = historylog::recordColumns(*mDb, fixedValues);
        for (qsizetype i = 0; i < fixed.size(); ++i)
            picks << QStringLiteral("CAST(? AS TEXT)");
        const bool classes = isClasses(mSource);
        picks << QString::number(int(Change::Field))
              << (classes ? QStringLiteral("u.package_name") : QStringLiteral("NULL"))
              << QStringLiteral("'%1'").arg(table)
              << QStringLiteral("COALESCE(u.%1, 0)").arg(names.at(classes ? 1 : 0))
              << QStringLiteral("u.") + names.at(classes ? 2 : 1) << QStringLiteral("v.*");
        sql = QStringLiteral("WITH %2updated AS (UPDATE %1 SET %3%4 WHERE %5 RETURNING %6), "
                             "recorded AS (INSERT INTO %7 (%8, kind, package_name, table_name, "
                             "row_key, row_name, field, old_value, new_value) SELECT %9 FROM "
                             "updated u CROSS JOIN LATERAL (VALUES ")
                  .arg(table, from, assignments.join(QStringLiteral(", ")),
                       before.isEmpty() ? QString() : QStringLiteral(" FROM stored"), where,
                       returning.join(QStringLiteral(", ")), QLatin1String(schema::kHistoryTable),
                       schema::joined(fixed), picks.join(QStringLiteral(", "))) +
              rows.join(QStringLiteral(", ")) +
              QStringLiteral(") AS v (field, old_value, new_value) "
                             "WHERE v.old_value IS DISTINCT FROM v.new_value)") +
              outcome;
        values = first + values + fixedValues + records;
    }
    values << key;
    Transaction transaction(*mDb);
    if (Status s = transaction.begin(what); !s)
        return s;
    if (!mDb->engine().writeAhead(sql, values))
        return std::optional<WriteOutcome>();
    if (Status s = transaction.commit(what); !s)
        return s;
    // The rows came with the COMMIT.
    Result<std::unique_ptr<ResultRows>> found = mDb->engine().written();
    if (!found)
        return mDb->failure(what, found.status());
    ResultRows &answer = **found;
    if (!answer.next())
        return std::optional<WriteOutcome>(compare(shown, std::nullopt));
    if (answer.value(0).toInt() == 1)
        return std::optional<WriteOutcome>(WriteOutcome());
    RowValues now;
    now.columns = shown.columns;
    for (qsizetype i = 0; i < shown.columns.size(); ++i)
        now.values << answer.value(int(i) + 1);
    WriteOutcome changed = compare(shown, now);
    // Equal as the window compares, not as the server did: read and compared again.
    if (changed.kind == WriteOutcome::Done)
        return std::optional<WriteOutcome>();
    return std::optional<WriteOutcome>(std::move(changed));
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
