// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/checkedwrite.h"

#include "platform/prompter.h"

#include <QCoreApplication>

namespace tarn
{

namespace
{

// Longer lists make a message box taller than the screen.
constexpr int kListedFields = 12;

QString tr(const char *text, int n = -1)
{
    return QCoreApplication::translate("CheckedWrite", text, nullptr, n);
}

} // namespace

QString fieldLines(const FieldWording &wording, const QStringList &columns,
                   const std::function<QString(int)> &line)
{
    QStringList lines;
    for (int i = 0; i < columns.size(); ++i) {
        if (lines.size() == kListedFields) {
            lines << tr("... and %n more field(s)", int(columns.size()) - i);
            break;
        }
        lines << tr("%1: %2").arg(wording.label(columns.at(i)), line(i));
    }
    return lines.join(QLatin1Char('\n'));
}

QString changeLines(const FieldWording &wording, const QList<FieldChange> &changes)
{
    QStringList columns;
    for (const FieldChange &change : changes)
        columns << change.column;
    return fieldLines(wording, columns, [&](int i) {
        const FieldChange &change = changes.at(i);
        return tr("%1 -> %2")
            .arg(wording.value(change.column, change.shown),
                 wording.value(change.column, change.stored));
    });
}

QString editLines(const FieldWording &wording, const RowValues &edits)
{
    return fieldLines(wording, edits.columns, [&](int i) {
        return wording.value(edits.columns.at(i), edits.values.at(i));
    });
}

QList<FieldChange> clashes(const QList<FieldChange> &changes, const RowValues &edits)
{
    QList<FieldChange> both;
    for (const FieldChange &change : changes)
        if (edits.columns.contains(change.column) &&
            !sameValue(change.stored, edits.value(change.column)))
            both << change;
    return both;
}

RowValues CheckedWrite::after() const
{
    RowValues row = before;
    for (qsizetype i = 0; i < written.columns.size(); ++i)
        row.set(written.columns.at(i), written.values.at(i));
    return row;
}

RowValues CheckedWrite::replaced() const
{
    RowValues row;
    for (const QString &column : written.columns)
        row.set(column, before.value(column));
    return row;
}

CheckedWrite storeChecked(RecordCursor &cursor, Prompter *prompter, RecordCursor::Key key,
                          RowValues edits, RowValues shown, const QString &notStored,
                          const FieldWording &wording)
{
    CheckedWrite result;
    bool tookStored = false;
    for (;;) {
        const Result<WriteOutcome> outcome = cursor.store(key, edits, shown);
        if (!outcome) {
            result.status = outcome.status();
            return result;
        }
        switch (outcome->kind) {
        case WriteOutcome::Done:
            result.kind = tookStored ? CheckedWrite::ShowStored : CheckedWrite::Stored;
            result.written = edits;
            result.before = shown;
            return result;
        case WriteOutcome::Gone:
            result.kind = CheckedWrite::Gone;
            return result;
        case WriteOutcome::Changed:
            break;
        }
        // Checked again against the row as it is now, so that a change that
        // comes meanwhile is caught too.
        shown = outcome->row;
        result.changedMeanwhile = true;
        const QList<FieldChange> both = clashes(outcome->changes, edits);
        if (both.isEmpty())
            continue;
        RowValues mine;
        for (const FieldChange &change : both)
            mine.set(change.column, edits.value(change.column));
        QString question =
            tr("%1\n\nChanged meanwhile:\n%2\n\nYour changes:\n%3\n\nKeep your changes (stored "
               "over the new values), or show the stored values?")
                .arg(notStored, changeLines(wording, both), editLines(wording, mine));
        if (mine.columns.size() < edits.columns.size())
            question += tr(" Your changes to other fields are stored with either.");
        const int choice =
            prompter
                ? prompter->choose(question,
                                   {tr("Keep My Changes"), tr("Show Stored Values"), tr("Cancel")},
                                   2, Prompter::Icon::Warning)
                : -1;
        if (choice == 1) {
            RowValues rest;
            for (qsizetype i = 0; i < edits.columns.size(); ++i)
                if (!mine.columns.contains(edits.columns.at(i)))
                    rest.set(edits.columns.at(i), edits.values.at(i));
            edits = rest;
            tookStored = true;
        } else if (choice != 0) {
            result.kind = CheckedWrite::Cancelled;
            return result;
        }
    }
}

} // namespace tarn
