// SPDX-License-Identifier: GPL-3.0-or-later
#include "store/initfiles.h"

#include "store/database.h"
#include "store/datastore.h"
#include "store/schema.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

namespace tarn
{

namespace
{

// Builds the file under a temporary name and renames it into place, so that an
// interrupted init leaves nothing a later start would take for a database.
Status createFile(const QString &path, const FillDatabase &fill)
{
    if (Status s = checkNewDatabaseFile(path); !s)
        return s;
    const QString temp = temporaryPath(path);
    removeDatabaseFiles(temp);
    Status status = buildDatabaseFile(temp, fill);
    if (status && !QFile::rename(temp, path)) {
        status =
            Status::failure(Fault::InputOutput,
                            QStringLiteral("%1: could not move the new file into place").arg(path));
        QFile::remove(temp);
    }
    return status;
}

Status insertRow(Database &db, const QString &table, const QStringList &columns,
                 const QVariantList &values)
{
    // The sample's rows: on a server, all in the COMMIT's exchange.
    return db.execLater(
        QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
            .arg(table, schema::joined(columns), schema::placeholders(columns.size())),
        values, {});
}

struct SampleClass {
    QString name;
    int number;
    QString model, skin1, skin2;
    int decoy;
    QList<int> weapons;  // w1..w10
    QList<int> grenades; // g1..g3
    int speed, health, armor;
    QList<int> items;    // k of every true i_k
    QList<int> specials; // k of every true s_k
    QList<int> ammo;     // bullets, shells, rockets, grenades, cells, slugs
};

Status insertSampleClass(Database &db, const QString &package, const SampleClass &c)
{
    QStringList columns{QStringLiteral("package_name"), QStringLiteral("class_name"),
                        QStringLiteral("class_num"),    QStringLiteral("skin_name1"),
                        QStringLiteral("skin_name2"),   QStringLiteral("model_name"),
                        QStringLiteral("decoyskin"),    QStringLiteral("max_speed"),
                        QStringLiteral("max_health"),   QStringLiteral("max_armor")};
    QVariantList values{package, c.name,  c.number, c.skin1,  c.skin2,
                        c.model, c.decoy, c.speed,  c.health, c.armor};
    using schema::RefKind;
    for (int k = 1; k <= schema::slotCount(RefKind::Weapon); ++k) {
        columns << schema::slotColumn(RefKind::Weapon, k);
        values << c.weapons.value(k - 1, 0);
    }
    for (int k = 1; k <= schema::slotCount(RefKind::Grenade); ++k) {
        columns << schema::slotColumn(RefKind::Grenade, k);
        values << c.grenades.value(k - 1, 0);
    }
    for (int k : c.items) {
        columns << schema::flagColumn(RefKind::Item, k);
        values << 1;
    }
    for (int k : c.specials) {
        columns << schema::flagColumn(RefKind::Special, k);
        values << 1;
    }
    int i = 0;
    for (const schema::AmmoColumn &a : schema::ammoColumns()) {
        columns << QLatin1String(a.name);
        values << c.ammo.value(i++, 0);
    }
    return insertRow(db, QStringLiteral("classdef"), columns, values);
}

Status fillDataSample(Database &db)
{
    const QString package = QStringLiteral("Sample Config");
    if (Status s =
            insertRow(db, QStringLiteral("package"), {QStringLiteral("package_name")}, {package});
        !s)
        return s;
    const SampleClass classes[] = {
        {QStringLiteral("Scout"),
         1,
         QStringLiteral("male"),
         QStringLiteral("scout_r"),
         QStringLiteral("scout_b"),
         1,
         {1, 2, 3},
         {1, 2, 0},
         400,
         75,
         50,
         {1},
         {1, 6},
         {100, 25, 0, 2, 0, 0}},
        {QStringLiteral("Soldier"),
         2,
         QStringLiteral("male"),
         QStringLiteral("soldier_r"),
         QStringLiteral("soldier_b"),
         2,
         {1, 2, 4, 7},
         {1, 4, 0},
         240,
         100,
         200,
         {2, 3},
         {2, 3},
         {200, 50, 20, 4, 0, 0}},
    };
    for (const SampleClass &c : classes)
        if (Status s = insertSampleClass(db, package, c); !s)
            return s;
    return Status::success();
}

struct SampleRef {
    int id;
    const char *name;
    QVariant damage, speed, enabled;
};

Status fillRefSample(Database &db)
{
    const QVariant null;
    const SampleRef weapons[] = {
        {1, "Blaster", 15, 1000, 1},     {2, "Scattergun", 6, 900, 1},
        {3, "Nail Driver", 9, 1500, 1},  {4, "Rocket Tube", 100, 650, 1},
        {5, "Rail Lance", 80, 3000, 0},  {6, "Flame Projector", 12.5, 600, 1},
        {7, "Pulse Rifle", 20, 1200, 1},
    };
    const SampleRef grenades[] = {
        {1, "Frag Grenade", 100, 600, 1},
        {2, "Concussion Grenade", 0, 500, 1},
        {3, "Napalm Grenade", 60, 550, 0},
        {4, "Gas Grenade", 20, 450, 1},
    };
    const SampleRef items[] = {
        {1, "Jetpack", null, null, 1},     {2, "Medikit", null, null, 1},
        {4, "Armor Patch", null, null, 1}, {8, "Night Goggles", null, null, 1},
        {16, "Detpack", null, null, 0},    {32, "Motion Tracker", null, null, null},
    };
    const SampleRef specials[] = {
        {1, "Double Jump", null, null, 1},    {2, "Fast Reload", null, null, 1},
        {4, "Regeneration", null, null, 1},   {8, "Stealth", null, null, 1},
        {16, "Wall Climb", null, null, 1},    {32, "Sprint", null, null, 1},
        {64, "Heal Others", null, null, 1},   {128, "Build Sentry", null, null, 0},
        {256, "Spot Enemies", null, null, 1}, {512, "Fall Immunity", null, null, null},
    };
    auto fill = [&](schema::RefKind kind, std::span<const SampleRef> rows) {
        const schema::RefTable &t = schema::refTable(kind);
        const QStringList columns = schema::names(t.columns);
        for (const SampleRef &r : rows) {
            QVariantList values{r.id, QString::fromLatin1(r.name)};
            if (columns.size() == 5)
                values << r.damage << r.speed;
            values << r.enabled;
            if (Status s = insertRow(db, QString::fromLatin1(t.table), columns, values); !s)
                return s;
        }
        return Status::success();
    };
    for (auto [kind, rows] :
         {std::pair{schema::RefKind::Weapon, std::span<const SampleRef>(weapons)},
          std::pair{schema::RefKind::Grenade, std::span<const SampleRef>(grenades)},
          std::pair{schema::RefKind::Item, std::span<const SampleRef>(items)},
          std::pair{schema::RefKind::Special, std::span<const SampleRef>(specials)}})
        if (Status s = fill(kind, rows); !s)
            return s;
    return Status::success();
}

} // namespace

Status checkNewDatabaseFile(const QString &path)
{
    const QFileInfo file(path);
    if (file.exists())
        return Status::failure(Fault::Exists, QStringLiteral("%1 exists already").arg(path));
    // QFile::rename falls back to a copy that follows it.
    if (file.isSymLink())
        return Status::failure(Fault::Refused,
                               QStringLiteral("%1 is a symbolic link to %2, which does not exist; "
                                              "a database is made only as a file of the folder")
                                   .arg(path, file.symLinkTarget()));
    return checkNoSideFiles(path);
}

Status checkNoSideFiles(const QString &path)
{
    for (const QString &side : databaseFiles(path).mid(1))
        if (const QFileInfo file(side); file.exists() || file.isSymLink())
            return Status::failure(
                Fault::Refused,
                QStringLiteral("%1 is left from an earlier database of that name, and SQLite "
                               "would play it into the new one: put it back beside that "
                               "database, or delete it if that database is gone")
                    .arg(side));
    return Status::success();
}

Status buildDatabaseFile(const QString &path, const FillDatabase &fill)
{
    if (Status s = checkNewDatabaseFile(path); !s)
        return s;
    Status status = [&] {
        Database db;
        if (Status s = db.create(path); !s)
            return s;
        Transaction tx(db);
        const QString what = QStringLiteral("Could not create %1.").arg(path);
        if (Status s = tx.begin(what); !s)
            return s;
        if (Status s = fill(db); !s)
            return s;
        return tx.commit(what);
    }();
    if (!status)
        QFile::remove(path);
    return status;
}

QString temporaryPath(const QString &path)
{
    return QStringLiteral("%1.%2.tmp")
        .arg(path, QString::number(QCoreApplication::applicationPid()));
}

namespace
{

// Every table of the data file, then the reference file, with its columns.
struct CopiedTable {
    QString name;
    QStringList columns;
    bool data;
    QString key = QStringLiteral("rowid");
    // The history: copied where the source keeps one; where: which records
    // belong to this file, when one database holds both sets.
    bool history = false;
    QString where = {};
};

QList<CopiedTable> copiedTables()
{
    const QString history = QLatin1String(schema::kHistoryTable);
    QStringList refTables;
    for (schema::RefKind kind : schema::refKinds())
        refTables << QLatin1Char('\'') + QLatin1String(schema::refTable(kind).table) +
                         QLatin1Char('\'');
    const QString ofRef = QStringLiteral("table_name IN (%1)").arg(refTables.join(u','));
    QList<CopiedTable> tables{
        {QStringLiteral("package"), schema::names(schema::packageColumns()), true},
        {QStringLiteral("classdef"), schema::classdefColumnNames(), true},
        {history, schema::historyCopyColumns(), true, QStringLiteral("id"), true,
         QStringLiteral("table_name IS NULL OR NOT ") + ofRef},
        {QLatin1String(schema::kKeptTable),
         QStringList{QStringLiteral("kept")} + schema::classdefColumnNames(), true,
         QStringLiteral("rowid"), true}};
    for (schema::RefKind kind : schema::refKinds())
        tables.append({QLatin1String(schema::refTable(kind).table),
                       schema::names(schema::refTable(kind).columns), false});
    tables.append(
        {history, schema::historyCopyColumns(), false, QStringLiteral("id"), true, ofRef});
    return tables;
}

// Copies a table's rows with their keys, in key order, into the same table of
// another database (in the caller's transactions). Columns the source lacks
// (flags an older file has not been given yet) take the new table's default.
// keepKeys false: the rows take new keys (a second file's history joining
// the first's in one table).
Status copyRows(Database &from, Database &to, const CopiedTable &table, bool keepKeys = true)
{
    const QString what = QStringLiteral("Could not copy the table %1 from %2 to %3.")
                             .arg(table.name, from.where(), to.where());
    Result<QStringList> present = from.columns(table.name);
    if (!present)
        return present.status();
    // A source that keeps no history yet gives none.
    if (table.history && present->isEmpty())
        return Status::success();
    QStringList columns;
    if (keepKeys)
        columns << table.key;
    for (const QString &column : table.columns)
        if (column != table.key && present->contains(column, Qt::CaseInsensitive))
            columns << column;
    Query rows;
    if (Status s = from.exec(
            rows,
            QStringLiteral("SELECT %1 FROM %2 %3 ORDER BY %4")
                .arg(schema::joined(columns), table.name,
                     table.where.isEmpty() ? QString() : QStringLiteral("WHERE ") + table.where,
                     table.key),
            {}, what);
        !s)
        return s;
    const QString insert =
        QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
            .arg(table.name, schema::joined(columns), schema::placeholders(columns.size()));
    QVariantList values;
    for (qint64 row = 1; rows.next(); ++row) {
        values.clear();
        for (int i = 0; i < columns.size(); ++i)
            values << rows.value(i);
        if (Status s = to.exec(insert, values,
                               QStringLiteral("Could not copy row %1 of the table %2 from %3.")
                                   .arg(row)
                                   .arg(table.name, from.where()));
            !s)
            return s;
    }
    if (Status s = rows.error(); !s)
        return from.failure(what, s);
    // New rows take keys after the copied ones.
    return to.execAll(to.engine().keysFollow(table.name, table.key), what);
}

// Opens url and, in one transaction, refuses a database that holds any of the
// tables, creates them all and fills them.
Status buildServerTables(const QString &url, const std::function<Status(Database &)> &fill)
{
    Database db;
    if (Status s = db.open(url); !s)
        return s;
    const QString what = QStringLiteral("Could not create the tables in %1.").arg(db.where());
    Transaction tx(db);
    if (Status s = tx.begin(what); !s)
        return s;
    for (const CopiedTable &table : copiedTables()) {
        Result<QStringList> present = db.columns(table.name);
        if (!present)
            return present.status();
        if (!present->isEmpty())
            return Status::failure(Fault::Exists,
                                   QStringLiteral("%1: the table %2 exists already; nothing was "
                                                  "changed")
                                       .arg(db.where(), table.name));
    }
    // One history serves both sets of tables. On a server they are made in
    // the exchange of what follows: the rows, or the COMMIT.
    for (const QString &statement :
         schema::createDataSql(db.engine()) + schema::createRefSql(db.engine(), false))
        if (Status s = db.execLater(statement, {}, what); !s)
            return s;
    if (Status s = fill(db); !s)
        return s;
    return tx.commit(what);
}

Status storeModId(Database &db, const std::optional<QString> &modId)
{
    if (!modId)
        return Status::success();
    return db.exec(QStringLiteral("INSERT INTO %1 (name, value) VALUES ('mod_id', ?)")
                       .arg(QLatin1String(schema::kSettingsTable)),
                   {*modId}, QStringLiteral("Could not store the Mod ID."));
}

} // namespace

Status createServerTables(const QString &url, bool sample)
{
    return buildServerTables(url, [sample](Database &db) {
        if (!sample)
            return Status::success();
        if (Status s = fillDataSample(db); !s)
            return s;
        return fillRefSample(db);
    });
}

Status seedServerTables(const QString &url, const QString &dataFile, const QString &refFile,
                        const std::optional<QString> &modId)
{
    Database data, ref;
    if (Status s = data.open(dataFile); !s)
        return s;
    if (Status s = data.requireTables(schema::dataFileNeeds()); !s)
        return s;
    if (Status s = ref.open(refFile); !s)
        return s;
    if (Status s = ref.requireTables(schema::refFileNeeds()); !s)
        return s;
    // Both files read from one snapshot each, however long the copy takes.
    Transaction readData(data), readRef(ref);
    if (Status s = readData.beginRead({}); !s)
        return s;
    if (Status s = readRef.beginRead({}); !s)
        return s;
    return buildServerTables(url, [&](Database &db) {
        for (const CopiedTable &table : copiedTables())
            // The reference file's records join the data file's, after them.
            if (Status s =
                    copyRows(table.data ? data : ref, db, table, table.data || !table.history);
                !s)
                return s;
        return storeModId(db, modId);
    });
}

Result<std::optional<QString>> pullServerTables(const QString &url, const QString &dataFile,
                                                const QString &refFile)
{
    for (const QString &path : {dataFile, refFile})
        if (QFileInfo::exists(path))
            return Status::failure(
                Fault::Exists, QStringLiteral("%1 exists already; nothing was written").arg(path));
    DataStore server;
    if (Status s = server.open(url); !s)
        return s;
    Database &db = server.database();
    if (Status s = db.requireTables(schema::refFileNeeds()); !s)
        return s;
    Transaction snapshot(db);
    if (Status s = snapshot.beginRead({}); !s)
        return s;
    const Result<std::optional<QString>> modId = server.storedModId();
    if (!modId)
        return modId;
    for (const bool data : {true, false}) {
        const Status status = createFile(data ? dataFile : refFile, [&](Database &file) {
            if (Status s = file.execAll(data ? schema::createDataSql(file.engine())
                                             : schema::createRefSql(file.engine()));
                !s)
                return s;
            for (const CopiedTable &table : copiedTables())
                if (table.data == data)
                    if (Status s = copyRows(db, file, table); !s)
                        return s;
            return Status::success();
        });
        if (!status) {
            if (!data)
                QFile::remove(dataFile);
            return status;
        }
    }
    return modId;
}

Status createDataFile(const QString &path, bool sample)
{
    return createFile(path, [sample](Database &db) {
        if (Status s = db.execAll(schema::createDataSql(db.engine())); !s)
            return s;
        return sample ? fillDataSample(db) : Status::success();
    });
}

Status createRefFile(const QString &path, bool sample)
{
    return createFile(path, [sample](Database &db) {
        if (Status s = db.execAll(schema::createRefSql(db.engine())); !s)
            return s;
        return sample ? fillRefSample(db) : Status::success();
    });
}

} // namespace tarn
