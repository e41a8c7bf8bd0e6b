// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ui/reference/refeditor.h"

class QLabel;

namespace tarn
{

// The item and special-ability editors: the record part of RefEditor, the
// bit number of the current id, a calculator from bit number to id, and a
// warning when the current id would not carry its flag through a class file.
class FlagEditor : public RefEditor
{
    Q_OBJECT

public:
    FlagEditor(const EditorNames &names, AppState &state, Prompter &prompter,
               QWidget *parent = nullptr);

private:
    // Command1 is Add Record: also clears the id warning for the empty row.
    void Command1_Click() override;
    // btnCalc is Calculate: shows the id whose bit number is typed.
    void btnCalc_Click();
    void addWarning();
    void addCalculator();
    // db moved: shows the bit number and the warning of the row shown (or none).
    void db_Reposition();
    void updateWarning();

    QLineEdit *mText1 = nullptr;
    QLineEdit *mCalcBit = nullptr;
    QLineEdit *mBitNum = nullptr;
    QLineEdit *mResult = nullptr;
    QLabel *mWarning = nullptr;
    QString mNoun;  // "item", "special ability"
    QString mNouns; // "items", "special abilities"
};

} // namespace tarn
