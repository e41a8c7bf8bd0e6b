// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

#include <span>

namespace tarn
{
class Engine;
}

namespace tarn::schema
{

enum class Kind {
    Text,    // TEXT, NULL when unset
    Whole16, // INTEGER in the 16-bit signed range, DEFAULT 0
    YesNo,   // INTEGER 0/1, NOT NULL DEFAULT 0
    Id16,    // INTEGER in the 16-bit signed range, no default (weapon and grenade ids)
    Id32,    // INTEGER in the 32-bit signed range (item and special ids)
    Number,  // NUMERIC: whole or fractional (damage, speed, enabled)
};

struct Column {
    const char *name;
    Kind kind;
};

// The names of the columns, in order.
QStringList names(std::span<const Column> columns);

// package's one column.
std::span<const Column> packageColumns();
// classdef's columns in the order that copies and imports write them.
std::span<const Column> classdefColumns();
QStringList classdefColumnNames();
// The flag columns that start-up adds where an older file lacks them.
QStringList upgradeColumns();

// A table and the columns the program names in it.
struct TableNeed {
    QString table;
    QStringList columns;
};
// What a data file and a reference file must hold for the program to open
// them (the flag columns that start-up adds are not needed).
QList<TableNeed> dataFileNeeds();
QList<TableNeed> refFileNeeds();

// The four reference tables share two shapes.
enum class RefKind { Weapon, Grenade, Item, Special };

struct RefTable {
    RefKind kind;
    const char *table;
    const char *idColumn;
    const char *nameColumn;
    std::span<const Column> columns; // in stored order
};

const RefTable &refTable(RefKind kind);
std::span<const RefKind> refKinds();

// A class's slots hold ids of weapons (w1..w10) or grenades (g1..g3).
int slotCount(RefKind kind);
// Slot k (from 1) of weapons or grenades: "w5", "g2".
QString slotColumn(RefKind kind, int k);
// A class's flags for items (i1..i9) or special abilities (s1..s31).
int flagCount(RefKind kind);
// Flag k (from 1) of items or specials: "i3", "s22".
QString flagColumn(RefKind kind, int k);

// The ammunition limits in class-file order (bullets, shells, rockets,
// grenades, cells, slugs), with the class editor's label of each.
struct AmmoColumn {
    const char *name;
    const char *label;
};
std::span<const AmmoColumn> ammoColumns();

// The classdef columns a class file carries, in the order an export reads
// them: names, decoy skin, slots w2..w10 (slot 1 is always written as 1) and
// g1..g3, armour, speed, health, ammunition. The flags come separately.
QStringList exportColumns();

// The statements that create the tables (and on a server their keys and
// indexes) of the data database and of the reference database.
// Both come with the history; history: the reference database's own (a
// file's), where the data database's does not serve both.
QStringList createDataSql(const Engine &engine);
QStringList createRefSql(const Engine &engine, bool history = true);
// The statements that create the history (store/history.h) and, with
// classes, the table of the classes it keeps (a data database's).
QStringList createHistorySql(const Engine &engine, bool classes);
inline constexpr char kHistoryTable[] = "history";
inline constexpr char kKeptTable[] = "history_class";
// The history's columns after its key, moment and author, in stored order.
QStringList historyColumns();
// Every column of the history, the key (id) first.
QStringList historyCopyColumns();

// The name of a server's table of team settings (the Mod ID).
inline constexpr char kSettingsTable[] = "tarn_settings";
// The channel on which a server tells of every change to the configurations
// and their classes, whoever makes it.
inline constexpr char kChangedChannel[] = "tarn_configurations";

// "a, b, c" and "?, ?, ?" for statements that name their columns.
QString joined(const QStringList &names);
QString placeholders(qsizetype count);

// The range a column's values must lie in; false when the column is text.
bool rangeOf(Kind kind, double *low, double *high);

// A classdef column's field as the class editor labels it, for messages:
// "Red Skin", "Weapon slot 5", "Bullets (Ammo Limits)". Other names come back
// unchanged.
QString fieldLabel(const QString &column);

} // namespace tarn::schema
