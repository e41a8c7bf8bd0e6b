// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ui/classes/classtablemodel.h"

#include <QDialog>
#include <QStyledItemDelegate>
#include <QTableView>

#include <optional>

class QKeyEvent;
class QLabel;
class QLineEdit;
class QMenuBar;

namespace tarn
{

// Edits a class's cells: a slot with a list of the offered weapons or grenades,
// items and special abilities with a list of boxes, anything else as typed text.
class ClassCellDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    ClassCellDelegate(const ClassRefs &refs, QObject *parent)
        : QStyledItemDelegate(parent), mRefs(refs)
    {
    }

    QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &option,
                          const QModelIndex &index) const override;
    void setEditorData(QWidget *editor, const QModelIndex &index) const override;
    void setModelData(QWidget *editor, QAbstractItemModel *model,
                      const QModelIndex &index) const override;
    void updateEditorGeometry(QWidget *editor, const QStyleOptionViewItem &option,
                              const QModelIndex &index) const override;

    // The cell an editor was opened on.
    static QPersistentModelIndex cellOf(const QWidget *editor);

protected:
    bool eventFilter(QObject *object, QEvent *event) override;

private:
    const ClassRefs &mRefs;
};

// A table view that keeps the user on a cell whose value was refused, with
// what they typed, instead of closing its editor and moving on.
class ClassTableView : public QTableView
{
    Q_OBJECT

public:
    ClassTableView(ClassTableModel &table, QWidget *parent) : QTableView(parent), mTable(table) {}

    // Tab and Shift+Tab move between cells; Ctrl+Tab and Ctrl+Shift+Tab leave
    // the table: forward (true) or back (false), nothing for other keys.
    static std::optional<bool> leavingKey(const QKeyEvent *event);
    // Leaves the table once a cell's editor has stored and closed, unless the
    // cell was refused: the user is then back in it.
    void leaveAfterEdit(bool forward);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void commitData(QWidget *editor) override;
    void closeEditor(QWidget *editor, QAbstractItemDelegate::EndEditHint hint) override;

private:
    ClassTableModel &mTable;
    // A message about a refusal takes the focus from the editor, which would
    // commit it again.
    bool mCommitting = false;
};

// Every class of the configuration that a class editor shows, a row each,
// sortable by any column and filtered by class name. The row selected is the
// class the editor shows.
class frmClassTable : public QDialog
{
    Q_OBJECT

public:
    frmClassTable(Database &db, const QString &package, const ClassRefs &refs,
                  Prompter &prompter, QWidget *parent);
    ~frmClassTable() override;

    bool load() { return mModel->load(); }
    ClassTableModel *model() const { return mModel; }
    QTableView *view() const { return mView; }
    QMenuBar *menuBar() const { return mMenuBar; }

    // Selects the row of the class with key (none when it is filtered out),
    // without raising classChosen.
    void showClass(ClassTableModel::Key key);

signals:
    // The user selected the row of another class.
    void classChosen(ClassTableModel::Key key);

private:
    void filterChanged(const QString &text);
    void currentRowChanged(const QModelIndex &current);
    void updateCount();
    bool eventFilter(QObject *watched, QEvent *event) override;

    ClassTableModel *mModel;
    ClassTableProxy *mProxy;
    ClassTableView *mView;
    QLineEdit *mFilter;
    QLabel *mCount;
    QMenuBar *mMenuBar;
    ClassTableModel::Key mShown = -1;
    bool mSyncing = false;
    int mModelChanging = 0;
};

} // namespace tarn
