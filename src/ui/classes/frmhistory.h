// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "store/history.h"

#include <QAbstractTableModel>
#include <QDialog>

#include <functional>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QStringListModel;
class QTableView;

namespace tarn
{

class AppState;
class Prompter;
struct ClassRefs;

// What a database that keeps no history (a team database its owner has not
// upgraded yet) means for the user.
QString noHistoryText(const AppState &state);
// Whether the database keeps a history of its changes. When it does not (a
// team database not yet upgraded) or cannot tell, the user is told why.
bool historyKept(AppState &state, Prompter &prompter);

// The changes a filter picks, newest first, read a page at a time as the view
// scrolls, so that a long history opens at once.
class HistoryModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column { When, Who, Class, Field, Before, After, Program, ColumnCount };

    HistoryModel(AppState &state, const ClassRefs &refs, Prompter &prompter,
                 QObject *parent = nullptr);

    // Reads the first page of what filter picks; false on a failure (told).
    bool load(const HistoryFilter &filter);
    const Change &change(int row) const { return mChanges.at(std::size_t(row)); }
    // The people of the changes read so far, for the filter to offer.
    QStringList people() const;

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    bool canFetchMore(const QModelIndex &parent) const override;
    void fetchMore(const QModelIndex &parent) override;

    // A field's name as the class editor labels it; a flag with its box's name.
    QString fieldText(const QString &column) const;
    // What a change did, for the Field column of a change of another kind.
    static QString whatHappened(const Change &change);

private:
    // Reads the page after the last change shown; false on a failure (told).
    bool readPage();
    QString valueText(const QString &column, const QVariant &value) const;
    QString text(const Change &change, int column) const;

    AppState &mState;
    const ClassRefs &mRefs;
    Prompter &mPrompter;
    HistoryFilter mFilter;
    std::vector<Change> mChanges;
    bool mAtEnd = true;
};

// History: the configuration's changes, newest first, narrowed to the class
// the editor shows, a field or a person. A class can be restored from here as
// it was before a chosen change; restoreClass does it and tells whether it did.
class frmHistory : public QDialog
{
    Q_OBJECT

public:
    struct Shown {
        qint64 classNum;
        QString name;
    };
    frmHistory(AppState &state, QString package, const ClassRefs &refs, Prompter &prompter,
               QWidget *parent = nullptr);

    // The class the editor shows, for "only this class"; none: nothing shown.
    void setShownClass(std::optional<Shown> shown);
    void setRestoreClass(std::function<bool(const Change &)> restore)
    {
        mRestoreClass = std::move(restore);
    }
    HistoryModel &model() { return *mModel; }
    QTableView *view() const { return mView; }

    // Reads the history again as the filter now says.
    bool reload();
    // Restore Class as It Was, for the selected change.
    void btRestoreClass_Click();

private:
    HistoryFilter filter() const;
    // The selected change; null when none is.
    const Change *selected() const;
    void selectionChanged();

    HistoryModel *mModel = nullptr;
    QString mPackage;
    Prompter &mPrompter;
    std::optional<Shown> mShown;
    std::function<bool(const Change &)> mRestoreClass;
    QCheckBox *mThisClass = nullptr;
    QComboBox *mField = nullptr;
    QLineEdit *mWho = nullptr;
    QStringListModel *mPeople = nullptr;
    QTableView *mView = nullptr;
    QLabel *mSummary = nullptr;
    QPushButton *mRestore = nullptr;
};

} // namespace tarn
