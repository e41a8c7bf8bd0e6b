// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "store/datastore.h"
#include "store/refstore.h"

#include <QString>

#include <memory>

namespace tarn
{

// The state every window reads: the open databases, the Mod ID, the selected
// configuration and the scrambling flag of the last class-file command.
class AppState
{
public:
    // Where the data is: a folder with the data files, or the address of a
    // team database on a server (postgresql://...).
    explicit AppState(QString location);
    ~AppState();
    AppState(const AppState &) = delete;
    AppState &operator=(const AppState &) = delete;

    // Takes over other's location, databases and Mod ID (other gets these
    // ones), so that the windows move to another database in one step once it
    // has been opened. No configuration is selected afterwards.
    void takeOver(AppState &other);
    // A server's password for the connections to come (kept in memory only).
    void setPassword(const QString &password);

    const QString &location() const { return mLocation; }
    bool onServer() const;
    // The location as messages show it: a server address without its password.
    QString where() const;
    // The folder of the data files; empty for a server.
    QString dataDir() const;
    // The files, or the server's address (which holds both sets of tables).
    QString dataPath() const;
    QString refPath() const;
    // tarn.ini; empty for a server, whose database keeps the Mod ID.
    QString settingsPath() const;

    // Checks and stores a new Mod ID where this location keeps it, then uses it.
    Status saveModId(const QString &modId);

    DataStore &data() { return *mData; }
    RefStore &ref() { return *mRef; }

    const QString &modId() const { return mModId; }
    void setModId(const QString &modId) { mModId = modId; }

    // The configuration selected in the main window; empty when none is.
    const QString &currentPackage() const { return mCurrentPackage; }
    void setCurrentPackage(const QString &name) { mCurrentPackage = name; }

    // True: class files are written scrambled. Set by the export commands.
    bool protect() const { return mProtect; }
    void setProtect(bool protect) { mProtect = protect; }

private:
    QString mLocation;
    std::unique_ptr<DataStore> mData;
    std::unique_ptr<RefStore> mRef;
    QString mModId = QStringLiteral("0");
    QString mCurrentPackage;
    bool mProtect = true;
};

} // namespace tarn
