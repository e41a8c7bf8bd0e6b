// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/classes/classtablemodel.h"

#include "platform/checkedwrite.h"
#include "platform/prompter.h"
#include "store/fieldvalue.h"
#include "store/refstore.h"
#include "store/textrules.h"
#include "ui/classes/classrefs.h"

#include <limits>

namespace tarn
{

using schema::Kind;
using schema::RefKind;

namespace
{

// A column of the table that shows one stored column.
struct TableColumn {
    QString column;
    Kind kind;
    QString header;
    std::optional<RefKind> slot;
};

QString capitalized(QString text)
{
    if (!text.isEmpty())
        text[0] = text[0].toUpper();
    return text;
}

// In the order a person reads a class: who it is, what it looks like, how
// tough and fast, what it carries.
const std::vector<TableColumn> &tableColumns()
{
    static const std::vector<TableColumn> columns = [] {
        std::vector<TableColumn> list;
        auto add = [&list](const QString &column, Kind kind, std::optional<RefKind> slot = {}) {
            list.push_back({column, kind, capitalized(schema::fieldLabel(column)), slot});
        };
        add(QStringLiteral("class_num"), Kind::Whole16);
        for (const char *text : {"class_name", "model_name", "skin_name1", "skin_name2"})
            add(QLatin1String(text), Kind::Text);
        for (const char *whole : {"decoyskin", "max_armor", "max_speed", "max_health"})
            add(QLatin1String(whole), Kind::Whole16);
        // The frame's own labels: "Bullets" rather than "Bullets (Ammo Limits)".
        for (const schema::AmmoColumn &a : schema::ammoColumns())
            list.push_back({QLatin1String(a.name), Kind::Whole16, QLatin1String(a.label), {}});
        // Slot 1 always holds weapon 1, and the class editor shows no list for it.
        for (int k = 2; k <= schema::slotCount(RefKind::Weapon); ++k)
            add(schema::slotColumn(RefKind::Weapon, k), Kind::Whole16, RefKind::Weapon);
        for (int k = 1; k <= schema::slotCount(RefKind::Grenade); ++k)
            add(schema::slotColumn(RefKind::Grenade, k), Kind::Whole16, RefKind::Grenade);
        return list;
    }();
    return columns;
}

int valueColumns()
{
    return int(tableColumns().size());
}

// The two flag columns follow the stored ones, with the class editor's frame captions.
int itemsColumn()
{
    return valueColumns();
}

int specialsColumn()
{
    return valueColumns() + 1;
}

// What a row reads: the table's columns, then the flags of the boxes the class
// editor shows (items, then specials).
const QStringList &readColumns()
{
    static const QStringList columns = [] {
        QStringList list;
        for (const TableColumn &c : tableColumns())
            list << c.column;
        for (RefKind kind : {RefKind::Item, RefKind::Special})
            for (int k = 1; k <= int(flagBoxes(kind)); ++k)
                list << schema::flagColumn(kind, k);
        return list;
    }();
    return columns;
}

bool truthy(const QVariant &v)
{
    return !v.isNull() && v.toDouble() != 0.0;
}

// NULL first, then numbers by value.
int compareNumbers(const QVariant &a, const QVariant &b)
{
    if (a.isNull() || b.isNull())
        return a.isNull() == b.isNull() ? 0 : (a.isNull() ? -1 : 1);
    const double x = a.toDouble(), y = b.toDouble();
    return x < y ? -1 : (x > y ? 1 : 0);
}

} // namespace

ClassTableModel::ClassTableModel(Database &db, const QString &package, const ClassRefs &refs,
                                 Prompter &prompter, QObject *parent)
    : QAbstractTableModel(parent), mRefs(refs), mPrompter(prompter),
      mCursor(db, RecordSource::classesOf(package))
{
}

bool ClassTableModel::load()
{
    beginResetModel();
    mRows.clear();
    const Status status =
        mCursor.loadAll(readColumns(), [this](Key key, const QVariantList &values) {
            mRows.push_back(readRow(key, values));
        });
    endResetModel();
    if (!status)
        mPrompter.message(status.message(), Prompter::Buttons::Ok, Prompter::Icon::Warning);
    return status.ok();
}

ClassTableModel::Row ClassTableModel::readRow(Key key, const QVariantList &values) const
{
    Row row;
    row.key = key;
    row.values = values;
    row.items = flagText(RefKind::Item, values, valueColumns());
    row.specials = flagText(RefKind::Special, values, valueColumns() + int(kItemBoxes));
    return row;
}

// The names of the ticked boxes, as the class editor labels them.
QString ClassTableModel::flagText(RefKind kind, const QVariantList &values, int first) const
{
    const QList<RefEntry> &rows = mRefs.of(kind).all;
    QString text;
    for (qsizetype k = 0; k < flagsInUse(kind); ++k) {
        if (!truthy(values.at(first + k)))
            continue;
        if (!text.isEmpty())
            text += QStringLiteral(", ");
        text += rows.at(k).name;
    }
    return text;
}

int ClassTableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(mRows.size());
}

int ClassTableModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : valueColumns() + 2;
}

QString ClassTableModel::text(const Row &row, int column) const
{
    if (column == itemsColumn())
        return row.items;
    if (column == specialsColumn())
        return row.specials;
    const QVariant &value = row.values.at(column);
    const TableColumn &c = tableColumns()[std::size_t(column)];
    if (c.slot)
        return mRefs.listText(*c.slot, value);
    return value.isNull() ? QString() : value.toString();
}

QString ClassTableModel::className(int row) const
{
    return text(mRows.at(std::size_t(row)), 1);
}

QVariant ClassTableModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const Row &row = mRows[std::size_t(index.row())];
    const int column = index.column();
    const bool flagsColumn = column >= valueColumns();
    switch (role) {
    case Qt::DisplayRole:
        return text(row, column);
    case Qt::ToolTipRole:
        return flagsColumn ? text(row, column) : QVariant();
    case Qt::EditRole:
        if (flagsColumn)
            return flagMask(row, column == itemsColumn() ? RefKind::Item : RefKind::Special);
        if (tableColumns()[std::size_t(column)].slot)
            return row.values.at(column);
        return text(row, column);
    case Qt::TextAlignmentRole:
        if (!flagsColumn && tableColumns()[std::size_t(column)].kind != Kind::Text &&
            !tableColumns()[std::size_t(column)].slot)
            return int(Qt::AlignRight | Qt::AlignVCenter);
        return int(Qt::AlignLeft | Qt::AlignVCenter);
    default:
        return {};
    }
}

QVariant ClassTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= columnCount())
        return QAbstractTableModel::headerData(section, orientation, role);
    if (role == Qt::DisplayRole) {
        if (section == itemsColumn())
            return tr("Items");
        if (section == specialsColumn())
            return tr("Special");
        return tableColumns()[std::size_t(section)].header;
    }
    return {};
}

Qt::ItemFlags ClassTableModel::flags(const QModelIndex &index) const
{
    Qt::ItemFlags f = QAbstractTableModel::flags(index);
    if (index.isValid())
        f |= Qt::ItemIsEditable;
    return f;
}

bool ClassTableModel::refuse(const QString &message)
{
    mRefused = true;
    mPrompter.message(message, Prompter::Buttons::Ok, Prompter::Icon::Warning);
    return false;
}

bool ClassTableModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    mRefused = false;
    if (role != Qt::EditRole || !index.isValid())
        return false;
    if (index.column() >= valueColumns())
        return setFlags(index.row(),
                        index.column() == itemsColumn() ? RefKind::Item : RefKind::Special,
                        value.toULongLong());
    const TableColumn &c = tableColumns()[std::size_t(index.column())];
    const Key key = keyAt(index.row());
    const QString name = shownText(className(index.row()));
    const QString field =
        tr("%1 of class '%2'").arg(capitalized(schema::fieldLabel(c.column)), name);
    QVariant newValue = value;
    if (c.slot) {
        if (Status s = checkFieldRange(c.kind, field, value); !s)
            return refuse(s.message());
    } else {
        Result<QVariant> typed = fieldValue(c.kind, field, value.toString());
        if (!typed)
            return refuse(typed.message());
        newValue = *typed;
    }
    if (sameValue(newValue, mRows[std::size_t(index.row())].values.at(index.column())))
        return true;
    RowValues edits;
    edits.set(c.column, newValue);
    return storeEdits(key, edits, field);
}

bool ClassTableModel::storeEdits(Key key, const RowValues &edits, const QString &field)
{
    if (mBeforeStore && !mBeforeStore(key)) {
        mRefused = true;
        return false;
    }
    // As shown now: the class editor may just have stored its own edit of the row.
    const int row = rowOf(key);
    if (row < 0)
        return refuse(tr("%1 was not stored: the class no longer exists.").arg(field));
    return storeCell(key, edits, {readColumns(), mRows[std::size_t(row)].values}, field);
}

quint64 ClassTableModel::flagMask(const Row &row, RefKind kind) const
{
    const int first = valueColumns() + (kind == RefKind::Item ? 0 : int(kItemBoxes));
    quint64 mask = 0;
    for (qsizetype k = 0; k < flagsInUse(kind); ++k)
        if (truthy(row.values.at(first + k)))
            mask |= quint64(1) << k;
    return mask;
}

qsizetype ClassTableModel::flagsInUse(RefKind kind) const
{
    return qMin(mRefs.of(kind).all.size(), flagBoxes(kind));
}

bool ClassTableModel::setFlags(int row, RefKind kind, quint64 mask)
{
    const Row &r = mRows[std::size_t(row)];
    const quint64 was = flagMask(r, kind);
    const QList<RefEntry> &rows = mRefs.of(kind).all;
    RowValues edits;
    for (qsizetype k = 0; k < flagsInUse(kind); ++k) {
        const bool on = (mask >> k) & 1;
        // A box the class editor greys cannot be ticked or cleared here either.
        if (on != bool((was >> k) & 1) && tickable(rows.at(k).enabled))
            edits.set(schema::flagColumn(kind, int(k) + 1), on ? 1 : 0);
    }
    if (edits.columns.isEmpty())
        return true;
    const QString field =
        tr("%1 of class '%2'")
            .arg(kind == RefKind::Item ? tr("Items") : tr("Special"), shownText(className(row)));
    return storeEdits(r.key, edits, field);
}

bool ClassTableModel::storeCell(Key key, const RowValues &edits, const RowValues &shown,
                                const QString &field)
{
    const FieldWording wording{[this](const QString &column) { return columnLabel(column); },
                               [this](const QString &column, const QVariant &value) {
                                   return valueText(column, value);
                               }};
    const CheckedWrite write = storeChecked(
        mCursor, &mPrompter, key, edits, shown,
        tr("%1 was not stored: another user or program changed the class since it was shown.")
            .arg(field),
        wording);
    switch (write.kind) {
    case CheckedWrite::Failed:
        return refuse(write.status.message());
    case CheckedWrite::Stored:
    case CheckedWrite::ShowStored:
        // Read again: the row may hold another client's changes too.
        refreshRow(key);
        if (!write.written.columns.isEmpty())
            emit stored(key, write.replaced(), write.after());
        return write.kind == CheckedWrite::Stored;
    case CheckedWrite::Gone:
        refreshRow(key);
        mPrompter.message(tr("%1 was not stored: another user or program deleted the class "
                             "since it was shown.")
                              .arg(field),
                          Prompter::Buttons::Ok, Prompter::Icon::Warning);
        return false;
    case CheckedWrite::Cancelled:
        mRefused = true; // the user stays on the cell with the edit
        return false;
    }
    return false;
}

QString ClassTableModel::columnLabel(const QString &column) const
{
    const int at = columnOf(column);
    if (at >= 0)
        return tableColumns()[std::size_t(at)].header;
    // A flag is known by the name on its box.
    for (RefKind kind : {RefKind::Item, RefKind::Special})
        for (qsizetype k = 0; k < flagsInUse(kind); ++k)
            if (column == schema::flagColumn(kind, int(k) + 1))
                return mRefs.of(kind).all.at(k).name;
    return capitalized(schema::fieldLabel(column));
}

QString ClassTableModel::valueText(const QString &column, const QVariant &value) const
{
    const int at = columnOf(column);
    if (at < 0) // a flag
        return truthy(value) ? tr("ticked") : tr("not ticked");
    if (const std::optional<RefKind> kind = tableColumns()[std::size_t(at)].slot)
        return mRefs.listText(*kind, value);
    if (value.isNull() || value.toString().isEmpty())
        return tr("(empty)");
    if (value.typeId() == QMetaType::QString)
        return QLatin1Char('"') + shownText(value.toString()) + QLatin1Char('"');
    return value.toString();
}

int ClassTableModel::rowOf(Key key) const
{
    for (std::size_t i = 0; i < mRows.size(); ++i)
        if (mRows[i].key == key)
            return int(i);
    return -1;
}

void ClassTableModel::refreshRow(Key key)
{
    const Result<std::optional<QVariantList>> read = mCursor.load(key, readColumns());
    if (!read) {
        mPrompter.message(read.message(), Prompter::Buttons::Ok, Prompter::Icon::Warning);
        return;
    }
    const int row = rowOf(key);
    if (!*read) {
        if (row >= 0) {
            beginRemoveRows({}, row, row);
            mRows.erase(mRows.begin() + row);
            endRemoveRows();
        }
        return;
    }
    Row fresh = readRow(key, **read);
    if (row < 0) {
        beginInsertRows({}, rowCount(), rowCount());
        mRows.push_back(std::move(fresh));
        endInsertRows();
        return;
    }
    mRows[std::size_t(row)] = std::move(fresh);
    emit dataChanged(index(row, 0), index(row, columnCount() - 1));
}

bool ClassTableModel::lessThan(int a, int b, int column) const
{
    const Row &x = mRows[std::size_t(a)], &y = mRows[std::size_t(b)];
    if (column < valueColumns()) {
        const TableColumn &c = tableColumns()[std::size_t(column)];
        if (c.kind != Kind::Text && !c.slot)
            return compareNumbers(x.values.at(column), y.values.at(column)) < 0;
    }
    return text(x, column).compare(text(y, column), Qt::CaseInsensitive) < 0;
}

int ClassTableModel::columnOf(const QString &dbColumn)
{
    for (std::size_t i = 0; i < tableColumns().size(); ++i)
        if (tableColumns()[i].column == dbColumn)
            return int(i);
    return -1;
}

std::optional<RefKind> ClassTableModel::flagKind(int column)
{
    if (column == itemsColumn())
        return RefKind::Item;
    if (column == specialsColumn())
        return RefKind::Special;
    return std::nullopt;
}

std::optional<RefKind> ClassTableModel::slotKind(int column)
{
    if (column < 0 || column >= valueColumns())
        return std::nullopt;
    return tableColumns()[std::size_t(column)].slot;
}

void ClassTableProxy::setNameFilter(const QString &text)
{
    if (text == mFilter)
        return;
    mFilter = text;
    invalidateFilter();
}

const ClassTableModel *ClassTableProxy::table() const
{
    return static_cast<const ClassTableModel *>(sourceModel());
}

bool ClassTableProxy::lessThan(const QModelIndex &left, const QModelIndex &right) const
{
    return table()->lessThan(left.row(), right.row(), left.column());
}

bool ClassTableProxy::filterAcceptsRow(int sourceRow, const QModelIndex &) const
{
    return mFilter.isEmpty() ||
           table()->className(sourceRow).contains(mFilter, Qt::CaseInsensitive);
}

} // namespace tarn
