#include "datacontrol.h"

#include "classrecord.h"
#include "database.h"
#include "prompter.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QShortcut>
#include <QSqlQuery>
#include <QToolButton>

#include <cmath>

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

// Same value as far as the user can tell: NULL only equals NULL, numbers by value.
bool sameValue(const QVariant &a, const QVariant &b)
{
    if (a.isNull() || b.isNull())
        return a.isNull() == b.isNull();
    bool okA = false, okB = false;
    const double da = a.toDouble(&okA), db = b.toDouble(&okB);
    if (okA && okB && a.typeId() != QMetaType::QString && b.typeId() != QMetaType::QString)
        return da == db;
    return a.toString() == b.toString();
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

void DataControl::setRecordSource(const QString &table, const QString &filter,
                                  const QVariantList &filterValues, const QString &order)
{
    mTable = table;
    mFilter = filter;
    mFilterValues = filterValues;
    mOrder = order;
}

void DataControl::bind(QLineEdit *edit, const QString &column, schema::Kind kind,
                       const QString &field)
{
    mBindings.push_back({column, kind, field, edit, Binding::Edit, {}, {}, true});
}

void DataControl::bind(QLabel *label, const QString &column)
{
    label->setTextFormat(Qt::PlainText); // stored text, never markup
    mBindings.push_back({column, schema::Kind::Text, column, label, Binding::Label, {}, {}, true});
}

void DataControl::bind(QCheckBox *box, const QString &column, const QString &field)
{
    mBindings.push_back({column, schema::Kind::YesNo, field, box, Binding::Check, {}, {}, true});
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
}

qint64 DataControl::currentRowId() const
{
    return mIndex >= 0 && mIndex < mRowIds.size() ? mRowIds.at(mIndex) : -1;
}

QString DataControl::selectIdsSql() const
{
    QString sql = QStringLiteral("SELECT rowid FROM %1").arg(mTable);
    if (!mFilter.isEmpty())
        sql += QStringLiteral(" WHERE ") + mFilter;
    sql += QStringLiteral(" ORDER BY ");
    if (!mOrder.isEmpty())
        sql += mOrder + QStringLiteral(", ");
    return sql + QStringLiteral("rowid");
}

bool DataControl::requery(std::optional<qint64> keepRowId)
{
    mRowIds.clear();
    mIndex = -1;
    QSqlQuery query;
    if (Status s = mDb->exec(query, selectIdsSql(), mFilterValues,
                             tr("Could not read the records of %1.").arg(mTable));
        !s) {
        tell(s.message());
        return false;
    }
    while (query.next())
        mRowIds.append(query.value(0).toLongLong());
    if (keepRowId)
        mIndex = int(mRowIds.indexOf(*keepRowId));
    return true;
}

bool DataControl::refresh()
{
    if (!writeBack())
        return false;
    const bool ok = requery(std::nullopt);
    show(mRowIds.isEmpty() ? -1 : 0);
    return ok;
}

bool DataControl::moveTo(int index)
{
    return writeBack() && go(index);
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
    return writeBack() && go(int(mRowIds.size()) - 1);
}

bool DataControl::go(int index)
{
    if (mRowIds.isEmpty())
        return true;
    index = qBound(0, index, int(mRowIds.size()) - 1);
    if (index != mIndex)
        show(index);
    return true;
}

void DataControl::show(int index)
{
    mAddingNew = false;
    if (index < 0 || index >= mRowIds.size() || !loadRow(mRowIds.at(index))) {
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

bool DataControl::loadRow(qint64 rowId)
{
    QStringList columns;
    for (const Binding &b : mBindings)
        columns << b.column;
    QSqlQuery query;
    if (Status s = mDb->exec(query,
                             QStringLiteral("SELECT %1 FROM %2 WHERE rowid = ?")
                                 .arg(columns.join(QStringLiteral(", ")), mTable),
                             {rowId}, tr("Could not read a record of %1.").arg(mTable));
        !s) {
        tell(s.message());
        return false;
    }
    if (!query.next())
        return false;
    for (size_t i = 0; i < mBindings.size(); ++i)
        mBindings[i].loaded = query.value(int(i));
    return true;
}

void DataControl::updateButtons()
{
    const int count = int(mRowIds.size());
    const bool any = count > 0;
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

bool DataControl::inRange(schema::Kind kind, double value)
{
    double low = 0, high = 0;
    return !schema::rangeOf(kind, &low, &high) || (value >= low && value <= high);
}

QString DataControl::outOfRange(const Binding &b, const QString &value)
{
    double low = 0, high = 0;
    schema::rangeOf(b.kind, &low, &high);
    return tr("%1: %2 is out of range; it must lie between %3 and %4.")
        .arg(b.field, value, QString::number(qint64(low)), QString::number(qint64(high)));
}

std::optional<QVariant> DataControl::edited(const Binding &b, QString *problem) const
{
    switch (b.type) {
    case Binding::Check:
        return QVariant(static_cast<QCheckBox *>(b.widget.data())->isChecked() ? 1 : 0);
    case Binding::Value:
        // Set by the window, not typed; still never more than the column holds.
        if (!b.current.isNull() && !inRange(b.kind, b.current.toDouble())) {
            *problem = outOfRange(b, b.current.toString());
            return std::nullopt;
        }
        return b.current;
    case Binding::Label:
        return b.loaded;
    case Binding::Edit:
        break;
    }
    const QString text = static_cast<QLineEdit *>(b.widget.data())->text();
    if (b.kind == schema::Kind::Text)
        return text.isEmpty() ? QVariant() : QVariant(text);
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return QVariant();
    // Number fields follow the grammar of numbers in class files.
    const classfile::Number parsed = classfile::parseNumber(trimmed.toStdString());
    const std::optional<double> number =
        parsed.kind == classfile::Number::Ok ? std::optional<double>(parsed.value) : std::nullopt;
    const bool whole = b.kind != schema::Kind::Number;
    if (parsed.kind == classfile::Number::OutOfRange) {
        *problem = tr("%1: %2 is out of range.").arg(b.field, trimmed);
        return std::nullopt;
    }
    if (!number || (whole && std::floor(*number) != *number)) {
        *problem = tr("%1: '%2' is not a %3.")
                       .arg(b.field, text, whole ? tr("whole number") : tr("number"));
        return std::nullopt;
    }
    if (!inRange(b.kind, *number)) {
        *problem = outOfRange(b, trimmed);
        return std::nullopt;
    }
    if (std::floor(*number) == *number && std::fabs(*number) < 9007199254740992.0)
        return QVariant(qint64(*number));
    return QVariant(*number);
}

bool DataControl::writeBack()
{
    if (!mDb || (mIndex < 0 && !mAddingNew))
        return true;
    QStringList columns;
    QVariantList values;
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
        columns << b.column;
        values << *value;
    }
    if (mAddingNew) {
        if (columns.isEmpty()) {
            // Nothing was typed: the new row is dropped.
            mAddingNew = false;
            show(qMin(mIndexBeforeNew, int(mRowIds.size()) - 1));
            return true;
        }
        // On failure the row stays pending with what was typed.
        return storeNewRow(columns, values);
    }
    if (columns.isEmpty())
        return true;
    QStringList assignments;
    for (const QString &column : columns)
        assignments << column + QStringLiteral(" = ?");
    QSqlQuery query;
    if (Status s = mDb->exec(query,
                             QStringLiteral("UPDATE %1 SET %2 WHERE rowid = ?")
                                 .arg(mTable, assignments.join(QStringLiteral(", "))),
                             values + QVariantList{currentRowId()},
                             tr("The changes to this record could not be stored."));
        !s) {
        tell(s.message());
        return false;
    }
    if (query.numRowsAffected() < 1) {
        // Never re-create a row that is gone.
        tell(tr("This record no longer exists; the changes to it were not stored."));
        return true;
    }
    for (Binding &b : mBindings) {
        const qsizetype at = columns.indexOf(b.column);
        if (at >= 0)
            b.loaded = values.at(at);
    }
    return true;
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
    QSqlQuery query;
    if (Status s = mDb->exec(
            query,
            QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                .arg(mTable, schema::joined(columns), schema::placeholders(columns.size())),
            values, tr("The new record could not be stored."));
        !s) {
        tell(s.message());
        return false;
    }
    requery(query.lastInsertId().toLongLong());
    show(mIndex);
    return true;
}

bool DataControl::deleteCurrent()
{
    if (mAddingNew) {
        mAddingNew = false;
        show(mRowIds.isEmpty() ? -1 : 0);
        return true;
    }
    if (mIndex < 0)
        return true;
    if (Status s = mDb->exec(QStringLiteral("DELETE FROM %1 WHERE rowid = ?").arg(mTable),
                             {currentRowId()}, tr("The record could not be deleted."));
        !s) {
        tell(s.message());
        return false;
    }
    requery(std::nullopt);
    show(mRowIds.isEmpty() ? -1 : 0);
    return true;
}

void DataControl::tell(const QString &message) const
{
    if (mPrompter)
        mPrompter->message(message, Prompter::Buttons::Ok, Prompter::Icon::Warning);
}

} // namespace tarn
