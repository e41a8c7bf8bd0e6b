// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/classes/classtable.h"

#include "ui/classes/classrefs.h"
#include "ui/windowicon.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QTimer>
#include <QVBoxLayout>

namespace tarn
{

namespace
{

const char *const kCell = "tarnCell";

// Draws greyed the boxes that cannot be ticked, which the keyboard still
// reaches in order.
class BoxesDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        if (!(index.flags() & Qt::ItemIsUserCheckable))
            option->state &= ~QStyle::State_Enabled;
    }
};

} // namespace

QWidget *ClassCellDelegate::createEditor(QWidget *parent, const QStyleOptionViewItem &option,
                                         const QModelIndex &index) const
{
    QWidget *editor = nullptr;
    if (const std::optional<schema::RefKind> kind = ClassTableModel::flagKind(index.column())) {
        // The boxes of the class editor's frame: Space ticks, Enter stores.
        auto *boxes = new QListWidget(parent);
        boxes->setItemDelegate(new BoxesDelegate(boxes));
        const QList<RefEntry> &rows = mRefs.of(*kind).all;
        for (qsizetype k = 0; k < qMin(rows.size(), flagBoxes(*kind)); ++k) {
            auto *item = new QListWidgetItem(rows.at(k).name, boxes);
            const bool box = tickable(rows.at(k).enabled);
            item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable |
                           (box ? Qt::ItemIsUserCheckable : Qt::NoItemFlags));
            if (!box)
                item->setData(Qt::AccessibleDescriptionRole, tr("not enabled, cannot be ticked"));
        }
        editor = boxes;
    } else if (const std::optional<schema::RefKind> kind =
                   ClassTableModel::slotKind(index.column())) {
        auto *list = new QComboBox(parent);
        for (const RefEntry &row : mRefs.of(*kind).offered)
            list->addItem(row.name, row.id);
        // A choice is stored at once, as in the class editor.
        connect(list, &QComboBox::activated, this, [this, list] {
            emit const_cast<ClassCellDelegate *>(this)->commitData(list);
            emit const_cast<ClassCellDelegate *>(this)->closeEditor(list);
        });
        editor = list;
    } else {
        editor = QStyledItemDelegate::createEditor(parent, option, index);
    }
    // "Items of Scout": the cell's column and class, as no label names an editor.
    editor->setAccessibleName(
        tr("%1 of %2")
            .arg(index.model()->headerData(index.column(), Qt::Horizontal).toString(),
                 index.siblingAtColumn(ClassTableModel::columnOf(QStringLiteral("class_name")))
                     .data()
                     .toString()));
    editor->setProperty(kCell, QVariant::fromValue(QPersistentModelIndex(index)));
    return editor;
}

bool ClassCellDelegate::eventFilter(QObject *object, QEvent *event)
{
    // Ctrl+Tab in a cell stores it, as Tab would, and leaves the table.
    auto *editor = qobject_cast<QWidget *>(object);
    auto *view = editor && editor->parentWidget()
                     ? qobject_cast<ClassTableView *>(editor->parentWidget()->parentWidget())
                     : nullptr;
    if (view && event->type() == QEvent::KeyPress) {
        auto *key = static_cast<QKeyEvent *>(event);
        if (const std::optional<bool> forward = ClassTableView::leavingKey(key)) {
            emit commitData(editor);
            emit closeEditor(editor, NoHint);
            view->leaveAfterEdit(*forward);
            return true;
        }
    }
    return QStyledItemDelegate::eventFilter(object, event);
}

void ClassCellDelegate::setEditorData(QWidget *editor, const QModelIndex &index) const
{
    if (auto *boxes = qobject_cast<QListWidget *>(editor)) {
        const quint64 mask = index.data(Qt::EditRole).toULongLong();
        for (int k = 0; k < boxes->count(); ++k)
            boxes->item(k)->setCheckState((mask >> k) & 1 ? Qt::Checked : Qt::Unchecked);
        boxes->setCurrentRow(0);
        return;
    }
    auto *list = qobject_cast<QComboBox *>(editor);
    const std::optional<schema::RefKind> kind = ClassTableModel::slotKind(index.column());
    if (!list || !kind) {
        QStyledItemDelegate::setEditorData(editor, index);
        return;
    }
    // A stored id that is not offered shows as an entry of its own, as in the
    // class editor, so that opening the list changes nothing.
    const QVariant id = index.data(Qt::EditRole);
    int pos = mRefs.findPos(*kind, id);
    if (pos < 0) {
        list->addItem(mRefs.notOfferedText(*kind, id), id);
        pos = list->count() - 1;
    }
    fitPopupToEntries(list);
    list->setCurrentIndex(pos);
}

void ClassCellDelegate::setModelData(QWidget *editor, QAbstractItemModel *model,
                                     const QModelIndex &index) const
{
    if (auto *boxes = qobject_cast<QListWidget *>(editor)) {
        quint64 mask = 0;
        for (int k = 0; k < boxes->count(); ++k)
            if (boxes->item(k)->checkState() == Qt::Checked)
                mask |= quint64(1) << k;
        model->setData(index, mask, Qt::EditRole);
    } else if (auto *list = qobject_cast<QComboBox *>(editor)) {
        model->setData(index, list->currentData(), Qt::EditRole);
    } else
        QStyledItemDelegate::setModelData(editor, model, index);
}

void ClassCellDelegate::updateEditorGeometry(QWidget *editor, const QStyleOptionViewItem &option,
                                             const QModelIndex &index) const
{
    auto *boxes = qobject_cast<QListWidget *>(editor);
    if (!boxes) {
        QStyledItemDelegate::updateEditorGeometry(editor, option, index);
        return;
    }
    // Every box at once where the table has room, below the cell or above it.
    const QRect area = editor->parentWidget()->rect();
    const int height =
        qMin(area.height(), boxes->sizeHintForRow(0) * boxes->count() + 2 * boxes->frameWidth());
    QRect rect(option.rect.topLeft(), QSize(qMax(option.rect.width(), 220), height));
    if (rect.bottom() > area.bottom())
        rect.moveBottom(area.bottom());
    if (rect.right() > area.right())
        rect.moveRight(area.right());
    editor->setGeometry(rect);
}

QPersistentModelIndex ClassCellDelegate::cellOf(const QWidget *editor)
{
    return editor->property(kCell).value<QPersistentModelIndex>();
}

std::optional<bool> ClassTableView::leavingKey(const QKeyEvent *event)
{
    if (!(event->modifiers() & Qt::ControlModifier))
        return std::nullopt;
    if (event->key() == Qt::Key_Backtab ||
        (event->key() == Qt::Key_Tab && (event->modifiers() & Qt::ShiftModifier)))
        return false;
    if (event->key() == Qt::Key_Tab)
        return true;
    return std::nullopt;
}

void ClassTableView::leaveAfterEdit(bool forward)
{
    if (!mTable.lastEditRefused())
        QWidget::focusNextPrevChild(forward);
}

void ClassTableView::keyPressEvent(QKeyEvent *event)
{
    // The view's own focusNextPrevChild() would move between cells.
    if (const std::optional<bool> forward = leavingKey(event))
        QWidget::focusNextPrevChild(*forward);
    else
        QTableView::keyPressEvent(event);
}

void ClassTableView::commitData(QWidget *editor)
{
    if (mCommitting)
        return;
    mCommitting = true;
    QTableView::commitData(editor);
    mCommitting = false;
    if (!mTable.lastEditRefused())
        return;
    const QPersistentModelIndex cell = ClassCellDelegate::cellOf(editor);
    auto *line = qobject_cast<QLineEdit *>(editor);
    const QString typed = line ? line->text() : QString();
    // After the view has finished closing the editor and moving on.
    QTimer::singleShot(0, this, [this, cell, typed, reopen = line != nullptr] {
        if (!cell.isValid())
            return;
        setCurrentIndex(cell);
        scrollTo(cell);
        if (!reopen)
            return;
        edit(cell);
        if (auto *again = qobject_cast<QLineEdit *>(indexWidget(cell))) {
            again->setText(typed);
            again->selectAll();
        }
    });
}

void ClassTableView::closeEditor(QWidget *editor, QAbstractItemDelegate::EndEditHint hint)
{
    if (!mCommitting)
        QTableView::closeEditor(editor, hint);
}

frmClassTable::frmClassTable(Database &db, const QString &package, const ClassRefs &refs,
                             Prompter &prompter, QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("frmClassTable"));
    setWindowTitle(tr("Class Table - %1").arg(package));
    setModal(false);
    setSizeGripEnabled(true);

    mModel = new ClassTableModel(db, package, refs, prompter, this);
    mProxy = new ClassTableProxy(this);
    mProxy->setSourceModel(mModel);

    auto *findLabel = new QLabel(tr("&Find class:"), this);
    mFilter = new QLineEdit(this);
    mFilter->setObjectName(QStringLiteral("fldFilter"));
    mFilter->setAccessibleName(tr("Filter class names"));
    mFilter->setPlaceholderText(tr("Part of a class name"));
    enableClearButton(mFilter);
    mFilter->installEventFilter(this);
    findLabel->setBuddy(mFilter);
    mCount = new QLabel(this);
    mCount->setObjectName(QStringLiteral("lblCount"));

    mView = new ClassTableView(*mModel, this);
    mView->setObjectName(QStringLiteral("tblClasses"));
    mView->setAccessibleName(tr("Classes"));
    // Rows that come, go or move take the current cell with them: that is
    // no choice of the user's, so the class editor does not follow it.
    // Connected before the view's own handlers so that they run inside.
    auto begin = [this] {
        ++mModelChanging;
    };
    auto end = [this] {
        --mModelChanging;
    };
    connect(mProxy, &QAbstractItemModel::rowsAboutToBeRemoved, this, begin);
    connect(mProxy, &QAbstractItemModel::rowsRemoved, this, end);
    connect(mProxy, &QAbstractItemModel::rowsAboutToBeInserted, this, begin);
    connect(mProxy, &QAbstractItemModel::rowsInserted, this, end);
    connect(mProxy, &QAbstractItemModel::layoutAboutToBeChanged, this, begin);
    connect(mProxy, &QAbstractItemModel::layoutChanged, this, end);
    connect(mProxy, &QAbstractItemModel::modelAboutToBeReset, this, begin);
    connect(mProxy, &QAbstractItemModel::modelReset, this, end);
    mView->setModel(mProxy);
    mView->setItemDelegate(new ClassCellDelegate(refs, mView));
    mView->setSelectionBehavior(QAbstractItemView::SelectRows);
    mView->setSelectionMode(QAbstractItemView::SingleSelection);
    mView->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                           QAbstractItemView::AnyKeyPressed);
    mView->setWordWrap(false);
    // Rows of one height scroll without measuring each row.
    QHeaderView *rows = mView->verticalHeader();
    rows->hide();
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setDefaultSectionSize(fontMetrics().height() + 8);
    // Sorted as read, by class number; a click on a header sorts by its column.
    QHeaderView *header = mView->horizontalHeader();
    header->setSectionsClickable(true);
    header->setSortIndicatorShown(true);
    header->setSortIndicator(0, Qt::AscendingOrder);
    header->setResizeContentsPrecision(200);
    connect(header, &QHeaderView::sortIndicatorChanged, this,
            [this](int column, Qt::SortOrder order) {
                mProxy->sort(column, order);
                mView->scrollTo(mView->currentIndex());
            });
    connect(mView->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex &current) { currentRowChanged(current); });
    connect(mFilter, &QLineEdit::textChanged, this, &frmClassTable::filterChanged);
    for (auto signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
        connect(mProxy, signal, this, &frmClassTable::updateCount);
    connect(mProxy, &QAbstractItemModel::modelReset, this, [this] {
        mView->resizeColumnsToContents();
        updateCount();
    });

    auto *top = new QHBoxLayout;
    top->addWidget(findLabel);
    top->addWidget(mFilter, 1);
    top->addWidget(mCount);
    auto *layout = new QVBoxLayout(this);
    mMenuBar = new QMenuBar(this);
    layout->setMenuBar(mMenuBar);
    // The headers take no focus and offer screen readers no action: sorting
    // from the keyboard and through them is a menu's, by the current cell's
    // column or by one named, again for the reverse order, as a click on its
    // header.
    const auto sortBy = [header](int column) {
        const bool reverse = header->sortIndicatorSection() == column &&
                             header->sortIndicatorOrder() == Qt::AscendingOrder;
        header->setSortIndicator(column, reverse ? Qt::DescendingOrder : Qt::AscendingOrder);
    };
    QMenu *sortMenu = mMenuBar->addMenu(tr("&Sort"));
    sortMenu->setObjectName(QStringLiteral("mnuSort"));
    QAction *byColumn = sortMenu->addAction(tr("Sort by This &Column"), this, [this, sortBy] {
        sortBy(qMax(0, mView->currentIndex().column()));
    });
    byColumn->setObjectName(QStringLiteral("mnuSortByColumn"));
    QMenu *byName = sortMenu->addMenu(tr("Sort &By"));
    byName->setObjectName(QStringLiteral("mnuSortBy"));
    for (int column = 0; column < mProxy->columnCount(); ++column)
        byName->addAction(mProxy->headerData(column, Qt::Horizontal).toString(), this,
                          [sortBy, column] { sortBy(column); });
    header->setAccessibleName(tr("Columns"));
    layout->addLayout(top);
    layout->addWidget(mView, 1);
    resize(1000, 560);
}

frmClassTable::~frmClassTable()
{
    // A cell being edited is dropped: the window going away is no choice to store it.
    mView->itemDelegate()->disconnect(mView);
}

void frmClassTable::showClass(ClassTableModel::Key key)
{
    mShown = key;
    const int row = mModel->rowOf(key);
    const int column = qMax(0, mView->currentIndex().column());
    const QModelIndex index =
        row < 0 ? QModelIndex() : mProxy->mapFromSource(mModel->index(row, column));
    mSyncing = true;
    if (index.isValid()) {
        mView->setCurrentIndex(index);
        mView->scrollTo(index);
    } else {
        mView->selectionModel()->clear();
    }
    mSyncing = false;
}

void frmClassTable::currentRowChanged(const QModelIndex &current)
{
    if (mSyncing || mModelChanging || !current.isValid())
        return;
    const ClassTableModel::Key key = mModel->keyAt(mProxy->mapToSource(current).row());
    if (key == mShown)
        return;
    mShown = key;
    emit classChosen(key);
}

void frmClassTable::filterChanged(const QString &text)
{
    mProxy->setNameFilter(text);
    updateCount();
    // The class the editor shows is selected again once the filter lets it through.
    showClass(mShown);
}

void frmClassTable::updateCount()
{
    const int shown = mProxy->rowCount(), all = mModel->rowCount();
    const QString classes = all == 1 ? tr("1 class") : tr("%1 classes").arg(all);
    mCount->setText(shown == all ? classes : tr("%1 of %2").arg(shown).arg(classes));
}

bool frmClassTable::eventFilter(QObject *watched, QEvent *event)
{
    // Escape clears the filter and never closes the window from there.
    if (watched == mFilter && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent *>(event)->key() == Qt::Key_Escape) {
        mFilter->clear();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

} // namespace tarn
