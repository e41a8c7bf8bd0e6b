// SPDX-License-Identifier: GPL-3.0-or-later
#include "store/tablecopy.h"

#include "store/database.h"

namespace tarn
{

namespace
{

QString quoted(QString name)
{
    return QLatin1Char('"') + name.replace(QLatin1Char('"'), QStringLiteral("\"\"")) +
           QLatin1Char('"');
}

QString typeName(CopiedType type)
{
    switch (type) {
    case CopiedType::YesNo:
        return QStringLiteral("INTEGER NOT NULL DEFAULT 0");
    case CopiedType::Integer:
        return QStringLiteral("INTEGER");
    case CopiedType::Numeric:
        return QStringLiteral("NUMERIC");
    case CopiedType::Real:
        return QStringLiteral("REAL");
    case CopiedType::DateTime:
        return QStringLiteral("DATETIME");
    case CopiedType::Blob:
        return QStringLiteral("BLOB");
    case CopiedType::Text:
        break;
    }
    return QStringLiteral("TEXT");
}

} // namespace

Status copyTable(Database &db, const QString &table, const QList<CopiedColumn> &columns,
                 const QList<QVariantList> &rows)
{
    QStringList definitions, names;
    for (const CopiedColumn &column : columns) {
        definitions << (column.known
                            ? db.engine().columnDefinition(*column.known)
                            : quoted(column.name) + QLatin1Char(' ') + typeName(column.type));
        names << quoted(column.name);
    }
    const QString what = QStringLiteral("Could not copy the table %1.").arg(table);
    if (Status s = db.exec(QStringLiteral("CREATE TABLE %1 (%2)")
                               .arg(quoted(table), definitions.join(QStringLiteral(", "))),
                           {}, what);
        !s)
        return s;
    const QString insert =
        QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
            .arg(quoted(table), schema::joined(names), schema::placeholders(names.size()));
    QVariantList values;
    for (qsizetype r = 0; r < rows.size(); ++r) {
        const QVariantList &row = rows.at(r);
        values.clear();
        for (const CopiedColumn &column : columns)
            values << row.at(column.source);
        if (Status s = db.exec(
                insert, values,
                QStringLiteral("Could not copy row %1 of the table %2.").arg(r + 1).arg(table));
            !s)
            return s;
    }
    return Status::success();
}

} // namespace tarn
