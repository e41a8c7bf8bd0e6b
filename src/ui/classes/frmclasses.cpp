// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/classes/frmclasses.h"

#include "core/appstate.h"
#include "core/classfileio.h"
#include "core/sheet.h"
#include "platform/datacontrol.h"
#include "platform/prompter.h"
#include "store/textrules.h"
#include "ui/classes/balance.h"
#include "ui/classes/classtable.h"
#include "ui/classes/frmhistory.h"
#include "ui/windowicon.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTableWidget>
#include <QTextDocument>
#include <QTimer>
#include <QVBoxLayout>

namespace tarn
{

namespace
{

using schema::Kind;
using schema::RefKind;

QLabel *boldLabel(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    QFont font = label->font();
    font.setBold(true);
    label->setFont(font);
    return label;
}

void makeBlue(QLabel *label)
{
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, QColor(0, 0, 192));
    label->setPalette(palette);
}

bool isWeapon(RefKind kind)
{
    return kind == RefKind::Weapon;
}

// The characters of a configuration name shown in full (of an average width).
constexpr int kNameChars = 40;

// A name shown on a check box: '&' would otherwise mark a shortcut key.
QString buttonText(const QString &name)
{
    QString text = name;
    return text.replace(QLatin1Char('&'), QStringLiteral("&&"));
}

const QString kAddFirst = QStringLiteral("You should add a new class before changing any fields");

} // namespace

frmClasses::frmClasses(AppState &state, Prompter &prompter, QWidget *parent)
    : RecordDialog(parent), mState(state), mPrompter(prompter), mPackage(state.currentPackage())
{
    setObjectName(QStringLiteral("frmClasses"));
    setWindowTitle(QStringLiteral("QZ TARN 1 - Class Configuration"));
    setWindowIcon(programIcon());
    buildWindow();
    Form_Load();
}

// The table reads the reference rows this window holds, so it goes first.
frmClasses::~frmClasses()
{
    delete mTable.data();
}

QLineEdit *frmClasses::addField(QGridLayout *grid, int row, int column, const QString &label,
                                const char *name, const QString &dbColumn, Kind kind)
{
    QLabel *caption = boldLabel(label, this);
    auto *edit = new QLineEdit(this);
    edit->setObjectName(QLatin1String(name));
    caption->setBuddy(edit);
    grid->addWidget(caption, row, column, Qt::AlignRight | Qt::AlignVCenter);
    grid->addWidget(edit, row, column + 1);
    QString field = label;
    if (field.endsWith(QLatin1Char(':')))
        field.chop(1);
    mNavigator->bind(edit, dbColumn, kind, field);
    // Numbers are short: their fields stay narrow, with room for the longest.
    if (kind != Kind::Text)
        edit->setMaximumWidth(qMax(80, edit->minimumWidth()));
    return edit;
}

void frmClasses::buildWindow()
{
    auto *menuBar = new QMenuBar(this);
    QMenu *file = menuBar->addMenu(QStringLiteral("&File"));
    file->setObjectName(QStringLiteral("mnuFile"));
    file->addAction(QStringLiteral("&Save As..."), this, &frmClasses::mnuSaveAs_Click)
        ->setObjectName(QStringLiteral("mnuSaveAs"));
    file->addAction(QStringLiteral("Save &Unprotected..."), this,
                    &frmClasses::mnuSaveUnprotected_Click)
        ->setObjectName(QStringLiteral("mnuSaveUnprotected"));
    file->addAction(tr("&Apply Spreadsheet..."), this, &frmClasses::mnuApplySpreadsheet_Click)
        ->setObjectName(QStringLiteral("mnuApplySpreadsheet"));
    mNavigator = new DataControl(this);
    mNavigator->setObjectName(QStringLiteral("dbClassDef"));
    mNavigator->setCaption(QStringLiteral("Class Def"));
    mNavigator->setPrompter(&mPrompter);
    setDataControl(mNavigator);

    // Identity: names and skins on the left, numbers to their right.
    auto *identity = new QGridLayout;
    QLabel *configCaption = boldLabel(QStringLiteral("Config Name:"), this);
    mConfigName = new QLabel(this);
    mConfigName->setObjectName(QStringLiteral("Label31"));
    mConfigName->setFont(configCaption->font());
    makeBlue(mConfigName);
    mConfigName->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // A long name is shortened (see dbClassDef_Reposition), so the window
    // fits a small screen whatever the name.
    mConfigName->setMaximumWidth(mConfigName->fontMetrics().horizontalAdvance(QLatin1Char('x')) *
                                 kNameChars);
    identity->addWidget(configCaption, 0, 0, Qt::AlignRight | Qt::AlignVCenter);
    identity->addWidget(mConfigName, 0, 1);
    mNavigator->bind(mConfigName, QStringLiteral("package_name"), QStringLiteral("Config Name"));
    addField(identity, 1, 0, QStringLiteral("Class Name:"), "fldClassName",
             QStringLiteral("class_name"), Kind::Text);
    addField(identity, 2, 0, QStringLiteral("Model Name:"), "fldModel",
             QStringLiteral("model_name"), Kind::Text);
    addField(identity, 3, 0, QStringLiteral("Red Skin:"), "fldSkin1", QStringLiteral("skin_name1"),
             Kind::Text);
    addField(identity, 4, 0, QStringLiteral("Blue Skin:"), "fldSkin2", QStringLiteral("skin_name2"),
             Kind::Text);
    const struct {
        const char *label, *name, *column;
    } numbers[] = {{"Class Num:", "Text1", "class_num"},
                   {"Max Armor:", "fldArmor", "max_armor"},
                   {"Max Speed:", "fldSpeed", "max_speed"},
                   {"Max Health:", "fldHealth", "max_health"}};
    int row = 0;
    for (const auto &n : numbers) {
        addField(identity, row++, 2, QLatin1String(n.label), n.name, QLatin1String(n.column),
                 Kind::Whole16);
    }
    identity->setColumnStretch(1, 1);
    identity->setColumnMinimumWidth(1, 150);

    // Decoy skin, navigator and the class commands at the top right.
    auto *label32 =
        boldLabel(QStringLiteral("(Note: Use File Menu To Export to Class File)"), this);
    label32->setObjectName(QStringLiteral("Label32"));
    makeBlue(label32);
    auto *decoy = new QGridLayout;
    addField(decoy, 0, 0, QStringLiteral("Decoy Skin # (blue):"), "fldDecoySkin",
             QStringLiteral("decoyskin"), Kind::Whole16);
    auto *addClass = new QPushButton(QStringLiteral("Add  Class"), this);
    addClass->setObjectName(QStringLiteral("AddClass"));
    auto *deleteClass = new QPushButton(QStringLiteral("Delete Class"), this);
    deleteClass->setObjectName(QStringLiteral("Command1"));
    connect(addClass, &QPushButton::clicked, this, &frmClasses::AddClass_Click);
    connect(deleteClass, &QPushButton::clicked, this, &frmClasses::Command1_Click);
    auto *commands = new QHBoxLayout;
    commands->addWidget(addClass);
    commands->addWidget(deleteClass);
    auto *topRight = new QVBoxLayout;
    topRight->addWidget(label32, 0, Qt::AlignRight);
    topRight->addLayout(decoy);
    topRight->addWidget(mNavigator);
    topRight->addLayout(commands);
    topRight->addStretch(1);

    auto *top = new QHBoxLayout;
    top->addLayout(identity, 3);
    top->addSpacing(24);
    top->addLayout(topRight, 2);

    // Weapons over grenades, items over ammunition, and the special abilities.
    auto *left = new QVBoxLayout;
    left->addWidget(buildSlotFrame(RefKind::Weapon));
    left->addWidget(buildSlotFrame(RefKind::Grenade));
    left->addStretch(1);

    // Created in the order of the tab chain: items, then the ammunition limits.
    QWidget *itemFrame = buildFlagFrame(RefKind::Item);
    auto *ammoFrame = new QGroupBox(QStringLiteral("Ammo Limits"), this);
    ammoFrame->setObjectName(QStringLiteral("frameAmmo"));
    auto *ammo = new QGridLayout(ammoFrame);
    row = 0;
    for (const schema::AmmoColumn &a : schema::ammoColumns())
        addField(ammo, row++, 0, QLatin1String(a.label), a.name, QLatin1String(a.name),
                 Kind::Whole16);

    auto *middle = new QVBoxLayout;
    middle->addWidget(itemFrame);
    middle->addWidget(ammoFrame);
    middle->addStretch(1);

    auto *bottom = new QHBoxLayout;
    bottom->addLayout(left);
    bottom->addLayout(middle);
    bottom->addWidget(buildFlagFrame(RefKind::Special), 1, Qt::AlignTop);

    auto *layout = new QVBoxLayout(this);
    layout->setMenuBar(menuBar);
    layout->addLayout(top);
    layout->addLayout(bottom, 1);

    // The hidden slot boxes are the slot columns themselves.
    for (int k = 1; k <= schema::slotCount(RefKind::Weapon); ++k)
        mNavigator->bindValue(schema::slotColumn(RefKind::Weapon, k), Kind::Whole16,
                              QStringLiteral("Weapon %1").arg(k));
    for (int k = 1; k <= schema::slotCount(RefKind::Grenade); ++k)
        mNavigator->bindValue(schema::slotColumn(RefKind::Grenade, k), Kind::Whole16,
                              QStringLiteral("Grenade %1").arg(k));
    mNavigator->setValueText([this](const QString &column, const QVariant &id) {
        return slotText(column.startsWith(QLatin1Char('w')) ? RefKind::Weapon : RefKind::Grenade,
                        id);
    });
    connect(mNavigator, &DataControl::repositioned, this, &frmClasses::dbClassDef_Reposition);
    connect(mNavigator, &DataControl::rowChanged, this, &frmClasses::listChanges);
    addEditMenu(menuBar);
    QMenu *view = menuBar->addMenu(tr("&View"));
    view->setObjectName(QStringLiteral("mnuView"));
    QAction *table = view->addAction(tr("Class &Table..."), this, &frmClasses::mnuClassTable_Click);
    table->setObjectName(QStringLiteral("mnuClassTable"));
    table->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_T));
    view->addAction(tr("&Balance..."), this, &frmClasses::mnuBalance_Click)
        ->setObjectName(QStringLiteral("mnuBalance"));
    QAction *history = view->addAction(tr("&History..."), this, &frmClasses::mnuHistory_Click);
    history->setObjectName(QStringLiteral("mnuHistory"));
    history->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_H));
}

QString frmClasses::slotText(RefKind kind, const QVariant &id) const
{
    const RefEntry *row = mRefs.rowOf(kind, id);
    return row ? tr("%1 (%2)").arg(row->name, id.toString()) : id.toString();
}

QWidget *frmClasses::buildSlotFrame(RefKind kind)
{
    const bool weapons = isWeapon(kind);
    auto *frame =
        new QGroupBox(weapons ? QStringLiteral("Weapons") : QStringLiteral("Grenades"), this);
    frame->setObjectName(weapons ? QStringLiteral("frameWeapons")
                                 : QStringLiteral("frameGrenades"));
    auto *grid = new QGridLayout(frame);
    const int rows = schema::slotCount(kind);
    for (int k = 1; k <= rows; ++k) {
        QLabel *number = boldLabel(QStringLiteral("%1.").arg(k), frame);
        grid->addWidget(number, k - 1, 0, Qt::AlignRight | Qt::AlignVCenter);
        if (weapons && k == 1) {
            // Slot 1 always holds weapon 1.
            auto *blaster = new QLabel(QStringLiteral("Blaster"), frame);
            blaster->setObjectName(QStringLiteral("Label12"));
            grid->addWidget(blaster, 0, 1);
            continue;
        }
        const QString name = schema::slotColumn(kind, k);
        auto *list = new QComboBox(frame);
        list->setObjectName(name);
        // Screen readers name a combo box by its entry, so it needs a name of its own.
        list->setAccessibleName((weapons ? tr("Weapon slot %1") : tr("Grenade slot %1")).arg(k));
        list->setMinimumContentsLength(14);
        list->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        number->setBuddy(list);
        grid->addWidget(list, k - 1, 1);
        mSlots.push_back({list, name, kind});
    }
    grid->setColumnStretch(1, 1);
    return frame;
}

QWidget *frmClasses::buildFlagFrame(RefKind kind)
{
    const bool items = kind == RefKind::Item;
    auto *frame = new QGroupBox(items ? QStringLiteral("Items") : QStringLiteral("Special"), this);
    frame->setObjectName(items ? QStringLiteral("frameItems") : QStringLiteral("frameSpecial"));
    auto *grid = new QGridLayout(frame);
    grid->setVerticalSpacing(2);
    const int count = int(flagBoxes(kind));
    QList<QCheckBox *> &boxes = items ? mItemBoxes : mSpecialBoxes;
    for (int k = 0; k < count; ++k) {
        auto *box = new QCheckBox(frame);
        box->setObjectName(
            (items ? QStringLiteral("Check1(%1)") : QStringLiteral("special(%1)")).arg(k));
        // Specials: the first 21 in one column, the other ten beside them.
        grid->addWidget(box, items ? k : k % 21, items ? 0 : k / 21);
        boxes << box;
        mNavigator->bind(box, schema::flagColumn(kind, k + 1),
                         QStringLiteral("%1 %2")
                             .arg(items ? QStringLiteral("Item") : QStringLiteral("Special"))
                             .arg(k + 1));
    }
    grid->setRowStretch(items ? count : 21, 1);
    return frame;
}

void frmClasses::Form_Load()
{
    for (const QString &failure : mRefs.read(mState.ref()))
        mPrompter.message(failure, Prompter::Buttons::Ok, Prompter::Icon::Warning);
    fillSlots(RefKind::Weapon);
    fillSlots(RefKind::Grenade);
    fillFlags(RefKind::Item);
    fillFlags(RefKind::Special);

    mNavigator->setRecordSource(mState.data().database(), RecordSource::classesOf(mPackage));
    mNavigator->refresh();
    if (mNavigator->recordCount() == 0)
        AddClass_Click();
}

void frmClasses::fillSlots(RefKind kind)
{
    for (size_t i = 0; i < mSlots.size(); ++i) {
        const Slot &slot = mSlots[i];
        if (slot.kind != kind)
            continue;
        for (const RefEntry &row : offered(kind))
            slot.list->addItem(row.name, row.id);
        // By position: the slots are looked up when chosen, never held.
        connect(slot.list, &QComboBox::activated, this,
                [this, i](int index) { slotChosen(mSlots[i], index); });
    }
}

void frmClasses::fillFlags(RefKind kind)
{
    const QList<RefEntry> &rows = mRefs.of(kind).all;
    const QList<QCheckBox *> &boxes = kind == RefKind::Item ? mItemBoxes : mSpecialBoxes;
    const QString what = kind == RefKind::Item ? tr("item") : tr("special ability");
    for (int k = 0; k < boxes.size(); ++k) {
        QCheckBox *box = boxes.at(k);
        if (k >= rows.size()) {
            box->hide();
            box->setProperty("tag", QStringLiteral("0"));
            continue;
        }
        const RefEntry &row = rows.at(k);
        box->setText(buttonText(row.name));
        box->setProperty("tag", row.id.toString());
        box->setEnabled(tickable(row.enabled));
        if (!followsPowerOfTwoRule(k, row.id)) {
            QPalette palette = box->palette();
            palette.setColor(QPalette::WindowText, QColor(192, 64, 0));
            box->setPalette(palette);
            box->setToolTip(tr("The id of this %1 (%2) should be %3, its place in id order: "
                               "this flag will not survive export and import.")
                                .arg(what, row.id.toString(), QString::number(qint64(1) << k)));
        }
    }
}

const QList<RefEntry> &frmClasses::offered(RefKind kind) const
{
    return mRefs.of(kind).offered;
}

int frmClasses::FindWeaponPos(const QVariant &id) const
{
    return mRefs.findPos(RefKind::Weapon, id);
}

int frmClasses::FindGrenadePos(const QVariant &id) const
{
    return mRefs.findPos(RefKind::Grenade, id);
}

void frmClasses::dbClassDef_Reposition()
{
    const QString name = mNavigator->value(QStringLiteral("package_name")).toString();
    const QString shown =
        mConfigName->fontMetrics().elidedText(name, Qt::ElideRight, mConfigName->maximumWidth());
    mConfigName->setText(shown);
    mConfigName->setToolTip(shown == name ? QString() : Qt::convertFromPlainText(name));
    mConfigName->setAccessibleName(name);

    const bool current = mNavigator->currentIndex() >= 0;
    if (mHistory)
        mHistory->setShownClass(
            current ? std::optional<frmHistory::Shown>(
                          {mNavigator->value(QStringLiteral("class_num")).toLongLong(),
                           mNavigator->value(QStringLiteral("class_name")).toString()})
                    : std::nullopt);
    for (Slot &slot : mSlots) {
        // Only a choice of the user stores a slot: showing a class never
        // changes it, so an id that is not offered is shown as it is.
        if (slot.hasExtra) {
            slot.list->removeItem(slot.list->count() - 1);
            slot.hasExtra = false;
        }
        const QVariant id = mNavigator->value(slot.column);
        int pos = mRefs.findPos(slot.kind, id);
        if (current && pos < 0) {
            slot.list->addItem(mRefs.notOfferedText(slot.kind, id), id);
            slot.hasExtra = true;
            pos = slot.list->count() - 1;
        }
        fitPopupToEntries(slot.list);
        slot.list->setCurrentIndex(current ? pos : -1);
        slot.list->setEnabled(current && !offered(slot.kind).isEmpty());
    }
}

void frmClasses::slotChosen(const Slot &slot, int index)
{
    if (mNavigator->currentIndex() >= 0 && index >= 0)
        mNavigator->setValue(slot.column, slot.list->itemData(index));
}

void frmClasses::AddClass_Click()
{
    BusyCursor busy(mPrompter);
    // A pending edit (a renumbered class, say) is stored before numbering.
    if (!mNavigator->writeBack())
        return;
    Result<int> number = mState.data().nextClassNumber(mPackage);
    if (!number) {
        mPrompter.message(number.message(), Prompter::Buttons::Ok, Prompter::Icon::Warning);
        return;
    }
    const int n = *number;
    QStringList columns{QStringLiteral("package_name"), QStringLiteral("class_num"),
                        QStringLiteral("class_name")};
    // The blank after the hash sign is where the sign of the number goes.
    QVariantList values{mPackage, n,
                        QStringLiteral("Class #") + (n >= 0 ? QStringLiteral(" ") : QString()) +
                            QString::number(n)};
    // A new class holds what its lists first offer.
    for (const Slot &slot : mSlots) {
        const QList<RefEntry> &rows = offered(slot.kind);
        if (!rows.isEmpty()) {
            columns << slot.column;
            values << rows.first().id;
        }
    }
    mNavigator->insertRow(columns, values);
}

void frmClasses::mnuSaveAs_Click()
{
    mState.setProtect(true);
    DoSave();
}

void frmClasses::mnuSaveUnprotected_Click()
{
    mState.setProtect(false);
    DoSave();
}

namespace
{

// The changes a sheet makes, as the compare window lists them; true on OK.
bool confirmSheet(QWidget *parent, const QString &path, const Comparison &found)
{
    QDialog dialog(parent);
    dialog.setObjectName(QStringLiteral("dlgApplySheet"));
    dialog.setWindowTitle(QObject::tr("Apply Spreadsheet"));
    auto *table = new QTableWidget(0, 4, &dialog);
    table->setObjectName(QStringLiteral("tblChanges"));
    table->setHorizontalHeaderLabels({QObject::tr("Class"), QObject::tr("Field"),
                                      QObject::tr("Stored"), QObject::tr("In the sheet")});
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->verticalHeader()->hide();
    auto add = [table](const QStringList &cells) {
        const int row = table->rowCount();
        table->insertRow(row);
        for (int c = 0; c < cells.size(); ++c)
            table->setItem(row, c, new QTableWidgetItem(cells[c]));
    };
    for (const QString &name : found.onlyA)
        add({name, QObject::tr("(the whole class deleted)")});
    for (const QString &name : found.onlyB)
        add({name, QObject::tr("(a new class)")});
    for (const ClassChange &change : found.changed)
        for (const FieldDifference &field : change.fields)
            add({change.name, field.label, field.before, field.after});
    table->resizeColumnsToContents();
    table->horizontalHeader()->setStretchLastSection(true);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    auto *layout = new QVBoxLayout(&dialog);
    layout->addWidget(new QLabel(QObject::tr("%1 changes the configuration so:").arg(path)));
    layout->addWidget(table, 1);
    layout->addWidget(buttons);
    dialog.resize(640, 400);
    return dialog.exec() == QDialog::Accepted;
}

} // namespace

void frmClasses::mnuApplySpreadsheet_Click()
{
    // The sheet is compared with what is stored, so the edits on screen go there first.
    if (!mNavigator->writeBack())
        return;
    const QString path = mPrompter.openFileName(tr("Spreadsheets (*.csv *.json);;All files (*)"));
    if (path.isEmpty())
        return;
    auto warn = [this](const QString &message) {
        mPrompter.message(message, Prompter::Buttons::Ok, Prompter::Icon::Warning);
    };
    const Result<Sheet> sheet = readSheet(path);
    if (!sheet)
        return warn(sheet.message());
    const Result<RefNames> names = RefNames::read(mState.ref());
    if (!names)
        return warn(names.message());
    Comparison found;
    const ComparisonSink sink{[&found](const QString &name) { found.onlyA << name; },
                              [&found](const QString &name) { found.onlyB << name; },
                              [&found](const ClassChange &change) {
                                  found.changed << change;
                              }};
    ApplyOptions options;
    options.dryRun = true;
    if (Status s = applySheet(mState, mPackage, *sheet, *names, options, sink); !s)
        return warn(s.message());
    if (found.equal()) {
        mPrompter.message(tr("%1 holds what is stored: nothing to change.").arg(path));
        return;
    }
    if (!confirmSheet(this, path, found))
        return;
    // Stored as they are now: a change since the list was shown refuses it.
    options.dryRun = false;
    AppliedSheet applied;
    const Status stored = applySheet(mState, mPackage, *sheet, *names, options,
                                     {[](const QString &) {}, [](const QString &) {},
                                      [](const ClassChange &) {
                                      }},
                                     &applied);
    if (!stored)
        return warn(stored.message());
    sheetStored();
    EditHistory::Step step{EditHistory::Step::Window, -1, {}, {}};
    step.take = [this, applied, names = *names](bool undo) {
        if (Status s =
                storeClassWrites(mState, mPackage, names, undo ? applied.undo : applied.writes,
                                 undo ? applied.writes : applied.undo);
            !s) {
            mPrompter.message(s.message(), Prompter::Buttons::Ok, Prompter::Icon::Warning);
            return false;
        }
        sheetStored();
        return true;
    };
    mNavigator->record(std::move(step));
}

void frmClasses::listChanges()
{
    // Read once the store's work and its questions are over.
    if (mHistory)
        QTimer::singleShot(0, mHistory.data(), &frmHistory::reload);
}

void frmClasses::sheetStored()
{
    listChanges();
    mNavigator->refresh();
    if (mTable)
        mTable->load();
    if (mBalance)
        mBalance->model().load();
}

void frmClasses::DoSave()
{
    // The file is written from the database, so the edits on screen go there first.
    if (!mNavigator->writeBack())
        return;
    const QString path = mPrompter.saveFileName(Prompter::classFileFilter());
    if (path.isEmpty())
        return;
    ProgressReporter progress(mPrompter, tr("Exporting to %1...").arg(path));
    Status status = Status::success();
    {
        BusyCursor busy(mPrompter);
        status = exportClassFile(mState, mPackage, path, mState.protect(), std::ref(progress));
        mNavigator->refresh();
    }
    if (!status && !progress.cancelled())
        mPrompter.message(status.message(), Prompter::Buttons::Ok, Prompter::Icon::Warning);
}

frmClassTable *frmClasses::mnuClassTable_Click()
{
    if (mTable) {
        mTable->show();
        mTable->raise();
        mTable->activateWindow();
        return mTable;
    }
    BusyCursor busy(mPrompter);
    auto *table = new frmClassTable(mState.data().database(), mPackage, mRefs, mPrompter, this);
    table->setAttribute(Qt::WA_DeleteOnClose);
    mTable = table;
    ClassTableModel *model = table->model();
    // A cell of the class shown here is stored after this window's own edit,
    // as a move would store it, and then shown here.
    model->setBeforeStore([this](ClassTableModel::Key key) {
        return key != mNavigator->currentKey() || mNavigator->writeBack();
    });
    // One history serves both windows: a cell stored is undone like a field.
    connect(model, &ClassTableModel::stored, this,
            [this](ClassTableModel::Key key, const RowValues &before, const RowValues &after) {
                mNavigator->record({EditHistory::Step::Update, key, before, after});
                listChanges();
                if (mBalance)
                    mBalance->model().refreshRow(key);
                if (key == mNavigator->currentKey())
                    mNavigator->reloadCurrent();
            });
    // Edit comes first, as in every window.
    QMenuBar *bar = table->menuBar();
    bar->insertMenu(bar->actions().constFirst(), tarn::addEditMenu(bar, mNavigator));
    bar->addMenu(tr("&View"))
        ->addAction(tr("&Balance..."), this, &frmClasses::mnuBalance_Click)
        ->setObjectName(QStringLiteral("mnuBalance"));
    connect(mNavigator, &DataControl::rowChanged, model, &ClassTableModel::refreshRow);
    connect(mNavigator, &DataControl::repositioned, table,
            [this, table] { table->showClass(mNavigator->currentKey()); });
    connect(table, &frmClassTable::classChosen, this, [this, table](ClassTableModel::Key key) {
        // A refused edit here keeps this class, so the table goes back to it.
        if (!mNavigator->moveToKey(key))
            QTimer::singleShot(0, table,
                               [this, table] { table->showClass(mNavigator->currentKey()); });
    });
    table->load();
    table->showClass(mNavigator->currentKey());
    table->show();
    return table;
}

frmBalance *frmClasses::mnuBalance_Click()
{
    if (mBalance) {
        mBalance->show();
        mBalance->raise();
        mBalance->activateWindow();
        return mBalance;
    }
    if (!mNavigator->writeBack())
        return nullptr;
    BusyCursor busy(mPrompter);
    // A model of its own: the chart needs no table window open.
    auto *model = new ClassTableModel(mState.data().database(), mPackage, mRefs, mPrompter);
    if (!model->load()) {
        delete model;
        return nullptr;
    }
    auto *balance = new frmBalance(*model, mPrompter, this);
    model->setParent(balance);
    balance->setAttribute(Qt::WA_DeleteOnClose);
    mBalance = balance;
    connect(mNavigator, &DataControl::rowChanged, model, &ClassTableModel::refreshRow);
    balance->show();
    return balance;
}

frmHistory *frmClasses::mnuHistory_Click()
{
    if (mHistory) {
        mHistory->show();
        mHistory->raise();
        mHistory->activateWindow();
        return mHistory;
    }
    // What the editor shows is a change like any other: stored first, it is listed.
    if (!mNavigator->writeBack() || !historyKept(mState, mPrompter))
        return nullptr;
    auto *history = new frmHistory(mState, mPackage, mRefs, mPrompter, this);
    history->setAttribute(Qt::WA_DeleteOnClose);
    mHistory = history;
    history->setRestoreClass([this](const Change &change) { return restoreClass(change); });
    dbClassDef_Reposition();
    history->reload();
    history->show();
    return history;
}

bool frmClasses::restoreClass(const Change &change)
{
    // A pending edit is stored first, as a move stores it.
    if (!mNavigator->writeBack())
        return false;
    auto tell = [this](const QString &message, Prompter::Icon icon = Prompter::Icon::Warning) {
        mPrompter.message(message, Prompter::Buttons::Ok, icon);
        return false;
    };
    // The prompter sets the busy pointer aside while it asks.
    BusyCursor busy(mPrompter);
    const Result<std::optional<RowValues>> before =
        mState.data().classBefore(mPackage, change.rowKey, change.id);
    if (!before)
        return tell(before.message());
    const QString name = tr("%1 (%2)").arg(shownText(change.rowName)).arg(change.rowKey);
    const QString classNum = QStringLiteral("class_num");
    if (!*before) {
        // The change added the class: before it, there was none.
        const std::optional<RecordCursor::Key> key = mNavigator->keyWhere(classNum, change.rowKey);
        if (!key)
            return false;
        if (*key < 0)
            return tell(tr("%1 did not exist before this change, and there is none now: "
                           "nothing to restore.")
                            .arg(name),
                        Prompter::Icon::Information);
        if (mPrompter.message(tr("%1 did not exist before this change. Delete it?").arg(name),
                              Prompter::Buttons::YesNo, Prompter::Icon::Question,
                              Prompter::Answer::No) != Prompter::Answer::Yes)
            return false;
        return mNavigator->moveToKey(*key) && mNavigator->deleteCurrent();
    }
    // Stored where the class is now; any column the editor does not know is left out.
    const QStringList known = schema::classdefColumnNames();
    RowValues row;
    for (qsizetype i = 0; i < (*before)->columns.size(); ++i)
        if (known.contains((*before)->columns.at(i)))
            row.set((*before)->columns.at(i), (*before)->values.at(i));
    row.set(QStringLiteral("package_name"), mPackage);
    std::optional<RecordCursor::Key> key = mNavigator->keyWhere(classNum, row.value(classNum));
    if (key && *key < 0 && change.kind == Change::Field && change.column == classNum)
        key = mNavigator->keyWhere(classNum, change.after); // this change renumbered it
    if (!key)
        return false;
    // A class that took the number of a deleted one since is another class.
    if (*key >= 0 && change.kind == Change::DeleteClass) {
        if (!mNavigator->moveToKey(*key))
            return false;
        const QString className = QStringLiteral("class_name");
        if (!sameValue(mNavigator->value(className), row.value(className)))
            key = -1;
    }
    if (*key < 0)
        return mNavigator->insertRow(row.columns, row.values);
    const std::optional<int> stored = mNavigator->storeRow(*key, row);
    if (stored && *stored == 0)
        return tell(tr("%1 is as it was before this change: nothing to restore.").arg(name),
                    Prompter::Icon::Information);
    return stored.has_value();
}

void frmClasses::done(int result)
{
    // The table, the chart and the history show this window's classes and go with it.
    if (mHistory)
        mHistory->close();
    if (mBalance)
        mBalance->close();
    if (mTable)
        mTable->close();
    RecordDialog::done(result);
}

void frmClasses::Command1_Click()
{
    if (mNavigator->currentIndex() >= 0 && !mNavigator->deleteCurrent())
        return;
    if (mNavigator->recordCount() == 0)
        mPrompter.message(kAddFirst);
}

} // namespace tarn
