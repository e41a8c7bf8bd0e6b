// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "store/recordcursor.h"
#include "store/status.h"

#include <QDateTime>
#include <QString>
#include <QVariant>

#include <optional>

namespace tarn
{

// The program and command that the changes of this process are recorded
// under ("tarn", "tarn-cli import"); set once at start.
void setChangeProgram(const QString &program);
const QString &changeProgram();

// One stored change as the history keeps it, with who made it and when.
struct Change {
    enum Kind {
        Field,          // a column of a class or a reference row: column, before, after
        AddClass,       // row: the class as added
        DeleteClass,    // row: the class as it was
        NewPackage,     // New
        CopyPackage,    // Make Copy; detail: the source configuration
        ImportPackage,  // Import; detail: the file
        DeletePackage,  // Delete; its classes are kept with the history
        RestorePackage, // detail: the moment or change it was restored as of
        AddRow,         // a reference row added; row
        DeleteRow,      // a reference row deleted; row
        ModId,          // before, after
    };
    qint64 id = 0; // grows with every change: the newest has the highest
    Kind kind = Field;
    QDateTime at; // UTC
    QString who;
    QString program;
    QString package;   // the configuration; empty for a reference row or the Mod ID
    QString table;     // "classdef" or the reference table
    qint64 rowKey = 0; // class number, or a reference row's id
    QString rowName;   // the class's or reference row's name then
    QString column;
    QVariant before;
    QVariant after;
    RowValues row;
    QString detail;
};

// Which changes a history read gives, newest first.
struct HistoryFilter {
    QString package; // empty: every configuration and reference table
    std::optional<qint64> classNum;
    QString column;
    QString who;
    std::optional<QDateTime> since;
    qint64 sinceId = 0;   // set: only this change and later ones
    qint64 olderThan = 0; // a page: only changes with a lower id; 0 from the newest
    int limit = 0;        // 0: every change
};

// A configuration that was deleted and can be restored.
struct DeletedPackage {
    QString name;
    qint64 changeId = 0; // the Delete
    QDateTime at;
    QString who;
    qint64 classes = 0;
};

// A moment to restore to: just before a change, or a time.
struct RestorePoint {
    qint64 beforeChange = 0; // set: the state just before that change
    QDateTime at;            // otherwise: the state at that moment (UTC)
};

struct HistorySize {
    qint64 records = 0;
    qint64 bytes = 0;
};

} // namespace tarn
