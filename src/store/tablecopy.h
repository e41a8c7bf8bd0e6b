// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "store/schema.h"
#include "store/status.h"

#include <QList>
#include <QVariant>

namespace tarn
{

class Database;

// How a column brought over from another database keeps its values.
enum class CopiedType { YesNo, Integer, Numeric, Real, DateTime, Blob, Text };

struct CopiedColumn {
    QString name;
    // A column the program knows keeps the program's definition (type,
    // default, collation); any other column gets the type.
    const schema::Column *known = nullptr;
    CopiedType type = CopiedType::Text;
    qsizetype source = 0; // where its value stands in each row
};

// Creates the table with the columns in the given order and stores the rows
// (values ready to bind) in it, in the caller's transaction. A failure names
// the table, and the row counted from 1.
Status copyTable(Database &db, const QString &table, const QList<CopiedColumn> &columns,
                 const QList<QVariantList> &rows);

} // namespace tarn
