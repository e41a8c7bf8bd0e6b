// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/config/jetconversion.h"

namespace tarn
{

StartupResult offerJetConversion(AppState &state, Prompter &prompter, const QStringList &jetFiles,
                                 const JetOptions &options)
{
    const QString files = jetFiles.join(QLatin1Char('\n'));
    const Prompter::Answer answer = prompter.message(
        QStringLiteral("These data files are in the older Jet (Access) format:\n%1\n\n"
                       "Convert them now? Each Jet file is kept beside its new file under a "
                       "backup name (such as tarn_dat.mdb.jet).")
            .arg(files),
        Prompter::Buttons::YesNo, Prompter::Icon::Question, Prompter::Answer::Yes);
    StartupResult result;
    result.jetFiles = jetFiles;
    if (answer != Prompter::Answer::Yes) {
        result.status = Status::failure(
            Fault::Refused,
            QStringLiteral("Nothing was converted, so the program cannot open these files:\n%1\n\n"
                           "Start it again and answer Yes to convert them, or run "
                           "'tarn-cli migrate'.")
                .arg(files));
        return result;
    }
    Result<QList<JetConversion>> converted = [&] {
        BusyCursor busy(prompter);
        return convertJetDataFiles(state.dataPath(), jetFiles, options);
    }();
    if (!converted) {
        result.status = converted.status();
        return result;
    }
    QStringList done;
    for (const JetConversion &c : *converted)
        done << QStringLiteral("%1 (the Jet file is kept as %2)").arg(c.path, c.backupPath);
    prompter.message(QStringLiteral("Converted:\n%1").arg(done.join(QLatin1Char('\n'))),
                     Prompter::Buttons::Ok, Prompter::Icon::Information);
    return startUp(state);
}

} // namespace tarn
