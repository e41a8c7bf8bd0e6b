// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "store/status.h"
#include "store/tablecopy.h"

#include <QByteArray>
#include <QList>
#include <QVariant>

namespace tarn::jet
{

// Column types of a Jet table, as the reader names them.
enum class Type {
    Bool,
    Byte,
    Int,
    Long,
    Money,
    Float,
    Double,
    DateTime,
    Binary,
    Text,
    Ole,
    Memo,
    RepId,
    Numeric
};

struct Column {
    QString name;
    Type type;
};

// One table with every row in stored order. Values are ready to bind: NULL,
// qlonglong (Yes/No as 0/1 and whole numbers), double, QString (text, and
// date/time as "yyyy-MM-dd HH:mm:ss[.zzz]") or QByteArray (binary).
struct Table {
    QString name;
    QList<Column> columns;
    QList<QVariantList> rows;
};

// Reads the output of tarn-jet-reader. Anything that does not follow its
// format exactly (including output cut short) is a failure that says where.
Result<QList<Table>> parseDump(const QByteArray &dump);

// A currency or decimal value: a whole number when it has no fraction and fits
// 64 bits, a double when that holds it exactly (15 significant digits or
// fewer); anything else is refused rather than rounded.
Result<QVariant> decimalValue(const QByteArray &text);

// A Jet date/time (days since 1899-12-30; the fraction is the time of day,
// also for days before that) as text, to the millisecond.
Result<QString> dateTimeText(double days);

// The type that keeps every value of a Jet column.
CopiedType storedAs(Type type);

} // namespace tarn::jet
