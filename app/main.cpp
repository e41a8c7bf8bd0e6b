#include "appstate.h"
#include "frmconfig.h"
#include "jetconversion.h"
#include "qtprompter.h"
#include "screenshots.h"
#include "startup.h"
#include "windowicon.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QMessageBox>

using namespace tarn;

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tarn"));
    QApplication::setApplicationDisplayName(Prompter::applicationTitle());
    QApplication::setWindowIcon(programIcon());

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("TARN: build the player classes of a mod."));
    parser.addHelpOption();
    QCommandLineOption dataDir(
        QStringLiteral("data-dir"),
        QStringLiteral("Directory of tarn_dat.mdb, tarn_ref.mdb and tarn.ini "
                       "(default: the program's directory)."),
        QStringLiteral("DIR"));
    QCommandLineOption screenshot(QStringLiteral("screenshot"),
                                  QStringLiteral("Save pictures of the windows into DIR and quit."),
                                  QStringLiteral("DIR"));
    parser.addOption(dataDir);
    parser.addOption(screenshot);
    parser.process(app);

    AppState state(parser.isSet(dataDir) ? parser.value(dataDir) : defaultDataDir());
    QtPrompter qtPrompter;
    Prompter &prompter = qtPrompter;
    StartupResult started = startUp(state);
    if (!started.jetFiles.isEmpty())
        started = offerJetConversion(state, prompter, started.jetFiles);
    if (!started.status) {
        prompter.message(started.status.message(), Prompter::Buttons::Ok, Prompter::Icon::Critical);
        return 1;
    }
    if (parser.isSet(screenshot))
        return takeScreenshots(state, parser.value(screenshot)) > 0 ? 0 : 1;

    frmConfig window(state, prompter);
    window.show();
    return app.exec();
}
