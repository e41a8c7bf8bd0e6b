#pragma once

#include "store/datastore.h"
#include "store/refstore.h"

#include <QString>

namespace tarn
{

// The state every window reads: the open databases, the Mod ID, the selected
// configuration and the scrambling flag of the last class-file command.
class AppState
{
public:
    explicit AppState(QString dataDir);

    const QString &dataDir() const { return mDataDir; }
    QString dataPath() const;
    QString refPath() const;
    QString settingsPath() const;

    DataStore &data() { return mData; }
    RefStore &ref() { return mRef; }

    const QString &modId() const { return mModId; }
    void setModId(const QString &modId) { mModId = modId; }

    // The configuration selected in the main window; empty when none is.
    const QString &currentPackage() const { return mCurrentPackage; }
    void setCurrentPackage(const QString &name) { mCurrentPackage = name; }

    // True: class files are written scrambled. Set by the export commands.
    bool protect() const { return mProtect; }
    void setProtect(bool protect) { mProtect = protect; }

private:
    QString mDataDir;
    DataStore mData;
    RefStore mRef;
    QString mModId = QStringLiteral("0");
    QString mCurrentPackage;
    bool mProtect = true;
};

} // namespace tarn
