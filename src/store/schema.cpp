// SPDX-License-Identifier: GPL-3.0-or-later
#include "store/schema.h"

#include "store/engine.h"

#include <array>
#include <limits>

namespace tarn::schema
{

namespace
{

using K = Kind;

constexpr std::array<Column, 69> kClassdef{{
    {"package_name", K::Text},
    {"class_name", K::Text},
    {"class_num", K::Whole16},
    {"skin_name1", K::Text},
    {"skin_name2", K::Text},
    {"model_name", K::Text},
    {"w1", K::Whole16},
    {"w2", K::Whole16},
    {"w3", K::Whole16},
    {"w4", K::Whole16},
    {"w5", K::Whole16},
    {"w6", K::Whole16},
    {"w7", K::Whole16},
    {"w8", K::Whole16},
    {"w9", K::Whole16},
    {"w10", K::Whole16},
    {"g1", K::Whole16},
    {"g2", K::Whole16},
    {"g3", K::Whole16},
    {"max_speed", K::Whole16},
    {"max_health", K::Whole16},
    {"max_armor", K::Whole16},
    {"i1", K::YesNo},
    {"i2", K::YesNo},
    {"i3", K::YesNo},
    {"i4", K::YesNo},
    {"i5", K::YesNo},
    {"i6", K::YesNo},
    {"i7", K::YesNo},
    {"i8", K::YesNo},
    {"i9", K::YesNo},
    {"s1", K::YesNo},
    {"s2", K::YesNo},
    {"s3", K::YesNo},
    {"s4", K::YesNo},
    {"s5", K::YesNo},
    {"s6", K::YesNo},
    {"s7", K::YesNo},
    {"s8", K::YesNo},
    {"s9", K::YesNo},
    {"s10", K::YesNo},
    {"s11", K::YesNo},
    {"s12", K::YesNo},
    {"s13", K::YesNo},
    {"s14", K::YesNo},
    {"s15", K::YesNo},
    {"s16", K::YesNo},
    {"s17", K::YesNo},
    {"s18", K::YesNo},
    {"s19", K::YesNo},
    {"s20", K::YesNo},
    {"s21", K::YesNo},
    {"s22", K::YesNo},
    {"s23", K::YesNo},
    {"s24", K::YesNo},
    {"s25", K::YesNo},
    {"s26", K::YesNo},
    {"s27", K::YesNo},
    {"s28", K::YesNo},
    {"s29", K::YesNo},
    {"s30", K::YesNo},
    {"s31", K::YesNo},
    {"decoyskin", K::Whole16},
    {"maxbullets", K::Whole16},
    {"maxshells", K::Whole16},
    {"maxrockets", K::Whole16},
    {"maxgrenades", K::Whole16},
    {"maxcells", K::Whole16},
    {"maxslugs", K::Whole16},
}};

constexpr std::array<Column, 5> kWeapon{{{"w_id", K::Id16},
                                         {"w_name", K::Text},
                                         {"w_damage", K::Number},
                                         {"w_speed", K::Number},
                                         {"qz_enabled", K::Number}}};
constexpr std::array<Column, 5> kGrenade{{{"g_id", K::Id16},
                                          {"g_name", K::Text},
                                          {"g_damage", K::Number},
                                          {"g_speed", K::Number},
                                          {"qz_enabled", K::Number}}};
constexpr std::array<Column, 3> kItem{
    {{"i_id", K::Id32}, {"i_name", K::Text}, {"qz_enabled", K::Number}}};
constexpr std::array<Column, 3> kSpecial{
    {{"s_id", K::Id32}, {"s_name", K::Text}, {"qz_enabled", K::Number}}};

const std::array<RefTable, 4> kRefTables{{
    {RefKind::Weapon, "weapon", "w_id", "w_name", kWeapon},
    {RefKind::Grenade, "grenade", "g_id", "g_name", kGrenade},
    {RefKind::Item, "item", "i_id", "i_name", kItem},
    {RefKind::Special, "special", "s_id", "s_name", kSpecial},
}};

constexpr std::array<Column, 1> kPackage{{{"package_name", K::Text}}};

constexpr std::array<AmmoColumn, 6> kAmmo{{{"maxbullets", "Bullets"},
                                           {"maxshells", "Shells"},
                                           {"maxrockets", "Rockets"},
                                           {"maxgrenades", "Grenades"},
                                           {"maxcells", "Cells"},
                                           {"maxslugs", "Slugs"}}};

constexpr std::array<RefKind, 4> kRefKinds{RefKind::Weapon, RefKind::Grenade, RefKind::Item,
                                           RefKind::Special};

QString createSql(const Engine &engine, const char *table, std::span<const Column> columns,
                  const char *first = nullptr)
{
    QStringList definitions;
    if (first)
        definitions << engine.columnDefinition({first, Kind::Id32});
    for (const Column &c : columns)
        definitions << engine.columnDefinition(c);
    return engine.createTable(QLatin1String(table), definitions);
}

} // namespace

std::span<const Column> packageColumns()
{
    return kPackage;
}

std::span<const Column> classdefColumns()
{
    return kClassdef;
}

QStringList names(std::span<const Column> columns)
{
    QStringList result;
    for (const Column &c : columns)
        result << QString::fromLatin1(c.name);
    return result;
}

QStringList classdefColumnNames()
{
    return names(kClassdef);
}

QStringList upgradeColumns()
{
    QStringList names;
    for (int k = 22; k <= flagCount(RefKind::Special); ++k)
        names << flagColumn(RefKind::Special, k);
    return names;
}

QList<TableNeed> dataFileNeeds()
{
    QStringList classdef = classdefColumnNames();
    for (const QString &column : upgradeColumns())
        classdef.removeOne(column);
    return {{QStringLiteral("package"), {QStringLiteral("package_name")}},
            {QStringLiteral("classdef"), classdef}};
}

QList<TableNeed> refFileNeeds()
{
    QList<TableNeed> needs;
    for (RefKind kind : refKinds())
        needs.append({QLatin1String(refTable(kind).table), names(refTable(kind).columns)});
    return needs;
}

const RefTable &refTable(RefKind kind)
{
    return kRefTables[static_cast<size_t>(kind)];
}

std::span<const RefKind> refKinds()
{
    return kRefKinds;
}

int slotCount(RefKind kind)
{
    return kind == RefKind::Weapon ? 10 : 3;
}

QString slotColumn(RefKind kind, int k)
{
    return QStringLiteral("%1%2").arg(kind == RefKind::Weapon ? 'w' : 'g').arg(k);
}

int flagCount(RefKind kind)
{
    return kind == RefKind::Item ? 9 : 31;
}

QString flagColumn(RefKind kind, int k)
{
    return QStringLiteral("%1%2").arg(kind == RefKind::Item ? 'i' : 's').arg(k);
}

std::span<const AmmoColumn> ammoColumns()
{
    return kAmmo;
}

QStringList exportColumns()
{
    QStringList columns{QStringLiteral("class_name"), QStringLiteral("model_name"),
                        QStringLiteral("skin_name1"), QStringLiteral("skin_name2"),
                        QStringLiteral("decoyskin")};
    for (int k = 2; k <= slotCount(RefKind::Weapon); ++k)
        columns << slotColumn(RefKind::Weapon, k);
    for (int k = 1; k <= slotCount(RefKind::Grenade); ++k)
        columns << slotColumn(RefKind::Grenade, k);
    columns << QStringLiteral("max_armor") << QStringLiteral("max_speed")
            << QStringLiteral("max_health");
    for (const AmmoColumn &a : kAmmo)
        columns << QLatin1String(a.name);
    return columns;
}

QStringList createDataSql(const Engine &engine)
{
    return QStringList{createSql(engine, "package", kPackage),
                       createSql(engine, "classdef", kClassdef)} +
           engine.afterDataTables() + createHistorySql(engine, true);
}

QStringList createRefSql(const Engine &engine, bool history)
{
    QStringList sql;
    for (RefKind kind : refKinds()) {
        const RefTable &t = refTable(kind);
        sql << createSql(engine, t.table, t.columns);
    }
    if (history)
        sql << createHistorySql(engine, false);
    return sql;
}

QStringList historyCopyColumns()
{
    return QStringList{QStringLiteral("id"), QStringLiteral("changed_at"), QStringLiteral("who")} +
           historyColumns();
}

QStringList historyColumns()
{
    return {
        QStringLiteral("kind"),       QStringLiteral("program"),   QStringLiteral("package_name"),
        QStringLiteral("table_name"), QStringLiteral("row_key"),   QStringLiteral("row_name"),
        QStringLiteral("field"),      QStringLiteral("old_value"), QStringLiteral("new_value"),
        QStringLiteral("row_values"), QStringLiteral("detail"),    QStringLiteral("kept")};
}

QStringList createHistorySql(const Engine &engine, bool classes)
{
    QStringList definitions = engine.historyKey();
    for (const QString &column : historyColumns()) {
        const bool whole = column == QLatin1String("kind") || column == QLatin1String("row_key") ||
                           column == QLatin1String("kept");
        const QByteArray name = column.toLatin1();
        definitions << engine.columnDefinition({name.constData(), whole ? K::Id32 : K::Text});
    }
    const QString history = QLatin1String(kHistoryTable);
    QStringList sql{
        QStringLiteral("CREATE TABLE %1 (%2)").arg(history, definitions.join(QStringLiteral(", "))),
        // A configuration's history, newest first.
        QStringLiteral("CREATE INDEX %1_package ON %1 (%2, id)").arg(history, engine.nameIndex())};
    if (classes) {
        const QString kept = QLatin1String(kKeptTable);
        sql << createSql(engine, kKeptTable, kClassdef, "kept")
            << QStringLiteral("CREATE INDEX %1_kept ON %1 (kept)").arg(kept);
    }
    return sql;
}

QString joined(const QStringList &names)
{
    return names.join(QStringLiteral(", "));
}

QString placeholders(qsizetype count)
{
    QString text;
    text.reserve(count * 3);
    for (qsizetype i = 0; i < count; ++i)
        text += i ? QStringLiteral(", ?") : QStringLiteral("?");
    return text;
}

bool rangeOf(Kind kind, double *low, double *high)
{
    switch (kind) {
    case K::Whole16:
    case K::Id16:
        *low = std::numeric_limits<qint16>::min();
        *high = std::numeric_limits<qint16>::max();
        return true;
    case K::YesNo:
        *low = 0;
        *high = 1;
        return true;
    case K::Id32:
        *low = std::numeric_limits<qint32>::min();
        *high = std::numeric_limits<qint32>::max();
        return true;
    case K::Number:
        *low = -std::numeric_limits<double>::max();
        *high = std::numeric_limits<double>::max();
        return true;
    case K::Text:
        break;
    }
    return false;
}

QString fieldLabel(const QString &column)
{
    static const struct {
        const char *column, *label;
    } fixed[] = {{"package_name", "Config Name"},      {"class_name", "Class Name"},
                 {"class_num", "Class Num"},           {"model_name", "Model Name"},
                 {"skin_name1", "Red Skin"},           {"skin_name2", "Blue Skin"},
                 {"decoyskin", "Decoy Skin # (blue)"}, {"max_armor", "Max Armor"},
                 {"max_speed", "Max Speed"},           {"max_health", "Max Health"}};
    for (const auto &f : fixed)
        if (column == QLatin1String(f.column))
            return QLatin1String(f.label);
    for (const AmmoColumn &a : kAmmo)
        if (column == QLatin1String(a.name))
            return QLatin1String(a.label) + QStringLiteral(" (Ammo Limits)");
    // The numbered columns: slots and the boxes of the Items and Special frames.
    static const struct {
        RefKind kind;
        bool slot;
        const char *label;
    } numbered[] = {{RefKind::Weapon, true, "Weapon slot %1"},
                    {RefKind::Grenade, true, "Grenade slot %1"},
                    {RefKind::Item, false, "Item %1"},
                    {RefKind::Special, false, "Special ability %1"}};
    for (const auto &n : numbered)
        for (int k = 1; k <= (n.slot ? slotCount(n.kind) : flagCount(n.kind)); ++k)
            if (column == (n.slot ? slotColumn(n.kind, k) : flagColumn(n.kind, k)))
                return QString::fromLatin1(n.label).arg(k);
    return column;
}

} // namespace tarn::schema
