// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/qtprompter.h"

#include <QApplication>
#include <QFileDialog>
#include <QInputDialog>
#include <QLabel>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>

namespace tarn
{

namespace
{

QWidget *dialogParent()
{
    if (QWidget *modal = QApplication::activeModalWidget())
        return modal;
    return QApplication::activeWindow();
}

// Names and file paths are shown as typed: a label would otherwise guess that
// "<b>" is markup and "&amp;" an entity.
void showPlain(QWidget *dialog)
{
    for (QLabel *label : dialog->findChildren<QLabel *>())
        label->setTextFormat(Qt::PlainText);
}

// Qt's dialogs would inherit the busy pointer; the user must be able to answer.
class CursorPause
{
public:
    CursorPause()
    {
        while (QApplication::overrideCursor()) {
            QApplication::restoreOverrideCursor();
            ++mDepth;
        }
    }
    ~CursorPause()
    {
        for (int i = 0; i < mDepth; ++i)
            QApplication::setOverrideCursor(Qt::WaitCursor);
    }

private:
    int mDepth = 0;
};

class DialogProgress : public Progress
{
public:
    DialogProgress(const QString &label, qint64 maximum) : mMaximum(maximum)
    {
        mDialog.setLabelText(label);
        showPlain(&mDialog);
        mDialog.setWindowTitle(Prompter::applicationTitle());
        mDialog.setWindowModality(Qt::ApplicationModal);
        mDialog.setRange(0, 1000);
        mDialog.setMinimumDuration(400);
    }
    bool update(qint64 done) override
    {
        // The last report closes the dialog (and stops its timer), so that it
        // neither stays up nor comes up late over the message that follows.
        const int scaled = done >= mMaximum ? 1000 : int(done * 1000 / mMaximum);
        if (scaled != mDialog.value())
            mDialog.setValue(scaled);
        // Until the modal dialog shows, a click elsewhere (Delete, say) would
        // run inside the work under way; it waits until the dialog blocks it.
        QCoreApplication::processEvents(mDialog.isVisible() ? QEventLoop::AllEvents
                                                            : QEventLoop::ExcludeUserInputEvents);
        return !mDialog.wasCanceled();
    }

private:
    QProgressDialog mDialog{dialogParent()};
    qint64 mMaximum;
};

void setUpBox(QMessageBox &box, const QString &text, Prompter::Icon icon, const QString &title)
{
    box.setWindowTitle(title.isEmpty() ? Prompter::applicationTitle() : title);
    // Paths and names are shown as they are, never read as markup.
    box.setTextFormat(Qt::PlainText);
    box.setText(text);
    switch (icon) {
    case Prompter::Icon::None:
        box.setIcon(QMessageBox::NoIcon);
        break;
    case Prompter::Icon::Information:
        box.setIcon(QMessageBox::Information);
        break;
    case Prompter::Icon::Warning:
        box.setIcon(QMessageBox::Warning);
        break;
    case Prompter::Icon::Critical:
        box.setIcon(QMessageBox::Critical);
        break;
    case Prompter::Icon::Question:
        box.setIcon(QMessageBox::Question);
        break;
    }
}

} // namespace

QString QtPrompter::input(const QString &prompt, const QString &title, const QString &defaultText)
{
    CursorPause pause;
    QInputDialog dialog(dialogParent());
    dialog.setWindowTitle(title);
    dialog.setLabelText(prompt);
    dialog.setTextValue(defaultText);
    showPlain(&dialog);
    return dialog.exec() == QDialog::Accepted ? dialog.textValue() : QString();
}

QString QtPrompter::password(const QString &prompt, const QString &title)
{
    CursorPause pause;
    QInputDialog dialog(dialogParent());
    dialog.setWindowTitle(title);
    dialog.setLabelText(prompt);
    dialog.setTextEchoMode(QLineEdit::Password);
    showPlain(&dialog);
    return dialog.exec() == QDialog::Accepted ? dialog.textValue() : QString();
}

Prompter::Answer QtPrompter::message(const QString &text, Buttons buttons, Icon icon,
                                     Answer defaultAnswer, const QString &title)
{
    CursorPause pause;
    QMessageBox box(dialogParent());
    setUpBox(box, text, icon, title);
    if (buttons == Buttons::YesNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(defaultAnswer == Answer::Yes ? QMessageBox::Yes : QMessageBox::No);
        box.setEscapeButton(QMessageBox::No);
    } else {
        box.setStandardButtons(QMessageBox::Ok);
    }
    const int pressed = box.exec();
    if (buttons == Buttons::YesNo)
        return pressed == QMessageBox::Yes ? Answer::Yes : Answer::No;
    return Answer::Ok;
}

int QtPrompter::choose(const QString &text, const QStringList &choices, int defaultChoice,
                       Icon icon)
{
    CursorPause pause;
    QMessageBox box(dialogParent());
    setUpBox(box, text, icon, QString());
    QList<QAbstractButton *> buttons;
    for (qsizetype i = 0; i < choices.size(); ++i)
        buttons << box.addButton(choices[i], i + 1 == choices.size() ? QMessageBox::RejectRole
                                                                     : QMessageBox::AcceptRole);
    if (defaultChoice >= 0 && defaultChoice < buttons.size())
        box.setDefaultButton(qobject_cast<QPushButton *>(buttons[defaultChoice]));
    if (!buttons.isEmpty())
        box.setEscapeButton(buttons.last());
    box.exec();
    return int(buttons.indexOf(box.clickedButton()));
}

QString QtPrompter::openFileName(const QString &filter)
{
    CursorPause pause;
    const QString file = QFileDialog::getOpenFileName(dialogParent(), QString(), mLastFile, filter);
    if (!file.isEmpty())
        mLastFile = file;
    return file;
}

QString QtPrompter::saveFileName(const QString &filter)
{
    CursorPause pause;
    const QString file = QFileDialog::getSaveFileName(dialogParent(), QString(), mLastFile, filter);
    if (!file.isEmpty())
        mLastFile = file;
    return file;
}

std::unique_ptr<Progress> QtPrompter::progress(const QString &label, qint64 maximum)
{
    return std::make_unique<DialogProgress>(label, maximum);
}

void QtPrompter::beginBusy()
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
}

void QtPrompter::endBusy()
{
    QApplication::restoreOverrideCursor();
}

} // namespace tarn
