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

CheckedWrite storeChecked(RecordCursor &cursor, Prompter *prompter, RecordCursor::Key key,
                          const RowValues &edits, RowValues shown, const QString &notStored,
                          const FieldWording &wording)
{
    CheckedWrite result;
    for (;;) {
        const Result<WriteOutcome> outcome = cursor.store(key, edits, shown);
        if (!outcome) {
            result.status = outcome.status();
            return result;
        }
        switch (outcome->kind) {
        case WriteOutcome::Done:
            result.kind = CheckedWrite::Stored;
            result.shown = shown;
            return result;
        case WriteOutcome::Gone:
            result.kind = CheckedWrite::Gone;
            return result;
        case WriteOutcome::Changed:
            break;
        }
        const QString question =
            tr("%1\n\nChanged meanwhile:\n%2\n\nYour changes:\n%3\n\nKeep your changes (stored "
               "over the new values), or show the stored values (your changes are dropped)?")
                .arg(notStored, changeLines(wording, outcome->changes), editLines(wording, edits));
        const int choice =
            prompter
                ? prompter->choose(question,
                                   {tr("Keep My Changes"), tr("Show Stored Values"), tr("Cancel")},
                                   2, Prompter::Icon::Warning)
                : -1;
        if (choice == 0) {
            shown = outcome->row;
            result.overChange = true;
            continue;
        }
        result.kind = choice == 1 ? CheckedWrite::ShowStored : CheckedWrite::Cancelled;
        result.stored = outcome->row;
        return result;
    }
}

} // namespace tarn
