#pragma once

#include "database.h"
#include "schema.h"

#include <QList>

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
    Status open(const QString &path);

    Database &database() { return mDb; }
    const Database &database() const { return mDb; }
    const QString &path() const { return mDb.path(); }

    // Weapons or grenades whose qz_enabled is 1, by id.
    Result<QList<RefEntry>> offered(schema::RefKind kind) const;
    // Every row, by id.
    Result<QList<RefEntry>> all(schema::RefKind kind) const;

private:
    Result<QList<RefEntry>> select(schema::RefKind kind, bool enabledOnly) const;

    Database mDb;
};

// An item or special ability can be ticked when qz_enabled is 1 or empty.
bool tickable(const QVariant &enabled);

// Flag k (counted from 0) stands for the k-th row by id in the class editor and
// for bit k in a class file; the two agree only when that row's id is 2^k.
bool followsPowerOfTwoRule(qsizetype position, const QVariant &id);

} // namespace tarn
