// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "store/recordcursor.h"

#include <functional>

namespace tarn
{

class Prompter;

// How a window names a row's fields and their values to the user.
struct FieldWording {
    std::function<QString(const QString &column)> label;
    std::function<QString(const QString &column, const QVariant &value)> value;
};

// "Label: " and line(i) for each column, at most a dozen, then how many more.
QString fieldLines(const FieldWording &wording, const QStringList &columns,
                   const std::function<QString(int)> &line);
// "Label: shown -> stored" for each change.
QString changeLines(const FieldWording &wording, const QList<FieldChange> &changes);
// "Label: value" for each edit.
QString editLines(const FieldWording &wording, const RowValues &edits);

// The changes of another client that clash with edits: each to a field the
// edits change too, to a value other than the edit's.
QList<FieldChange> clashes(const QList<FieldChange> &changes, const RowValues &edits);

// What came of a write checked against the row as the user saw it.
struct CheckedWrite {
    enum Kind { Stored, Gone, ShowStored, Cancelled, Failed };
    Kind kind = Failed;
    Status status = Status::success(); // Failed: why
    // Stored, ShowStored: the edits written (ShowStored: those of fields that
    // nobody else changed; maybe none), and the row as it was stored just
    // before, as the write was checked against it.
    RowValues written;
    RowValues before;
    // Stored: the row holds another client's changes too.
    bool changedMeanwhile = false;

    // The row as stored after the write.
    RowValues after() const;
    // The written columns as they were before.
    RowValues replaced() const;
};

// Stores edits of the row with key while it still reads as shown. When another
// user or program changed other fields of it meanwhile, the edits are stored
// beside their changes without a word. When they changed a field the edits
// change too, the user reads notStored and those fields only, and keeps their
// edits of them (stored over the new values, checked again, so a third change
// is caught too) or takes the stored values; either way their edits of the
// other fields are stored. Nothing is written without the user knowing.
CheckedWrite storeChecked(RecordCursor &cursor, Prompter *prompter, RecordCursor::Key key,
                          RowValues edits, RowValues shown, const QString &notStored,
                          const FieldWording &wording);

} // namespace tarn
