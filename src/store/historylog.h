// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "store/history.h"
#include "store/schema.h"

#include <functional>

namespace tarn
{

class Database;

// How the store writes and reads its records (store/history.h), inside the
// caller's transaction. A value is kept as tagged text, so that one text
// column holds what any column stored, apart: "i42" a whole number, "r1.5" a
// fraction, "n1.5" a server's NUMERIC, "tScout" a text; NULL stays NULL.
namespace historylog
{

// Adds the history tables (with classes, the kept classes' too) where they
// are missing; whether it added them.
Result<bool> addHistory(Database &db, bool classes, const QString &what);

// The changes the filter picks, newest first; classes: the database keeps
// the classes (history_class) too.
Status read(Database &db, const HistoryFilter &filter,
            const std::function<Status(const Change &)> &onChange, bool classes);

// A file of reference tables: removes its records older than before; how many.
Result<qint64> prune(Database &db, const QDateTime &before);
// The records' count and bytes (with classes: the kept classes' too).
Result<HistorySize> size(Database &db, bool classes);

// Whether the database holds the history tables.
bool kept(Database &db);

QVariant tagged(const QVariant &value);
QVariant untagged(const QVariant &value);
QString rowText(const RowValues &row);
RowValues rowFromText(const QString &text);

// A new mark for the classes a record keeps in history_class.
qint64 newKeep();

// The columns a record fills itself (who only where the engine does not),
// their values added to values.
QStringList recordColumns(Database &db, QVariantList &values);

struct Statement {
    QString sql;
    QVariantList values;
};
Statement recordStatement(Database &db, const QList<Change> &changes, qint64 keep,
                          const QString &before);
// Runs statement (whose rows nothing reads) with the records of its changes,
// sent with the next statement where the engine allows.
Status recordWith(Database &db, const QList<Change> &changes, const Statement &statement,
                  const QString &what);

// Adds the records, sent with the next statement where the engine allows;
// keep: the mark of the classes they keep (0: none); before: an expression
// that gives the old value as tagged text, in place of the changes' own.
Status record(Database &db, const QList<Change> &changes, const QString &what, qint64 keep = 0,
              const QString &before = {});

// A record of the classdef row with that key as it is now: its configuration,
// number and name; with field set, the column's value as stored is the old
// value and after the new one.
Status recordRow(Database &db, Change::Kind kind, qint64 rowid, const QString &field,
                 const QVariant &after, qint64 keep, const QString &what);
// Keeps the classdef rows that where (with its values) picks under keep.
Status keepClasses(Database &db, qint64 keep, const QString &where, const QVariantList &values,
                   const QString &what);

// The column's kind, of classdef or of a reference table.
schema::Kind columnKind(const QString &table, const QString &column);

} // namespace historylog
} // namespace tarn
