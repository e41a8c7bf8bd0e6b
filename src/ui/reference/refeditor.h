// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/recorddialog.h"
#include "store/schema.h"

#include <QString>

#include <memory>
#include <vector>

class QGridLayout;
class QLineEdit;

namespace tarn
{

class AppState;
class Prompter;

// What tells the twin windows of one shape apart.
struct EditorNames {
    schema::RefKind kind;
    const char *window;  // objectName of the window
    const char *title;   // its caption
    const char *control; // objectName of the data control
    const char *caption; // the data control's caption
    const char *idCaption;
    const char *nameCaption;
};

// One line of the record part: a right-aligned label, its field, and a note
// after the field.
struct EditorRow {
    QString label; // objectNames of the label and the field
    QString caption;
    QString field;
    QString column; // the bound column; empty for a field of the window's own
    int twips;      // the field's width in the original window
    QString note = {};
    QString noteText = {};
};

// Edits one reference table a row at a time: fields bound to a DataControl
// over the table in id order, with Add Record and Delete Record below them.
// The weapon and grenade editors are this window as it stands.
class RefEditor : public RecordDialog
{
    Q_OBJECT

public:
    RefEditor(const EditorNames &names, const std::vector<EditorRow> &rows, AppState &state,
              Prompter &prompter, QWidget *parent = nullptr);

    // The rows of a weapon or grenade editor.
    static std::vector<EditorRow> weaponRows(const EditorNames &names);

protected:
    // Command1 is Add Record: a pending new row, stored by the next move or by closing.
    virtual void Command1_Click();
    QLineEdit *field(const QString &name) const;
    // Columns: label, field, note, and a fourth to the right of the notes.
    // Rows: one for each EditorRow, then the buttons; more may go below from
    // nextRow() on.
    QGridLayout *grid() const { return mGrid; }
    int nextRow() const { return mNextRow; }

    AppState &mState;
    Prompter &mPrompter;
    const schema::RefKind mKind;

private:
    // On opening: shows the row with the lowest id.
    void Form_Load();
    // Command2 is Delete Record: deletes the row shown at once, then shows the lowest id.
    void Command2_Click();

    friend std::unique_ptr<RecordDialog> makeRefEditor(schema::RefKind, AppState &, Prompter &,
                                                       QWidget *);

    QGridLayout *mGrid = nullptr;
    int mNextRow = 0;
};

// The width of an original window's twips in the current font: its digits
// took 90 twips, so a box shows here as many digits as it did there.
int twipsWide(const QWidget *widget, int twips);
// A field that holds as many digits as its original of the given width.
void setFieldWidth(QLineEdit *edit, int twips);

} // namespace tarn
