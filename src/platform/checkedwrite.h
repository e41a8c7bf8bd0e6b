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

// What came of a write checked against the row as the user saw it.
struct CheckedWrite {
    enum Kind { Stored, Gone, ShowStored, Cancelled, Failed };
    Kind kind = Failed;
    Status status = Status::success(); // Failed: why
    RowValues shown;                   // Stored: the row the write was checked against
    bool overChange = false;           // Stored: over another client's change, kept by the user
    RowValues stored;                  // ShowStored: the row as stored now
};

// Stores edits of the row with key while it still reads as shown. When another
// user or program changed it meanwhile, the user reads notStored and what
// changed, and keeps their edits (stored over the new values, checked again, so
// a third change is caught too) or takes the stored values. Nothing is written
// without the user knowing.
CheckedWrite storeChecked(RecordCursor &cursor, Prompter *prompter, RecordCursor::Key key,
                          const RowValues &edits, RowValues shown, const QString &notStored,
                          const FieldWording &wording);

} // namespace tarn
