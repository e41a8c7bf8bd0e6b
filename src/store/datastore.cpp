// SPDX-License-Identifier: GPL-3.0-or-later
#include "store/datastore.h"

#include "classfile/linecodec.h"
#include "store/historylog.h"
#include "store/schema.h"
#include "store/textrules.h"

#include <QHash>

#include <algorithm>
#include <cmath>
#include <limits>

namespace tarn
{

namespace
{

QString namesSql(const Database &db)
{
    return QStringLiteral("SELECT package_name FROM package ORDER BY %1, rowid")
        .arg(db.noCaseOrder(QStringLiteral("package_name")));
}

} // namespace

Status DataStore::open(const QString &path, const FirstReads &first)
{
    if (Status s = mDb.open(path); !s)
        return s;
    mDb.setWriteLock(1);
    QStringList reads;
    if (first.names)
        reads << namesSql(mDb);
    for (const schema::RefKind kind : first.refs)
        reads << RefStore::selectSql(mDb, kind, false);
    mDb.engine().readWithCatalog(reads, first.follow);
    const FirstWrite &write = first.write;
    // A name the command refuses before it begins is not sent.
    if (write.kind == FirstWrite::Delete) {
        const auto [sql, values] = deleteRowSql(write.name);
        mDb.engine().writeWithCatalog(mDb.engine().beginWrite(1, {}), sql, values);
    } else if (write.kind != FirstWrite::None && checkNewName(write.name)) {
        const auto [sql, values] =
            claimSql(write.name, write.kind == FirstWrite::Copy ? write.source : QString());
        mDb.engine().writeWithCatalog(mDb.engine().beginWrite(1, {}), sql, values);
    }
    return mDb.requireTables(schema::dataFileNeeds());
}

Status DataStore::forEachPackageName(const std::function<void(const QString &)> &onName)
{
    Query query;
    const QString what = QStringLiteral("Could not read the list of configurations.");
    if (Status s = mDb.exec(query, namesSql(mDb), {}, what); !s)
        return s;
    while (query.next())
        onName(query.value(0).toString());
    return mDb.failure(what, query.error());
}

Result<QStringList> DataStore::packageNames()
{
    QStringList names;
    if (Status s = forEachPackageName([&names](const QString &name) { names << name; }); !s)
        return s;
    return names;
}

Result<bool> DataStore::packageExists(const QString &name)
{
    Query query;
    if (Status s = mDb.exec(
            query, QStringLiteral("SELECT count(*) FROM package WHERE ") + mDb.nameFilter(), {name},
            QStringLiteral("Could not look up the configuration '%1'.").arg(shownText(name)));
        !s)
        return s;
    return query.next() && query.value(0).toLongLong() > 0;
}

QString DataStore::storedNameSql() const
{
    return QStringLiteral("SELECT package_name FROM package WHERE %1 ORDER BY rowid LIMIT 1")
        .arg(mDb.nameFilter());
}

Result<QString> DataStore::storedPackageName(const QString &name)
{
    Query query;
    if (Status s = mDb.exec(
            query, storedNameSql(), {name},
            QStringLiteral("Could not look up the configuration '%1'.").arg(shownText(name)));
        !s)
        return s;
    if (!query.next())
        return Status::failure(
            Fault::NotFound,
            QStringLiteral("There is no configuration named '%1'.").arg(shownText(name)));
    return query.value(0).toString();
}

Result<bool> DataStore::changedElsewhere()
{
    return mDb.changedElsewhere();
}

Result<std::optional<QString>> DataStore::storedModId()
{
    if (!keepsSettings())
        return std::optional<QString>();
    // Every setting, picked here: a statement without values takes one round
    // trip where a bound one takes three.
    Query query;
    if (Status s = mDb.exec(
            query,
            QStringLiteral("SELECT name, value FROM %1").arg(QLatin1String(schema::kSettingsTable)),
            {}, QStringLiteral("Could not read the Mod ID."));
        !s)
        return s;
    while (query.next())
        if (query.value(0).toString() == QLatin1String("mod_id"))
            return query.value(1).isNull() ? std::optional<QString>()
                                           : std::optional<QString>(query.value(1).toString());
    return std::optional<QString>();
}

Status DataStore::storeModId(const QString &modId)
{
    const QString what = QStringLiteral("The Mod ID was not saved.");
    Transaction tx(mDb);
    if (Status s = tx.begin(what); !s)
        return s;
    const QString table = QLatin1String(schema::kSettingsTable);
    if (historylog::kept(mDb)) {
        // The value it replaces, read by the statement itself.
        Change change;
        change.kind = Change::ModId;
        change.column = QStringLiteral("mod_id");
        change.after = modId;
        if (Status s = historylog::record(
                mDb, {change}, what, 0,
                QStringLiteral("(SELECT 't' || value FROM %1 WHERE name = 'mod_id')").arg(table));
            !s)
            return s;
    }
    if (Status s = mDb.exec(QStringLiteral("DELETE FROM %1 WHERE name = ?").arg(table),
                            {QStringLiteral("mod_id")}, what);
        !s)
        return s;
    if (Status s = mDb.exec(QStringLiteral("INSERT INTO %1 (name, value) VALUES (?, ?)").arg(table),
                            {QStringLiteral("mod_id"), modId}, what);
        !s)
        return s;
    return tx.commit(what);
}

Status DataStore::recordModId(const QString &before, const QString &after,
                              const std::function<Status(const QString &)> &write)
{
    const QString what = QStringLiteral("The Mod ID was not saved.");
    if (!historylog::kept(mDb))
        return write(after);
    Transaction tx(mDb);
    if (Status s = tx.begin(what); !s)
        return s;
    // The file first, so that its own failure is the one told; a record that
    // then fails puts the file back.
    if (Status s = write(after); !s)
        return s;
    Change change;
    change.kind = Change::ModId;
    change.column = QStringLiteral("mod_id");
    change.before = before;
    change.after = after;
    Status recorded = historylog::record(mDb, {change}, what);
    if (recorded)
        recorded = tx.commit(what);
    if (!recorded)
        write(before);
    return recorded;
}

Status DataStore::checkNewName(const QString &name) const
{
    if (name.isEmpty())
        return Status::failure(Fault::Refused, QStringLiteral("The configuration name is empty."));
    // Line 2 of the class file carries the name.
    if (Status s = checkLineText(QStringLiteral("The configuration name"), name,
                                 qsizetype(classfile::kMaxLineLength));
        !s)
        return s;
    if (const qsizetype most = mDb.maxNameLength(); most > 0 && name.size() > most)
        return Status::failure(
            Fault::Refused,
            QStringLiteral("The configuration name is %1 characters long; a database on a server "
                           "holds names of at most %2.")
                .arg(QString::number(name.size()), QString::number(most)));
    return Status::success();
}

namespace
{

Status nameTaken(const QString &name)
{
    return Status::failure(
        Fault::Exists,
        QStringLiteral("A configuration named '%1' exists already. Choose another name.")
            .arg(shownText(name)));
}

} // namespace

Status DataStore::refuseExisting(const QString &name)
{
    Result<bool> exists = packageExists(name);
    if (!exists)
        return exists.status();
    if (*exists)
        return nameTaken(name);
    return Status::success();
}

std::pair<QString, QVariantList> DataStore::claimSql(const QString &name,
                                                     const QString &source) const
{
    // The checks and the row in one statement: a round trip each less on a server.
    QString sql = QStringLiteral("INSERT INTO package (package_name) SELECT CAST(? AS TEXT) "
                                 "WHERE NOT EXISTS (SELECT 1 FROM package WHERE %1)")
                      .arg(mDb.nameFilter());
    QVariantList values{name, name};
    if (!source.isNull()) {
        sql += QStringLiteral(" AND EXISTS (SELECT 1 FROM package WHERE %1)").arg(mDb.nameFilter());
        values << source;
    }
    return {sql, values};
}

Status DataStore::claimNewName(const QString &name, const QString &what, const QString &source,
                               bool later)
{
    const auto [sql, values] = claimSql(name, source);
    if (later && source.isNull()) {
        // The statement refuses a taken name itself, with whatever follows
        // it in the transaction: no exchange of its own.
        const Status taken = nameTaken(name);
        if (Status s = mDb.engine().runLaterOrFail(sql, values, taken); !s)
            return s.fault() == taken.fault() && s.message() == taken.message()
                       ? s
                       : mDb.failure(what, s);
    } else {
        Query query;
        if (Status s = mDb.exec(query, sql, values, what); !s)
            return s;
        if (query.affected() < 1) {
            if (!source.isNull()) {
                Result<bool> sourceExists = packageExists(source);
                if (!sourceExists)
                    return sourceExists.status();
                if (!*sourceExists)
                    return Status::failure(Fault::NotFound,
                                           QStringLiteral("There is no configuration named '%1'.")
                                               .arg(shownText(source)));
            }
            return refuseExisting(name);
        }
    }
    // Classes left without their configuration, by a Delete or by older
    // versions: nothing reaches them, and they must not join the new
    // configuration. A Delete's go to the history first.
    if (Status s = settleKept(name, what); !s)
        return s;
    return mDb.execLater(QStringLiteral("DELETE FROM classdef WHERE ") + mDb.nameFilter(), {name},
                         what);
}

Status DataStore::createPackage(const QString &name)
{
    return storeNewPackage(
        name, QStringLiteral("Could not add the configuration '%1'.").arg(shownText(name)),
        [](classfile::ClassRecord &) { return Result<bool>(false); }, Change::NewPackage, {});
}

Status DataStore::createPackage(const QString &name, const QString &what, const ClassSource &source,
                                const QString &file)
{
    return storeNewPackage(name, what, source, Change::ImportPackage, file);
}

namespace
{

// The classdef columns a class read from a file fills, in the order
// storeClass() gives them.
const QStringList &importColumns()
{
    static const QStringList columns = [] {
        using schema::RefKind;
        QStringList names{QStringLiteral("package_name"), QStringLiteral("class_name"),
                          QStringLiteral("class_num"),    QStringLiteral("skin_name1"),
                          QStringLiteral("skin_name2"),   QStringLiteral("model_name")};
        for (int k = 1; k <= schema::slotCount(RefKind::Weapon); ++k)
            names << schema::slotColumn(RefKind::Weapon, k);
        for (int k = 1; k <= schema::slotCount(RefKind::Grenade); ++k)
            names << schema::slotColumn(RefKind::Grenade, k);
        names << QStringLiteral("max_speed") << QStringLiteral("max_health")
              << QStringLiteral("max_armor");
        for (int k = 1; k <= schema::flagCount(RefKind::Item); ++k)
            names << schema::flagColumn(RefKind::Item, k);
        for (int k = 1; k <= schema::flagCount(RefKind::Special); ++k)
            names << schema::flagColumn(RefKind::Special, k);
        names << QStringLiteral("decoyskin");
        for (const schema::AmmoColumn &a : schema::ammoColumns())
            names << QLatin1String(a.name);
        return names;
    }();
    return columns;
}

// Latin-1 bytes (one a character) as UTF-8, the databases' text.
void latin1ToUtf8(const std::string &latin1, std::string &utf8)
{
    utf8.clear();
    for (const char byte : latin1) {
        const auto c = static_cast<unsigned char>(byte);
        if (c < 0x80) {
            utf8 += byte;
        } else {
            utf8 += char(0xC0 | (c >> 6));
            utf8 += char(0x80 | (c & 0x3F));
        }
    }
}

// One class of an import as a row of importColumns().
Status storeClass(RowWriter &row, const std::string &package, int number,
                  const classfile::ClassRecord &r, std::string &scratch)
{
    using schema::RefKind;
    auto text = [&](const std::string &latin1) {
        // Most names are ASCII, which is UTF-8 as it stands.
        if (std::all_of(latin1.begin(), latin1.end(),
                        [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
            return row.text(latin1);
        latin1ToUtf8(latin1, scratch);
        row.text(scratch);
    };
    row.text(package);
    text(r.name);
    row.whole(number);
    text(r.skin1);
    text(r.skin2);
    text(r.model);
    row.wholes(r.weapons);
    row.wholes(r.grenades);
    row.whole(r.speed);
    row.whole(r.health);
    row.whole(r.armor);
    static const int items = schema::flagCount(RefKind::Item),
                     specials = schema::flagCount(RefKind::Special);
    row.bits(std::uint32_t(r.itemSum), items);
    row.bits(std::uint32_t(r.specialSum), specials);
    row.whole(r.decoySkin);
    row.wholes(r.ammo);
    return row.endRow();
}

// A file's text may hold NUL, which a server's text cannot: refused by field
// and class rather than in the engine's words.
Status refuseNul(const classfile::ClassRecord &r, int number)
{
    for (const auto &[column, value] : {std::pair{"class_name", &r.name},
                                        {"skin_name1", &r.skin1},
                                        {"skin_name2", &r.skin2},
                                        {"model_name", &r.model}})
        if (value->find('\0') != std::string::npos)
            return Status::failure(
                Fault::Refused,
                QStringLiteral("%1 of class %2 ('%3') holds the character \\x00, which a database "
                               "on a server cannot store.")
                    .arg(schema::fieldLabel(QLatin1String(column)), QString::number(number),
                         shownText(QString::fromLatin1(r.name))));
    return Status::success();
}

// The flag columns 1..count of a kind as one number, bit k - 1 for flag k:
// two values a row instead of 39 keeps a long export close to the engine's speed.
QString flagMask(Database &db, schema::RefKind kind, qsizetype count)
{
    QStringList bits;
    for (qsizetype k = 1; k <= count; ++k)
        bits << db.engine().flagBit(schema::flagColumn(kind, int(k)), int(k - 1));
    return bits.join(QStringLiteral(" | "));
}

} // namespace

Status DataStore::storeNewPackage(const QString &name, const QString &what,
                                  const ClassSource &source, Change::Kind kind,
                                  const QString &detail)
{
    if (Status s = checkNewName(name); !s)
        return s;
    Transaction tx(mDb);
    if (Status s = tx.begin(what); !s)
        return s;
    // An import's checks, record and rows go to a server in one exchange and
    // its COMMIT with their end.
    const bool import = kind == Change::ImportPackage;
    if (Status s = claimNewName(name, what, {}, import); !s)
        return s;
    // A taken name shows where the deferred claim went, as its own refusal.
    const Status taken = nameTaken(name);
    const auto told = [&taken](const Status &s) {
        return s.fault() == taken.fault() && s.message().endsWith(taken.message()) ? taken : s;
    };
    const auto failed = [&](const Status &s) {
        return told(mDb.failure(what, s));
    };
    // One record: before it, the configuration did not exist.
    if (historylog::kept(mDb)) {
        Change change;
        change.kind = kind;
        change.package = name;
        change.detail = detail;
        if (Status s = historylog::record(mDb, {change}, what); !s)
            return s;
    }
    Result<std::unique_ptr<RowWriter>> rows =
        mDb.engine().writeRows(QStringLiteral("classdef"), importColumns(), true);
    if (!rows)
        return failed(rows.status());
    const std::string package = name.toStdString();
    const bool checkNul = mDb.shared();
    std::string scratch;
    classfile::ClassRecord record;
    for (int number = 1;; ++number) {
        const Result<bool> more = source(record);
        if (!more)
            return more.status();
        if (!*more)
            break;
        if (checkNul)
            if (Status s = refuseNul(record, number); !s)
                return s.under(what);
        if (Status s = storeClass(**rows, package, number, record, scratch); !s)
            return failed(s);
    }
    tx.aboutToCommit();
    if (Status s = (*rows)->finish(); !s)
        return failed(s);
    rows->reset();
    return told(tx.commit(what));
}

Status DataStore::writeClasses(const QString &name, const QString &what,
                               const std::function<Result<QList<ClassWrite>>()> &plan)
{
    Transaction tx(mDb);
    if (Status s = tx.begin(what); !s)
        return s;
    const Result<QString> stored = storedPackageName(name);
    if (!stored)
        return stored.status().under(what);
    const Result<QList<ClassWrite>> writes = plan();
    if (!writes)
        return writes.status();
    if (writes->isEmpty())
        return Status::success();
    // classdef has no index on the class number: each write finds its rows by
    // key, those of the numbers written taken in one bulk read.
    QHash<qint64, QList<qint64>> keys;
    for (const ClassWrite &write : *writes)
        if (write.kind != ClassWrite::Insert)
            keys.insert(write.classNum, {});
    if (!keys.isEmpty()) {
        Result<std::unique_ptr<RowReader>> rows = mDb.engine().readRows(
            QStringLiteral("SELECT class_num, rowid FROM classdef WHERE ") + mDb.nameFilter(),
            {*stored});
        if (!rows)
            return mDb.failure(what, rows.status());
        for (;;) {
            const Result<bool> next = (*rows)->next();
            if (!next)
                return mDb.failure(what, next.status());
            if (!*next)
                break;
            const std::optional<long long> number = (*rows)->whole(0);
            const std::optional<long long> key = (*rows)->whole(1);
            if (const auto found = number ? keys.find(*number) : keys.end();
                found != keys.end() && key)
                *found << *key;
        }
    }
    // The names go into the statements: only the table's own are taken.
    const QStringList known = schema::classdefColumnNames();
    const bool keeps = historylog::kept(mDb);
    for (const ClassWrite &write : *writes) {
        for (const QString &column : write.columns)
            if (!known.contains(column))
                return Status::failure(
                    Fault::Refused,
                    what + QStringLiteral("\nThere is no class column '%1'.").arg(column));
        if (write.kind == ClassWrite::Insert) {
            const QString columns = schema::joined(write.columns);
            const QString values = schema::placeholders(write.columns.size());
            if (Status s = mDb.exec(QStringLiteral("INSERT INTO classdef (package_name, %1) "
                                                   "VALUES (?, %2)")
                                        .arg(columns, values),
                                    QVariantList{*stored} + write.values, what);
                !s)
                return s;
            if (keeps) {
                // The class as stored: the columns not given take the same defaults.
                const qint64 keep = historylog::newKeep();
                if (Status s =
                        mDb.execLater(QStringLiteral("INSERT INTO %1 (kept, package_name, %2) "
                                                     "VALUES (?, ?, %3)")
                                          .arg(QLatin1String(schema::kKeptTable), columns, values),
                                      QVariantList{keep, *stored} + write.values, what);
                    !s)
                    return s;
                RowValues row{write.columns, write.values};
                Change change;
                change.kind = Change::AddClass;
                change.package = *stored;
                change.table = QStringLiteral("classdef");
                // An insert names its number among its columns.
                change.rowKey = row.value(QStringLiteral("class_num")).toLongLong();
                change.rowName = row.value(QStringLiteral("class_name")).toString();
                if (Status s = historylog::record(mDb, {change}, what, keep); !s)
                    return s;
            }
            continue;
        }
        QStringList sets;
        for (const QString &column : write.columns)
            sets << column + QStringLiteral(" = ?");
        const QString sql = write.kind == ClassWrite::Delete
                                ? QStringLiteral("DELETE FROM classdef WHERE rowid = ?")
                                : QStringLiteral("UPDATE classdef SET %1 WHERE rowid = ?")
                                      .arg(sets.join(QStringLiteral(", ")));
        for (const qint64 key : keys.value(write.classNum)) {
            if (keeps && write.kind == ClassWrite::Delete) {
                const qint64 keep = historylog::newKeep();
                if (Status s = historylog::keepClasses(mDb, keep, QStringLiteral("rowid = ?"),
                                                       {key}, what);
                    !s)
                    return s;
                if (Status s =
                        historylog::recordRow(mDb, Change::DeleteClass, key, {}, {}, keep, what);
                    !s)
                    return s;
            } else if (keeps) {
                for (qsizetype i = 0; i < write.columns.size(); ++i)
                    if (Status s =
                            historylog::recordRow(mDb, Change::Field, key, write.columns.at(i),
                                                  write.values.value(i), 0, what);
                        !s)
                        return s;
            }
            if (Status s = mDb.exec(sql, write.values + QVariantList{key}, what); !s)
                return s;
        }
    }
    return tx.commit(what);
}

StoredClass::StoredClass(const RowReader &row, const QStringList &columns)
    : mRow(row), mColumns(columns)
{
    mText.reserve(size_t(columns.size()));
    const auto all = schema::classdefColumns();
    for (const QString &column : columns) {
        const auto found = std::find_if(all.begin(), all.end(), [&column](const schema::Column &c) {
            return column == QLatin1String(c.name);
        });
        mText.push_back(found != all.end() && found->kind == schema::Kind::Text);
    }
}

const QStringList &StoredClass::columns()
{
    static const QStringList columns = schema::exportColumns();
    return columns;
}

std::string_view StoredClass::utf8(int column) const
{
    return mRow.text(column); // NULL reads as empty
}

bool StoredClass::isNull(int column) const
{
    return mRow.isNull(column);
}

QString StoredClass::text(int column) const
{
    const std::string_view text = utf8(column);
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

std::optional<qint64> StoredClass::integer(int column) const
{
    if (mText[size_t(column)])
        return std::nullopt;
    return mRow.whole(column);
}

QVariant StoredClass::value(int column) const
{
    if (const std::optional<qint64> n = integer(column))
        return qlonglong(*n);
    if (mRow.isNull(column))
        return {};
    const QString stored = text(column);
    bool ok = false;
    const double d = mText[size_t(column)] ? 0 : stored.toDouble(&ok);
    return ok ? QVariant(d) : QVariant(stored);
}

Result<qint16> StoredClass::whole(int column) const
{
    if (const std::optional<qint64> n = integer(column);
        n && *n >= std::numeric_limits<qint16>::min() && *n <= std::numeric_limits<qint16>::max())
        return qint16(*n);
    // Named only on failure: the label costs more than the value.
    auto field = [this, column] {
        return schema::fieldLabel(mColumns.at(column));
    };
    const QVariant value = this->value(column);
    if (value.isNull() || value.toString().isEmpty())
        return Status::failure(Fault::Refused, field() + QStringLiteral(" is empty"));
    bool ok = false;
    const double d = value.toDouble(&ok);
    if (!ok || d != std::floor(d) || d < std::numeric_limits<qint16>::min() ||
        d > std::numeric_limits<qint16>::max())
        return Status::failure(
            Fault::Refused, QStringLiteral("%1 holds '%2', not a whole number from -32768 to 32767")
                                .arg(field(), value.toString()));
    return qint16(d);
}

quint64 StoredClass::flags(schema::RefKind kind) const
{
    const int column = int(mColumns.size()) + (kind == schema::RefKind::Item ? 0 : 1);
    return quint64(mRow.whole(column).value_or(0));
}

Status DataStore::readSnapshot(const QString &name, const QStringList &columns,
                               const QStringList &more, bool count, bool inOrder,
                               const QString &what,
                               const std::function<Status(const QString &, qint64)> &onStart,
                               const std::function<Status(const StoredClass &)> &onClass)
{
    Transaction snapshot(mDb);
    if (Status s = snapshot.beginRead(what); !s)
        return s;
    // The name as stored, the count and the rows go to a server in one
    // exchange: each picks by the name as given, which matches the rows of the
    // name as stored. In bulk: the rows of a long read need no QVariant per
    // value. Sorting by class_num, which has no index, costs about as much as
    // the read.
    const QString counting =
        QStringLiteral("SELECT count(*) FROM classdef WHERE ") + mDb.nameFilter();
    mDb.engine().askAhead(storedNameSql(), {name});
    if (count)
        mDb.engine().askAhead(counting, {name});
    const QString order =
        inOrder
            ? QStringLiteral(" ORDER BY %1, rowid").arg(mDb.nullsFirst(QStringLiteral("class_num")))
            : QString();
    const QString select = QStringLiteral("SELECT %1 FROM classdef WHERE %2%3")
                               .arg(schema::joined(columns + more), mDb.nameFilter(), order);
    // The read that follows, of the same shape, goes with this one.
    if (!mNextReads.isEmpty() && mNextReads.first() == name)
        mNextReads.removeFirst();
    else
        mNextReads.clear();
    if (!mNextReads.isEmpty()) {
        const QString &next = mNextReads.first();
        QList<std::pair<QString, QVariantList>> asks{{storedNameSql(), {next}}};
        if (count)
            asks.append({counting, {next}});
        mDb.engine().readNext(mDb.engine().beginRead({}), asks, select, {next});
    }
    Result<std::unique_ptr<RowReader>> rows = mDb.engine().readRows(select, {name}, true);
    if (!rows)
        return mDb.failure(what, rows.status());
    // A missing configuration's refusal says all by itself.
    const Result<QString> stored = storedPackageName(name);
    if (!stored)
        return stored.fault() == Fault::NotFound ? stored.status() : stored.status().under(what);
    qint64 classes = 0;
    if (count) {
        Query query;
        if (Status s = mDb.exec(query, counting, {name}, what); !s)
            return s;
        classes = query.next() ? query.value(0).toLongLong() : 0;
    }
    if (Status s = onStart(*stored, classes); !s)
        return s;
    const StoredClass row(**rows, columns);
    const int fields = int(columns.size() + more.size());
    for (;;) {
        const Result<bool> next = (*rows)->next();
        if (!next)
            return mDb.failure(what, next.status());
        if (!*next)
            return Status::success();
        if ((*rows)->fields() != fields)
            return Status::failure(Fault::Damaged,
                                   what + QStringLiteral("\nThe database sent a row of %1 fields, "
                                                         "not %2.")
                                              .arg((*rows)->fields())
                                              .arg(fields));
        if (Status s = onClass(row); !s)
            return s;
    }
}

Status
DataStore::readClasses(const QString &name, bool count, const QString &what,
                       const std::function<Status(const QString &stored, qint64 classes)> &onStart,
                       const std::function<Status(const StoredClass &)> &onClass)
{
    return readSnapshot(name, StoredClass::columns(),
                        {flagMask(mDb, schema::RefKind::Item, kItemBoxes),
                         flagMask(mDb, schema::RefKind::Special, kSpecialBoxes)},
                        count, true, what, onStart, onClass);
}

Status DataStore::readClassColumns(const QString &name, const QStringList &columns,
                                   const QString &what,
                                   const std::function<Status(const StoredClass &)> &onClass,
                                   bool inOrder)
{
    // The names go into the statement: only the table's own are taken.
    const QStringList known = schema::classdefColumnNames();
    for (const QString &column : columns)
        if (!known.contains(column))
            return Status::failure(
                Fault::Refused,
                what + QStringLiteral("\nThere is no class column '%1'.").arg(column));
    return readSnapshot(
        name, columns, {}, false, inOrder, what,
        [](const QString &, qint64) { return Status::success(); }, onClass);
}

Status DataStore::deletePackage(const QString &name)
{
    const QString what =
        QStringLiteral("Could not delete the configuration '%1'.").arg(shownText(name));
    Transaction tx(mDb);
    if (Status s = tx.begin(what); !s)
        return s;
    // One package row goes (the first of duplicates an older file may hold),
    // then every class filed under the name. Where the history is kept, the
    // classes stay where they are, unreachable without their configuration,
    // until the name is taken again (settleKept): the Delete costs no more
    // than without a history.
    Query query;
    const auto [sql, values] = deleteRowSql(name);
    if (Status s = mDb.exec(query, sql, values, what); !s)
        return s;
    if (query.affected() < 1)
        return Status::failure(
            Fault::NotFound,
            QStringLiteral("There is no configuration named '%1'.").arg(shownText(name)));
    // The record after the row, so that the row's statement can be the
    // transaction's first, which a server may have begun at open.
    const bool keeps = historylog::kept(mDb);
    const qint64 keep = keeps ? historylog::newKeep() : 0;
    if (keeps) {
        Change change;
        change.kind = Change::DeletePackage;
        change.package = name;
        if (Status s = historylog::record(mDb, {change}, what, keep); !s)
            return s;
    }
    // A duplicate row of the name that an older file holds keeps the name
    // taken: its classes go as before, kept when the history is.
    const QString another =
        QStringLiteral(" AND EXISTS (SELECT 1 FROM package WHERE %1)").arg(mDb.nameFilter());
    if (keeps)
        if (Status s =
                historylog::keepClasses(mDb, keep, mDb.nameFilter() + another, {name, name}, what);
            !s)
            return s;
    if (Status s = mDb.execLater(QStringLiteral("DELETE FROM classdef WHERE ") + mDb.nameFilter() +
                                     (keeps ? another : QString()),
                                 keeps ? QVariantList{name, name} : QVariantList{name}, what);
        !s)
        return s;
    return tx.commit(what);
}

std::pair<QString, QVariantList> DataStore::deleteRowSql(const QString &name) const
{
    return {QStringLiteral("DELETE FROM package WHERE rowid = (SELECT rowid FROM package WHERE "
                           "%1 ORDER BY rowid LIMIT 1)")
                .arg(mDb.nameFilter()),
            {name}};
}

Status DataStore::copyPackage(const QString &source, const QString &target)
{
    if (Status s = checkNewName(target); !s)
        return s;
    const QString what = QStringLiteral("Could not copy the configuration '%1' to '%2'.")
                             .arg(shownText(source), shownText(target));
    Transaction tx(mDb);
    if (Status s = tx.begin(what); !s)
        return s;
    if (Status s = claimNewName(target, what, source); !s)
        return s;
    const QStringList columns = schema::classdefColumnNames();
    const QStringList carried = columns.mid(1);
    const QString sql =
        QStringLiteral("INSERT INTO classdef (%1) SELECT CAST(? AS TEXT), %2 "
                       "FROM classdef WHERE %3 ORDER BY rowid")
            .arg(schema::joined(columns), schema::joined(carried), mDb.nameFilter());
    if (Status s = mDb.execLater(sql, {target, source}, what); !s)
        return s;
    if (historylog::kept(mDb)) {
        Change change;
        change.kind = Change::CopyPackage;
        change.package = target;
        change.detail = source;
        if (Status s = historylog::record(mDb, {change}, what); !s)
            return s;
    }
    return tx.commit(what);
}

Result<int> DataStore::nextClassNumber(const QString &package)
{
    Query query;
    if (Status s = mDb.exec(
            query, QStringLiteral("SELECT max(class_num) FROM classdef WHERE ") + mDb.nameFilter(),
            {package}, QStringLiteral("Could not number the new class."));
        !s)
        return s;
    const QVariant highest = query.next() ? query.value(0) : QVariant();
    if (highest.isNull())
        return 1;
    if (highest.toLongLong() >= 32767)
        return Status::failure(Fault::Refused,
                               QStringLiteral("No class number is left: the highest class number "
                                              "of '%1' is already 32767.")
                                   .arg(shownText(package)));
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
        const auto known = std::ranges::find_if(schema::classdefColumns(), [&](const auto &c) {
            return column == QLatin1String(c.name);
        });
        if (Status s = mDb.exec(QStringLiteral("ALTER TABLE classdef ADD COLUMN ") +
                                    mDb.engine().columnDefinition(*known),
                                {}, what);
            !s)
            return s;
    }
    if (Status s = tx.commit(what); !s)
        return s;
    return added;
}

} // namespace tarn
