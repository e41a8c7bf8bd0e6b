#include "core/appstate.h"

#include "core/settings.h"

#include <QDir>

namespace tarn
{

AppState::AppState(QString dataDir) : mDataDir(std::move(dataDir)) {}

QString AppState::dataPath() const
{
    return QDir(mDataDir).filePath(QStringLiteral("tarn_dat.mdb"));
}

QString AppState::refPath() const
{
    return QDir(mDataDir).filePath(QStringLiteral("tarn_ref.mdb"));
}

QString AppState::settingsPath() const
{
    return QDir(mDataDir).filePath(QLatin1String(settings::kFileName));
}

} // namespace tarn
