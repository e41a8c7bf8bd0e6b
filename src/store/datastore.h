#pragma once

#include "database.h"

#include <functional>

namespace tarn
{

// The data database: configurations (package) and their classes (classdef).
class DataStore
{
public:
    // Opens an existing file and checks that it holds package and classdef
    // with the columns every command names.
    Status open(const QString &path);

    Database &database() { return mDb; }
    const Database &database() const { return mDb; }

    // Names in list order (by name, without regard to ASCII case).
    Result<QStringList> packageNames() const;
    // The same, one at a time, without holding them all.
    Status forEachPackageName(const std::function<void(const QString &)> &onName) const;
    Result<bool> packageExists(const QString &name) const;
    // The name as stored of the configuration that name matches.
    Result<QString> storedPackageName(const QString &name) const;

    // Each is one transaction; names are taken exactly as given and refused
    // when a configuration of that name (in any ASCII case) exists.
    Status createPackage(const QString &name);
    Status deletePackage(const QString &name);
    Status copyPackage(const QString &source, const QString &target);

    // The number a new class of the configuration takes: the highest plus 1
    // (1 for the first); refused when the highest is already 32767.
    Result<int> nextClassNumber(const QString &package) const;

    // Adds the flag columns s22..s31 that are missing, in that order, and
    // returns their names.
    Result<QStringList> ensureFields();

    // "package_name = ?", without regard to ASCII case, for every statement
    // that picks a configuration's rows.
    static QString nameFilter();

    // Refusals shared with the commands that create configurations elsewhere.
    // A new name must be one that a class file can carry; stored names that
    // break the rule still work everywhere.
    static Status checkNewName(const QString &name);
    Status refuseExisting(const QString &name) const;
    // Inside the creating command's transaction: refuses a name that exists and
    // removes classes filed under it without a configuration.
    Status claimNewName(const QString &name, const QString &what) const;

private:
    Database mDb;
};

} // namespace tarn
