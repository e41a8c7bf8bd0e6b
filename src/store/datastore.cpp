#include "datastore.h"

#include "linecodec.h"
#include "schema.h"
#include "textrules.h"

#include <QSqlError>

namespace tarn
{

Status DataStore::open(const QString &path)
{
    if (Status s = mDb.open(path); !s)
        return s;
    return mDb.requireTables(schema::dataFileNeeds());
}

Status DataStore::forEachPackageName(const std::function<void(const QString &)> &onName) const
{
    QSqlQuery query;
    const QString what = QStringLiteral("Could not read the list of configurations.");
    if (Status s = mDb.exec(
            query,
            QStringLiteral("SELECT package_name FROM package ORDER BY package_name COLLATE NOCASE"),
            {}, what);
        !s)
        return s;
    while (query.next())
        onName(query.value(0).toString());
    if (query.lastError().isValid())
        return mDb.failure(what, query);
    return Status::success();
}

Result<QStringList> DataStore::packageNames() const
{
    QStringList names;
    if (Status s = forEachPackageName([&names](const QString &name) { names << name; }); !s)
        return s;
    return names;
}

Result<bool> DataStore::packageExists(const QString &name) const
{
    QSqlQuery query;
    if (Status s =
            mDb.exec(query, QStringLiteral("SELECT count(*) FROM package WHERE ") + nameFilter(),
                     {name}, QStringLiteral("Could not look up the configuration '%1'.").arg(name));
        !s)
        return s;
    return query.next() && query.value(0).toLongLong() > 0;
}

Result<QString> DataStore::storedPackageName(const QString &name) const
{
    QSqlQuery query;
    if (Status s =
            mDb.exec(query,
                     QStringLiteral("SELECT package_name FROM package WHERE %1 "
                                    "ORDER BY rowid LIMIT 1")
                         .arg(nameFilter()),
                     {name}, QStringLiteral("Could not look up the configuration '%1'.").arg(name));
        !s)
        return s;
    if (!query.next())
        return Status::failure(QStringLiteral("There is no configuration named '%1'.").arg(name));
    return query.value(0).toString();
}

QString DataStore::nameFilter()
{
    // Stated in the comparison itself: a file made by another tool may lack
    // the column's collation.
    return QStringLiteral("package_name = ? COLLATE NOCASE");
}

Status DataStore::checkNewName(const QString &name)
{
    if (name.isEmpty())
        return Status::failure(QStringLiteral("The configuration name is empty."));
    // Line 2 of the class file carries the name.
    return checkLineText(QStringLiteral("The configuration name"), name,
                         qsizetype(classfile::kMaxLineLength));
}

Status DataStore::refuseExisting(const QString &name) const
{
    Result<bool> exists = packageExists(name);
    if (!exists)
        return exists.status();
    if (*exists)
        return Status::failure(
            QStringLiteral("A configuration named '%1' exists already. Choose another name.")
                .arg(name));
    return Status::success();
}

Status DataStore::claimNewName(const QString &name, const QString &what) const
{
    if (Status s = refuseExisting(name); !s)
        return s;
    // Classes left without their configuration by older versions: nothing
    // reaches them, and they must not join the new configuration.
    return mDb.exec(QStringLiteral("DELETE FROM classdef WHERE ") + nameFilter(), {name}, what);
}

Status DataStore::createPackage(const QString &name)
{
    if (Status s = checkNewName(name); !s)
        return s;
    const QString what = QStringLiteral("Could not add the configuration '%1'.").arg(name);
    Transaction tx(mDb);
    if (Status s = tx.begin(what); !s)
        return s;
    if (Status s = claimNewName(name, what); !s)
        return s;
    if (Status s =
            mDb.exec(QStringLiteral("INSERT INTO package (package_name) VALUES (?)"), {name}, what);
        !s)
        return s;
    return tx.commit(what);
}

Status DataStore::deletePackage(const QString &name)
{
    const QString what = QStringLiteral("Could not delete the configuration '%1'.").arg(name);
    Transaction tx(mDb);
    if (Status s = tx.begin(what); !s)
        return s;
    // One package row goes (the first of duplicates an older file may hold),
    // then every class filed under the name.
    QSqlQuery query;
    if (Status s = mDb.exec(query,
                            QStringLiteral("DELETE FROM package WHERE rowid = "
                                           "(SELECT rowid FROM package WHERE %1 "
                                           "ORDER BY rowid LIMIT 1)")
                                .arg(nameFilter()),
                            {name}, what);
        !s)
        return s;
    if (query.numRowsAffected() < 1)
        return Status::failure(QStringLiteral("There is no configuration named '%1'.").arg(name));
    if (Status s =
            mDb.exec(QStringLiteral("DELETE FROM classdef WHERE ") + nameFilter(), {name}, what);
        !s)
        return s;
    return tx.commit(what);
}

Status DataStore::copyPackage(const QString &source, const QString &target)
{
    if (Status s = checkNewName(target); !s)
        return s;
    const QString what =
        QStringLiteral("Could not copy the configuration '%1' to '%2'.").arg(source, target);
    Transaction tx(mDb);
    if (Status s = tx.begin(what); !s)
        return s;
    Result<bool> sourceExists = packageExists(source);
    if (!sourceExists)
        return sourceExists.status();
    if (!*sourceExists)
        return Status::failure(QStringLiteral("There is no configuration named '%1'.").arg(source));
    if (Status s = claimNewName(target, what); !s)
        return s;
    if (Status s = mDb.exec(QStringLiteral("INSERT INTO package (package_name) VALUES (?)"),
                            {target}, what);
        !s)
        return s;
    const QStringList columns = schema::classdefColumnNames();
    const QStringList carried = columns.mid(1);
    const QString sql = QStringLiteral("INSERT INTO classdef (%1) SELECT ?, %2 FROM classdef "
                                       "WHERE %3 ORDER BY rowid")
                            .arg(schema::joined(columns), schema::joined(carried), nameFilter());
    if (Status s = mDb.exec(sql, {target, source}, what); !s)
        return s;
    return tx.commit(what);
}

Result<int> DataStore::nextClassNumber(const QString &package) const
{
    QSqlQuery query;
    if (Status s = mDb.exec(
            query, QStringLiteral("SELECT max(class_num) FROM classdef WHERE ") + nameFilter(),
            {package}, QStringLiteral("Could not number the new class."));
        !s)
        return s;
    const QVariant highest = query.next() ? query.value(0) : QVariant();
    if (highest.isNull())
        return 1;
    if (highest.toLongLong() >= 32767)
        return Status::failure(QStringLiteral("No class number is left: the highest class number "
                                              "of '%1' is already 32767.")
                                   .arg(package));
    return int(highest.toLongLong()) + 1;
}

Result<QStringList> DataStore::ensureFields()
{
    const QString what = QStringLiteral("Could not add the missing flag columns to classdef.");
    auto missing = [this]() -> Result<QStringList> {
        Result<QStringList> present = mDb.columns(QStringLiteral("classdef"));
        if (!present)
            return present.status();
        QStringList names;
        for (const QString &column : schema::upgradeColumns())
            if (!present->contains(column, Qt::CaseInsensitive))
                names << column;
        return names;
    };
    // An up-to-date file is only read, so that it may be read-only or busy.
    Result<QStringList> first = missing();
    if (!first || first->isEmpty())
        return first;
    Transaction tx(mDb);
    if (Status s = tx.begin(what); !s)
        return s;
    Result<QStringList> added = missing();
    if (!added)
        return added;
    for (const QString &column : *added) {
        // Existing rows read false in the new column.
        if (Status s = mDb.exec(QStringLiteral("ALTER TABLE classdef ADD COLUMN %1 "
                                               "INTEGER NOT NULL DEFAULT 0")
                                    .arg(column),
                                {}, what);
            !s)
            return s;
    }
    if (Status s = tx.commit(what); !s)
        return s;
    return added;
}

} // namespace tarn
