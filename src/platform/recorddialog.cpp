#include "platform/recorddialog.h"

#include "platform/datacontrol.h"

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

void RecordDialog::reject()
{
    if (mControl && !mControl->writeBack())
        return;
    QDialog::reject();
}

} // namespace tarn
