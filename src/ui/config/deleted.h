// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "store/history.h"

#include <QDialog>
#include <QList>
#include <QSet>

#include <functional>
#include <vector>

class QAction;
class QLabel;
class QPushButton;
class QTableWidget;

namespace tarn
{

class AppState;
class Prompter;

// File > Deleted Configurations: the configurations deleted and kept with the
// history, newest first. Each comes back under its own name, or under one the
// user gives when that is taken now; Edit > Undo deletes it again.
class frmDeleted : public QDialog
{
    Q_OBJECT

public:
    frmDeleted(AppState &state, Prompter &prompter, QWidget *parent = nullptr);

    // Told the name of each configuration this window restored or deleted
    // again, so that the main list follows.
    void setChanged(std::function<void(const QString &name)> changed)
    {
        mChanged = std::move(changed);
    }
    // Reads the list again; false on a failure (told).
    bool reload();
    void btRestore_Click();
    bool undo();
    bool redo();

private:
    const DeletedPackage *selected() const;
    // Restores under as (empty: its own name); false when refused (told).
    bool restore(const DeletedPackage &deleted, const QString &as);
    void updateCommands();
    void warn(const QString &message);

    AppState &mState;
    Prompter &mPrompter;
    std::function<void(const QString &)> mChanged;
    QList<DeletedPackage> mDeleted; // parallel to the table's rows
    QSet<QString> mInUse;           // the names of the configurations now, lower case
    // The names of the configurations restored here, in order; [0, mDone) are restored.
    std::vector<QString> mRestored;
    std::size_t mDone = 0;
    QTableWidget *mTable = nullptr;
    QLabel *mSummary = nullptr;
    QPushButton *mRestore = nullptr;
    QAction *mUndo = nullptr;
    QAction *mRedo = nullptr;
};

} // namespace tarn
