// SPDX-License-Identifier: GPL-3.0-or-later
// DataStore's history: reading it, taking changes back, pruning.
#include "store/datastore.h"
#include "store/historylog.h"
#include "store/schema.h"
#include "store/textrules.h"

namespace tarn
{

namespace
{

constexpr int kPage = 500;

QString utcText(const QDateTime &at)
{
    return at.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzzZ"));
}

QString history()
{
    return QLatin1String(schema::kHistoryTable);
}

QString keptTable()
{
    return QLatin1String(schema::kKeptTable);
}

} // namespace

Result<bool> historylog::addHistory(Database &db, bool classes, const QString &what)
{
    Result<bool> keeps = db.keepsHistory();
    if (!keeps || *keeps)
        return keeps ? Result<bool>(false) : keeps;
    Transaction tx(db);
    if (Status s = tx.begin(what); !s)
        return s;
    // Another program may have added them meanwhile.
    db.forgetHistory();
    keeps = db.keepsHistory();
    if (!keeps)
        return keeps;
    if (*keeps)
        return false;
    if (Status s = db.execAll(schema::createHistorySql(db.engine(), classes), what); !s)
        return s;
    if (Status s = tx.commit(what); !s)
        return s;
    db.forgetHistory();
    return true;
}

Status DataStore::settleKept(const QString &name, const QString &what)
{
    if (!historylog::kept(mDb))
        return Status::success();
    const QStringList columns = schema::classdefColumnNames();
    QStringList picked;
    for (const QString &column : columns)
        picked << QStringLiteral("classdef.") + column;
    return mDb.execLater(
        QStringLiteral("INSERT INTO %1 (kept, %2) SELECT d.kept, %3 FROM classdef, (SELECT kept "
                       "FROM %4 WHERE kind = %5 AND %6 ORDER BY id DESC LIMIT 1) d WHERE %6 "
                       "ORDER BY classdef.rowid")
            .arg(keptTable(), schema::joined(columns), picked.join(QStringLiteral(", ")), history())
            .arg(int(Change::DeletePackage))
            .arg(mDb.nameFilter()),
        {name, name}, what);
}

Result<bool> DataStore::ensureHistory()
{
    return historylog::addHistory(mDb, true, QStringLiteral("Could not add the history tables."));
}

Result<bool> DataStore::keepsHistory()
{
    return mDb.keepsHistory();
}

Status DataStore::readHistory(const HistoryFilter &filter,
                              const std::function<Status(const Change &)> &onChange)
{
    return historylog::read(mDb, filter, onChange, true);
}

Status historylog::read(Database &mDb, const HistoryFilter &filter,
                        const std::function<Status(const Change &)> &onChange, bool classes)
{
    const QString what = QStringLiteral("Could not read the history.");
    Result<bool> keeps = mDb.keepsHistory();
    if (!keeps || !*keeps)
        return keeps.status();
    QStringList where;
    QVariantList values;
    if (!filter.package.isEmpty()) {
        where << mDb.nameFilter();
        values << filter.package;
    }
    if (filter.classNum) {
        where << QStringLiteral("table_name = 'classdef' AND row_key = ?");
        values << qlonglong(*filter.classNum);
    }
    if (!filter.column.isEmpty()) {
        where << QStringLiteral("field = ?");
        values << filter.column;
    }
    if (!filter.who.isEmpty()) {
        where << QStringLiteral("who = ?");
        values << filter.who;
    }
    if (filter.sinceId > 0) {
        where << QStringLiteral("id >= ?");
        values << filter.sinceId;
    }
    if (filter.since) {
        where << QStringLiteral("changed_at >= ?");
        values << utcText(*filter.since);
    }
    const QStringList classColumns = schema::classdefColumnNames();
    QStringList picked;
    for (const QString &column : classColumns)
        picked << QStringLiteral("c.") + column;
    // A page at a time, each a short read: the first shows at once however
    // long the history is.
    qint64 olderThan = filter.olderThan;
    int left = filter.limit;
    for (;;) {
        const int page = left > 0 ? std::min(left, kPage) : kPage;
        QStringList conditions = where;
        QVariantList bound = values;
        if (olderThan > 0) {
            conditions << QStringLiteral("id < ?");
            bound << olderThan;
        }
        const QString sql =
            QStringLiteral(
                "SELECT h.id, h.kind, h.changed_at, h.who, h.program, h.package_name, "
                "h.table_name, h.row_key, h.row_name, h.field, h.old_value, h.new_value, "
                "h.row_values, h.detail, %1 FROM (SELECT * FROM %2 %3 ORDER BY id DESC LIMIT %4) h "
                "LEFT JOIN %5 c ON c.kept = h.kept AND h.kind IN (%6, %7) ORDER BY h.id DESC")
                .arg(classes ? picked.join(QStringLiteral(", ")) : QStringLiteral("NULL"),
                     history(),
                     conditions.isEmpty()
                         ? QString()
                         : QStringLiteral("WHERE ") + conditions.join(QStringLiteral(" AND ")))
                .arg(page)
                .arg(classes ? keptTable() : QStringLiteral("(SELECT NULL AS kept) "))
                .arg(int(Change::AddClass))
                .arg(int(Change::DeleteClass));
        Query query;
        if (Status s = mDb.exec(query, sql, bound, what); !s)
            return s;
        int rows = 0;
        while (query.next()) {
            ++rows;
            Change c;
            c.id = query.value(0).toLongLong();
            c.kind = Change::Kind(query.value(1).toInt());
            c.at = QDateTime::fromString(query.value(2).toString(), Qt::ISODateWithMs);
            c.who = query.value(3).toString();
            c.program = query.value(4).toString();
            c.package = query.value(5).toString();
            c.table = query.value(6).toString();
            c.rowKey = query.value(7).toLongLong();
            c.rowName = query.value(8).toString();
            c.column = query.value(9).toString();
            c.before = historylog::untagged(query.value(10));
            c.after = historylog::untagged(query.value(11));
            if (!query.value(12).isNull())
                c.row = historylog::rowFromText(query.value(12).toString());
            c.detail = query.value(13).toString();
            if (classes && (c.kind == Change::AddClass || c.kind == Change::DeleteClass)) {
                c.row.columns = classColumns;
                for (int i = 0; i < classColumns.size(); ++i)
                    c.row.values << query.value(14 + i);
            }
            olderThan = c.id;
            if (Status s = onChange(c); !s)
                return s;
        }
        if (Status s = query.error(); !s)
            return mDb.failure(what, s);
        if (left > 0 && (left -= rows) <= 0)
            return Status::success();
        if (rows < page)
            return Status::success();
    }
}

Result<std::optional<RowValues>> DataStore::classBefore(const QString &package, qint64 classNum,
                                                        qint64 changeId)
{
    const QString what = QStringLiteral("Could not read the class as it was.");
    const QStringList columns = schema::classdefColumnNames();
    Transaction snapshot(mDb);
    if (Status s = snapshot.beginRead(what); !s)
        return s;
    auto readRow = [&](const QString &from, const QString &where,
                       const QVariantList &values) -> Result<std::optional<RowValues>> {
        Query query;
        if (Status s = mDb.exec(query,
                                QStringLiteral("SELECT %1 FROM %2 WHERE %3 AND class_num = ? "
                                               "ORDER BY rowid LIMIT 1")
                                    .arg(schema::joined(columns), from, where),
                                values + QVariantList{classNum}, what);
            !s)
            return s;
        if (!query.next())
            return std::optional<RowValues>();
        RowValues row;
        row.columns = columns;
        for (int i = 0; i < columns.size(); ++i)
            row.values << query.value(i);
        return std::optional<RowValues>(row);
    };
    Result<std::optional<RowValues>> row =
        readRow(QStringLiteral("classdef"), mDb.nameFilter(), {package});
    if (!row)
        return row;
    std::optional<RowValues> state = *row;
    // Where no configuration has the name now, its last Delete's mark.
    qint64 lastDelete = 0;
    if (const Result<bool> exists = packageExists(package); !exists) {
        return exists.status();
    } else if (!*exists) {
        Query last;
        if (Status s = mDb.exec(last,
                                QStringLiteral("SELECT kept FROM %1 WHERE kind = ? AND %2 ORDER BY "
                                               "id DESC LIMIT 1")
                                    .arg(history(), mDb.nameFilter()),
                                {int(Change::DeletePackage), package}, what);
            !s)
            return s;
        lastDelete = last.next() ? last.value(0).toLongLong() : 0;
    }
    Query query;
    if (Status s = mDb.exec(
            query,
            QStringLiteral("SELECT kind, table_name, row_key, field, old_value, kept FROM %1 "
                           "WHERE %2 AND id >= ? ORDER BY id DESC")
                .arg(history(), mDb.nameFilter()),
            {package, changeId}, what);
        !s)
        return s;
    struct Step {
        int kind;
        bool mine;
        QString field;
        QVariant before;
        qint64 keep;
    };
    QList<Step> steps;
    while (query.next()) {
        const bool mine = query.value(1).toString() == QLatin1String("classdef") &&
                          query.value(2).toLongLong() == classNum;
        steps.append({query.value(0).toInt(), mine, query.value(3).toString(),
                      historylog::untagged(query.value(4)), query.value(5).toLongLong()});
    }
    if (Status s = query.error(); !s)
        return mDb.failure(what, s);
    for (const Step &step : steps) {
        switch (Change::Kind(step.kind)) {
        case Change::Field:
            if (step.mine && state)
                state->set(step.field, step.before);
            break;
        case Change::AddClass:
            if (step.mine)
                state.reset();
            break;
        case Change::DeleteClass:
        case Change::DeletePackage:
        case Change::RestorePackage:
            if (step.kind != Change::DeleteClass || step.mine) {
                if (!step.keep) {
                    state.reset();
                    break;
                }
                row = readRow(keptTable(), QStringLiteral("kept = ?"), {step.keep});
                if (!row)
                    return row;
                // The last Delete's classes stay in classdef until the name is taken again.
                if (!*row && step.kind == Change::DeletePackage && step.keep == lastDelete)
                    row = readRow(QStringLiteral("classdef"), mDb.nameFilter(), {package});
                if (!row)
                    return row;
                state = *row;
            }
            break;
        case Change::NewPackage:
        case Change::CopyPackage:
        case Change::ImportPackage:
            state.reset();
            break;
        default:
            break;
        }
    }
    return state;
}

Result<QList<DeletedPackage>> DataStore::deletedPackages()
{
    const QString what = QStringLiteral("Could not read the deleted configurations.");
    QList<DeletedPackage> deleted;
    Result<bool> keeps = mDb.keepsHistory();
    if (!keeps || !*keeps)
        return keeps ? Result<QList<DeletedPackage>>(deleted) : keeps.status();
    Query query;
    if (Status s = mDb.exec(
            query,
            QStringLiteral("SELECT h.id, h.package_name, h.changed_at, h.who, (SELECT "
                           "count(*) FROM %1 c WHERE c.kept = h.kept) + CASE WHEN NOT EXISTS "
                           "(SELECT 1 FROM package WHERE %3) AND h.id = (SELECT max(id) "
                           "FROM %2 WHERE kind = h.kind AND %3) THEN (SELECT count(*) FROM "
                           "classdef WHERE %3) ELSE 0 END FROM %2 h WHERE h.kind = ? "
                           "ORDER BY h.id DESC")
                .arg(keptTable(), history(), mDb.nameFilter(QStringLiteral("h.package_name"))),
            {int(Change::DeletePackage)}, what);
        !s)
        return s;
    while (query.next()) {
        DeletedPackage d;
        d.changeId = query.value(0).toLongLong();
        d.name = query.value(1).toString();
        d.at = QDateTime::fromString(query.value(2).toString(), Qt::ISODateWithMs);
        d.who = query.value(3).toString();
        d.classes = query.value(4).toLongLong();
        deleted << d;
    }
    if (Status s = query.error(); !s)
        return mDb.failure(what, s);
    return deleted;
}

Result<bool> DataStore::takeBack(const QString &name, const QString &target, bool exists,
                                 const RestorePoint &point, const QString &what)
{
    Query query;
    const bool byChange = point.beforeChange > 0;
    if (Status s = mDb.exec(
            query,
            QStringLiteral("SELECT kind, table_name, row_key, field, old_value, kept FROM %1 "
                           "WHERE %2 AND %3 ORDER BY id DESC")
                .arg(history(), mDb.nameFilter(),
                     byChange ? QStringLiteral("id >= ?") : QStringLiteral("changed_at > ?")),
            {name, byChange ? QVariant(point.beforeChange) : QVariant(utcText(point.at))}, what);
        !s)
        return s;
    struct Step {
        int kind;
        bool classdef;
        qint64 classNum;
        QString field;
        QVariant before;
        qint64 keep;
    };
    QList<Step> steps;
    while (query.next())
        steps.append({query.value(0).toInt(),
                      query.value(1).toString() == QLatin1String("classdef"),
                      query.value(2).toLongLong(), query.value(3).toString(),
                      historylog::untagged(query.value(4)), query.value(5).toLongLong()});
    if (Status s = query.error(); !s)
        return mDb.failure(what, s);
    const QStringList columns = schema::classdefColumnNames();
    const QString mine = mDb.nameFilter();
    const QString clear = QStringLiteral("DELETE FROM classdef WHERE ") + mine;
    auto bringBack = [&](qint64 keep) {
        return mDb.execLater(
            QStringLiteral("INSERT INTO classdef (%1) SELECT CAST(? AS TEXT), %2 "
                           "FROM %3 WHERE kept = ? ORDER BY rowid")
                .arg(schema::joined(columns), schema::joined(columns.mid(1)), keptTable()),
            {target, keep}, what);
    };
    for (const Step &step : steps) {
        Status s = Status::success();
        switch (Change::Kind(step.kind)) {
        case Change::Field:
            // The names go into the statement: only the table's own are taken.
            if (step.classdef && columns.contains(step.field))
                s = mDb.execLater(QStringLiteral("UPDATE classdef SET %1 = ? WHERE %2 AND "
                                                 "class_num = ?")
                                      .arg(step.field, mine),
                                  {step.before, target, step.classNum}, what);
            break;
        case Change::AddClass:
            s = mDb.execLater(clear + QStringLiteral(" AND class_num = ?"), {target, step.classNum},
                              what);
            break;
        case Change::DeleteClass:
            s = bringBack(step.keep);
            break;
        case Change::NewPackage:
        case Change::CopyPackage:
        case Change::ImportPackage:
            exists = false;
            s = mDb.execLater(clear, {target}, what);
            break;
        case Change::DeletePackage:
        case Change::RestorePackage:
            s = mDb.execLater(clear, {target}, what);
            exists = step.keep != 0;
            if (s && exists)
                s = bringBack(step.keep);
            break;
        default:
            break;
        }
        if (!s)
            return s;
    }
    return exists;
}

Status DataStore::restorePackage(const QString &name, const RestorePoint &point, const QString &as)
{
    const QString target = as.isEmpty() ? name : as;
    const QString what =
        as.isEmpty()
            ? QStringLiteral("Could not restore the configuration '%1'.").arg(shownText(name))
            : QStringLiteral("Could not restore the configuration '%1' as '%2'.")
                  .arg(shownText(name), shownText(as));
    Result<bool> keeps = mDb.keepsHistory();
    if (!keeps)
        return keeps.status();
    if (!*keeps)
        return Status::failure(Fault::Refused,
                               what + QStringLiteral("\n%1 keeps no history.").arg(mDb.where()));
    if (!as.isEmpty())
        if (Status s = checkNewName(as); !s)
            return s;
    Transaction tx(mDb);
    if (Status s = tx.begin(what); !s)
        return s;
    const Result<bool> existsNow = packageExists(name);
    if (!existsNow)
        return existsNow.status();
    bool inPlace = as.isEmpty() || name.compare(as, Qt::CaseInsensitive) == 0;
    qint64 keep = 0;
    if (inPlace && *existsNow) {
        // What the restore replaces is kept, so that it too can be taken back.
        keep = historylog::newKeep();
        if (Status s = historylog::keepClasses(mDb, keep, mDb.nameFilter(), {name}, what); !s)
            return s;
    } else {
        if (!inPlace && !*existsNow) {
            // What its last Delete left in classdef joins the kept classes.
            if (Status s = settleKept(name, what); !s)
                return s;
            if (Status s = mDb.execLater(
                    QStringLiteral("DELETE FROM classdef WHERE ") + mDb.nameFilter(), {name}, what);
                !s)
                return s;
        }
        if (Status s = claimNewName(target, what); !s)
            return s;
        if (*existsNow) {
            const QStringList columns = schema::classdefColumnNames();
            if (Status s = mDb.execLater(
                    QStringLiteral("INSERT INTO classdef (%1) SELECT CAST(? AS TEXT), %2 "
                                   "FROM classdef WHERE %3 ORDER BY rowid")
                        .arg(schema::joined(columns), schema::joined(columns.mid(1)),
                             mDb.nameFilter()),
                    {target, name}, what);
                !s)
                return s;
        }
    }
    const Result<bool> existed = takeBack(name, target, *existsNow, point, what);
    if (!existed)
        return existed.status();
    if (!*existed)
        return Status::failure(
            Fault::NotFound,
            what + QStringLiteral("\nThere was no configuration named '%1' at that moment; to "
                                  "bring back what a Delete removed, give a moment before it.")
                       .arg(shownText(name)));
    Change change;
    change.kind = Change::RestorePackage;
    change.package = target;
    change.detail = point.beforeChange > 0
                        ? QStringLiteral("before change %1").arg(point.beforeChange)
                        : QStringLiteral("as of %1").arg(utcText(point.at));
    if (!inPlace)
        change.detail += QStringLiteral(" from '%1'").arg(name);
    if (Status s = historylog::record(mDb, {change}, what, keep); !s)
        return s;
    return tx.commit(what);
}

Result<qint64> DataStore::pruneHistory(const QDateTime &before)
{
    return prune(QStringLiteral("changed_at < ?"), utcText(before));
}

Result<qint64> DataStore::pruneHistory(qint64 beforeChange)
{
    return prune(QStringLiteral("id < ?"), beforeChange);
}

Result<qint64> DataStore::prune(const QString &condition, const QVariant &value)
{
    const QString what = QStringLiteral("Could not prune the history.");
    Result<bool> keeps = mDb.keepsHistory();
    if (!keeps || !*keeps)
        return keeps ? Result<qint64>(0) : keeps.status();
    Transaction tx(mDb);
    if (Status s = tx.begin(what); !s)
        return s;
    // Classes no configuration has whose Delete goes: nothing could bring them back.
    if (Status s = mDb.execLater(
            QStringLiteral("DELETE FROM classdef WHERE NOT EXISTS (SELECT 1 FROM package WHERE %1) "
                           "AND EXISTS (SELECT 1 FROM %2 WHERE kind = %3 AND %1 AND %4) AND NOT "
                           "EXISTS (SELECT 1 FROM %2 WHERE kind = %3 AND %1 AND NOT (%4))")
                .arg(mDb.nameFilter(QStringLiteral("classdef.package_name")), history())
                .arg(int(Change::DeletePackage))
                .arg(condition),
            {value, value}, what);
        !s)
        return s;
    if (Status s = mDb.execLater(QStringLiteral("DELETE FROM %1 WHERE kept IN (SELECT kept FROM %2 "
                                                "WHERE %3 AND kept IS NOT NULL)")
                                     .arg(keptTable(), history(), condition),
                                 {value}, what);
        !s)
        return s;
    Query query;
    if (Status s =
            mDb.exec(query, QStringLiteral("DELETE FROM %1 WHERE %2").arg(history(), condition),
                     {value}, what);
        !s)
        return s;
    const qint64 removed = query.affected();
    if (Status s = tx.commit(what); !s)
        return s;
    return removed;
}

Result<HistorySize> DataStore::historySize()
{
    Result<bool> keeps = mDb.keepsHistory();
    if (!keeps || !*keeps)
        return keeps ? Result<HistorySize>(HistorySize()) : keeps.status();
    return historylog::size(mDb, true);
}

Result<HistorySize> historylog::size(Database &db, bool classes)
{
    const QString what = QStringLiteral("Could not measure the history.");
    HistorySize size;
    Query query;
    if (Status s = db.exec(
            query,
            QStringLiteral("SELECT (SELECT count(*) FROM %1), %2")
                .arg(history(), db.engine().tableBytes(classes ? QStringList{history(), keptTable()}
                                                               : QStringList{history()})),
            {}, what);
        !s)
        return s;
    if (query.next()) {
        size.records = query.value(0).toLongLong();
        size.bytes = query.value(1).toLongLong();
    }
    return size;
}

Result<qint64> historylog::prune(Database &db, const QDateTime &before)
{
    const QString what = QStringLiteral("Could not prune the history.");
    Query query;
    if (Status s =
            db.exec(query, QStringLiteral("DELETE FROM %1 WHERE changed_at < ?").arg(history()),
                    {utcText(before)}, what);
        !s)
        return s;
    return query.affected();
}

} // namespace tarn
