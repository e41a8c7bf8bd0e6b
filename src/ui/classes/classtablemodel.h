// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "store/recordcursor.h"
#include "store/schema.h"

#include <QAbstractTableModel>
#include <QSortFilterProxyModel>

#include <functional>
#include <optional>
#include <vector>

namespace tarn
{

struct ClassRefs;
class Database;
class Prompter;

// Every class of one configuration, a row each, read in one statement and kept
// in memory: the columns a class editor shows, slots by name, the ticked items
// and special abilities by name. Cells are stored one at a time under the
// rules of the class editor's fields; a flags cell takes the ticked boxes as a
// mask (bit k for the k-th box).
class ClassTableModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    using Key = RecordCursor::Key;

    ClassTableModel(Database &db, const QString &package, const ClassRefs &refs,
                    Prompter &prompter, QObject *parent = nullptr);

    // Reads every class; false after telling the user.
    bool load();

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    // Stores one cell: the typed text (a slot: the chosen id). A refusal names
    // the class and the field, stores nothing and returns false, as
    // lastEditRefused() tells afterwards.
    bool setData(const QModelIndex &index, const QVariant &value, int role) override;

    bool lastEditRefused() const { return mRefused; }
    // Runs before a cell of the row with key is stored; false cancels the edit
    // (the window that shows the row has stored its own pending edit first).
    void setBeforeStore(std::function<bool(Key)> hook) { mBeforeStore = std::move(hook); }

    Key keyAt(int row) const { return mRows.at(std::size_t(row)).key; }
    // -1 when no row has key.
    int rowOf(Key key) const;
    // Reads the row with key again: it is updated, added when new or removed
    // when gone.
    void refreshRow(Key key);

    // The boxes in use for items or specials: one a reference row, as many
    // as the class editor shows.
    qsizetype flagsInUse(schema::RefKind kind) const;
    // The flag column a table column shows, if it shows one.
    static std::optional<schema::RefKind> flagKind(int column);

    // Whether row a sorts before row b by column.
    bool lessThan(int a, int b, int column) const;
    QString className(int row) const;

    // The column of the table that shows a classdef column; -1 for none.
    static int columnOf(const QString &dbColumn);
    // The slot a column shows, if it shows one.
    static std::optional<schema::RefKind> slotKind(int column);

signals:
    // A cell of the row with key was stored: the stored columns as they were
    // before and the row's columns as the write left them.
    void stored(tarn::RecordCursor::Key key, const tarn::RowValues &before,
                const tarn::RowValues &after);

private:
    struct Row {
        Key key = -1;
        QVariantList values;     // as read: the table's columns in order, then the flags
        QString items, specials; // names of the ticked flags
    };

    Row readRow(Key key, const QVariantList &values) const;
    QString flagText(schema::RefKind kind, const QVariantList &values, int first) const;
    QString text(const Row &row, int column) const;
    bool refuse(const QString &message);
    // Stores a cell under the rule of a write-back of the class editor:
    // another client's change of the same field meanwhile is put to the user.
    bool storeCell(Key key, const RowValues &edits, const RowValues &shown, const QString &field);
    bool storeEdits(Key key, const RowValues &edits, const QString &field);
    bool setFlags(int row, schema::RefKind kind, quint64 mask);
    quint64 flagMask(const Row &row, schema::RefKind kind) const;
    QString columnLabel(const QString &column) const;
    QString valueText(const QString &column, const QVariant &value) const;

    const ClassRefs &mRefs;
    Prompter &mPrompter;
    RecordCursor mCursor;
    std::vector<Row> mRows;
    std::function<bool(Key)> mBeforeStore;
    bool mRefused = false;
};

// Sorts by the model's own comparison and filters by class name, without
// regard to case.
class ClassTableProxy : public QSortFilterProxyModel
{
    Q_OBJECT

public:
    using QSortFilterProxyModel::QSortFilterProxyModel;

    void setNameFilter(const QString &text);
    QString nameFilter() const { return mFilter; }

protected:
    bool lessThan(const QModelIndex &left, const QModelIndex &right) const override;
    bool filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const override;

private:
    const ClassTableModel *table() const;

    QString mFilter;
};

} // namespace tarn
