// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/compare.h"

namespace tarn
{

// What show writes after a configuration's classes so that apply can tell
// whether they changed since: a digest of every stored value. Classes may be
// added in any order, so that apply need not read them sorted.
class SheetMark
{
public:
    void add(const StoredRow &row);
    // Sixteen hex digits.
    QString text() const;

private:
    // A 64-bit mix of every value: it tells a teammate's change from none,
    // which is all the mark is for, at a small cost per value. Each class's
    // mix is added, so their order does not count; within a class it does.
    quint64 mHash = 0;
};

// How a csv sheet carries the mark: a comment row, one cell, which
// spreadsheets keep as text.
inline constexpr char kCsvMarkPrefix[] = "# tarn mark ";
// How a json sheet carries it: an element of its own after the classes.
inline constexpr char kJsonMarkKey[] = "tarn_mark";

// A spreadsheet as show --format csv or json wrote it and a spreadsheet saved
// it again: the cells as text, each row with the line it starts on.
struct Sheet {
    struct Row {
        qint64 line = 0;
        QStringList cells; // may be views of text: copy one that outlives the sheet
    };
    QString path;
    QStringList header; // the column names, as read
    QList<Row> rows;    // blank rows and comment rows left out
    QString mark;       // empty when the sheet has none
    QString text;       // a csv's text: its plain cells are views of it, not copies
};

// Reads csv (',' or ';' between fields, CRLF or LF, a UTF-8 BOM, quoted
// fields across lines) or json (an array of objects). A failure names the
// file and the line.
Result<Sheet> readSheet(const QString &path);

struct ApplyOptions {
    bool dryRun = false;        // only tell what would change
    bool force = false;         // store even when the sheet's mark is not the configuration's
    bool deleteMissing = false; // delete the classes the sheet has no row for
};

// Changes the configuration to match the sheet, classes matched by number: a
// row without a class adds one, a class without a row stays unless
// deleteMissing. Every cell is checked as a window checks a typed value,
// slots and flags also by name. What changes goes to sink first, in diff's
// form (A the configuration, B the sheet); then it is stored in one
// transaction, or nothing is. A sheet whose mark is not the configuration's
// as stored is refused unless force.
// What an apply stored, and what takes it back: for an undo.
struct AppliedSheet {
    QList<DataStore::ClassWrite> writes, undo;
};
Status applySheet(AppState &state, const QString &configName, const Sheet &sheet,
                  const RefNames &names, const ApplyOptions &options, const ComparisonSink &sink,
                  AppliedSheet *applied = nullptr);
// Stores an apply's writes, or their undo, again, in one transaction, while
// each class they change still holds what stored says (the other direction's
// writes, in the same order): a field someone else changed since refuses it
// all, naming the class and the field.
Status storeClassWrites(AppState &state, const QString &configName, const RefNames &names,
                        const QList<DataStore::ClassWrite> &writes,
                        const QList<DataStore::ClassWrite> &stored);

} // namespace tarn
