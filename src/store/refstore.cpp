#include "refstore.h"

namespace tarn
{

Status RefStore::open(const QString &path)
{
    if (Status s = mDb.open(path); !s)
        return s;
    for (schema::RefKind kind : schema::refKinds()) {
        const schema::RefTable &t = schema::refTable(kind);
        Result<QStringList> present = mDb.columns(QString::fromLatin1(t.table));
        if (!present)
            return present.status();
        if (present->isEmpty())
            return Status::failure(
                QStringLiteral("%1: the table %2 is missing").arg(path, QLatin1String(t.table)));
        for (const schema::Column &c : t.columns) {
            if (!present->contains(QLatin1String(c.name), Qt::CaseInsensitive))
                return Status::failure(
                    QStringLiteral("%1: the table %2 has no column %3")
                        .arg(path, QLatin1String(t.table), QLatin1String(c.name)));
        }
    }
    return Status::success();
}

Result<QList<RefEntry>> RefStore::offered(schema::RefKind kind) const
{
    return select(kind, true);
}

Result<QList<RefEntry>> RefStore::all(schema::RefKind kind) const
{
    return select(kind, false);
}

Result<QList<RefEntry>> RefStore::select(schema::RefKind kind, bool enabledOnly) const
{
    const schema::RefTable &t = schema::refTable(kind);
    const QString sql =
        QStringLiteral("SELECT %1, %2, qz_enabled FROM %3 %4 ORDER BY %1")
            .arg(QLatin1String(t.idColumn), QLatin1String(t.nameColumn), QLatin1String(t.table),
                 enabledOnly ? QStringLiteral("WHERE qz_enabled = 1") : QString());
    QSqlQuery query;
    if (Status s =
            mDb.exec(query, sql, {},
                     QStringLiteral("Could not read the table %1.").arg(QLatin1String(t.table)));
        !s)
        return s;
    QList<RefEntry> rows;
    while (query.next())
        rows.append({query.value(0), query.value(1).toString(), query.value(2)});
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

} // namespace tarn
