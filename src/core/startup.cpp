#include "startup.h"

#include "settings.h"

#include <QCoreApplication>

namespace tarn
{

StartupResult startUp(AppState &state)
{
    StartupResult result;
    state.setModId(settings::ReadModID(state.settingsPath()));
    state.setCurrentPackage(QString());
    state.setProtect(true);

    for (const QString &path : {state.dataPath(), state.refPath()})
        if (isJetFile(path))
            result.jetFiles << path;
    if (!result.jetFiles.isEmpty()) {
        result.status = Status::failure(
            QStringLiteral("These data files are in the older Jet format and must be converted "
                           "first:\n%1")
                .arg(result.jetFiles.join(QLatin1Char('\n'))));
        return result;
    }
    if (Status s = state.data().open(state.dataPath()); !s) {
        result.status = s;
        return result;
    }
    if (Status s = state.ref().open(state.refPath()); !s) {
        result.status = s;
        return result;
    }
    Result<QStringList> added = state.data().ensureFields();
    if (!added) {
        result.status = added.status();
        return result;
    }
    result.addedColumns = *added;
    return result;
}

Result<QList<JetConversion>> convertJetDataFiles(const AppState &state, const QStringList &jetFiles,
                                                 const JetOptions &options)
{
    QList<JetFile> files;
    for (const QString &path : jetFiles)
        files.append(
            {path, path == state.dataPath() ? schema::dataFileNeeds() : schema::refFileNeeds()});
    return convertJetFiles(files, options);
}

QString defaultDataDir()
{
    return QCoreApplication::applicationDirPath();
}

} // namespace tarn
