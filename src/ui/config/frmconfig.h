#pragma once

#include "schema.h"

#include <QMainWindow>
#include <QStringList>

class QListWidget;

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

    void btNew_Click();
    void btDelete_Click();
    void btEdit_Click();
    void btCopy_Click();
    void btImport_Click();
    void mnuSetModID_Click();
    void mnuExit_Click();
    void mnuAbout_Click();
    // The Update menu: one reference table's editor, modal.
    void showRefEditor(schema::RefKind kind);

private:
    void classlist_Click();
    // Shows a store failure; true when there was none.
    bool report(const class Status &status);

    AppState &mState;
    Prompter &mPrompter;
    QStringList mPackageNames; // parallel to the list's rows
    QListWidget *mClassList = nullptr;
};

} // namespace tarn
