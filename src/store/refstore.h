// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "store/database.h"
#include "store/history.h"
#include "store/schema.h"

#include <QList>

#include <functional>
#include <span>

namespace tarn
{

// One row of a reference table as the class editor shows it.
struct RefEntry {
    QVariant id; // the stored id, NULL when the row has none
    QString name;
    QVariant enabled; // qz_enabled as stored
};

// The reference database: weapons, grenades, items and special abilities.
class RefStore
{
public:
    // beside: the data tables' database, whose connection serves when both
    // sets of tables live in one database.
    Status open(const QString &path, Database *beside = nullptr);

    Database &database() { return mDb; }
    const Database &database() const { return mDb; }

    // Adds the history table of the reference rows where it is missing (on
    // files: a file of its own keeps its own records); whether it added it.
    Result<bool> ensureHistory();
    // The records of the reference rows that a file of its own keeps, newest
    // first; none where one database holds both sets (the data's read gives them).
    Status readHistory(const HistoryFilter &filter,
                       const std::function<Status(const Change &)> &onChange);
    // The same file's records: removes those older than before (by time, or
    // before the change of that id in the data's numbering: none then); how
    // many. Its count and bytes.
    Result<qint64> pruneHistory(const QDateTime &before);
    Result<HistorySize> historySize();

    // Weapons or grenades whose qz_enabled is 1 and whose id a class slot can
    // hold (16 bits; older files may have larger ids), by id.
    Result<QList<RefEntry>> offered(schema::RefKind kind);
    // Every row, by id.
    Result<QList<RefEntry>> all(schema::RefKind kind);
    // The tables that all() (and offered()) read next, asked for together:
    // on a server in one exchange.
    void readAhead(std::span<const schema::RefKind> all,
                   std::span<const schema::RefKind> offered = {});

private:
    Result<QList<RefEntry>> select(schema::RefKind kind, bool enabledOnly);
    QString selectSql(schema::RefKind kind, bool enabledOnly) const;

    Database mDb;
};

// An item or special ability can be ticked when qz_enabled is 1 or empty.
bool tickable(const QVariant &enabled);

// Flag k (counted from 0) stands for the k-th row by id in the class editor and
// for bit k in a class file; the two agree only when that row's id is 2^k.
bool followsPowerOfTwoRule(qsizetype position, const QVariant &id);

// The class editor's check boxes: 8 for items, 31 for special abilities.
inline constexpr qsizetype kItemBoxes = 8;
inline constexpr qsizetype kSpecialBoxes = 31;
// The boxes a class offers for items or special abilities: only the rows of
// those places in id order can ever be set on a class.
inline constexpr qsizetype flagBoxes(schema::RefKind kind)
{
    return kind == schema::RefKind::Item ? kItemBoxes : kSpecialBoxes;
}

// The sum a class file carries for a class's flags, as the class editor's boxes
// show them: box k (from 0) shows rows[k] (rows in id order) while there is
// one, and the ids of the boxes in use whose flag is set are added, whether or
// not their row is enabled. Fails on an id added that is not a whole 32-bit
// number and on a sum beyond 32 bits.
Result<qint32> flagSum(const QList<RefEntry> &rows, std::span<const bool> flags);

} // namespace tarn
