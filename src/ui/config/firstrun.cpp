#include "ui/config/firstrun.h"

#include <QDir>
#include <QFileInfo>

namespace tarn
{

bool offerDataFiles(AppState &state, Prompter &prompter, StartupResult &started)
{
    const QString folder = QDir::toNativeSeparators(QFileInfo(state.dataDir()).absoluteFilePath());
    enum Choice { Sample, Empty, Quit };
    const int choice = prompter.choose(
        QStringLiteral("There are no data files in %1 yet.\n\n"
                       "Create tarn_dat.mdb and tarn_ref.mdb there now? The sample rows give "
                       "you a configuration, weapons, grenades, items and special abilities to "
                       "start from.")
            .arg(folder),
        {QStringLiteral("Create with &Sample Rows"), QStringLiteral("Create &Empty"),
         QStringLiteral("&Quit")},
        Sample);
    if (choice != Sample && choice != Empty)
        return false;
    if (Status s = createDataFiles(state, choice == Sample); !s) {
        prompter.message(s.message(), Prompter::Buttons::Ok, Prompter::Icon::Critical);
        return false;
    }
    started = startUp(state);
    return true;
}

} // namespace tarn
