#include "core/startup.h"

#include "core/settings.h"
#include "core/version.h"
#include "store/initfiles.h"
#include "store/textrules.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace tarn
{

StartupResult startUp(AppState &state)
{
    StartupResult result;
    state.setModId(settings::ReadModID(state.settingsPath()));
    state.setCurrentPackage(QString());
    state.setProtect(true);

    if (!QFileInfo::exists(state.dataPath()) && !QFileInfo::exists(state.refPath())) {
        result.noDataFiles = true;
        result.status = Status::failure(
            QStringLiteral("There are no data files in %1 (neither tarn_dat.mdb nor tarn_ref.mdb "
                           "is there).")
                .arg(shownText(
                    QDir::toNativeSeparators(QFileInfo(state.dataDir()).absoluteFilePath()))));
        return result;
    }
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

Status createDataFiles(const AppState &files, bool sample)
{
    for (const QString &path : {files.dataPath(), files.refPath()})
        if (QFileInfo::exists(path))
            return Status::failure(
                QStringLiteral("%1 exists already; nothing was created").arg(path));
    if (!QDir().mkpath(files.dataDir()))
        return Status::failure(
            QStringLiteral("The folder %1 could not be created").arg(files.dataDir()));
    if (Status s = createDataFile(files.dataPath(), sample); !s)
        return s;
    if (Status s = createRefFile(files.refPath(), sample); !s) {
        QFile::remove(files.dataPath());
        return s;
    }
    return Status::success();
}

void setApplicationIdentity()
{
    QCoreApplication::setApplicationName(QLatin1String(kPackageName));
    QCoreApplication::setOrganizationName(QString());
    QCoreApplication::setApplicationVersion(QLatin1String(kVersion));
}

QString versionText(const QString &program)
{
    return QStringLiteral("%1 (%2) %3")
        .arg(program, QLatin1String(kPackageName), QLatin1String(kVersion));
}

bool hasDataFile(const QString &dir)
{
    AppState files(dir);
    return QFileInfo::exists(files.dataPath()) || QFileInfo::exists(files.refPath());
}

QString chooseDataDir(const QString &programDir, const QString &userDir)
{
    return hasDataFile(programDir) ? programDir : userDir;
}

QString userDataDir()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
}

QString defaultDataDir()
{
    return chooseDataDir(QCoreApplication::applicationDirPath(), userDataDir());
}

} // namespace tarn
