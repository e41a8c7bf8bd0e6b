// SPDX-License-Identifier: GPL-3.0-or-later
#include "store/refstore.h"

#include "store/historylog.h"

#include <cmath>
#include <limits>

namespace tarn
{

Status RefStore::open(const QString &path, Database *beside)
{
    if (Status s = beside ? mDb.openBeside(path, *beside) : mDb.open(path); !s)
        return s;
    mDb.setWriteLock(2);
    return mDb.requireTables(schema::refFileNeeds());
}

Result<bool> RefStore::ensureHistory()
{
    return historylog::addHistory(mDb, false, QStringLiteral("Could not add the history table."));
}

Status RefStore::readHistory(const HistoryFilter &filter,
                             const std::function<Status(const Change &)> &onChange)
{
    if (mDb.shared() || !filter.package.isEmpty())
        return Status::success();
    return historylog::read(mDb, filter, onChange, false);
}

Result<qint64> RefStore::pruneHistory(const QDateTime &before)
{
    if (mDb.shared() || !historylog::kept(mDb))
        return 0;
    return historylog::prune(mDb, before);
}

Result<HistorySize> RefStore::historySize()
{
    if (mDb.shared() || !historylog::kept(mDb))
        return HistorySize();
    return historylog::size(mDb, false);
}

Result<QList<RefEntry>> RefStore::offered(schema::RefKind kind)
{
    return select(kind, true);
}

Result<QList<RefEntry>> RefStore::all(schema::RefKind kind)
{
    return select(kind, false);
}

QString RefStore::selectSql(schema::RefKind kind, bool enabledOnly) const
{
    const schema::RefTable &t = schema::refTable(kind);
    // Of rows sharing an id, the later one is read last.
    return QStringLiteral("SELECT %1, %2, qz_enabled FROM %3 %4 ORDER BY %5, rowid")
        .arg(QLatin1String(t.idColumn), QLatin1String(t.nameColumn), QLatin1String(t.table),
             enabledOnly ? QStringLiteral("WHERE qz_enabled = 1") : QString(),
             mDb.nullsFirst(QLatin1String(t.idColumn)));
}

void RefStore::readAhead(std::span<const schema::RefKind> all,
                         std::span<const schema::RefKind> offered)
{
    QStringList statements;
    for (const schema::RefKind kind : all)
        statements << selectSql(kind, false);
    for (const schema::RefKind kind : offered)
        statements << selectSql(kind, true);
    if (mDb.isOpen())
        mDb.engine().readAhead(statements);
}

Result<QList<RefEntry>> RefStore::select(schema::RefKind kind, bool enabledOnly)
{
    const schema::RefTable &t = schema::refTable(kind);
    const QString sql = selectSql(kind, enabledOnly);
    double low = 0, high = 0;
    const bool slotsOnly = enabledOnly && schema::rangeOf(t.columns.front().kind, &low, &high);
    Query query;
    if (Status s =
            mDb.exec(query, sql, {},
                     QStringLiteral("Could not read the table %1.").arg(QLatin1String(t.table)));
        !s)
        return s;
    QList<RefEntry> rows;
    while (query.next()) {
        const QVariant id = query.value(0);
        bool whole = false;
        const double value = id.toDouble(&whole);
        if (slotsOnly && (!whole || value != std::floor(value) || value < low || value > high))
            continue;
        rows.append({id, query.value(1).toString(), query.value(2)});
    }
    return rows;
}

bool tickable(const QVariant &enabled)
{
    if (enabled.isNull() || enabled.toString().isEmpty())
        return true;
    bool ok = false;
    const double value = enabled.toDouble(&ok);
    return ok && value == 1.0;
}

bool followsPowerOfTwoRule(qsizetype position, const QVariant &id)
{
    if (position < 0 || position > 30 || id.isNull())
        return false;
    bool ok = false;
    const double value = id.toDouble(&ok);
    return ok && value == double(qint64(1) << position);
}

Result<qint32> flagSum(const QList<RefEntry> &rows, std::span<const bool> flags)
{
    const qsizetype inUse = qMin<qsizetype>(rows.size(), qsizetype(flags.size()));
    qint64 sum = 0;
    for (qsizetype k = 0; k < inUse; ++k) {
        if (!flags[size_t(k)])
            continue;
        const RefEntry &row = rows.at(k);
        if (row.id.typeId() == QMetaType::LongLong) { // the usual case, without a conversion
            const qlonglong id = row.id.toLongLong();
            if (id >= std::numeric_limits<qint32>::min() &&
                id <= std::numeric_limits<qint32>::max()) {
                sum += id;
                continue;
            }
        }
        bool ok = !row.id.isNull();
        const double id = ok ? row.id.toDouble(&ok) : 0;
        if (!ok || !std::isfinite(id) || id != std::floor(id) ||
            id < std::numeric_limits<qint32>::min() || id > std::numeric_limits<qint32>::max())
            return Status::failure(Fault::Refused,
                                   QStringLiteral("the id '%1' of '%2' (box %3) is not a whole "
                                                  "32-bit number")
                                       .arg(row.id.toString(), row.name, QString::number(k + 1)));
        sum += qint64(id);
    }
    if (sum < std::numeric_limits<qint32>::min() || sum > std::numeric_limits<qint32>::max())
        return Status::failure(
            Fault::Refused,
            QStringLiteral("the sum of the ticked ids, %1, lies beyond the 32-bit range").arg(sum));
    return qint32(sum);
}

} // namespace tarn
