// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/appstate.h"

#include "core/settings.h"
#include "store/serverurl.h"

#include <QDir>

namespace tarn
{

AppState::AppState(QString location)
    : mLocation(std::move(location)), mData(std::make_unique<DataStore>()),
      mRef(std::make_unique<RefStore>())
{
}

AppState::~AppState() = default;

void AppState::takeOver(AppState &other)
{
    std::swap(mLocation, other.mLocation);
    std::swap(mData, other.mData);
    std::swap(mRef, other.mRef);
    std::swap(mModId, other.mModId);
    mCurrentPackage.clear();
    other.mCurrentPackage.clear();
}

void AppState::setPassword(const QString &password)
{
    mData->database().setPassword(password);
    mRef->database().setPassword(password);
}

bool AppState::onServer() const
{
    return isServerUrl(mLocation);
}

QString AppState::where() const
{
    return withoutPassword(mLocation);
}

QString AppState::dataDir() const
{
    return onServer() ? QString() : mLocation;
}

QString AppState::dataPath() const
{
    return onServer() ? mLocation : QDir(mLocation).filePath(QStringLiteral("tarn_dat.mdb"));
}

QString AppState::refPath() const
{
    return onServer() ? mLocation : QDir(mLocation).filePath(QStringLiteral("tarn_ref.mdb"));
}

QString AppState::settingsPath() const
{
    return onServer() ? QString() : QDir(mLocation).filePath(QLatin1String(settings::kFileName));
}

Status AppState::saveModId(const QString &modId)
{
    if (!mData->keepsSettings()) {
        // The file is replaced inside the data file's transaction that
        // records it: a failed write leaves no record, a failed record the
        // file as it was.
        if (Status s = mData->recordModId(mModId, modId,
                                          [this](const QString &value) {
                                              return settings::WriteModID(settingsPath(), value);
                                          });
            !s)
            return s;
    } else {
        if (Status s = settings::checkModId(modId); !s)
            return Status::failure(s.fault(), s.message() + QStringLiteral(" It was not saved."));
        // As tarn.ini would give it back at the next start, so that both keep
        // the same Mod ID.
        const QString stored =
            settings::parseModId('"' + modId.toLatin1() + '"').value_or(QString());
        if (Status s = mData->storeModId(stored); !s)
            return s;
    }
    mModId = modId;
    return Status::success();
}

} // namespace tarn
