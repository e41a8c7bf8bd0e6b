#include "store/datastore.h"

#include "classfile/linecodec.h"
#include "store/schema.h"
#include "store/serverbulk.h"
#include "store/textrules.h"

#include <QSqlDriver>
#include <QSqlError>

#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <charconv>

#include <cmath>
#include <limits>

namespace tarn
{

Status DataStore::open(const QString &path)
{
    if (Status s = mDb.open(path); !s)
        return s;
    mDb.setWriteLock(1);
    return mDb.requireTables(schema::dataFileNeeds());
}

Status DataStore::forEachPackageName(const std::function<void(const QString &)> &onName) const
{
    QSqlQuery query;
    const QString what = QStringLiteral("Could not read the list of configurations.");
    if (Status s = mDb.exec(query,
                            QStringLiteral("SELECT package_name FROM package ORDER BY %1, rowid")
                                .arg(mDb.noCaseOrder(QStringLiteral("package_name"))),
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
    if (Status s = mDb.exec(
            query, QStringLiteral("SELECT count(*) FROM package WHERE ") + mDb.nameFilter(), {name},
            QStringLiteral("Could not look up the configuration '%1'.").arg(shownText(name)));
        !s)
        return s;
    return query.next() && query.value(0).toLongLong() > 0;
}

Result<QString> DataStore::storedPackageName(const QString &name) const
{
    return lookUpPackage(name, {});
}

Result<QString> DataStore::lookUpPackage(const QString &name, const QString &alsoSelect) const
{
    QSqlQuery query;
    if (Status s = mDb.exec(
            query,
            QStringLiteral("SELECT package_name%1 FROM package WHERE %2 "
                           "ORDER BY rowid LIMIT 1")
                .arg(alsoSelect.isEmpty() ? QString() : QStringLiteral(", ") + alsoSelect,
                     mDb.nameFilter()),
            {name},
            QStringLiteral("Could not look up the configuration '%1'.").arg(shownText(name)));
        !s)
        return s;
    if (!query.next())
        return Status::failure(
            QStringLiteral("There is no configuration named '%1'.").arg(shownText(name)));
    return query.value(0).toString();
}

Result<bool> DataStore::changedElsewhere()
{
    // A server tells of other clients' changes as they commit them, once
    // asked to: only a window that shows the configurations follows them.
    if (mDb.onServer()) {
        const QString channel = QLatin1String(schema::kChangedChannel);
        if (mDb.listensTo(channel))
            return mDb.takeNotified(channel);
        if (Status s = mDb.listen(channel); !s)
            return s;
        return false;
    }
    // The engine counts the commits of other connections to the file; its own
    // are not counted, and the window that made them has shown them already.
    QSqlQuery query;
    const QString what = QStringLiteral("Could not check the configurations for changes.");
    if (Status s = mDb.exec(query, QStringLiteral("PRAGMA data_version"), {}, what); !s)
        return s;
    if (!query.next())
        return mDb.failure(what, query);
    const qint64 version = query.value(0).toLongLong();
    const bool changed = mSeenVersion && *mSeenVersion != version;
    mSeenVersion = version;
    return changed;
}

Result<std::optional<QString>> DataStore::storedModId() const
{
    if (!keepsSettings())
        return std::optional<QString>();
    // Every setting, picked here: a statement without values takes one round
    // trip where a bound one takes three.
    QSqlQuery query;
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

Status DataStore::checkNewName(const QString &name) const
{
    if (name.isEmpty())
        return Status::failure(QStringLiteral("The configuration name is empty."));
    // Line 2 of the class file carries the name.
    if (Status s = checkLineText(QStringLiteral("The configuration name"), name,
                                 qsizetype(classfile::kMaxLineLength));
        !s)
        return s;
    // A server's index entry holds at most 2704 bytes: the name in UTF-8
    // (up to two bytes a character here), the class number and the row key.
    constexpr qsizetype serverMax = 1300;
    if (mDb.onServer() && name.size() > serverMax)
        return Status::failure(
            QStringLiteral("The configuration name is %1 characters long; a database on a server "
                           "holds names of at most %2.")
                .arg(QString::number(name.size()), QString::number(serverMax)));
    return Status::success();
}

Status DataStore::refuseExisting(const QString &name) const
{
    Result<bool> exists = packageExists(name);
    if (!exists)
        return exists.status();
    if (*exists)
        return Status::failure(
            QStringLiteral("A configuration named '%1' exists already. Choose another name.")
                .arg(shownText(name)));
    return Status::success();
}

Status DataStore::claimNewName(const QString &name, const QString &what) const
{
    if (Status s = refuseExisting(name); !s)
        return s;
    // Classes left without their configuration by older versions: nothing
    // reaches them, and they must not join the new configuration.
    return mDb.exec(QStringLiteral("DELETE FROM classdef WHERE ") + mDb.nameFilter(), {name}, what);
}

Status DataStore::createPackage(const QString &name)
{
    return createPackage(
        name, QStringLiteral("Could not add the configuration '%1'.").arg(shownText(name)),
        [](classfile::ClassRecord &) { return Result<bool>(false); });
}

namespace
{

// The classdef columns a class read from a file fills, in the order
// ClassInsert binds them.
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

// The engine under the store's connection, for the bulk paths: through QtSql
// each value costs a QVariant (and each bound one a formatted placeholder
// name), several times the engine's own work for a row.
Result<sqlite3 *> engineOf(const Database &db, const QString &what)
{
    const QVariant handle = db.connection().driver()->handle();
    if (handle.isValid() && qstrcmp(handle.typeName(), "sqlite3*") == 0)
        if (sqlite3 *engine = *static_cast<sqlite3 *const *>(handle.constData()))
            return engine;
    return db.failure(what,
                      QSqlError(QString(), QStringLiteral("the database is not open in SQLite"),
                                QSqlError::ConnectionError));
}

// The engine's last failure, as QtSql would have reported it.
Status engineFailure(const Database &db, sqlite3 *engine, const QString &what)
{
    return db.failure(what, QSqlError(QString(), QString::fromUtf8(sqlite3_errmsg(engine)),
                                      QSqlError::StatementError,
                                      QString::number(sqlite3_extended_errcode(engine))));
}

// A statement prepared on the engine, finalized when it goes.
class EngineStatement
{
public:
    EngineStatement() = default;
    ~EngineStatement() { sqlite3_finalize(mStatement); }
    EngineStatement(const EngineStatement &) = delete;
    EngineStatement &operator=(const EngineStatement &) = delete;

    Status prepare(const Database &db, const QString &sql, const QString &what)
    {
        Result<sqlite3 *> engine = engineOf(db, what);
        if (!engine)
            return engine.status();
        mEngine = *engine;
        const QByteArray utf8 = sql.toUtf8();
        if (sqlite3_prepare_v2(mEngine, utf8.constData(), int(utf8.size()), &mStatement, nullptr) !=
            SQLITE_OK)
            return engineFailure(db, mEngine, what);
        return Status::success();
    }
    sqlite3 *engine() const { return mEngine; }
    sqlite3_stmt *get() const { return mStatement; }

private:
    sqlite3 *mEngine = nullptr;
    sqlite3_stmt *mStatement = nullptr;
};

// The INSERT of an import, on the engine (and so inside the store's transaction).
class ClassInsert
{
public:
    explicit ClassInsert(const Database &db) : mDb(db) {}

    Status prepare(const QString &package, const QString &what)
    {
        mPackage = package.toUtf8();
        const QStringList &columns = importColumns();
        return mInsert.prepare(
            mDb,
            QStringLiteral("INSERT INTO classdef (%1) VALUES (%2)")
                .arg(schema::joined(columns), schema::placeholders(columns.size())),
            what);
    }

    Status insert(int number, const classfile::ClassRecord &r, const QString &what)
    {
        using schema::RefKind;
        int column = 0;
        auto text = [&](const std::string &latin1, std::string &utf8) {
            latin1ToUtf8(latin1, utf8);
            // Never a null pointer: an empty field stores the empty text.
            sqlite3_bind_text(mInsert.get(), ++column, utf8.data(), int(utf8.size()),
                              SQLITE_STATIC);
        };
        auto whole = [&](int value) {
            sqlite3_bind_int(mInsert.get(), ++column, value);
        };
        sqlite3_bind_text(mInsert.get(), ++column, mPackage.constData(), int(mPackage.size()),
                          SQLITE_STATIC);
        text(r.name, mText[0]);
        whole(number);
        text(r.skin1, mText[1]);
        text(r.skin2, mText[2]);
        text(r.model, mText[3]);
        for (const std::int16_t id : r.weapons)
            whole(id);
        for (const std::int16_t id : r.grenades)
            whole(id);
        whole(r.speed);
        whole(r.health);
        whole(r.armor);
        for (int k = 1; k <= schema::flagCount(RefKind::Item); ++k)
            whole(r.item(k));
        for (int k = 1; k <= schema::flagCount(RefKind::Special); ++k)
            whole(r.special(k));
        whole(r.decoySkin);
        for (const std::int16_t limit : r.ammo)
            whole(limit);
        Q_ASSERT(column == importColumns().size());
        const int stepped = sqlite3_step(mInsert.get());
        sqlite3_reset(mInsert.get());
        if (stepped != SQLITE_DONE)
            return engineFailure(mDb, mInsert.engine(), what);
        return Status::success();
    }

private:
    const Database &mDb;
    EngineStatement mInsert;
    QByteArray mPackage;
    std::array<std::string, 4> mText; // bound in place until the row is stored
};

// The flag columns 1..count of a kind as one number, bit k - 1 for flag k:
// two values a row instead of 39 keeps a long export close to the engine's speed.
QString flagMask(const Database &db, schema::RefKind kind, qsizetype count)
{
    const QString bit = db.onServer() ? QStringLiteral("(((%1 <> 0) IS TRUE)::int << %2)")
                                      : QStringLiteral("(ifnull(%1 <> 0, 0) << %2)");
    QStringList bits;
    for (qsizetype k = 1; k <= count; ++k)
        bits << bit.arg(schema::flagColumn(kind, int(k))).arg(k - 1);
    return bits.join(QStringLiteral(" | "));
}

// The setting that carries an export's configuration name into its COPY.
constexpr char kExportedPackage[] = "tarn.export_package";

// The INSERT of an import on a server: the rows go in one COPY.
class ServerClassInsert
{
public:
    explicit ServerClassInsert(const Database &db) : mCopy(db) {}

    Status prepare(const QString &package, const QString &what)
    {
        mPackage = package.toStdString();
        return mCopy.start(
            QStringLiteral("COPY classdef (%1) FROM STDIN").arg(schema::joined(importColumns())),
            what);
    }

    Status insert(int number, const classfile::ClassRecord &r, const QString &what)
    {
        using schema::RefKind;
        // A file's text may hold NUL, which a server's text cannot: refused
        // here by field and class rather than in the engine's words.
        for (const auto &[column, value] : {std::pair{"class_name", &r.name},
                                            {"skin_name1", &r.skin1},
                                            {"skin_name2", &r.skin2},
                                            {"model_name", &r.model}})
            if (value->find('\0') != std::string::npos)
                return Status::failure(
                    QStringLiteral("%1\n%2 of class %3 ('%4') holds the character \\x00, which "
                                   "a database on a server cannot store.")
                        .arg(what, schema::fieldLabel(QLatin1String(column)),
                             QString::number(number), shownText(QString::fromLatin1(r.name))));
        auto text = [&](const std::string &latin1) {
            latin1ToUtf8(latin1, mText);
            mCopy.text(mText);
        };
        mCopy.text(mPackage);
        text(r.name);
        mCopy.whole(number);
        text(r.skin1);
        text(r.skin2);
        text(r.model);
        for (const std::int16_t id : r.weapons)
            mCopy.whole(id);
        for (const std::int16_t id : r.grenades)
            mCopy.whole(id);
        mCopy.whole(r.speed);
        mCopy.whole(r.health);
        mCopy.whole(r.armor);
        for (int k = 1; k <= schema::flagCount(RefKind::Item); ++k)
            mCopy.whole(r.item(k));
        for (int k = 1; k <= schema::flagCount(RefKind::Special); ++k)
            mCopy.whole(r.special(k));
        mCopy.whole(r.decoySkin);
        for (const std::int16_t limit : r.ammo)
            mCopy.whole(limit);
        mCopy.endRow();
        return mCopy.flushIfFull(what);
    }

    Status finish(const QString &what) { return mCopy.finish(what); }

private:
    CopyIn mCopy;
    std::string mPackage;
    std::string mText;
};

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
    auto store = [&](auto &insert) {
        if (Status s = insert.prepare(name, what); !s)
            return s;
        classfile::ClassRecord record;
        for (int number = 1;; ++number) {
            const Result<bool> more = source(record);
            if (!more)
                return more.status();
            if (!*more)
                return Status::success();
            if (Status s = insert.insert(number, record, what); !s)
                return s;
        }
    };
    if (mDb.onServer()) {
        ServerClassInsert insert(mDb);
        if (Status s = store(insert); !s)
            return s;
        if (Status s = insert.finish(what); !s)
            return s;
    } else {
        ClassInsert insert(mDb);
        if (Status s = store(insert); !s)
            return s;
    }
    if (Status s =
            mDb.exec(QStringLiteral("INSERT INTO package (package_name) VALUES (?)"), {name}, what);
        !s)
        return s;
    return tx.commit(what);
}

StoredClass::StoredClass(const CopyOut *rows, const QStringList &columns)
    : mCopy(rows), mColumns(columns)
{
    mText.reserve(size_t(columns.size()));
    for (const QString &column : columns) {
        const auto all = schema::classdefColumns();
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
    // NULL reads as empty.
    if (mCopy)
        return mCopy->field(column);
    const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(mRow, column));
    return {text ? text : "", size_t(sqlite3_column_bytes(mRow, column))};
}

QString StoredClass::text(int column) const
{
    const std::string_view text = utf8(column);
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

std::optional<qint64> StoredClass::integer(int column) const
{
    if (mCopy) {
        // A server's number columns hold whole numbers.
        if (mCopy->isNull(column) || mText[size_t(column)])
            return std::nullopt;
        const std::string_view digits = mCopy->field(column);
        qint64 n = 0;
        if (const auto [ptr, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), n);
            ec == std::errc() && ptr == digits.data() + digits.size())
            return n;
        return std::nullopt;
    }
    if (sqlite3_column_type(mRow, column) != SQLITE_INTEGER)
        return std::nullopt;
    return sqlite3_column_int64(mRow, column);
}

QVariant StoredClass::value(int column) const
{
    if (const std::optional<qint64> n = integer(column))
        return qlonglong(*n);
    if (mCopy) {
        if (mCopy->isNull(column))
            return {};
        bool ok = false;
        const double d = mText[size_t(column)] ? 0 : text(column).toDouble(&ok);
        return ok ? QVariant(d) : QVariant(text(column));
    }
    switch (sqlite3_column_type(mRow, column)) {
    case SQLITE_FLOAT:
        return sqlite3_column_double(mRow, column);
    case SQLITE_NULL:
        return {};
    default:
        return text(column);
    }
}

Result<qint16> StoredClass::whole(int column) const
{
    if (const std::optional<qint64> n = integer(column);
        n && *n >= std::numeric_limits<qint16>::min() && *n <= std::numeric_limits<qint16>::max())
        return qint16(*n);
    // Named only on failure: the label costs more than the value.
    const QVariant value = this->value(column);
    auto field = [this, column] {
        return schema::fieldLabel(mColumns.at(column));
    };
    const bool isText = value.typeId() == QMetaType::QString;
    if (value.isNull() || (isText && value.toString().isEmpty()))
        return Status::failure(field() + QStringLiteral(" is empty"));
    bool ok = false;
    const double d = value.toDouble(&ok);
    if (!ok || d != std::floor(d) || d < std::numeric_limits<qint16>::min() ||
        d > std::numeric_limits<qint16>::max())
        return Status::failure(
            QStringLiteral("%1 holds '%2', not a whole number from -32768 to 32767")
                .arg(field(), value.toString()));
    return qint16(d);
}

quint64 StoredClass::flags(schema::RefKind kind) const
{
    const int column = int(mColumns.size()) + (kind == schema::RefKind::Item ? 0 : 1);
    if (mCopy) {
        const std::string_view digits = mCopy->field(column);
        quint64 mask = 0;
        std::from_chars(digits.data(), digits.data() + digits.size(), mask);
        return mask;
    }
    return quint64(sqlite3_column_int64(mRow, column));
}

Result<QString> DataStore::beginSnapshot(Transaction &snapshot, const QString &name,
                                         const QString &what, const QString &alsoSelect) const
{
    if (Status s = snapshot.beginRead(what); !s)
        return s;
    const Result<QString> stored = lookUpPackage(name, alsoSelect);
    if (!stored)
        return Status::failure(what + QLatin1Char('\n') + stored.message());
    return stored;
}

Result<QString> DataStore::beginClassRead(Transaction &snapshot, const QString &name,
                                          const QString &what) const
{
    // On a server, COPY streams the rows as the server makes them but takes
    // no bound values: the name reaches it as a setting of the snapshot's
    // transaction, set as the name is looked up. The planner is steered to the
    // index that holds the rows in class number order, rather than sorting
    // them all before the first is sent; a database made before that index
    // sorts in memory. The steering's cost estimate must not start the JIT
    // compiler, which takes longer than the whole read.
    return beginSnapshot(
        snapshot, name, what,
        mDb.onServer()
            ? QStringLiteral("set_config('%1', package_name, true), "
                             "set_config('enable_sort', 'off', true), set_config('jit', 'off', "
                             "true), set_config('work_mem', '32MB', true)")
                  .arg(QLatin1String(kExportedPackage))
            : QString());
}

Status DataStore::streamClasses(const QString &stored, const QStringList &columns,
                                const QStringList &more, const QString &what,
                                const std::function<Status(const StoredClass &)> &onClass) const
{
    const QString select = schema::joined(columns + more);
    const QString order = mDb.nullsFirst(QStringLiteral("class_num"));
    if (mDb.onServer()) {
        CopyOut rows(mDb);
        if (Status s = rows.start(
                QStringLiteral("COPY (SELECT %1 FROM classdef WHERE %2 ORDER BY %3, rowid) "
                               "TO STDOUT")
                    .arg(select,
                         mDb.nameFilter(QStringLiteral("current_setting('%1')")
                                            .arg(QLatin1String(kExportedPackage))),
                         order),
                what);
            !s)
            return s;
        const StoredClass row(&rows, columns);
        const int fields = int(columns.size() + more.size());
        for (;;) {
            const Result<bool> next = rows.next(what);
            if (!next)
                return next.status();
            if (!*next)
                return Status::success();
            if (rows.fields() != fields)
                return Status::failure(what + QStringLiteral("\nThe server sent a row of %1 "
                                                             "fields, not %2.")
                                                  .arg(rows.fields())
                                                  .arg(fields));
            if (Status s = onClass(row); !s)
                return s;
        }
    }
    // On the engine: the rows of a long read need no QVariant per value.
    EngineStatement statement;
    if (Status s =
            statement.prepare(mDb,
                              QStringLiteral("SELECT %1 FROM classdef WHERE %2 ORDER BY %3, rowid")
                                  .arg(select, mDb.nameFilter(), order),
                              what);
        !s)
        return s;
    const QByteArray package = stored.toUtf8();
    sqlite3_bind_text(statement.get(), 1, package.constData(), int(package.size()), SQLITE_STATIC);
    const StoredClass row(statement.get(), columns);
    int stepped;
    while ((stepped = sqlite3_step(statement.get())) == SQLITE_ROW)
        if (Status s = onClass(row); !s)
            return s;
    if (stepped != SQLITE_DONE)
        return engineFailure(mDb, statement.engine(), what);
    return Status::success();
}

Status
DataStore::readClasses(const QString &name, bool count, const QString &what,
                       const std::function<Status(const QString &stored, qint64 classes)> &onStart,
                       const std::function<Status(const StoredClass &)> &onClass) const
{
    Transaction snapshot(mDb);
    const Result<QString> stored = beginClassRead(snapshot, name, what);
    if (!stored)
        return stored.status();
    QSqlQuery query;
    qint64 classes = 0;
    if (count) {
        if (Status s = mDb.exec(
                query, QStringLiteral("SELECT count(*) FROM classdef WHERE ") + mDb.nameFilter(),
                {*stored}, what);
            !s)
            return s;
        classes = query.next() ? query.value(0).toLongLong() : 0;
        query = QSqlQuery(); // done with, before the engine is reached below it
    }
    if (Status s = onStart(*stored, classes); !s)
        return s;
    return streamClasses(*stored, StoredClass::columns(),
                         {flagMask(mDb, schema::RefKind::Item, kItemBoxes),
                          flagMask(mDb, schema::RefKind::Special, kSpecialBoxes)},
                         what, onClass);
}

Status DataStore::readClassColumns(const QString &name, const QStringList &columns,
                                   const QString &what,
                                   const std::function<Status(const StoredClass &)> &onClass) const
{
    // The names go into the statement: only the table's own are taken.
    const QStringList known = schema::classdefColumnNames();
    for (const QString &column : columns)
        if (!known.contains(column))
            return Status::failure(what +
                                   QStringLiteral("\nThere is no class column '%1'.").arg(column));
    Transaction snapshot(mDb);
    const Result<QString> stored = beginClassRead(snapshot, name, what);
    if (!stored)
        return stored.status();
    return streamClasses(*stored, columns, {}, what, onClass);
}

Status DataStore::deletePackage(const QString &name)
{
    const QString what =
        QStringLiteral("Could not delete the configuration '%1'.").arg(shownText(name));
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
                                .arg(mDb.nameFilter()),
                            {name}, what);
        !s)
        return s;
    if (query.numRowsAffected() < 1)
        return Status::failure(
            QStringLiteral("There is no configuration named '%1'.").arg(shownText(name)));
    if (Status s = mDb.exec(QStringLiteral("DELETE FROM classdef WHERE ") + mDb.nameFilter(),
                            {name}, what);
        !s)
        return s;
    return tx.commit(what);
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
    Result<bool> sourceExists = packageExists(source);
    if (!sourceExists)
        return sourceExists.status();
    if (!*sourceExists)
        return Status::failure(
            QStringLiteral("There is no configuration named '%1'.").arg(shownText(source)));
    if (Status s = claimNewName(target, what); !s)
        return s;
    if (Status s = mDb.exec(QStringLiteral("INSERT INTO package (package_name) VALUES (?)"),
                            {target}, what);
        !s)
        return s;
    const QStringList columns = schema::classdefColumnNames();
    const QStringList carried = columns.mid(1);
    const QString sql =
        QStringLiteral("INSERT INTO classdef (%1) SELECT CAST(? AS TEXT), %2 "
                       "FROM classdef WHERE %3 ORDER BY rowid")
            .arg(schema::joined(columns), schema::joined(carried), mDb.nameFilter());
    if (Status s = mDb.exec(sql, {target, source}, what); !s)
        return s;
    return tx.commit(what);
}

Result<int> DataStore::nextClassNumber(const QString &package) const
{
    QSqlQuery query;
    if (Status s = mDb.exec(
            query, QStringLiteral("SELECT max(class_num) FROM classdef WHERE ") + mDb.nameFilter(),
            {package}, QStringLiteral("Could not number the new class."));
        !s)
        return s;
    const QVariant highest = query.next() ? query.value(0) : QVariant();
    if (highest.isNull())
        return 1;
    if (highest.toLongLong() >= 32767)
        return Status::failure(QStringLiteral("No class number is left: the highest class number "
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
                                    schema::columnDefinition(*known, mDb.engine()),
                                {}, what);
            !s)
            return s;
    }
    if (Status s = tx.commit(what); !s)
        return s;
    return added;
}

} // namespace tarn
