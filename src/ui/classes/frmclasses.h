// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/recorddialog.h"
#include "ui/classes/classrefs.h"

#include <QList>
#include <QPointer>

#include <vector>

class QCheckBox;
class QComboBox;
class QGridLayout;
class QLabel;
class QLineEdit;

namespace tarn
{

class AppState;
class DataControl;
class frmBalance;
class frmClassTable;
class frmHistory;
struct Change;
class Prompter;

// The class editor: one class of the selected configuration at a time.
class frmClasses : public RecordDialog
{
    Q_OBJECT

public:
    frmClasses(AppState &state, Prompter &prompter, QWidget *parent = nullptr);
    ~frmClasses() override;

    // The list position that shows a weapon (grenade) id; the last of equal
    // ids wins. -1 when the id is not offered.
    int FindWeaponPos(const QVariant &id) const;
    int FindGrenadePos(const QVariant &id) const;

    DataControl *navigator() const { return mNavigator; }
    // View > Class Table: every class of the configuration in a table beside
    // this window, its selection the class shown here.
    frmClassTable *mnuClassTable_Click();
    // View > Balance: every class on one chart, following what either window stores.
    frmBalance *mnuBalance_Click();
    // View > History: the configuration's changes, beside this window; null
    // when the database keeps none (the user is told).
    frmHistory *mnuHistory_Click();

private:
    // AddClass is Add Class: stores a new class with the next number at once.
    void AddClass_Click();
    // Command1 is Delete Class: removes the class shown, then shows the first.
    void Command1_Click();
    // File > Save As: exports the configuration as a scrambled class file.
    void mnuSaveAs_Click();
    // File > Save Unprotected: exports it as a plain class file.
    void mnuSaveUnprotected_Click();
    // Writes the configuration as a class file, scrambled as the last command set.
    void DoSave();
    // File > Apply Spreadsheet: a sheet show wrote comes back, its changes
    // shown first and stored on OK, one step of the Edit menu.
    void mnuApplySpreadsheet_Click();
    // The windows read the configuration again after a sheet's changes.
    void sheetStored();
    // The history, when open, lists what this window or its table just stored.
    void listChanges();
    // Restore Class as It Was: the class of a change back to its state just
    // before it, stored as this window stores an edit (or a new class, or a
    // deletion), one step of the Edit menu. False when nothing was stored.
    bool restoreClass(const Change &change);
    void done(int result) override;
    // A weapon or grenade slot: a list that mirrors the id in its column.
    struct Slot {
        QComboBox *list;
        QString column;
        schema::RefKind kind;
        bool hasExtra = false; // the last entry shows an id that is not offered
    };

    // On opening: fills the slot lists and flag boxes, shows the first class
    // (adding one to an empty configuration).
    void Form_Load();
    void buildWindow();
    QWidget *buildSlotFrame(schema::RefKind kind);
    QWidget *buildFlagFrame(schema::RefKind kind);
    QLineEdit *addField(QGridLayout *grid, int row, int column, const QString &label,
                        const char *name, const QString &dbColumn, schema::Kind kind);
    void fillSlots(schema::RefKind kind);
    void fillFlags(schema::RefKind kind);
    // dbClassDef moved: shows the configuration name and the slots of the class shown.
    void dbClassDef_Reposition();
    void slotChosen(const Slot &slot, int index);
    // A slot's id as messages show it: the name of its row and the id.
    QString slotText(schema::RefKind kind, const QVariant &id) const;
    const QList<RefEntry> &offered(schema::RefKind kind) const;

    AppState &mState;
    Prompter &mPrompter;
    QString mPackage;
    DataControl *mNavigator = nullptr;
    QLabel *mConfigName = nullptr; // Label31
    std::vector<Slot> mSlots;
    QList<QCheckBox *> mItemBoxes;
    QList<QCheckBox *> mSpecialBoxes;
    ClassRefs mRefs;
    QPointer<frmClassTable> mTable;
    QPointer<frmBalance> mBalance;
    QPointer<frmHistory> mHistory;
};

} // namespace tarn
