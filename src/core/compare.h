#pragma once

#include "core/classfileio.h"
#include "store/refstore.h"

#include <optional>

namespace tarn
{

// The reference rows that give a class's slots and flags their names.
struct RefNames {
    QList<RefEntry> weapons, grenades, items, specials;

    static Result<RefNames> read(RefStore &ref);
    // The name of the weapon or grenade of that id; the id when no row has it,
    // empty for 0 (an empty slot) when none has it.
    QString slotName(schema::RefKind kind, qint64 id) const;
    // The names of the flags set in a sum, bit k standing for the row of id
    // 2^k (or "item 3" when none has it), joined by ", ".
    QString flagNames(schema::RefKind kind, qint64 sum) const;
};

// One field of a class as a class file carries it.
struct ClassField {
    QString column; // the stored column, or item_sum and special_sum for the flags
    QString label;  // as the class editor labels it
    QVariant value; // QString for texts, qint64 for numbers, ids and flag sums
    std::optional<schema::RefKind> ref; // what the value names, for slots and flags
};

// The columns of classFields(), in their order.
const QStringList &classFieldColumns();
QList<ClassField> classFields(const classfile::ClassRecord &record);
// The value as a person reads it: names for slots and flags, control
// characters escaped.
QString shownValue(const ClassField &field, const RefNames &names);

// A configuration's classes as stored, each as its fields in the order of
// storedFieldColumns(): the class number, the fields classFields() gives
// (weapon slot 1 as stored, where a class file always carries 1), then each
// item and special-ability flag (0 or 1, without a ref). A NULL stays a null
// QVariant; the flag sums are those an export writes.
const QStringList &storedFieldColumns();
Result<QList<QList<ClassField>>> readStoredClasses(AppState &state, const QString &configName,
                                                   const RefNames &names);

struct FieldDifference {
    QString label, before, after; // as shownValue gives them
};
struct ClassChange {
    QString name; // control characters escaped
    QList<FieldDifference> fields;
};
struct Comparison {
    QStringList onlyA, onlyB; // class names, control characters escaped
    QList<ClassChange> changed;
    bool equal() const { return onlyA.isEmpty() && onlyB.isEmpty() && changed.isEmpty(); }
};

// Classes are matched by name, exactly; where a name occurs more than once
// the first in A goes with the first in B, and so on. Order does not count.
Comparison compareClasses(const ClassRecords &a, const ClassRecords &b, const RefNames &names);

} // namespace tarn
