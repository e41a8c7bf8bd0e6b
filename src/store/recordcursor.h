// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "store/schema.h"
#include "store/status.h"

#include <QList>
#include <QStringList>
#include <QVariant>

#include <functional>
#include <optional>

namespace tarn
{

class Database;
class Query;

// Which rows a record cursor walks, described as data: the statements that
// pick and order them are the cursor's business.
class RecordSource
{
public:
    // The classes of one configuration (its name in any ASCII case), by class number.
    static RecordSource classesOf(const QString &package);
    // The rows of a reference table, by id.
    static RecordSource referenceRows(schema::RefKind kind);

    QString table() const { return mTable; }

private:
    QString mTable;
    QString mMatchColumn; // empty: every row
    QVariant mMatchValue;
    QString mOrderColumn;
    QString mOwnerTable; // a row that the matched rows belong to; empty: none

    friend class RecordCursor;
};

// Some columns of one row with their values, in the same order.
struct RowValues {
    QStringList columns;
    QVariantList values;

    // The value of a column; null when the row does not name it.
    QVariant value(const QString &column) const;
    void set(const QString &column, const QVariant &value);
};

// The same stored value as far as a user can tell: NULL only equals NULL,
// numbers compare by value, texts exactly.
bool sameValue(const QVariant &a, const QVariant &b);

// A column whose stored value is no longer the one shown.
struct FieldChange {
    QString column;
    QVariant shown;
    QVariant stored;
};

// What a checked write found. Nothing was written unless it is Done.
struct WriteOutcome {
    enum Kind {
        Done,    // written
        Changed, // another client changed the row since it was shown
        Gone,    // another client deleted the row
    };
    Kind kind = Done;
    // Changed: each shown column stored differently now, in the order shown.
    QList<FieldChange> changes;
    // Changed: the shown columns as stored now. Done by remove(): every column
    // of the row as it was, to put it back with insert().
    RowValues row;
};

// The rows of a record source, one at a time, by a key that stays with a row
// while it exists. Keys are taken when the cursor is (re)loaded; a row that
// another client adds meanwhile shows after the next reload.
class RecordCursor
{
public:
    using Key = qint64;

    RecordCursor(Database &db, RecordSource source);

    const RecordSource &source() const { return mSource; }

    // Reads the keys of the source's rows, in the source's order (ties by key).
    Status reload();
    const QList<Key> &keys() const { return mKeys; }
    // The same, and the named columns of every row, in one statement: onRow
    // gets each row's key and values in the source's order.
    Status loadAll(const QStringList &columns,
                   const std::function<void(Key, const QVariantList &)> &onRow);

    // The named columns of the row with key, in the order asked; nothing when
    // the row is gone.
    Result<std::optional<QVariantList>> load(Key key, const QStringList &columns);
    // Stores the edited columns of the row with key, in one transaction that
    // holds the row, when its shown columns are stored as they were shown.
    // Otherwise nothing is written and the outcome says what changed or that
    // the row is gone (it is never re-created). To store over another
    // client's change, store again with the outcome's row as shown.
    Result<WriteOutcome> store(Key key, const RowValues &edits, const RowValues &shown);
    // Adds a row with the given columns and reloads the keys; the new row's
    // key. A class is refused when its configuration no longer exists.
    Result<Key> insert(const QStringList &columns, const QVariantList &values);
    Result<Key> insert(const RowValues &row) { return insert(row.columns, row.values); }
    // Deletes the row with key and reloads the keys, in one transaction, when
    // the shown columns (none: any) are stored as shown; the outcome's row
    // holds every column as it was.
    Result<WriteOutcome> remove(Key key, const RowValues &shown = {});

private:
    // The row's columns as stored now, read inside the caller's transaction;
    // nothing when the row is gone.
    Result<std::optional<RowValues>> lockRow(Key key, const QStringList &columns);
    // The write-back in one exchange with its COMMIT, where the engine sends
    // it so: written when the row held what was shown, else what changed or
    // that it is gone; nothing when it could not tell (nothing was written).
    Result<std::optional<WriteOutcome>> storeAhead(Key key, const RowValues &edits,
                                                   const RowValues &shown, const QString &what);
    // Done, or what differs from what was shown.
    static WriteOutcome compare(const RowValues &shown, const std::optional<RowValues> &now);
    Status select(Query &query, const QStringList &columns);
    // The condition that the row's owner exists, for a source that has one.
    QString owned() const;

    Database *mDb;
    RecordSource mSource;
    QList<Key> mKeys;
};

} // namespace tarn
