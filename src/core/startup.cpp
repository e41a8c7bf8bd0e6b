// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/startup.h"

#include "core/atomicfile.h"
#include "core/settings.h"
#include "core/version.h"
#include "store/initfiles.h"
#include "store/serverurl.h"
#include "store/textrules.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace tarn
{

namespace
{

// After the data store opened: the reference store, the upgrade, a team's Mod ID.
StartupResult openTheRest(AppState &state, StartupResult &result)
{
    if (Status s = state.ref().open(state.refPath(), &state.data().database()); !s) {
        result.status = s;
        return result;
    }
    Result<QStringList> added = state.data().ensureFields();
    if (!added) {
        result.status = added.status();
        return result;
    }
    result.addedColumns = *added;
    // A team database gains its history through upgrade, by its owner.
    if (!state.data().keepsSettings()) {
        for (Result<bool> history : {state.data().ensureHistory(), state.ref().ensureHistory()})
            if (!history) {
                result.status = history.status();
                return result;
            }
    } else {
        const Result<bool> keeps = state.data().keepsHistory();
        result.noHistory = keeps && !*keeps;
    }
    if (state.data().keepsSettings()) {
        Result<std::optional<QString>> modId = state.data().storedModId();
        if (!modId) {
            result.status = modId.status();
            return result;
        }
        state.setModId(modId->value_or(QStringLiteral("0")));
    }
    return result;
}

// The program's folder under an XDG base directory: the variable's folder
// when it is absolute (the rules say to ignore a relative one, which Qt would
// take as it stands), else HOME's subfolder; empty when neither names an
// absolute folder (Qt would make HOME '/').
QString userFolder(QStandardPaths::StandardLocation location, const char *variable,
                   const char *inHome)
{
    // Qt's test mode keeps tests out of the user's own folders.
    if (QStandardPaths::isTestModeEnabled())
        return QStandardPaths::writableLocation(location);
    QString base = qEnvironmentVariable(variable);
    if (!QDir::isAbsolutePath(base)) {
        const QString home = qEnvironmentVariable("HOME");
        if (!QDir::isAbsolutePath(home))
            return {};
        base = QDir(home).filePath(QLatin1String(inHome));
    }
    return QDir(base).filePath(QLatin1String(kPackageName));
}

StartupResult startUpOnServer(AppState &state, const FirstReads &first)
{
    StartupResult result;
    if (Status s = state.data().open(state.dataPath(), first); !s) {
        // Connected, but none of the tables: a database that init has not
        // filled yet, not a damaged one.
        Database &db = state.data().database();
        if (db.isOpen() && s.fault() == Fault::NotFound) {
            const Result<QStringList> package = db.columns(QStringLiteral("package"));
            const Result<QStringList> weapon = db.columns(QStringLiteral("weapon"));
            result.noDataFiles = package && weapon && package->isEmpty() && weapon->isEmpty();
        }
        result.status =
            result.noDataFiles
                ? Status::failure(Fault::NotFound, QStringLiteral("The database %1 holds no TARN "
                                                                  "tables yet.")
                                                       .arg(state.where()))
                : s;
        return result;
    }
    return openTheRest(state, result);
}

} // namespace

StartupResult startUp(AppState &state, const FirstReads &first)
{
    StartupResult result;
    state.setModId(QStringLiteral("0"));
    state.setCurrentPackage(QString());
    state.setProtect(true);

    if (state.onServer())
        return startUpOnServer(state, first);
    state.setModId(settings::ReadModID(state.settingsPath()));
    if (!QFileInfo::exists(state.dataPath()) && !QFileInfo::exists(state.refPath())) {
        result.noDataFiles = true;
        result.status = Status::failure(
            Fault::NotFound,
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
            Fault::Refused,
            QStringLiteral("These data files are in the older Jet format and must be converted "
                           "first:\n%1")
                .arg(result.jetFiles.join(QLatin1Char('\n'))));
        return result;
    }
    if (Status s = state.data().open(state.dataPath()); !s) {
        result.status = s;
        return result;
    }
    return openTheRest(state, result);
}

Status createDataFiles(const AppState &files, bool sample)
{
    if (files.onServer())
        return createServerTables(files.location(), sample);
    for (const QString &path : {files.dataPath(), files.refPath()})
        if (Status s = checkNewDatabaseFile(path); !s)
            return Status::failure(s.fault(),
                                   s.message() + QStringLiteral("; nothing was created"));
    if (!QDir().mkpath(files.dataDir()))
        return Status::failure(
            Fault::InputOutput,
            QStringLiteral("The folder %1 could not be created").arg(files.dataDir()));
    if (Status s = createDataFile(files.dataPath(), sample); !s)
        return s;
    if (Status s = createRefFile(files.refPath(), sample); !s) {
        QFile::remove(files.dataPath());
        return s;
    }
    return Status::success();
}

Status seedTeamDatabase(const AppState &team, const QString &dir)
{
    const AppState files(dir);
    for (const QString &path : {files.dataPath(), files.refPath()}) {
        if (!QFileInfo::exists(path))
            return Status::failure(
                Fault::NotFound,
                QStringLiteral("%1 does not exist; nothing was created").arg(path));
        if (isJetFile(path))
            return Status::failure(Fault::Refused,
                                   QStringLiteral("%1 is in the older Jet format: convert it "
                                                  "first with tarn-cli migrate")
                                       .arg(path));
    }
    std::optional<QString> modId;
    if (QFileInfo::exists(files.settingsPath()))
        modId = settings::ReadModID(files.settingsPath());
    return seedServerTables(team.location(), files.dataPath(), files.refPath(), modId);
}

Status pullTeamDatabase(const AppState &team, const QString &dir)
{
    const AppState files(dir);
    Status free = Status::success();
    for (const QString &path : {files.dataPath(), files.refPath()})
        if (free)
            free = checkNewDatabaseFile(path);
    if (const QFileInfo ini(files.settingsPath()); free && (ini.exists() || ini.isSymLink()))
        free = Status::failure(Fault::Exists,
                               QStringLiteral("%1 exists already").arg(files.settingsPath()));
    if (!free)
        return Status::failure(free.fault(),
                               free.message() + QStringLiteral("; nothing was written"));
    if (!QDir().mkpath(dir))
        return Status::failure(Fault::InputOutput,
                               QStringLiteral("The folder %1 could not be created").arg(dir));
    Result<std::optional<QString>> modId =
        pullServerTables(team.location(), files.dataPath(), files.refPath());
    if (!modId)
        return modId.status();
    if (*modId)
        if (Status s = settings::WriteModID(files.settingsPath(), **modId); !s) {
            for (const QString &path : {files.dataPath(), files.refPath()})
                QFile::remove(path);
            return s;
        }
    return Status::success();
}

Result<QString> chooseLocation(const QString &dataDir, const QString &database,
                               const QString &remembered)
{
    if (!dataDir.isNull() && !database.isNull())
        return Status::failure(
            Fault::Refused, QStringLiteral("--data-dir and --database cannot be given together"));
    if (!database.isNull()) {
        if (database.isEmpty())
            return Status::failure(Fault::Refused, QStringLiteral("--database needs an address"));
        if (Result<ServerUrl> url = parseServerUrl(database); !url)
            return url.status();
        return database;
    }
    if (!dataDir.isNull())
        return dataDir;
    const QString fromEnvironment = qEnvironmentVariable("TARN_DATABASE");
    if (!fromEnvironment.isEmpty()) {
        if (Result<ServerUrl> url = parseServerUrl(fromEnvironment); !url)
            return Status::failure(url.fault(), QStringLiteral("TARN_DATABASE: ") + url.message());
        return fromEnvironment;
    }
    if (isServerUrl(remembered) && parseServerUrl(remembered))
        return remembered;
    const QString folder = defaultDataDir();
    if (folder.isEmpty())
        return Status::failure(Fault::NotFound,
                               QStringLiteral("No data folder can be found: neither XDG_DATA_HOME "
                                              "nor HOME names an absolute folder. Name one with "
                                              "--data-dir DIR."));
    return folder;
}

QString rememberedLocationFile()
{
    const QString folder =
        userFolder(QStandardPaths::AppConfigLocation, "XDG_CONFIG_HOME", ".config");
    return folder.isEmpty() ? QString() : QDir(folder).filePath(QStringLiteral("team-database"));
}

QString rememberedLocation()
{
    QFile file(rememberedLocationFile());
    if (file.fileName().isEmpty() || !file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readLine()).trimmed();
}

Status rememberLocation(const QString &location)
{
    if (rememberedLocationFile().isEmpty())
        return Status::failure(
            Fault::NotFound, QStringLiteral("The choice could not be remembered: neither "
                                            "XDG_CONFIG_HOME nor HOME names an absolute folder."));
    if (location.isEmpty()) {
        QFile::remove(rememberedLocationFile());
        return Status::success();
    }
    QDir().mkpath(QFileInfo(rememberedLocationFile()).absolutePath());
    AtomicFile file(rememberedLocationFile());
    Status s = file.open();
    if (s)
        s = file.write(withoutPassword(location).toUtf8() + '\n');
    if (s)
        s = file.commit();
    return s;
}

void setApplicationIdentity()
{
    QCoreApplication::setApplicationName(QLatin1String(kPackageName));
    QCoreApplication::setOrganizationName(QString());
    QCoreApplication::setApplicationVersion(QLatin1String(kVersion));
}

void quietQtMessages()
{
#ifdef QT_NO_DEBUG
    static const QtMessageHandler previous = qInstallMessageHandler(
        [](QtMsgType type, const QMessageLogContext &context, const QString &message) {
            if ((type == QtCriticalMsg || type == QtFatalMsg) && previous)
                previous(type, context, message);
        });
#endif
}

bool guardStandardStreams()
{
    bool outputClosed = false;
#ifdef Q_OS_UNIX
    for (const int stream : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        if (fcntl(stream, F_GETFD) != -1 || errno != EBADF)
            continue;
        outputClosed = outputClosed || stream == STDOUT_FILENO;
        // The lowest free number is the closed stream's.
        const int null = open("/dev/null", O_RDWR);
        if (null >= 0 && null != stream) {
            dup2(null, stream);
            close(null);
        }
    }
#endif
    return outputClosed;
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
    return userFolder(QStandardPaths::AppDataLocation, "XDG_DATA_HOME", ".local/share");
}

QString userDataDirText()
{
    const QString dir = userDataDir();
    return dir.isEmpty() ? QStringLiteral("$XDG_DATA_HOME/tarn or ~/.local/share/tarn (neither "
                                          "is set here)")
                         : QDir::toNativeSeparators(dir);
}

QString defaultDataDir()
{
    return chooseDataDir(QCoreApplication::applicationDirPath(), userDataDir());
}

} // namespace tarn
