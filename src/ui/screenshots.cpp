#include "screenshots.h"

#include "appstate.h"
#include "frmabout.h"
#include "frmclasses.h"
#include "frmconfig.h"
#include "scriptedprompter.h"

#include <QApplication>
#include <QDir>
#include <QListWidget>
#include <QPixmap>

namespace tarn
{

namespace
{

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
    ScriptedPrompter prompter;
    int written = 0;
    frmConfig main(state, prompter);
    if (auto *list = main.findChild<QListWidget *>(QStringLiteral("classlist"));
        list && list->count())
        list->setCurrentRow(0);
    written += save(&main, dir, QStringLiteral("main-window.png"));
    frmAbout about(&main);
    written += save(&about, dir, QStringLiteral("about.png"));
    about.hide();
    if (Result<QStringList> names = state.data().packageNames(); names && !names->isEmpty()) {
        state.setCurrentPackage(names->first());
        frmClasses editor(state, prompter, &main);
        written += save(&editor, dir, QStringLiteral("class-editor.png"));
        editor.reject();
    }
    return written;
}

} // namespace tarn
