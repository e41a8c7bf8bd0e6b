// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/compare.h"

#include <QByteArrayView>

#include <vector>

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
// it again: the cells as UTF-8, each row with the line it starts on.
struct Sheet {
    // Bytes of text; none (size < 0) where a row has no such cell.
    struct Cell {
        qsizetype at = 0, size = -1;
    };
    struct Row {
        qint64 line = 0;
        qsizetype first = 0, count = 0; // its cells in cells
    };
    QString path;
    QStringList header; // the column names, as read
    QList<Row> rows;    // blank rows and comment rows left out
    QString mark;       // empty when the sheet has none
    // A csv's bytes, whose plain cells are views of it, then the cells that
    // had to be unquoted or converted: kept apart, a sheet of 30,000 classes
    // holds two million cells.
    QByteArray text;
    std::vector<Cell> cells;

    // Null where the row has no such cell.
    QByteArrayView cell(const Row &row, qsizetype column) const
    {
        if (column < 0 || column >= row.count)
            return {};
        const Cell &c = cells[size_t(row.first + column)];
        return c.size < 0 ? QByteArrayView() : QByteArrayView(text.constData() + c.at, c.size);
    }
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
