// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/classfileio.h"
#include "store/refstore.h"

#include <QHash>

#include <array>
#include <optional>
#include <vector>

namespace tarn
{

// The reference rows that give a class's slots and flags their names. Without
// them (default-constructed) slots show their ids and flags their places.
class RefNames
{
public:
    static Result<RefNames> read(RefStore &ref);

    // The name of the weapon or grenade of that id; else "(none)" for 0 (an
    // empty slot), and the id for any other.
    QString slotName(schema::RefKind kind, qint64 id) const;
    // The names of the flags set in a sum, bit k standing for the row of id
    // 2^k (or "Item 3" when none has it), joined by ", ".
    QString flagNames(schema::RefKind kind, qint64 sum) const;
    // The item or special-ability rows in id order: what turns a class's
    // flags into the sum a class file carries.
    const QList<RefEntry> &flagRows(schema::RefKind kind) const;
    // Back from a name as slotName or flagNames gives it (in any case) to
    // the id, or for a flag its bit's value; nothing when no row has it.
    std::optional<qint64> idOf(schema::RefKind kind, const QString &name) const;

private:
    std::array<QHash<qint64, QString>, 4> mNames; // by RefKind
    QList<RefEntry> mItems, mSpecials;
};

// One field of a class.
struct ClassField {
    QString column; // the stored column, or item_sum and special_sum for the flags
    QString label;  // as the class editor labels it
    std::optional<schema::RefKind> ref; // what the value names, for slots and flags
};

// The fields a class file carries, in its order.
const QList<ClassField> &classFields();
// A configuration's fields as show gives them: the class number, the fields
// of classFields() (weapon slot 1 as stored, where a class file always
// carries 1), then each item and special-ability flag.
const QList<ClassField> &storedFields();

// A value as a person reads it, control characters and backslashes escaped:
// slots and flags by name, a slot without a value "(no value)" as the class
// editor says, any other NULL empty, and what is stored where a number
// belongs as it stands.
QString shownValue(const ClassField &field, const QVariant &value, const RefNames &names);
// The same for a whole number.
QString shownValue(const ClassField &field, qint64 value, const RefNames &names);

// One class as read by readStoredClasses, a value for each of storedFields().
class StoredRow
{
public:
    // As stored: null, a whole number (qlonglong), a fraction (double) or text.
    QVariant value(qsizetype field) const;
    // The value when it is a whole number: the usual case, cheaply.
    std::optional<qint64> whole(qsizetype field) const
    {
        return mIsWhole[field] ? std::optional<qint64>(mWhole[field]) : std::nullopt;
    }
    // The value as stored in UTF-8, until the read moves on; nothing for null.
    // Not for the sums.
    std::optional<std::string_view> utf8(qsizetype field) const;

private:
    friend Status readStoredClasses(AppState &, const QString &, const RefNames &,
                                    const std::function<Status(const StoredRow &)> &, bool);
    const StoredClass *mRow = nullptr;
    QList<int> mColumns; // each field's column, -1 for the sums
    // Each field's whole number, read once: a row is asked for each many times.
    QList<qint64> mWhole;
    QList<bool> mIsWhole;
    // The others' text, where they are not whole numbers, read once too.
    std::vector<std::optional<std::string_view>> mUtf8;
    qint64 mItemSum = 0, mSpecialSum = 0;
    qsizetype mItemSumAt = -1;
};

// A configuration's classes as stored, in class number order unless inOrder
// is false (then cheaper); the flag sums are those an export writes.
Status readStoredClasses(AppState &state, const QString &configName, const RefNames &names,
                         const std::function<Status(const StoredRow &row)> &onClass,
                         bool inOrder = true);

// Where a comparison keeps the classes of one side, out of memory.
class ClassSpool;
// One side of a comparison: puts each of its classes into the spool, in order.
using ClassSource = std::function<Status(ClassSpool &)>;
// The classes of a class file.
ClassSource classFileSource(const QString &path);
// The classes of a configuration as its export would write them, except that
// a number field a class file could not carry (empty, a fraction, text) is a
// value of its own rather than a refusal.
ClassSource configurationSource(AppState &state, const QString &name, const RefNames &names);

struct FieldDifference {
    QString label, before, after; // as shownValue gives them; "(none)" for nothing
};
struct ClassChange {
    QString name; // control characters and backslashes escaped
    QList<FieldDifference> fields;
};

// What a comparison finds, in this order: each class only in A (in A's
// order), each only in B (in B's order), then each class both have whose
// fields differ (in A's order). Names are escaped as ClassChange's.
struct ComparisonSink {
    std::function<void(const QString &name)> onlyA, onlyB;
    std::function<void(const ClassChange &change)> changed;
};

// Classes are matched by name, exactly; where a name occurs more than once
// the first in A goes with the first in B, and so on. Order does not count.
// Neither side is held in memory.
Status compareClasses(const ClassSource &a, const ClassSource &b, const RefNames &names,
                      const ComparisonSink &sink);

// The whole outcome, for a window.
struct Comparison {
    QStringList onlyA, onlyB;
    QList<ClassChange> changed;
    bool equal() const { return onlyA.isEmpty() && onlyB.isEmpty() && changed.isEmpty(); }
};
Result<Comparison> compareClasses(const ClassSource &a, const ClassSource &b,
                                  const RefNames &names);

} // namespace tarn
