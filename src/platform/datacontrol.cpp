// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/datacontrol.h"

#include "platform/prompter.h"
#include "store/database.h"
#include "store/fieldvalue.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QShortcut>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QToolButton>

namespace tarn
{

namespace
{

bool truthy(const QVariant &v)
{
    return !v.isNull() && v.toDouble() != 0.0;
}

QString display(const QVariant &v)
{
    return v.isNull() ? QString() : v.toString();
}

QToolButton *navButton(QWidget *parent, const char *name, const QString &text, const QString &tip)
{
    auto *b = new QToolButton(parent);
    b->setObjectName(QLatin1String(name));
    b->setText(text);
    b->setToolTip(tip);
    b->setAccessibleName(tip);
    b->setFocusPolicy(Qt::NoFocus);
    b->setAutoRaise(false);
    return b;
}

// A whole-number field keeps room for the longest value its column holds
// ("-32768"), however a window squeezes it, so that no digit hides.
void keepRoomForLongest(QLineEdit *edit, schema::Kind kind)
{
    double low = 0, high = 0;
    if (kind == schema::Kind::Number || !schema::rangeOf(kind, &low, &high))
        return;
    const QString longest = QString::number(qint64(low));
    QStyleOptionFrame option;
    option.initFrom(edit);
    option.lineWidth = edit->hasFrame()
                           ? edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, edit)
                           : 0;
    const QMargins margins = edit->textMargins() + edit->contentsMargins();
    // QLineEdit's own margin of 2 pixels a side, and the cursor.
    const QSize text(edit->fontMetrics().horizontalAdvance(longest) + 2 * 2 + 1 + margins.left() +
                         margins.right(),
                     edit->fontMetrics().height());
    const int width =
        edit->style()->sizeFromContents(QStyle::CT_LineEdit, &option, text, edit).width();
    edit->setMinimumWidth(qMax(edit->minimumWidth(), width));
    edit->setMaximumWidth(qMax(edit->maximumWidth(), width));
}

} // namespace

DataControl::DataControl(QWidget *parent) : QWidget(parent)
{
    mFirst = navButton(this, "first", QStringLiteral("|<"), tr("First record (Ctrl+Home)"));
    mPrevious = navButton(this, "previous", QStringLiteral("<"), tr("Previous record (Page Up)"));
    mNext = navButton(this, "next", QStringLiteral(">"), tr("Next record (Page Down)"));
    mLast = navButton(this, "last", QStringLiteral(">|"), tr("Last record (Ctrl+End)"));
    mCaption = new QLabel(this);
    mCaption->setObjectName(QStringLiteral("caption"));
    mCaption->setAlignment(Qt::AlignCenter);
    mCaption->setMinimumWidth(60);
    mCaption->setFrameShape(QFrame::StyledPanel);

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(1);
    layout->addWidget(mFirst);
    layout->addWidget(mPrevious);
    layout->addWidget(mCaption, 1);
    layout->addWidget(mNext);
    layout->addWidget(mLast);

    connect(mFirst, &QToolButton::clicked, this, &DataControl::moveFirst);
    connect(mPrevious, &QToolButton::clicked, this, &DataControl::movePrevious);
    connect(mNext, &QToolButton::clicked, this, &DataControl::moveNext);
    connect(mLast, &QToolButton::clicked, this, &DataControl::moveLast);

    const QList<std::pair<QKeySequence, bool (DataControl::*)()>> keys{
        {QKeySequence(Qt::CTRL | Qt::Key_Home), &DataControl::moveFirst},
        {QKeySequence(Qt::Key_PageUp), &DataControl::movePrevious},
        {QKeySequence(Qt::Key_PageDown), &DataControl::moveNext},
        {QKeySequence(Qt::CTRL | Qt::Key_End), &DataControl::moveLast},
    };
    for (const auto &[key, move] : keys) {
        auto *shortcut = new QShortcut(key, this);
        shortcut->setContext(Qt::WindowShortcut);
        connect(shortcut, &QShortcut::activated, this, move);
    }
    updateButtons();
}

DataControl::~DataControl() = default;

void DataControl::setCaption(const QString &caption)
{
    mCaption->setText(caption);
}

void DataControl::setRecordSource(Database &db, RecordSource source)
{
    mCursor.emplace(db, std::move(source));
}

void DataControl::bind(QLineEdit *edit, const QString &column, schema::Kind kind,
                       const QString &field)
{
    mBindings.push_back({column, kind, field, edit, Binding::Edit, {}, {}, true});
    connect(edit, &QLineEdit::textChanged, this, &DataControl::editsChanged);
    keepRoomForLongest(edit, kind);
}

void DataControl::bind(QLabel *label, const QString &column, const QString &field)
{
    label->setTextFormat(Qt::PlainText); // stored text, never markup
    mBindings.push_back({column,
                         schema::Kind::Text,
                         field.isEmpty() ? column : field,
                         label,
                         Binding::Label,
                         {},
                         {},
                         true});
}

void DataControl::bind(QCheckBox *box, const QString &column, const QString &field)
{
    mBindings.push_back({column, schema::Kind::YesNo, field, box, Binding::Check, {}, {}, true});
    connect(box, &QCheckBox::toggled, this, &DataControl::editsChanged);
}

void DataControl::bindValue(const QString &column, schema::Kind kind, const QString &field)
{
    mBindings.push_back({column, kind, field, nullptr, Binding::Value, {}, {}, true});
}

QVariant DataControl::value(const QString &column) const
{
    for (const Binding &b : mBindings)
        if (b.column == column)
            return b.type == Binding::Value ? b.current : b.loaded;
    return {};
}

void DataControl::setValue(const QString &column, const QVariant &value)
{
    for (Binding &b : mBindings)
        if (b.column == column && b.type == Binding::Value)
            b.current = value;
    editsChanged();
}

void DataControl::editsChanged()
{
    if (!mShowing)
        emit undoStateChanged();
}

RecordCursor::Key DataControl::currentKey() const
{
    return mIndex >= 0 && mIndex < recordCount() ? mCursor->keys().at(mIndex) : -1;
}

bool DataControl::report(const Status &status) const
{
    if (!status)
        tell(status.message());
    return status.ok();
}

bool DataControl::refresh()
{
    if (!mCursor || !writeBack())
        return false;
    mIndex = -1;
    const bool ok = report(mCursor->reload());
    show(recordCount() == 0 ? -1 : 0);
    return ok;
}

bool DataControl::moveTo(int index)
{
    return writeBack() && go(index);
}

bool DataControl::moveToKey(RecordCursor::Key key)
{
    if (!mCursor || !writeBack())
        return false;
    const qsizetype index = mCursor->keys().indexOf(key);
    return index >= 0 && go(int(index));
}

void DataControl::reloadCurrent()
{
    if (mIndex >= 0)
        show(mIndex);
}

bool DataControl::moveFirst()
{
    return moveTo(0);
}

// The target of a relative move is taken after the write-back, which may
// have stored or dropped a pending new row.
bool DataControl::movePrevious()
{
    return writeBack() && go(mIndex < 0 ? 0 : mIndex - 1);
}

bool DataControl::moveNext()
{
    return writeBack() && go(mIndex < 0 ? 0 : mIndex + 1);
}

bool DataControl::moveLast()
{
    return writeBack() && go(recordCount() - 1);
}

bool DataControl::go(int index)
{
    if (recordCount() == 0)
        return true;
    index = qBound(0, index, recordCount() - 1);
    if (index != mIndex)
        show(index);
    return true;
}

void DataControl::show(int index)
{
    mAddingNew = false;
    bool loaded = false;
    // A row that another client deleted since the keys were read is passed
    // over: the keys are read again and the row now at that place is shown.
    for (int tries = 0; !loaded && tries < 3 && index >= 0 && index < recordCount(); ++tries) {
        const std::optional<bool> found = loadRow(mCursor->keys().at(index));
        if (!found)
            break;
        loaded = *found;
        if (!loaded) {
            if (!report(mCursor->reload()))
                break;
            index = qMin(index, recordCount() - 1);
        }
    }
    if (!loaded) {
        showEmpty(false);
    } else {
        mIndex = index;
        setControlsEnabled(true);
        showLoaded();
    }
    updateButtons();
    emit repositioned();
}

void DataControl::showEmpty(bool enabled)
{
    mIndex = -1;
    for (Binding &b : mBindings)
        b.loaded = QVariant();
    showLoaded();
    setControlsEnabled(enabled);
}

void DataControl::showLoaded()
{
    mShowing = true;
    for (Binding &b : mBindings) {
        switch (b.type) {
        case Binding::Edit: {
            auto *edit = static_cast<QLineEdit *>(b.widget.data());
            edit->setText(display(b.loaded));
            edit->setCursorPosition(0);
            break;
        }
        case Binding::Label:
            static_cast<QLabel *>(b.widget.data())->setText(display(b.loaded));
            break;
        case Binding::Check:
            static_cast<QCheckBox *>(b.widget.data())->setChecked(truthy(b.loaded));
            break;
        case Binding::Value:
            b.current = b.loaded;
            break;
        }
    }
    mShowing = false;
    emit undoStateChanged();
}

void DataControl::setControlsEnabled(bool enabled)
{
    if (enabled == mControlsEnabled)
        return;
    mControlsEnabled = enabled;
    // Controls the window greyed for reasons of its own stay greyed.
    for (Binding &b : mBindings) {
        if (!b.widget)
            continue;
        if (!enabled)
            b.wasEnabled = !b.widget->testAttribute(Qt::WA_ForceDisabled);
        b.widget->setEnabled(enabled && b.wasEnabled);
    }
}

std::optional<bool> DataControl::loadRow(RecordCursor::Key key)
{
    QStringList columns;
    for (const Binding &b : mBindings)
        columns << b.column;
    Result<std::optional<QVariantList>> row = mCursor->load(key, columns);
    if (!report(row.status()))
        return std::nullopt;
    if (!*row)
        return false;
    for (size_t i = 0; i < mBindings.size(); ++i)
        mBindings[i].loaded = (**row).at(qsizetype(i));
    return true;
}

void DataControl::updateButtons()
{
    const bool any = recordCount() > 0;
    mFirst->setEnabled(any);
    mPrevious->setEnabled(any);
    mNext->setEnabled(any);
    mLast->setEnabled(any);
}

bool DataControl::changed(const Binding &b) const
{
    switch (b.type) {
    case Binding::Edit:
        return static_cast<QLineEdit *>(b.widget.data())->text() != display(b.loaded);
    case Binding::Check:
        return static_cast<QCheckBox *>(b.widget.data())->isChecked() != truthy(b.loaded);
    case Binding::Value:
        return !sameValue(b.current, b.loaded);
    case Binding::Label:
        break;
    }
    return false;
}

std::optional<QVariant> DataControl::edited(const Binding &b, QString *problem) const
{
    switch (b.type) {
    case Binding::Check:
        return QVariant(static_cast<QCheckBox *>(b.widget.data())->isChecked() ? 1 : 0);
    case Binding::Value:
        if (Status s = checkFieldRange(b.kind, b.field, b.current); !s) {
            *problem = s.message();
            return std::nullopt;
        }
        return b.current;
    case Binding::Label:
        return b.loaded;
    case Binding::Edit:
        break;
    }
    Result<QVariant> value =
        fieldValue(b.kind, b.field, static_cast<QLineEdit *>(b.widget.data())->text());
    if (!value) {
        *problem = value.message();
        return std::nullopt;
    }
    return *value;
}

bool DataControl::writeBack()
{
    if (!mCursor || (mIndex < 0 && !mAddingNew))
        return true;
    RowValues edits;
    for (const Binding &b : mBindings) {
        if (!changed(b))
            continue;
        QString problem;
        const std::optional<QVariant> value = edited(b, &problem);
        if (!value) {
            tell(problem);
            if (b.widget)
                b.widget->setFocus();
            return false;
        }
        edits.columns << b.column;
        edits.values << *value;
    }
    if (mAddingNew) {
        if (edits.columns.isEmpty()) {
            // Nothing was typed: the new row is dropped.
            mAddingNew = false;
            show(qMin(mIndexBeforeNew, recordCount() - 1));
            return true;
        }
        // On failure the row stays pending with what was typed.
        return storeNewRow(edits.columns, edits.values);
    }
    if (edits.columns.isEmpty())
        return true;
    return storeEdits(edits);
}

RowValues DataControl::shownRow() const
{
    RowValues row;
    for (const Binding &b : mBindings)
        row.set(b.column, b.loaded);
    return row;
}

bool DataControl::storeEdits(const RowValues &edits)
{
    const CheckedWrite write = storeChecked(
        *mCursor, mPrompter, currentKey(), edits, shownRow(),
        tr("Your changes to this record were not stored: another user or program changed the "
           "record since it was shown."),
        wording());
    switch (write.kind) {
    case CheckedWrite::Failed:
        return report(write.status);
    case CheckedWrite::Gone:
        return resolveGone(edits);
    case CheckedWrite::Cancelled:
        return false;
    case CheckedWrite::Stored:
    case CheckedWrite::ShowStored:
        break;
    }
    const RowValues after = write.after();
    for (Binding &b : mBindings)
        b.loaded = after.value(b.column);
    if (!write.written.columns.isEmpty()) {
        record({EditHistory::Step::Update, currentKey(), write.replaced(), after});
        emit rowChanged(currentKey());
    }
    if (write.changedMeanwhile) {
        // The row as it is now, another client's changes with the user's.
        showLoaded();
        emit repositioned();
    }
    // Taking the stored values keeps the user on the row to see them.
    return write.kind == CheckedWrite::Stored;
}

bool DataControl::resolveGone(const RowValues &edits)
{
    const int choice =
        mPrompter
            ? mPrompter->choose(tr("Your changes to this record were not stored: another user "
                                   "or program deleted the record since it was shown.\n\n%1\n\n"
                                   "Store it again as a new record, or drop your changes?")
                                    .arg(tr("Your changes:\n%1").arg(editLines(wording(), edits))),
                                {tr("Store As New Record"), tr("Drop My Changes"), tr("Cancel")}, 2,
                                Prompter::Icon::Warning)
            : -1;
    if (choice == 0) {
        RowValues row = shownRow();
        for (qsizetype i = 0; i < edits.columns.size(); ++i)
            row.set(edits.columns.at(i), edits.values.at(i));
        return storeNewRow(row.columns, row.values);
    }
    if (choice == 1) {
        // The user stays where the row was, to see what is there now.
        const int at = mIndex;
        if (report(mCursor->reload()))
            show(qMin(at, recordCount() - 1));
    }
    return false;
}

QString DataControl::fieldName(const Binding *b, const QString &column) const
{
    if (!b)
        return schema::fieldLabel(column);
    // A box is known by its caption (a name the window gave it).
    if (b->type == Binding::Check) {
        QString text = static_cast<QCheckBox *>(b->widget.data())->text();
        text.replace(QStringLiteral("&&"), QStringLiteral("\x01"))
            .remove(QLatin1Char('&'))
            .replace(QLatin1Char('\x01'), QLatin1Char('&'));
        if (!text.isEmpty())
            return text;
    }
    return b->field;
}

QString DataControl::valueText(const Binding *b, const QVariant &value) const
{
    if (b && b->type == Binding::Check)
        return truthy(value) ? tr("ticked") : tr("not ticked");
    if (value.isNull() || value.toString().isEmpty())
        return tr("(empty)");
    if (b && b->type == Binding::Value && mValueText)
        return mValueText(b->column, value);
    if (value.typeId() == QMetaType::QString)
        return QLatin1Char('"') + value.toString() + QLatin1Char('"');
    return value.toString();
}

FieldWording DataControl::wording() const
{
    return {[this](const QString &column) { return fieldName(binding(column), column); },
            [this](const QString &column, const QVariant &value) {
                return valueText(binding(column), value);
            }};
}

const DataControl::Binding *DataControl::binding(const QString &column) const
{
    for (const Binding &b : mBindings)
        if (b.column == column)
            return &b;
    return nullptr;
}

bool DataControl::addNew()
{
    if (!writeBack())
        return false;
    mIndexBeforeNew = qMax(0, mIndex);
    mAddingNew = true;
    showEmpty(true);
    updateButtons();
    return true;
}

bool DataControl::insertRow(const QStringList &columns, const QVariantList &values)
{
    return writeBack() && storeNewRow(columns, values);
}

bool DataControl::storeNewRow(const QStringList &columns, const QVariantList &values)
{
    const Result<RecordCursor::Key> key = mCursor->insert(columns, values);
    if (!report(key.status()))
        return false;
    record({EditHistory::Step::Insert, *key, {}, {columns, values}});
    emit rowChanged(*key);
    show(int(mCursor->keys().indexOf(*key)));
    return true;
}

void DataControl::record(EditHistory::Step step)
{
    mHistory.push(std::move(step));
    emit undoStateChanged();
}

bool DataControl::deleteCurrent()
{
    if (mAddingNew) {
        mAddingNew = false;
        show(recordCount() == 0 ? -1 : 0);
        return true;
    }
    if (mIndex < 0 || !mCursor)
        return true;
    // A row deleted meanwhile by another client is gone all the same.
    const RecordCursor::Key key = currentKey();
    const Result<WriteOutcome> removed = mCursor->remove(key);
    if (!report(removed.status()))
        return false;
    if (removed->kind == WriteOutcome::Done)
        record({EditHistory::Step::Remove, key, removed->row, {}});
    emit rowChanged(key);
    show(recordCount() == 0 ? -1 : 0);
    return true;
}

std::optional<RecordCursor::Key> DataControl::keyWhere(const QString &column, const QVariant &value)
{
    if (!mCursor)
        return -1;
    const RecordCursor::Key current = currentKey();
    RecordCursor::Key found = -1;
    if (!report(mCursor->loadAll({column}, [&](RecordCursor::Key key, const QVariantList &row) {
            if (found < 0 && sameValue(row.at(0), value))
                found = key;
        })))
        return std::nullopt;
    // Rows another client added or deleted move the current one's place.
    if (current >= 0) {
        const qsizetype at = mCursor->keys().indexOf(current);
        if (at >= 0)
            mIndex = int(at);
        else
            show(qMin(mIndex, recordCount() - 1));
    }
    updateButtons();
    return found;
}

std::optional<int> DataControl::storeRow(RecordCursor::Key key, const RowValues &row)
{
    if (!moveToKey(key))
        return std::nullopt;
    RowValues edits;
    for (const Binding &b : mBindings)
        if (b.type != Binding::Label && row.columns.contains(b.column) &&
            !sameValue(b.loaded, row.value(b.column)))
            edits.set(b.column, row.value(b.column));
    if (edits.columns.isEmpty())
        return 0;
    const bool stored = storeEdits(edits);
    // The controls showed the row before: now they show what was stored.
    showLoaded();
    emit repositioned();
    if (!stored)
        return std::nullopt;
    return int(edits.columns.size());
}

bool DataControl::hasPendingEdits() const
{
    if (mIndex < 0 && !mAddingNew)
        return false;
    for (const Binding &b : mBindings)
        if (changed(b))
            return true;
    return false;
}

bool DataControl::canUndo() const
{
    return mHistory.canUndo() || hasPendingEdits();
}

bool DataControl::canRedo() const
{
    return mHistory.canRedo() && !hasPendingEdits();
}

bool DataControl::undo()
{
    return takeStep(true);
}

bool DataControl::redo()
{
    return takeStep(false);
}

bool DataControl::takeStep(bool undo)
{
    // Pending edits are stored first, as a move stores them: they are then
    // the change that undo takes back.
    if (!mCursor || !writeBack())
        return false;
    if (undo ? !mHistory.canUndo() : !mHistory.canRedo())
        return false;
    EditHistory::Step &step = mHistory.next(undo);
    using Step = EditHistory::Step;
    if (step.kind == Step::Window) {
        if (!step.take(undo))
            return false;
        mHistory.advance(undo);
        emit undoStateChanged();
        return true;
    }
    // The stored values the user accepted to write over, after a question.
    std::optional<RowValues> over;
    for (;;) {
        Result<WriteOutcome> outcome = WriteOutcome();
        const RecordCursor::Key key = step.key;
        RowValues edits;
        if (step.kind == Step::Update) {
            RowValues shown = step.after;
            edits = step.before;
            if (!undo) {
                for (qsizetype i = 0; i < edits.columns.size(); ++i) {
                    edits.values[i] = step.after.value(edits.columns.at(i));
                    shown.set(edits.columns.at(i), step.before.values.at(i));
                }
            }
            outcome = mCursor->store(key, edits, over ? *over : shown);
            if (outcome && outcome->kind == WriteOutcome::Done && over) {
                // The row now holds their values and this step's: a step the
                // other way checks against that.
                RowValues now = *over;
                for (const QString &column : edits.columns)
                    now.set(column, step.after.value(column));
                step.after = now;
            }
        } else if ((step.kind == Step::Insert) == undo) {
            outcome = mCursor->remove(
                key, over ? *over : (step.kind == Step::Insert ? step.after : step.before));
            if (outcome && outcome->kind == WriteOutcome::Done)
                step.before = outcome->row;
            else if (outcome && outcome->kind == WriteOutcome::Gone) {
                // Deleted meanwhile, which is what was asked.
                if (step.before.columns.isEmpty())
                    step.before = step.after;
                outcome = WriteOutcome();
            }
        } else {
            const Result<RecordCursor::Key> added = mCursor->insert(step.before);
            if (!report(added.status()))
                return false;
            mHistory.rekey(key, *added);
        }
        if (!report(outcome.status()))
            return false;
        if (outcome->kind == WriteOutcome::Done) {
            const RecordCursor::Key now = step.key;
            const bool sameRows = step.kind == Step::Update;
            mHistory.advance(undo);
            emit undoStateChanged();
            if (key != now)
                emit rowChanged(key); // the row came back under a new key
            emit rowChanged(now);
            // A field taken back leaves the keys as they are: only the row is read.
            if (const qsizetype at = mCursor->keys().indexOf(now); sameRows && at >= 0) {
                show(int(at));
                return true;
            }
            return showKey(now);
        }
        if (outcome->kind == WriteOutcome::Gone) {
            tell(undo ? tr("This change cannot be undone: another user or program deleted the "
                           "record since. It is taken out of the history.")
                      : tr("This change cannot be made again: another user or program deleted "
                           "the record since. It is taken out of the history."));
            mHistory.drop(undo);
            emit undoStateChanged();
            return false;
        }
        // A change of other fields is no reason to ask: it stays beside this one.
        const QList<FieldChange> asked =
            step.kind == Step::Update ? clashes(outcome->changes, edits) : outcome->changes;
        over = outcome->row;
        if (asked.isEmpty())
            continue;
        const QString question =
            tr("%1: another user or program changed the record since.\n\nChanged meanwhile:\n"
               "%2\n\n%3")
                .arg(undo ? tr("This change was not undone") : tr("This change was not made again"),
                     changeLines(wording(), asked),
                     undo ? tr("Undo anyway (stored over their values), or cancel?")
                          : tr("Redo anyway (stored over their values), or cancel?"));
        const int choice =
            mPrompter
                ? mPrompter->choose(question,
                                    {undo ? tr("Undo Anyway") : tr("Redo Anyway"), tr("Cancel")}, 1,
                                    Prompter::Icon::Warning)
                : -1;
        if (choice != 0)
            return false;
    }
}

bool DataControl::showKey(RecordCursor::Key key)
{
    const int at = mIndex;
    if (!report(mCursor->reload()))
        return false;
    const qsizetype index = mCursor->keys().indexOf(key);
    show(index >= 0 ? int(index) : qMin(qMax(at, 0), recordCount() - 1));
    return true;
}

void DataControl::tell(const QString &message) const
{
    if (mPrompter)
        mPrompter->message(message, Prompter::Buttons::Ok, Prompter::Icon::Warning);
}

} // namespace tarn
