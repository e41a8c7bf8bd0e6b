// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/config/firstrun.h"

#include "ui/classes/frmhistory.h"
#include "ui/config/jetconversion.h"

#include <QDir>
#include <QFileInfo>

namespace tarn
{

bool offerDataFiles(AppState &state, Prompter &prompter, StartupResult &started)
{
    const QString where =
        state.onServer()
            ? QStringLiteral("The database %1 holds no TARN tables yet.\n\nCreate them now?")
                  .arg(state.where())
            : QStringLiteral("There are no data files in %1 yet.\n\nCreate tarn_dat.mdb and "
                             "tarn_ref.mdb there now?")
                  .arg(QDir::toNativeSeparators(QFileInfo(state.dataDir()).absoluteFilePath()));
    enum Choice { Sample, Empty, Quit };
    const int choice = prompter.choose(
        where + QStringLiteral(" The sample rows give you a configuration, weapons, grenades, "
                               "items and special abilities to start from."),
        {QStringLiteral("Create with &Sample Rows"), QStringLiteral("Create &Empty"),
         QStringLiteral("&Quit")},
        Sample);
    if (choice != Sample && choice != Empty)
        return false;
    if (Status s = createDataFiles(state, choice == Sample); !s) {
        prompter.message(s.message(), Prompter::Buttons::Ok, Prompter::Icon::Critical);
        return false;
    }
    started = startUp(state, kMainWindowReads);
    return true;
}

bool startInWindows(AppState &state, Prompter &prompter, StartupResult &started)
{
    {
        BusyCursor busy(prompter);
        started = startUp(state, kMainWindowReads);
    }
    bool refused = false;
    while (started.status.fault() == Fault::NeedsPassword) {
        const QString password = prompter.password(
            QStringLiteral("%1the password for %2:")
                .arg(refused ? QStringLiteral("The server refused that password. Enter ")
                             : QStringLiteral("The server asks for "),
                     state.where()),
            QStringLiteral("Team Database Password"));
        if (password.isEmpty())
            break;
        refused = true;
        state.setPassword(password);
        BusyCursor busy(prompter);
        started = startUp(state, kMainWindowReads);
    }
    if (started.noDataFiles && !offerDataFiles(state, prompter, started))
        return false;
    if (!started.jetFiles.isEmpty())
        started = offerJetConversion(state, prompter, started.jetFiles);
    // Said once here; History and Deleted Configurations say it again when asked for.
    if (started.status && started.noHistory)
        prompter.message(noHistoryText(state), Prompter::Buttons::Ok, Prompter::Icon::Information);
    return true;
}

std::unique_ptr<AppState> openForWindows(const QString &location, bool remembered,
                                         const QString &localDir, Prompter &prompter)
{
    auto state = std::make_unique<AppState>(location);
    StartupResult started;
    if (!startInWindows(*state, prompter, started))
        return nullptr;
    if (!started.status && remembered && state->onServer()) {
        const int choice = prompter.choose(
            QStringLiteral("The team database %1 could not be opened:\n%2\n\nWork on the local "
                           "files in %3 instead?")
                .arg(state->where(), started.status.message(),
                     QDir::toNativeSeparators(QFileInfo(localDir).absoluteFilePath())),
            {QStringLiteral("Use &Local Files"), QStringLiteral("&Quit")}, 0,
            Prompter::Icon::Warning);
        if (choice != 0)
            return nullptr;
        state = std::make_unique<AppState>(localDir);
        if (!startInWindows(*state, prompter, started))
            return nullptr;
    }
    if (!started.status) {
        prompter.message(started.status.message(), Prompter::Buttons::Ok, Prompter::Icon::Critical);
        return nullptr;
    }
    return state;
}

} // namespace tarn
