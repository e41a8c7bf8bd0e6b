#include "core/appstate.h"
#include "core/startup.h"
#include "platform/qtprompter.h"
#include "ui/config/firstrun.h"
#include "ui/config/frmconfig.h"
#include "ui/screenshots.h"
#include "ui/windowicon.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QMessageBox>
#include <QTextStream>

using namespace tarn;

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    setApplicationIdentity();
    QApplication::setWindowIcon(programIcon());

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("TARN: build the player classes of a mod."));
    parser.addHelpOption();
    QCommandLineOption version(QStringLiteral("version"),
                               QStringLiteral("Print the version and quit."));
    QCommandLineOption dataDir(
        QStringLiteral("data-dir"),
        QStringLiteral("Folder of tarn_dat.mdb, tarn_ref.mdb and tarn.ini (default: the "
                       "program's folder when a data file is there, else %1).")
            .arg(userDataDir()),
        QStringLiteral("DIR"));
    QCommandLineOption screenshot(QStringLiteral("screenshot"),
                                  QStringLiteral("Save pictures of the windows into DIR and quit."),
                                  QStringLiteral("DIR"));
    QCommandLineOption database(
        QStringLiteral("database"),
        QStringLiteral("A team database on a PostgreSQL server instead of the data files: "
                       "postgresql://[user@]host[:port]/dbname (default: the environment's "
                       "TARN_DATABASE, when set)."),
        QStringLiteral("URL"));
    parser.addOption(version);
    parser.addOption(dataDir);
    parser.addOption(database);
    parser.addOption(screenshot);
    parser.process(app);
    if (parser.isSet(version)) {
        QTextStream(stdout) << versionText(QStringLiteral("tarn")) << '\n';
        return 0;
    }

    QtPrompter qtPrompter;
    Prompter &prompter = qtPrompter;
    const QString optionDir = parser.isSet(dataDir) ? parser.value(dataDir) : QString();
    const QString optionDatabase = parser.isSet(database) ? parser.value(database) : QString();
    const QString remembered = rememberedLocation();
    const Result<QString> location = chooseLocation(optionDir, optionDatabase, remembered);
    if (!location) {
        prompter.message(location.message(), Prompter::Buttons::Ok, Prompter::Icon::Critical);
        return 2;
    }
    const bool fromMemory = optionDir.isNull() && optionDatabase.isNull() &&
                            qEnvironmentVariable("TARN_DATABASE").isEmpty() &&
                            *location == remembered;
    const QString localDir = optionDir.isNull() ? defaultDataDir() : optionDir;
    const std::unique_ptr<AppState> opened =
        openForWindows(*location, fromMemory, localDir, prompter);
    if (!opened)
        return 1;
    AppState &state = *opened;
    if (parser.isSet(screenshot))
        return takeScreenshots(state, parser.value(screenshot)) > 0 ? 0 : 1;

    frmConfig window(state, prompter);
    window.setLocalFolder(localDir);
    window.show();
    return app.exec();
}
