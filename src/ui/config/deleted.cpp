// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/config/deleted.h"

#include "core/appstate.h"
#include "platform/prompter.h"
#include "store/textrules.h"
#include "ui/windowicon.h"

#include <QAction>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace tarn
{

frmDeleted::frmDeleted(AppState &state, Prompter &prompter, QWidget *parent)
    : QDialog(parent), mState(state), mPrompter(prompter)
{
    setObjectName(QStringLiteral("frmDeleted"));
    setWindowTitle(tr("Deleted Configurations"));
    setWindowIcon(programIcon());

    auto *bar = new QMenuBar(this);
    QMenu *edit = bar->addMenu(tr("&Edit"));
    edit->setObjectName(QStringLiteral("mnuEdit"));
    mUndo = edit->addAction(tr("&Undo Restore"), this, &frmDeleted::undo);
    mUndo->setObjectName(QStringLiteral("mnuUndo"));
    mUndo->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z));
    mRedo = edit->addAction(tr("&Redo Restore"), this, &frmDeleted::redo);
    mRedo->setObjectName(QStringLiteral("mnuRedo"));
    mRedo->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z));

    mTable = new QTableWidget(0, 4, this);
    mTable->setObjectName(QStringLiteral("tblDeleted"));
    mTable->setAccessibleName(tr("Deleted configurations, newest first"));
    mTable->setHorizontalHeaderLabels({tr("Name"), tr("Deleted"), tr("By"), tr("Classes")});
    mTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    mTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    mTable->setSelectionMode(QAbstractItemView::SingleSelection);
    mTable->setTabKeyNavigation(false);
    mTable->verticalHeader()->hide();
    mTable->verticalHeader()->setDefaultSectionSize(mTable->fontMetrics().height() + 6);
    mTable->horizontalHeader()->setAccessibleName(tr("Columns"));
    mTable->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    mTable->setMinimumSize(560, 240);
    auto *label = new QLabel(tr("&Deleted configurations:"), this);
    label->setBuddy(mTable);

    mSummary = new QLabel(this);
    mSummary->setObjectName(QStringLiteral("lblSummary"));
    mSummary->setTextFormat(Qt::PlainText);
    mSummary->setWordWrap(true);

    mRestore = new QPushButton(tr("&Restore"), this);
    mRestore->setObjectName(QStringLiteral("btRestore"));
    mRestore->setToolTip(tr("Brings the selected configuration back with every class it had"));
    mRestore->setDefault(true);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    buttons->button(QDialogButtonBox::Close)->setObjectName(QStringLiteral("btClose"));
    buttons->addButton(mRestore, QDialogButtonBox::AcceptRole);

    auto *layout = new QVBoxLayout(this);
    layout->setMenuBar(bar);
    layout->addWidget(label);
    layout->addWidget(mTable, 1);
    layout->addWidget(mSummary);
    layout->addWidget(buttons);
    setTabOrder(mTable, mRestore);
    setTabOrder(mRestore, buttons->button(QDialogButtonBox::Close));

    // Enter restores; the window stays open for the next one or an undo.
    connect(buttons, &QDialogButtonBox::accepted, this, &frmDeleted::btRestore_Click);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(mTable, &QTableWidget::itemSelectionChanged, this, &frmDeleted::updateCommands);
    resize(640, 360);
    mTable->setFocus();
}

bool frmDeleted::reload()
{
    Result<QList<DeletedPackage>> deleted = [this] {
        BusyCursor busy(mPrompter);
        return mState.data().deletedPackages();
    }();
    mTable->setRowCount(0);
    mDeleted.clear();
    if (!deleted) {
        warn(deleted.message());
        updateCommands();
        return false;
    }
    mDeleted = *deleted;
    // Which of their names are taken now, for the word beside the list.
    mInUse.clear();
    if (const Result<QStringList> names = mState.data().packageNames(); names)
        for (const QString &name : *names)
            mInUse.insert(name.toLower());
    std::stable_sort(
        mDeleted.begin(), mDeleted.end(),
        [](const DeletedPackage &a, const DeletedPackage &b) { return a.changeId > b.changeId; });
    mTable->setRowCount(int(mDeleted.size()));
    for (int row = 0; row < mDeleted.size(); ++row) {
        const DeletedPackage &d = mDeleted.at(row);
        const QStringList cells{shownText(d.name),
                                d.at.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
                                shownText(d.who), QString::number(d.classes)};
        for (int column = 0; column < cells.size(); ++column) {
            auto *item = new QTableWidgetItem(cells.at(column));
            if (column == 3)
                item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            mTable->setItem(row, column, item);
        }
    }
    for (int column = 1; column < 4; ++column)
        mTable->resizeColumnToContents(column);
    if (!mDeleted.isEmpty())
        mTable->selectRow(0);
    updateCommands();
    return true;
}

const DeletedPackage *frmDeleted::selected() const
{
    const QList<QTableWidgetItem *> items = mTable->selectedItems();
    const int row = items.isEmpty() ? -1 : items.first()->row();
    return row >= 0 && row < mDeleted.size() ? &mDeleted.at(row) : nullptr;
}

void frmDeleted::updateCommands()
{
    mRestore->setEnabled(selected() != nullptr);
    mUndo->setEnabled(mDone > 0);
    mRedo->setEnabled(mDone < mRestored.size());
    const DeletedPackage *chosen = selected();
    if (mDeleted.isEmpty())
        mSummary->setText(tr("No deleted configuration is kept."));
    else if (chosen && mInUse.contains(chosen->name.toLower()))
        mSummary->setText(tr("A configuration named '%1' exists now: Restore asks for another "
                             "name to bring this one back under.")
                              .arg(shownText(chosen->name)));
    else
        mSummary->setText(tr("Restore brings the selected configuration back as it was when it "
                             "was deleted; Edit > Undo Restore deletes it again."));
}

void frmDeleted::warn(const QString &message)
{
    mPrompter.message(message, Prompter::Buttons::Ok, Prompter::Icon::Warning);
}

void frmDeleted::btRestore_Click()
{
    const DeletedPackage *chosen = selected();
    if (!chosen)
        return;
    const DeletedPackage deleted = *chosen;
    const Result<bool> taken = mState.data().packageExists(deleted.name);
    if (!taken)
        return warn(taken.message());
    QString as;
    if (*taken) {
        as = mPrompter.input(tr("A configuration named '%1' exists now.\n\nEnter the name to "
                                "restore the deleted one under:")
                                 .arg(shownText(deleted.name)),
                             tr("Restore Config"));
        if (as.isEmpty())
            return;
        // Refused before the restore, and again inside its transaction.
        for (const Status &s : {mState.data().checkNewName(as), mState.data().refuseExisting(as)})
            if (!s)
                return warn(s.message());
    }
    if (!restore(deleted, as))
        return;
    // What was undone can no longer be made again.
    mRestored.resize(mDone);
    mRestored.push_back(as.isEmpty() ? deleted.name : as);
    ++mDone;
    reload();
}

bool frmDeleted::restore(const DeletedPackage &deleted, const QString &as)
{
    RestorePoint point;
    point.beforeChange = deleted.changeId;
    const Status status = [&] {
        BusyCursor busy(mPrompter);
        return mState.data().restorePackage(deleted.name, point, as);
    }();
    if (!status) {
        warn(status.message());
        return false;
    }
    if (mChanged)
        mChanged(as.isEmpty() ? deleted.name : as);
    return true;
}

bool frmDeleted::undo()
{
    if (mDone == 0)
        return false;
    const QString name = mRestored.at(mDone - 1);
    const Status status = [&] {
        BusyCursor busy(mPrompter);
        return mState.data().deletePackage(name);
    }();
    // Deleted meanwhile by someone else: gone all the same, as the undo asks.
    if (!status && status.fault() != Fault::NotFound) {
        warn(status.message());
        return false;
    }
    --mDone;
    if (mChanged)
        mChanged(name);
    reload();
    return true;
}

bool frmDeleted::redo()
{
    if (mDone >= mRestored.size())
        return false;
    const QString name = mRestored.at(mDone);
    if (!reload())
        return false;
    // The undo's own Delete: the newest of that name.
    const auto found = std::find_if(mDeleted.cbegin(), mDeleted.cend(), [&](const auto &d) {
        return d.name.compare(name, Qt::CaseInsensitive) == 0;
    });
    if (found == mDeleted.cend()) {
        warn(tr("'%1' cannot be restored again: it is no longer among the deleted "
                "configurations. It is taken out of the history.")
                 .arg(shownText(name)));
        mRestored.erase(mRestored.begin() + qsizetype(mDone));
        updateCommands();
        return false;
    }
    if (!restore(*found, {}))
        return false;
    ++mDone;
    reload();
    return true;
}

} // namespace tarn
