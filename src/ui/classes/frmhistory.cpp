// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/classes/frmhistory.h"

#include "core/appstate.h"
#include "platform/prompter.h"
#include "store/schema.h"
#include "store/textrules.h"
#include "ui/classes/classrefs.h"
#include "ui/windowicon.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCompleter>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>
#include <QStringListModel>
#include <QTableView>

#include <set>

namespace tarn
{

namespace
{

using schema::RefKind;

// Enough to fill a tall window; the next page is read as the view scrolls.
constexpr int kPage = 200;

std::optional<RefKind> slotKind(const QString &column)
{
    for (RefKind kind : {RefKind::Weapon, RefKind::Grenade})
        for (int k = 1; k <= schema::slotCount(kind); ++k)
            if (column == schema::slotColumn(kind, k))
                return kind;
    return std::nullopt;
}

// The flag's place among its boxes (from 0), or -1.
int flagPlace(const QString &column, RefKind kind)
{
    for (int k = 1; k <= schema::flagCount(kind); ++k)
        if (column == schema::flagColumn(kind, k))
            return k - 1;
    return -1;
}

bool isClassChange(const Change &change)
{
    return change.table == QLatin1String("classdef") &&
           (change.kind == Change::Field || change.kind == Change::AddClass ||
            change.kind == Change::DeleteClass);
}

} // namespace

QString noHistoryText(const AppState &state)
{
    return QObject::tr("%1 keeps no history of its changes yet: what is changed in it is not "
                       "recorded, and nothing can be restored.\n\nThe owner of the team "
                       "database adds the history with:\ntarn-cli --database ADDRESS upgrade")
        .arg(state.where());
}

bool historyKept(AppState &state, Prompter &prompter)
{
    const Result<bool> kept = state.data().keepsHistory();
    if (kept && *kept)
        return true;
    if (kept)
        prompter.message(noHistoryText(state), Prompter::Buttons::Ok, Prompter::Icon::Information);
    else
        prompter.message(kept.message(), Prompter::Buttons::Ok, Prompter::Icon::Warning);
    return false;
}

HistoryModel::HistoryModel(AppState &state, const ClassRefs &refs, Prompter &prompter,
                           QObject *parent)
    : QAbstractTableModel(parent), mState(state), mRefs(refs), mPrompter(prompter)
{
}

bool HistoryModel::load(const HistoryFilter &filter)
{
    beginResetModel();
    mFilter = filter;
    mFilter.olderThan = 0;
    mFilter.limit = kPage;
    mChanges.clear();
    mAtEnd = false;
    endResetModel();
    return readPage();
}

bool HistoryModel::readPage()
{
    std::vector<Change> page;
    const Status status = mState.data().readHistory(mFilter, [&page](const Change &change) {
        page.push_back(change);
        return Status::success();
    });
    if (!status) {
        // Asked again on every scroll otherwise.
        mAtEnd = true;
        mPrompter.message(status.message(), Prompter::Buttons::Ok, Prompter::Icon::Warning);
        return false;
    }
    mAtEnd = qsizetype(page.size()) < kPage;
    if (page.empty())
        return true;
    mFilter.olderThan = page.back().id;
    const int first = rowCount();
    beginInsertRows({}, first, first + int(page.size()) - 1);
    mChanges.insert(mChanges.end(), std::make_move_iterator(page.begin()),
                    std::make_move_iterator(page.end()));
    endInsertRows();
    return true;
}

bool HistoryModel::canFetchMore(const QModelIndex &parent) const
{
    return !parent.isValid() && !mAtEnd;
}

void HistoryModel::fetchMore(const QModelIndex &parent)
{
    if (canFetchMore(parent))
        readPage();
}

QStringList HistoryModel::people() const
{
    std::set<QString> names;
    for (const Change &change : mChanges)
        names.insert(change.who);
    return {names.begin(), names.end()};
}

int HistoryModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(mChanges.size());
}

int HistoryModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant HistoryModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case When:
        return tr("When");
    case Who:
        return tr("Who");
    case Class:
        return tr("Class");
    case Field:
        return tr("Field");
    case Before:
        return tr("Before");
    case After:
        return tr("After");
    case Program:
        return tr("Program");
    }
    return {};
}

QVariant HistoryModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const Change &change = mChanges[std::size_t(index.row())];
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole)
        return text(change, index.column());
    return {};
}

QString HistoryModel::text(const Change &change, int column) const
{
    switch (column) {
    case When:
        return change.at.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    case Who:
        return shownText(change.who);
    case Class:
        if (!isClassChange(change))
            return {};
        return tr("%1 (%2)").arg(shownText(change.rowName)).arg(change.rowKey);
    case Field:
        return change.kind == Change::Field ? fieldText(change.column) : whatHappened(change);
    case Before:
        return change.kind == Change::Field || change.kind == Change::ModId
                   ? valueText(change.column, change.before)
                   : QString();
    case After:
        return change.kind == Change::Field || change.kind == Change::ModId
                   ? valueText(change.column, change.after)
                   : QString();
    case Program:
        return change.program;
    }
    return {};
}

QString HistoryModel::fieldText(const QString &column) const
{
    const QString label = schema::fieldLabel(column);
    for (RefKind kind : {RefKind::Item, RefKind::Special}) {
        const int place = flagPlace(column, kind);
        if (place >= 0 && place < mRefs.of(kind).all.size())
            return tr("%1 (%2)").arg(label, mRefs.of(kind).all.at(place).name);
    }
    return label;
}

QString HistoryModel::whatHappened(const Change &change)
{
    const QString detail = shownText(change.detail);
    switch (change.kind) {
    case Change::Field:
        return {};
    case Change::AddClass:
        return tr("(class added)");
    case Change::DeleteClass:
        return tr("(class deleted)");
    case Change::NewPackage:
        return tr("(configuration created)");
    case Change::CopyPackage:
        return tr("(copied from '%1')").arg(detail);
    case Change::ImportPackage:
        return tr("(imported from %1)").arg(detail);
    case Change::DeletePackage:
        return tr("(configuration deleted)");
    case Change::RestorePackage:
        return detail.isEmpty() ? tr("(configuration restored)")
                                : tr("(configuration restored %1)").arg(detail);
    case Change::AddRow:
        return tr("(row added)");
    case Change::DeleteRow:
        return tr("(row deleted)");
    case Change::ModId:
        return tr("Mod ID");
    }
    return {};
}

QString HistoryModel::valueText(const QString &column, const QVariant &value) const
{
    if (value.isNull())
        return tr("(empty)");
    if (const std::optional<RefKind> kind = slotKind(column))
        return mRefs.listText(*kind, value);
    if (flagPlace(column, RefKind::Item) >= 0 || flagPlace(column, RefKind::Special) >= 0)
        return value.toDouble() != 0 ? tr("ticked") : tr("not ticked");
    return shownText(value.toString());
}

frmHistory::frmHistory(AppState &state, QString package, const ClassRefs &refs, Prompter &prompter,
                       QWidget *parent)
    : QDialog(parent), mPackage(std::move(package)), mPrompter(prompter)
{
    setObjectName(QStringLiteral("frmHistory"));
    setWindowTitle(tr("History of %1").arg(shownText(mPackage)));
    setWindowIcon(programIcon());
    setWindowFlag(Qt::WindowMaximizeButtonHint);
    mModel = new HistoryModel(state, refs, prompter, this);

    mThisClass = new QCheckBox(this);
    mThisClass->setObjectName(QStringLiteral("chkThisClass"));

    mField = new QComboBox(this);
    mField->setObjectName(QStringLiteral("cboField"));
    mField->setAccessibleName(tr("Field"));
    mField->addItem(tr("(every field)"));
    for (const QString &column : schema::classdefColumnNames())
        if (column != QLatin1String("package_name"))
            mField->addItem(mModel->fieldText(column), column);
    auto *fieldLabel = new QLabel(tr("&Field:"), this);
    fieldLabel->setBuddy(mField);

    mWho = new QLineEdit(this);
    mWho->setObjectName(QStringLiteral("txtWho"));
    mWho->setAccessibleName(tr("Person"));
    mWho->setPlaceholderText(tr("Anyone"));
    mWho->setClearButtonEnabled(true);
    mPeople = new QStringListModel(this);
    auto *completer = new QCompleter(mPeople, mWho);
    completer->setCaseSensitivity(Qt::CaseInsensitive);
    mWho->setCompleter(completer);
    auto *whoLabel = new QLabel(tr("&Person:"), this);
    whoLabel->setBuddy(mWho);

    mView = new QTableView(this);
    mView->setObjectName(QStringLiteral("tblHistory"));
    mView->setAccessibleName(tr("Changes, newest first"));
    mView->setModel(mModel);
    mView->setSelectionBehavior(QAbstractItemView::SelectRows);
    mView->setSelectionMode(QAbstractItemView::SingleSelection);
    mView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    mView->setTabKeyNavigation(false);
    mView->setWordWrap(false);
    mView->verticalHeader()->hide();
    mView->horizontalHeader()->setAccessibleName(tr("Columns"));
    mView->horizontalHeader()->setStretchLastSection(true);
    // Sized for what the columns usually hold; a longer value shows whole in its tooltip.
    const QFontMetrics metrics = mView->fontMetrics();
    const QList<std::pair<int, QString>> widths{
        {HistoryModel::When, QStringLiteral("2026-12-31 23:59:59")},
        {HistoryModel::Who, QStringLiteral("someone.else")},
        {HistoryModel::Class, QStringLiteral("Heavy Gunner (12)")},
        {HistoryModel::Field, QStringLiteral("Special ability 31 (Flight)")},
        {HistoryModel::Before, QStringLiteral("Rocket Launcher")},
        {HistoryModel::After, QStringLiteral("Rocket Launcher")}};
    for (const auto &[column, sample] : widths)
        mView->setColumnWidth(column, metrics.horizontalAdvance(sample) + 16);
    mView->verticalHeader()->setDefaultSectionSize(metrics.height() + 6);
    mView->setMinimumSize(760, 300);
    auto *viewLabel = new QLabel(tr("&Changes:"), this);
    viewLabel->setBuddy(mView);

    mSummary = new QLabel(this);
    mSummary->setObjectName(QStringLiteral("lblSummary"));
    mSummary->setTextFormat(Qt::PlainText);

    mRestore = new QPushButton(tr("&Restore Class as It Was"), this);
    mRestore->setObjectName(QStringLiteral("btRestoreClass"));
    mRestore->setToolTip(tr("Brings the class of the selected change back to what it was "
                            "just before that change"));
    auto *refresh = new QPushButton(tr("Refres&h"), this);
    refresh->setObjectName(QStringLiteral("btRefresh"));
    refresh->setShortcut(QKeySequence::Refresh);
    // No default button: Enter in the Person field applies the name, and on
    // a button presses that button.
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    buttons->button(QDialogButtonBox::Close)->setObjectName(QStringLiteral("btClose"));
    buttons->addButton(mRestore, QDialogButtonBox::ActionRole);
    buttons->addButton(refresh, QDialogButtonBox::ActionRole);

    auto *layout = new QGridLayout(this);
    layout->addWidget(mThisClass, 0, 0, 1, 4);
    layout->addWidget(fieldLabel, 1, 0);
    layout->addWidget(mField, 1, 1);
    layout->addWidget(whoLabel, 1, 2, Qt::AlignRight);
    layout->addWidget(mWho, 1, 3);
    layout->addWidget(viewLabel, 2, 0, 1, 4);
    layout->addWidget(mView, 3, 0, 1, 4);
    layout->addWidget(mSummary, 4, 0, 1, 4);
    layout->addWidget(buttons, 5, 0, 1, 4);
    layout->setColumnStretch(1, 1);
    layout->setColumnStretch(3, 1);
    layout->setRowStretch(3, 1);

    setTabOrder(mThisClass, mField);
    setTabOrder(mField, mWho);
    setTabOrder(mWho, mView);
    setTabOrder(mView, mRestore);
    setTabOrder(mRestore, refresh);
    setTabOrder(refresh, buttons->button(QDialogButtonBox::Close));

    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(mRestore, &QPushButton::clicked, this, &frmHistory::btRestoreClass_Click);
    connect(refresh, &QPushButton::clicked, this, &frmHistory::reload);
    connect(mThisClass, &QCheckBox::toggled, this, &frmHistory::reload);
    connect(mField, &QComboBox::currentIndexChanged, this, &frmHistory::reload);
    // A name is read whole: Enter, or leaving the field, applies it.
    connect(mWho, &QLineEdit::editingFinished, this, [this] {
        if (mWho->isModified()) {
            mWho->setModified(false);
            reload();
        }
    });
    connect(mView->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &frmHistory::selectionChanged);
    connect(mModel, &QAbstractItemModel::rowsInserted, this, &frmHistory::selectionChanged);
    setShownClass(std::nullopt);
    resize(980, 520);
    // The arrows go through the changes at once.
    mView->setFocus();
}

void frmHistory::setShownClass(std::optional<Shown> shown)
{
    const bool same = shown && mShown && shown->classNum == mShown->classNum;
    mShown = std::move(shown);
    mThisClass->setText(mShown ? tr("Only the class &shown: %1 (%2)")
                                     .arg(shownText(mShown->name))
                                     .arg(mShown->classNum)
                               : tr("Only the class &shown"));
    mThisClass->setEnabled(mShown.has_value());
    if (!same && mThisClass->isChecked())
        reload();
}

HistoryFilter frmHistory::filter() const
{
    HistoryFilter f;
    f.package = mPackage;
    if (mThisClass->isChecked() && mShown)
        f.classNum = mShown->classNum;
    f.column = mField->currentData().toString();
    f.who = mWho->text().trimmed();
    return f;
}

bool frmHistory::reload()
{
    bool ok = false;
    {
        BusyCursor busy(mPrompter);
        ok = mModel->load(filter());
    }
    // The people seen so far are offered as the name is typed.
    mPeople->setStringList(mModel->people());
    selectionChanged();
    return ok;
}

const Change *frmHistory::selected() const
{
    const QModelIndexList rows = mView->selectionModel()->selectedRows();
    return rows.isEmpty() ? nullptr : &mModel->change(rows.first().row());
}

void frmHistory::selectionChanged()
{
    const Change *change = selected();
    mRestore->setEnabled(change && isClassChange(*change) && mRestoreClass);
    const int shown = mModel->rowCount();
    mSummary->setText(shown == 0 ? tr("No change recorded matches.")
                      : mModel->canFetchMore({})
                          ? tr("The newest %1 changes; more as you scroll.").arg(shown)
                      : shown == 1 ? tr("1 change.")
                                   : tr("%1 changes.").arg(shown));
}

void frmHistory::btRestoreClass_Click()
{
    const Change *chosen = selected();
    if (!chosen || !isClassChange(*chosen) || !mRestoreClass)
        return;
    // A copy: the list is read again as the restore is stored.
    const Change change = *chosen;
    if (mRestoreClass(change))
        reload();
}

} // namespace tarn
