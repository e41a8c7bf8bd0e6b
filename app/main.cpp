// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/appstate.h"
#include "core/startup.h"
#include "platform/qtprompter.h"
#include "store/history.h"
#include "ui/config/firstrun.h"
#include "ui/config/frmconfig.h"
#include "ui/screenshots.h"
#include "ui/windowicon.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QMessageBox>
#include <QTextStream>

#include <algorithm>

using namespace tarn;

namespace
{

// Qt's own options (-platform, -style, ...) take one dash; the program's two.
bool qtOptionGiven(const QStringList &arguments)
{
    return std::ranges::any_of(arguments.mid(1), [](const QString &argument) {
        return argument.size() > 1 && argument[0] == u'-' && argument[1] != u'-';
    });
}

} // namespace

int main(int argc, char *argv[])
{
    guardStandardStreams();
    quietQtMessages();
    setChangeProgram(QStringLiteral("tarn"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("TARN: build the player classes of a mod."));
    const QCommandLineOption help = parser.addHelpOption();
    QCommandLineOption version(QStringLiteral("version"),
                               QStringLiteral("Print the version and quit."));
    QCommandLineOption dataDir(
        QStringLiteral("data-dir"),
        QStringLiteral("Folder of tarn_dat.mdb, tarn_ref.mdb and tarn.ini (default: the "
                       "program's folder when a data file is there, else %1).")
            .arg(userDataDirText()),
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

    // --help and --version are answered before the windows' application
    // exists, which ends the program where there is no display (over ssh);
    // so is a mistake in the program's own options.
    auto answered = [&] {
        if (parser.isSet(help))
            QTextStream(stdout) << parser.helpText();
        else if (parser.isSet(version))
            QTextStream(stdout) << versionText(QStringLiteral("tarn")) << '\n';
        return parser.isSet(help) || parser.isSet(version);
    };
    {
        const QCoreApplication early(argc, argv);
        const QStringList arguments = QCoreApplication::arguments();
        if (!parser.parse(arguments)) {
            if (!qtOptionGiven(arguments)) {
                QTextStream(stderr) << "tarn: " << parser.errorText() << "\nTry 'tarn --help'.\n";
                return 2;
            }
        } else if (answered()) {
            return 0;
        }
    }

    QApplication app(argc, argv);
    setApplicationIdentity();
    QApplication::setWindowIcon(programIcon());
    parser.process(app);
    if (answered())
        return 0;

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
