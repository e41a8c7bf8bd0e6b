#pragma once

#include "store/schema.h"
#include "store/status.h"

#include <QList>
#include <QStringList>
#include <QVariant>

#include <optional>

namespace tarn
{

class Database;

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

    friend class RecordCursor;
};

// The rows of a record source, one at a time, by a key that stays with a row
// while it exists. Keys are taken when the cursor is (re)loaded; a row that
// another client adds meanwhile shows after the next reload.
class RecordCursor
{
public:
    using Key = qint64;

    RecordCursor(const Database &db, RecordSource source);

    const RecordSource &source() const { return mSource; }

    // Reads the keys of the source's rows, in the source's order (ties by key).
    Status reload();
    const QList<Key> &keys() const { return mKeys; }

    // The named columns of the row with key, in the order asked; nothing when
    // the row is gone.
    Result<std::optional<QVariantList>> load(Key key, const QStringList &columns) const;
    // Stores the given columns of the row with key; false when the row is gone
    // (it is never re-created).
    Result<bool> store(Key key, const QStringList &columns, const QVariantList &values) const;
    // Adds a row with the given columns and reloads the keys; the new row's key.
    Result<Key> insert(const QStringList &columns, const QVariantList &values);
    // Deletes the row with key and reloads the keys.
    Status remove(Key key);

private:
    const Database *mDb;
    RecordSource mSource;
    QList<Key> mKeys;
};

} // namespace tarn
