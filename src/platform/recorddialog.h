// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>

class QMenu;
class QMenuBar;

namespace tarn
{

class DataControl;

// Adds "&Edit" with "&Undo" (Ctrl+Z) and "&Redo" (Ctrl+Shift+Z) to a window's
// menu bar, over the control's history, greyed when there is nothing to do.
QMenu *addEditMenu(QMenuBar *bar, DataControl *control);

// A modal editing window over a DataControl: closing it (close box, Escape)
// first stores the pending edits, and stays open when they are refused.
class RecordDialog : public QDialog
{
    Q_OBJECT

public:
    explicit RecordDialog(QWidget *parent = nullptr);

    void reject() override;

protected:
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    // The Edit menu over the data control. The keys undo stored changes in a
    // field too: the field's own undo would lose its steps at each move.
    QMenu *addEditMenu(QMenuBar *bar);
    void setDataControl(DataControl *control) { mControl = control; }
    DataControl *dataControl() const { return mControl; }

private:
    DataControl *mControl = nullptr;
};

} // namespace tarn
