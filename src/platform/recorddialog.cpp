// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/recorddialog.h"

#include "platform/datacontrol.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>

namespace tarn
{

RecordDialog::RecordDialog(QWidget *parent) : QDialog(parent) {}

void RecordDialog::showEvent(QShowEvent *event)
{
    // Enter in a field must not press a button such as Delete.
    for (QPushButton *button : findChildren<QPushButton *>())
        button->setAutoDefault(false);
    QDialog::showEvent(event);
}

namespace
{

const QKeySequence kUndo(Qt::CTRL | Qt::Key_Z);
const QKeySequence kRedo(Qt::CTRL | Qt::SHIFT | Qt::Key_Z);

} // namespace

QMenu *addEditMenu(QMenuBar *bar, DataControl *control)
{
    QMenu *edit = bar->addMenu(QObject::tr("&Edit"));
    edit->setObjectName(QStringLiteral("mnuEdit"));
    QAction *undo = edit->addAction(QObject::tr("&Undo"), control, &DataControl::undo);
    undo->setObjectName(QStringLiteral("mnuUndo"));
    undo->setShortcut(kUndo);
    QAction *redo = edit->addAction(QObject::tr("&Redo"), control, &DataControl::redo);
    redo->setObjectName(QStringLiteral("mnuRedo"));
    redo->setShortcut(kRedo);
    const auto update = [control, undo, redo] {
        undo->setEnabled(control->canUndo());
        redo->setEnabled(control->canRedo());
    };
    QObject::connect(control, &DataControl::undoStateChanged, edit, update);
    update();
    return edit;
}

QMenu *RecordDialog::addEditMenu(QMenuBar *bar)
{
    QMenu *edit = tarn::addEditMenu(bar, mControl);
    for (QLineEdit *field : findChildren<QLineEdit *>())
        field->installEventFilter(this);
    return edit;
}

bool RecordDialog::eventFilter(QObject *watched, QEvent *event)
{
    // A field claims Ctrl+Z for itself unless told otherwise here.
    if (event->type() == QEvent::ShortcutOverride) {
        const auto *key = static_cast<QKeyEvent *>(event);
        const QKeySequence pressed(key->keyCombination());
        if (pressed == kUndo || pressed == kRedo) {
            event->ignore();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void RecordDialog::reject()
{
    if (mControl && !mControl->writeBack())
        return;
    QDialog::reject();
}

} // namespace tarn
