// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/screenshots.h"

#include "core/appstate.h"
#include "platform/datacontrol.h"
#include "platform/prompter.h"
#include "platform/recorddialog.h"
#include "ui/classes/balance.h"
#include "ui/classes/classtable.h"
#include "ui/classes/frmclasses.h"
#include "ui/classes/frmhistory.h"
#include "ui/config/deleted.h"
#include "ui/config/frmabout.h"
#include "ui/config/frmcompare.h"
#include "ui/config/frmconfig.h"
#include "ui/reference/refeditors.h"

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QListWidget>
#include <QPixmap>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>

namespace tarn
{

namespace
{

// The windows are only shown, never used: anything they ask is answered as
// if cancelled, and nothing is shown.
class SilentPrompter : public Prompter
{
public:
    QString input(const QString &, const QString &, const QString &) override { return {}; }
    QString password(const QString &, const QString &) override { return {}; }
    Answer message(const QString &, Buttons buttons, Icon, Answer, const QString &) override
    {
        return buttons == Buttons::YesNo ? Answer::No : Answer::Ok;
    }
    int choose(const QString &, const QStringList &, int, Icon) override { return -1; }
    QString openFileName(const QString &) override { return {}; }
    QString saveFileName(const QString &) override { return {}; }
    std::unique_ptr<Progress> progress(const QString &, qint64) override
    {
        struct Cancelled : Progress {
            bool update(qint64) override { return false; }
        };
        return std::make_unique<Cancelled>();
    }

protected:
    void beginBusy() override {}
    void endBusy() override {}
};

bool save(QWidget *window, const QString &dir, const QString &name)
{
    window->show();
    window->activateWindow();
    for (int i = 0; i < 5; ++i)
        QApplication::processEvents();
    return window->grab().save(QDir(dir).filePath(name));
}

} // namespace

int takeScreenshots(AppState &state, const QString &dir)
{
    QDir().mkpath(dir);
    SilentPrompter prompter;
    int written = 0;
    frmConfig main(state, prompter);
    if (auto *list = main.findChild<QListWidget *>(QStringLiteral("classlist"));
        list && list->count())
        list->setCurrentRow(0);
    written += save(&main, dir, QStringLiteral("main-window.png"));
    frmAbout about(&main);
    written += save(&about, dir, QStringLiteral("about.png"));
    about.hide();
    if (Result<QStringList> names = state.data().packageNames(); names && names->size() > 1) {
        frmCompare compare(state, prompter, *names, names->last(), &main);
        written += save(&compare, dir, QStringLiteral("compare.png"));
        compare.reject();
    }
    if (Result<QStringList> names = state.data().packageNames(); names && !names->isEmpty()) {
        state.setCurrentPackage(names->first());
        frmClasses editor(state, prompter, &main);
        written += save(&editor, dir, QStringLiteral("class-editor.png"));
        written += save(editor.mnuClassTable_Click(), dir, QStringLiteral("class-table.png"));
        if (frmBalance *balance = editor.mnuBalance_Click()) {
            written += save(balance, dir, QStringLiteral("balance.png"));
            balance->findChild<QTabWidget *>(QStringLiteral("tabCharts"))->setCurrentIndex(1);
            written += save(balance, dir, QStringLiteral("balance-mean.png"));
        }
        if (frmHistory *history = editor.mnuHistory_Click()) {
            history->view()->selectRow(0);
            written += save(history, dir, QStringLiteral("history.png"));
        }
        editor.reject();
    }
    if (historyKept(state, prompter)) {
        frmDeleted deleted(state, prompter, &main);
        if (deleted.reload())
            written += save(&deleted, dir, QStringLiteral("deleted-configurations.png"));
    }
    const std::pair<schema::RefKind, const char *> editors[] = {
        {schema::RefKind::Weapon, "weapons.png"},
        {schema::RefKind::Grenade, "grenades.png"},
        {schema::RefKind::Item, "items.png"},
        {schema::RefKind::Special, "abilities.png"},
    };
    for (const auto &[kind, file] : editors) {
        std::unique_ptr<RecordDialog> editor = makeRefEditor(kind, state, prompter, &main);
        editor->findChild<DataControl *>()->moveTo(3);
        if (auto *bitNum = editor->findChild<QLineEdit *>(QStringLiteral("fldBitNum"))) {
            bitNum->setText(QStringLiteral("3"));
            editor->findChild<QPushButton *>(QStringLiteral("btnCalc"))->click();
        }
        written += save(editor.get(), dir, QLatin1String(file));
    }
    return written;
}

} // namespace tarn
