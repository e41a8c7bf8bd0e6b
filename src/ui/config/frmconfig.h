// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "store/schema.h"

#include <QMainWindow>
#include <QStringList>

#include <functional>

class QLabel;
class QLineEdit;
class QListWidget;
class QTimer;

namespace tarn
{

class AppState;
class Prompter;

// The main window: the list of configurations and the commands on them.
class frmConfig : public QMainWindow
{
    Q_OBJECT

public:
    frmConfig(AppState &state, Prompter &prompter, QWidget *parent = nullptr);

    // Fills the list from the data database; nothing is selected afterwards.
    void RefreshList();
    // Reads the list again after another client changed the configurations,
    // keeping the selection (by name) and the filter.
    void followChanges();
    // The same when another client changed them since the last look, unless a
    // command of this window is running.
    void followIfChanged();
    // The folder that File > Use Local Files goes back to.
    void setLocalFolder(const QString &dir) { mLocalFolder = dir; }

protected:
    void changeEvent(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // btNew is New: asks for a name and creates an empty configuration.
    void btNew_Click();
    // btDelete is Delete: removes the selected configuration after asking.
    void btDelete_Click();
    // btEdit is Edit: opens the class editor on the selected configuration.
    void btEdit_Click();
    // btCopy is Make Copy: copies the selected configuration under a new name.
    void btCopy_Click();
    // btImport is Import: reads a class file into a new configuration.
    void btImport_Click();
    // File > Set Mod ID: asks for the Mod ID that exports write.
    void mnuSetModID_Click();
    // File > Compare: two configurations' differences, class by class.
    void mnuCompare_Click();
    // File > Deleted Configurations: the deleted ones kept with the history,
    // restorable; the list follows each restore and its undo.
    void mnuDeleted_Click();
    // File > Connect to Team Database: asks for a server's address and moves
    // the whole program to it; a failure keeps the database in use.
    void mnuConnectTeam_Click();
    // File > Use Local Files: back to the data files of the local folder.
    void mnuUseLocal_Click();
    // Opens location and, when that works, makes it the program's database
    // and remembers it for the next start.
    bool switchTo(const QString &location, const QString &password);
    // The status line names the database in use.
    void showWhere();
    // File > Exit: ends the program.
    void mnuExit_Click();
    // Help > About: shows the About box.
    void mnuAbout_Click();
    // The Update menu: one reference table's editor, modal.
    void showRefEditor(schema::RefKind kind);
    // classlist selection: makes the chosen configuration the current one.
    void classlist_Click();
    // Fills the list and selects keep when it is there and the filter shows it.
    void fillList(QString keep);
    // Shows the names the filter matches; a hidden name loses the selection,
    // so that no command acts on a name the user cannot see.
    void applyFilter();
    // After a command added name: the filter is cleared if it would hide it.
    void revealName(const QString &name);
    // Shows a store failure; true when there was none.
    bool report(const class Status &status);
    // Takes the mark that later looks compare with, and has a server tell
    // this window of other clients' changes.
    void watchOtherClients();
    // A file's change counter is read every second while the window is active.
    void lookWhileActive();
    // A command of this window, run so that the list does not follow other
    // clients in the middle of it (a dialog's event loop), but right after.
    std::function<void()> command(void (frmConfig::*slot)());
    void runCommand(const std::function<void()> &run);

    AppState &mState;
    Prompter &mPrompter;
    QStringList mPackageNames; // parallel to the list's rows
    QListWidget *mClassList = nullptr;
    QLineEdit *mFilter = nullptr;
    QLabel *mWhere = nullptr;
    QString mLocalFolder;
    QTimer *mFollowTimer = nullptr;
    bool mRunningCommand = false;
};

} // namespace tarn
