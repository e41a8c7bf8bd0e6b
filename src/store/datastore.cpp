#include "datastore.h"

#include "linecodec.h"
#include "schema.h"
#include "textrules.h"

#include <QSqlError>

#include <cmath>
#include <limits>

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
    return createPackage(name, QStringLiteral("Could not add the configuration '%1'.").arg(name),
                         [](classfile::ClassRecord &) { return Result<bool>(false); });
}

namespace
{

// A class read from a file as classdef values; columns, when given, receives
// the name of each value in the same order.
QVariantList classValues(const QString &package, int number, const classfile::ClassRecord &r,
                         QStringList *columns = nullptr)
{
    QVariantList values;
    auto add = [&](const QString &column, const QVariant &value) {
        if (columns)
            *columns << column;
        values << value;
    };
    auto text = [](const std::string &bytes) {
        return QString::fromLatin1(bytes.data(), qsizetype(bytes.size()));
    };
    using schema::RefKind;
    add(QStringLiteral("package_name"), package);
    add(QStringLiteral("class_name"), text(r.name));
    add(QStringLiteral("class_num"), number);
    add(QStringLiteral("skin_name1"), text(r.skin1));
    add(QStringLiteral("skin_name2"), text(r.skin2));
    add(QStringLiteral("model_name"), text(r.model));
    for (int k = 1; k <= schema::slotCount(RefKind::Weapon); ++k)
        add(schema::slotColumn(RefKind::Weapon, k), r.weapons[size_t(k - 1)]);
    for (int k = 1; k <= schema::slotCount(RefKind::Grenade); ++k)
        add(schema::slotColumn(RefKind::Grenade, k), r.grenades[size_t(k - 1)]);
    add(QStringLiteral("max_speed"), r.speed);
    add(QStringLiteral("max_health"), r.health);
    add(QStringLiteral("max_armor"), r.armor);
    for (int k = 1; k <= schema::flagCount(RefKind::Item); ++k)
        add(schema::flagColumn(RefKind::Item, k), int(r.item(k)));
    for (int k = 1; k <= schema::flagCount(RefKind::Special); ++k)
        add(schema::flagColumn(RefKind::Special, k), int(r.special(k)));
    add(QStringLiteral("decoyskin"), r.decoySkin);
    size_t i = 0;
    for (const schema::AmmoColumn &a : schema::ammoColumns())
        add(QLatin1String(a.name), r.ammo[i++]);
    return values;
}

// The flag columns 1..count of a kind as one number, bit k - 1 for flag k:
// two values a row instead of 39 keeps a long export close to the engine's speed.
QString flagMask(schema::RefKind kind, qsizetype count)
{
    QStringList bits;
    for (qsizetype k = 1; k <= count; ++k)
        bits << QStringLiteral("(ifnull(%1 <> 0, 0) << %2)")
                    .arg(schema::flagColumn(kind, int(k)))
                    .arg(k - 1);
    return bits.join(QStringLiteral(" | "));
}

} // namespace

Status DataStore::createPackage(const QString &name, const QString &what, const ClassSource &source)
{
    if (Status s = checkNewName(name); !s)
        return s;
    Transaction tx(mDb);
    if (Status s = tx.begin(what); !s)
        return s;
    if (Status s = claimNewName(name, what); !s)
        return s;
    QSqlQuery insert(mDb.connection());
    insert.setForwardOnly(true);
    QStringList columns;
    classValues(name, 0, {}, &columns);
    if (!insert.prepare(QStringLiteral("INSERT INTO classdef (%1) VALUES (%2)")
                            .arg(schema::joined(columns), schema::placeholders(columns.size()))))
        return mDb.failure(what, insert);
    classfile::ClassRecord record;
    for (int number = 1;; ++number) {
        const Result<bool> more = source(record);
        if (!more)
            return more.status();
        if (!*more)
            break;
        const QVariantList values = classValues(name, number, record);
        for (qsizetype i = 0; i < values.size(); ++i)
            insert.bindValue(int(i), values[i]);
        if (!insert.exec())
            return mDb.failure(what, insert);
    }
    if (Status s =
            mDb.exec(QStringLiteral("INSERT INTO package (package_name) VALUES (?)"), {name}, what);
        !s)
        return s;
    return tx.commit(what);
}

const QStringList &StoredClass::columns()
{
    static const QStringList columns = schema::exportColumns();
    return columns;
}

QString StoredClass::text(int column) const
{
    return mQuery.value(column).toString();
}

Result<qint16> StoredClass::whole(int column) const
{
    const QString field = schema::fieldLabel(columns().at(column));
    const QVariant value = mQuery.value(column);
    const bool isText = value.typeId() == QMetaType::QString;
    if (value.isNull() || (isText && value.toString().isEmpty()))
        return Status::failure(field + QStringLiteral(" is empty"));
    if (value.typeId() == QMetaType::LongLong) { // the usual case, without a conversion
        const qlonglong n = value.toLongLong();
        if (n >= std::numeric_limits<qint16>::min() && n <= std::numeric_limits<qint16>::max())
            return qint16(n);
    }
    bool ok = false;
    const double d = value.toDouble(&ok);
    if (!ok || d != std::floor(d) || d < std::numeric_limits<qint16>::min() ||
        d > std::numeric_limits<qint16>::max())
        return Status::failure(
            QStringLiteral("%1 holds '%2', not a whole number from -32768 to 32767")
                .arg(field, value.toString()));
    return qint16(d);
}

quint64 StoredClass::flags(schema::RefKind kind) const
{
    return quint64(
        mQuery.value(int(columns().size()) + (kind == schema::RefKind::Item ? 0 : 1)).toLongLong());
}

Status
DataStore::readClasses(const QString &name, bool count, const QString &what,
                       const std::function<Status(const QString &stored, qint64 classes)> &onStart,
                       const std::function<Status(const StoredClass &)> &onClass) const
{
    Transaction snapshot(mDb);
    if (Status s = snapshot.beginRead(what); !s)
        return s;
    const Result<QString> stored = storedPackageName(name);
    if (!stored)
        return Status::failure(what + QLatin1Char('\n') + stored.message());
    QSqlQuery query;
    qint64 classes = 0;
    if (count) {
        if (Status s = mDb.exec(
                query, QStringLiteral("SELECT count(*) FROM classdef WHERE ") + nameFilter(),
                {*stored}, what);
            !s)
            return s;
        classes = query.next() ? query.value(0).toLongLong() : 0;
    }
    if (Status s = onStart(*stored, classes); !s)
        return s;
    if (Status s =
            mDb.exec(query,
                     QStringLiteral("SELECT %1, %2, %3 FROM classdef WHERE %4 "
                                    "ORDER BY class_num, rowid")
                         .arg(schema::joined(StoredClass::columns()),
                              flagMask(schema::RefKind::Item, kItemBoxes),
                              flagMask(schema::RefKind::Special, kSpecialBoxes), nameFilter()),
                     {*stored}, what);
        !s)
        return s;
    const StoredClass row(query);
    while (query.next())
        if (Status s = onClass(row); !s)
            return s;
    if (query.lastError().isValid())
        return mDb.failure(what, query);
    return Status::success();
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
