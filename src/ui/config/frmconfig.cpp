// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/config/frmconfig.h"

#include "core/appstate.h"
#include "core/classfileio.h"
#include "core/settings.h"
#include "core/startup.h"
#include "platform/prompter.h"
#include "platform/recorddialog.h"
#include "store/serverurl.h"
#include "store/textrules.h"
#include "ui/classes/frmclasses.h"
#include "ui/classes/frmhistory.h"
#include "ui/config/deleted.h"
#include "ui/config/firstrun.h"
#include "ui/config/frmabout.h"
#include "ui/config/frmcompare.h"
#include "ui/reference/refeditors.h"
#include "ui/windowicon.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QPointer>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QScrollBar>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>

#include <tuple>

namespace tarn
{

namespace
{

const QString kSelectFirst = QStringLiteral("You must select a class configuration");
const QString kStillUsing = QStringLiteral("The program goes on with %1.");

} // namespace

frmConfig::frmConfig(AppState &state, Prompter &prompter, QWidget *parent)
    : QMainWindow(parent), mState(state), mPrompter(prompter)
{
    setObjectName(QStringLiteral("frmConfig"));
    setWindowTitle(QStringLiteral("QZ Fabrikon (TARN) - Version 1.4a"));
    setWindowIcon(programIcon());

    auto *central = new QWidget(this);
    setCentralWidget(central);

    auto button = [central](const char *name, const QString &caption) {
        auto *b = new QPushButton(caption, central);
        b->setObjectName(QLatin1String(name));
        b->setAutoDefault(false);
        return b;
    };
    QPushButton *btNew = button("btNew", QStringLiteral("New"));
    QPushButton *btDelete = button("btDelete", QStringLiteral("Delete"));
    QPushButton *btEdit = button("btEdit", QStringLiteral("Edit..."));
    QPushButton *btCopy = button("btCopy", QStringLiteral("Make Copy"));
    QPushButton *btImport = button("btImport", QStringLiteral("Import from Class File..."));

    mClassList = new QListWidget(central);
    mClassList->setObjectName(QStringLiteral("classlist"));
    mClassList->setSelectionMode(QAbstractItemView::SingleSelection);
    mClassList->setSortingEnabled(false);

    auto *label1 = new QLabel(QStringLiteral("Class Configurations"), central);
    label1->setObjectName(QStringLiteral("Label1"));
    QFont bold = label1->font();
    bold.setBold(true);
    bold.setPointSize(12);
    label1->setFont(bold);
    label1->setAlignment(Qt::AlignCenter);
    label1->setBuddy(mClassList);
    // List views take no name from a buddy label.
    mClassList->setAccessibleName(label1->text());

    auto *findLabel = new QLabel(QStringLiteral("Fi&nd:"), central);
    findLabel->setObjectName(QStringLiteral("lblFind"));
    mFilter = new QLineEdit(central);
    mFilter->setObjectName(QStringLiteral("txtFind"));
    mFilter->setPlaceholderText(QStringLiteral("Part of a name"));
    enableClearButton(mFilter);
    mFilter->setAccessibleName(QStringLiteral("Find configuration"));
    mFilter->setAccessibleDescription(
        QStringLiteral("Shows only the configurations whose names contain this text; "
                       "Escape clears it"));
    findLabel->setBuddy(mFilter);
    auto *findRow = new QHBoxLayout;
    findRow->addWidget(findLabel);
    findRow->addWidget(mFilter, 1);

    auto *buttons = new QVBoxLayout;
    buttons->addWidget(btNew);
    buttons->addWidget(btDelete);
    buttons->addWidget(btEdit);
    buttons->addSpacing(16);
    buttons->addWidget(btCopy);
    buttons->addWidget(btImport);
    buttons->addStretch(1);

    auto *grid = new QGridLayout(central);
    grid->addWidget(label1, 0, 0);
    grid->addLayout(findRow, 1, 0);
    grid->addWidget(mClassList, 2, 0);
    grid->addLayout(buttons, 1, 1, 2, 1);
    grid->setColumnStretch(0, 1);
    grid->setRowStretch(2, 1);
    mClassList->setMinimumSize(233, 147);

    setTabOrder(btNew, btDelete);
    setTabOrder(btDelete, btEdit);
    setTabOrder(btEdit, mFilter);
    setTabOrder(mFilter, mClassList);
    setTabOrder(mClassList, btCopy);
    setTabOrder(btCopy, btImport);

    connect(btNew, &QPushButton::clicked, this, command(&frmConfig::btNew_Click));
    connect(btDelete, &QPushButton::clicked, this, command(&frmConfig::btDelete_Click));
    connect(btEdit, &QPushButton::clicked, this, command(&frmConfig::btEdit_Click));
    connect(btCopy, &QPushButton::clicked, this, command(&frmConfig::btCopy_Click));
    connect(btImport, &QPushButton::clicked, this, command(&frmConfig::btImport_Click));
    connect(mClassList, &QListWidget::itemSelectionChanged, this, &frmConfig::classlist_Click);
    connect(mFilter, &QLineEdit::textChanged, this, &frmConfig::applyFilter);
    mFilter->installEventFilter(this);
    mClassList->installEventFilter(this);

    QMenu *file = menuBar()->addMenu(QStringLiteral("&File"));
    file->setObjectName(QStringLiteral("mnuFile"));
    QAction *setModId = file->addAction(QStringLiteral("&Set Mod ID..."), this,
                                        command(&frmConfig::mnuSetModID_Click));
    setModId->setObjectName(QStringLiteral("mnuSetModID"));
    QAction *compare =
        file->addAction(QStringLiteral("&Compare..."), this, command(&frmConfig::mnuCompare_Click));
    compare->setObjectName(QStringLiteral("mnuCompare"));
    file->addAction(tr("&Deleted Configurations..."), this, command(&frmConfig::mnuDeleted_Click))
        ->setObjectName(QStringLiteral("mnuDeleted"));
    file->addSeparator();
    QAction *connectTeam = file->addAction(QStringLiteral("Connect to &Team Database..."), this,
                                           command(&frmConfig::mnuConnectTeam_Click));
    connectTeam->setObjectName(QStringLiteral("mnuConnect"));
    QAction *useLocal = file->addAction(QStringLiteral("Use &Local Files"), this,
                                        command(&frmConfig::mnuUseLocal_Click));
    useLocal->setObjectName(QStringLiteral("mnuLocalFiles"));
    file->addSeparator();
    QAction *exit = file->addAction(QStringLiteral("E&xit"), this, &frmConfig::mnuExit_Click);
    exit->setObjectName(QStringLiteral("mnuExit"));

    QMenu *update = menuBar()->addMenu(QStringLiteral("&Update"));
    update->setObjectName(QStringLiteral("mnuUpdate"));
    const std::tuple<const char *, const char *, schema::RefKind> editors[] = {
        {"mnuUpdateWeapons", "&Weapons...", schema::RefKind::Weapon},
        {"mnuUpdateGrenades", "&Grenades...", schema::RefKind::Grenade},
        {"mnuEditSpecial", "&Special Abilities...", schema::RefKind::Special},
        {"mnuEditItems", "&Items...", schema::RefKind::Item},
    };
    for (const auto &[name, caption, kind] : editors)
        update
            ->addAction(QLatin1String(caption), this,
                        [this, k = kind] { runCommand([this, k] { showRefEditor(k); }); })
            ->setObjectName(QLatin1String(name));

    QMenu *help = menuBar()->addMenu(QStringLiteral("&Help"));
    help->setObjectName(QStringLiteral("mnuHelp"));
    QAction *about = help->addAction(QStringLiteral("&About TARN1..."), this,
                                     command(&frmConfig::mnuAbout_Click));
    about->setObjectName(QStringLiteral("mnuAbout"));

    mWhere = new QLabel(statusBar());
    mWhere->setObjectName(QStringLiteral("lblDatabase"));
    mWhere->setTextFormat(Qt::PlainText);
    statusBar()->addWidget(mWhere, 1);
    mLocalFolder = mState.onServer() ? defaultDataDir() : mState.location();
    showWhere();

    mFollowTimer = new QTimer(this);
    mFollowTimer->setInterval(1000);
    connect(mFollowTimer, &QTimer::timeout, this, &frmConfig::followIfChanged);
    // Taken before the list is read, so that no change falls between.
    watchOtherClients();
    RefreshList();
}

void frmConfig::watchOtherClients()
{
    // A failure shows at the next command.
    std::ignore = mState.data().changedElsewhere();
    // Looked at once the notification's own handling is over.
    mState.data().onChangedElsewhere([window = QPointer<frmConfig>(this)] {
        if (window)
            QMetaObject::invokeMethod(window, &frmConfig::followIfChanged, Qt::QueuedConnection);
    });
    lookWhileActive();
}

std::function<void()> frmConfig::command(void (frmConfig::*slot)())
{
    return [this, slot] {
        runCommand([this, slot] { (this->*slot)(); });
    };
}

void frmConfig::runCommand(const std::function<void()> &run)
{
    {
        const QScopedValueRollback<bool> running(mRunningCommand, true);
        run();
    }
    // What came meanwhile: a server's notices read with the command's own
    // statements wait for the next look.
    followIfChanged();
}

void frmConfig::RefreshList()
{
    fillList(QString());
}

void frmConfig::followChanges()
{
    // The names the user was looking at stay in view.
    const int scrolled = mClassList->verticalScrollBar()->value();
    fillList(mState.currentPackage());
    mClassList->verticalScrollBar()->setValue(scrolled);
}

void frmConfig::followIfChanged()
{
    // In the background, changes wait to be shown until the window is activated.
    if (mRunningCommand || !isActiveWindow())
        return;
    // A failed look is not worth a message every second; the next command
    // reports what is wrong with the database.
    const Result<bool> changed = mState.data().changedElsewhere();
    if (changed && *changed)
        followChanges();
}

void frmConfig::fillList(QString keep) // a copy: the current name is cleared first
{
    mState.setCurrentPackage(QString());
    Result<QStringList> names = mState.data().packageNames();
    const QSignalBlocker blocker(mClassList);
    mClassList->clear();
    mPackageNames.clear();
    if (!report(names.status()))
        return;
    mPackageNames = *names;
    // A name another program stored may hold a line break or an escape
    // sequence: shown escaped, so that one entry never looks like two. The
    // commands take the stored name by row.
    QStringList shown;
    shown.reserve(mPackageNames.size());
    for (const QString &name : std::as_const(mPackageNames))
        shown << shownText(name);
    mClassList->addItems(shown);
    const int row = keep.isEmpty() ? -1 : int(mPackageNames.indexOf(keep));
    mClassList->setCurrentRow(row);
    if (row >= 0)
        mState.setCurrentPackage(keep);
    applyFilter();
}

void frmConfig::applyFilter()
{
    const QString text = mFilter->text();
    for (int row = 0; row < mClassList->count(); ++row)
        mClassList->item(row)->setHidden(
            !mPackageNames.value(row).contains(text, Qt::CaseInsensitive));
    const QList<QListWidgetItem *> selected = mClassList->selectedItems();
    if (!selected.isEmpty() && selected.first()->isHidden()) {
        const QSignalBlocker blocker(mClassList);
        mClassList->setCurrentRow(-1);
        mClassList->clearSelection();
        mState.setCurrentPackage(QString());
    }
}

void frmConfig::revealName(const QString &name)
{
    if (!name.contains(mFilter->text(), Qt::CaseInsensitive))
        mFilter->clear();
}

void frmConfig::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
    if (event->type() != QEvent::ActivationChange)
        return;
    followIfChanged();
    lookWhileActive();
}

void frmConfig::lookWhileActive()
{
    // A server tells of changes as they come.
    if (isActiveWindow() && !mState.onServer())
        mFollowTimer->start();
    else
        mFollowTimer->stop();
}

bool frmConfig::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::KeyPress)
        return QMainWindow::eventFilter(watched, event);
    const auto *key = static_cast<QKeyEvent *>(event);
    if (key->key() == Qt::Key_Escape && key->modifiers() == Qt::NoModifier &&
        !mFilter->text().isEmpty()) {
        mFilter->clear();
        return true;
    }
    // Down from the filter goes on to the names it left.
    if (watched == mFilter && key->key() == Qt::Key_Down) {
        mClassList->setFocus(Qt::TabFocusReason);
        if (mClassList->selectedItems().isEmpty())
            for (int row = 0; row < mClassList->count(); ++row)
                if (!mClassList->item(row)->isHidden()) {
                    mClassList->setCurrentRow(row);
                    break;
                }
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

void frmConfig::classlist_Click()
{
    const QList<QListWidgetItem *> selected = mClassList->selectedItems();
    const int row = selected.isEmpty() ? -1 : mClassList->row(selected.first());
    mState.setCurrentPackage(row >= 0 && row < mPackageNames.size() ? mPackageNames.at(row)
                                                                    : QString());
}

bool frmConfig::report(const Status &status)
{
    if (status)
        return true;
    mPrompter.message(status.message(), Prompter::Buttons::Ok, Prompter::Icon::Warning);
    return false;
}

void frmConfig::btNew_Click()
{
    const QString name = mPrompter.input(QStringLiteral("Enter the Configuration Name"),
                                         QStringLiteral("Enter Config Name"));
    if (name.isEmpty())
        return;
    if (report(mState.data().createPackage(name))) {
        revealName(name);
        RefreshList();
    }
}

void frmConfig::btDelete_Click()
{
    const QString name = mState.currentPackage();
    if (name.isEmpty()) {
        mPrompter.message(kSelectFirst);
        return;
    }
    const Prompter::Answer answer = mPrompter.message(
        QStringLiteral("Are you sure you want to delete the '%1' Config?").arg(shownText(name)),
        Prompter::Buttons::YesNo, Prompter::Icon::Critical, Prompter::Answer::No,
        QStringLiteral("Delete Confirmation"));
    if (answer != Prompter::Answer::Yes)
        return;
    const Status status = [&] {
        BusyCursor busy(mPrompter);
        return mState.data().deletePackage(name);
    }();
    report(status);
    RefreshList();
}

void frmConfig::btEdit_Click()
{
    if (mState.currentPackage().isEmpty()) {
        mPrompter.message(kSelectFirst);
        return;
    }
    std::unique_ptr<frmClasses> editor;
    {
        BusyCursor busy(mPrompter);
        editor = std::make_unique<frmClasses>(mState, mPrompter, this);
    }
    editor->exec();
}

void frmConfig::btCopy_Click()
{
    const QString source = mState.currentPackage();
    if (source.isEmpty()) {
        mPrompter.message(kSelectFirst);
        return;
    }
    const QString target =
        mPrompter.input(QStringLiteral("Enter the name of the config you wish to copy to"),
                        QStringLiteral("Copy Config"));
    if (target.isEmpty())
        return;
    Status status = Status::success();
    {
        BusyCursor busy(mPrompter);
        status = mState.data().copyPackage(source, target);
        if (status) {
            revealName(target);
            RefreshList();
        }
    }
    report(status);
}

void frmConfig::btImport_Click()
{
    mState.setProtect(true);
    const QString name =
        mPrompter.input(QStringLiteral("Enter the name of the config you wish to copy to"),
                        QStringLiteral("Copy Config"));
    if (name.isEmpty())
        return;
    // Refused before the file is chosen, and again inside the import's transaction.
    if (!report(mState.data().checkNewName(name)) || !report(mState.data().refuseExisting(name)))
        return;
    const QString path = mPrompter.openFileName(Prompter::classFileFilter());
    if (path.isEmpty())
        return;
    ProgressReporter progress(mPrompter, QStringLiteral("Importing %1...").arg(shownText(path)));
    Status status = Status::success();
    QStringList warnings;
    {
        BusyCursor busy(mPrompter);
        status = importClassFile(mState, name, path, std::ref(progress), &warnings);
    }
    if (!status && progress.cancelled())
        return; // nothing was stored, as the user asked
    if (!report(status))
        return;
    revealName(name);
    RefreshList();
    mPrompter.message(QStringLiteral("Import Complete"));
    if (!warnings.isEmpty())
        mPrompter.message(warnings.join(u'\n'), Prompter::Buttons::Ok, Prompter::Icon::Warning);
}

void frmConfig::mnuSetModID_Click()
{
    const QString answer = mPrompter.input(
        QStringLiteral("Enter Your Mod ID (not required). Current ID = ") + mState.modId(),
        QStringLiteral("Mod ID"));
    if (answer.isEmpty())
        return;
    // The Mod ID in use is always the one stored: a failed save keeps the old one.
    report(mState.saveModId(answer));
}

void frmConfig::mnuCompare_Click()
{
    if (mPackageNames.isEmpty()) {
        mPrompter.message(QStringLiteral("There are no configurations to compare."));
        return;
    }
    frmCompare compare(mState, mPrompter, mPackageNames, mState.currentPackage(), this);
    compare.exec();
}

void frmConfig::mnuDeleted_Click()
{
    if (!historyKept(mState, mPrompter))
        return;
    frmDeleted deleted(mState, mPrompter, this);
    deleted.setChanged([this](const QString &name) {
        revealName(name);
        fillList(name);
    });
    if (deleted.reload())
        deleted.exec();
}

void frmConfig::showWhere()
{
    mWhere->setText(mState.onServer() ? QStringLiteral("Team database: %1").arg(mState.where())
                                      : QStringLiteral("Local files: %1")
                                            .arg(QDir::toNativeSeparators(
                                                QFileInfo(mState.dataDir()).absoluteFilePath())));
}

void frmConfig::mnuConnectTeam_Click()
{
    // The editors are modal: no window shows rows of the database being left.
    const QString current = mState.onServer() ? mState.where() : rememberedLocation();
    const QString typed =
        mPrompter
            .input(QStringLiteral("Address of the team database:\n"
                                  "postgresql://[user@]host[:port]/dbname[?sslmode=...]"),
                   QStringLiteral("Connect to Team Database"), current)
            .trimmed();
    if (typed.isEmpty())
        return;
    const Result<ServerUrl> url = parseServerUrl(typed);
    if (!url) {
        mPrompter.message(url.message() + QStringLiteral("\n\n") + kStillUsing.arg(mState.where()),
                          Prompter::Buttons::Ok, Prompter::Icon::Warning);
        return;
    }
    // A password typed into the address goes to the driver only, like one
    // from the prompt: the address kept and shown is without it.
    switchTo(url->shown(), url->password);
}

void frmConfig::mnuUseLocal_Click()
{
    if (!mState.onServer() && mState.location() == mLocalFolder) {
        report(rememberLocation(QString()));
        return;
    }
    switchTo(mLocalFolder, QString());
}

bool frmConfig::switchTo(const QString &location, const QString &password)
{
    AppState next(location);
    if (!password.isEmpty())
        next.setPassword(password);
    StartupResult started;
    if (!startInWindows(next, mPrompter, started))
        return false;
    if (!started.status) {
        mPrompter.message(started.status.message() + QStringLiteral("\n\n") +
                              kStillUsing.arg(mState.where()),
                          Prompter::Buttons::Ok, Prompter::Icon::Warning);
        return false;
    }
    next.setProtect(mState.protect());
    mState.takeOver(next);
    mFilter->clear();
    watchOtherClients();
    RefreshList();
    showWhere();
    report(rememberLocation(mState.onServer() ? mState.location() : QString()));
    return true;
}

void frmConfig::mnuExit_Click()
{
    QCoreApplication::exit(0);
}

void frmConfig::showRefEditor(schema::RefKind kind)
{
    makeRefEditor(kind, mState, mPrompter, this)->exec();
}

void frmConfig::mnuAbout_Click()
{
    frmAbout about(this);
    about.exec();
}

} // namespace tarn
