// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "classfile/classrecord.h"
#include "store/database.h"
#include "store/history.h"
#include "store/refstore.h"

#include <functional>
#include <optional>
#include <utility>
#include <vector>

namespace tarn
{

class RowReader;

// One class of a configuration as a read gives it, its columns in the order
// the read named them.
class StoredClass
{
public:
    StoredClass(const RowReader &row, const QStringList &columns);

    // schema::exportColumns(): the columns readClasses names, its flags after them.
    static const QStringList &columns();
    // NULL reads as empty.
    QString text(int column) const;
    // The same as UTF-8, until the read moves on.
    std::string_view utf8(int column) const;
    bool isNull(int column) const;
    // A 16-bit whole number; the failure names the field ("Max Armor is empty").
    Result<qint16> whole(int column) const;
    // The value when it is stored as a whole number: the usual case, cheaply.
    std::optional<qint64> integer(int column) const;
    // As stored: null, a whole number (qlonglong), a fraction (double) or text.
    QVariant value(int column) const;
    // readClasses only: bit k - 1 for flag k of the items (first kItemBoxes)
    // or specials (first kSpecialBoxes).
    quint64 flags(schema::RefKind kind) const;

private:
    const RowReader &mRow;
    const QStringList &mColumns;
    // Which columns hold text: a server's rows come as text, whatever their type.
    std::vector<bool> mText;
};

// The change a command makes first, named before the database opens so that
// a server can begin it with the catalog's read: the transaction then waits,
// its first statement run, for the command to ask for it.
struct FirstWrite {
    enum Kind { None, Create, Copy, Delete } kind = None;
    QString name;   // the configuration created, copied to or deleted
    QString source; // a copy's
};

// What a command or window reads first once the database is open: a server
// sends it with the catalog's read, in the same exchange.
struct FirstReads {
    bool names = false;                // the configuration list (packageNames)
    bool follow = false;               // other clients' changes, followed from before these reads
    std::vector<schema::RefKind> refs; // every row of these reference tables (RefStore::all)
    FirstWrite write{};                // then the start of this change
};

// The data database: configurations (package) and their classes (classdef).
class DataStore
{
public:
    // Opens an existing file and checks that it holds package and classdef
    // with the columns every command names.
    Status open(const QString &path, const FirstReads &first = {});

    Database &database() { return mDb; }
    const Database &database() const { return mDb; }

    // Names in list order (by name, without regard to ASCII case).
    Result<QStringList> packageNames();
    // The same, one at a time, without holding them all.
    Status forEachPackageName(const std::function<void(const QString &)> &onName);
    Result<bool> packageExists(const QString &name);
    // The name as stored of the configuration that name matches.
    Result<QString> storedPackageName(const QString &name);

    // Whether another connection (another window, another program) has
    // committed a change to the configurations since the last call: a cheap
    // check for a window that shows them. The first call only takes the mark.
    Result<bool> changedElsewhere();
    // Calls notify, from the event loop, as soon as a server tells of such a
    // change, once changedElsewhere() was asked; a file tells nothing, and is
    // asked again.
    void onChangedElsewhere(std::function<void()> notify)
    {
        mDb.onChangedElsewhere(std::move(notify));
    }

    // Each is one transaction; names are taken exactly as given and refused
    // when a configuration of that name (in any ASCII case) exists.
    Status createPackage(const QString &name);
    Status deletePackage(const QString &name);
    Status copyPackage(const QString &source, const QString &target);

    // Reads a configuration's classes for export in class number order, all
    // from one snapshot: a configuration that another program deletes or
    // changes meanwhile is read whole or not at all. onStart gets the name as
    // stored and, when count is set, the number of classes; then onClass gets
    // each class. A failure of either ends the read and comes back; other
    // failures of the store lead with "what". A missing configuration is
    // NotFound, a message that names it.
    Status readClasses(const QString &name, bool count, const QString &what,
                       const std::function<Status(const QString &stored, qint64 classes)> &onStart,
                       const std::function<Status(const StoredClass &)> &onClass);

    // The configurations readClasses is asked for next, one after another:
    // a server sends each read with the one before it.
    void readClassesNext(const QStringList &names) { mNextReads = names; }

    // The named classdef columns of a configuration's classes as stored, in
    // class number order (or as stored, when inOrder is false: no sort), from
    // one snapshot, one class at a time; failures as readClasses gives them.
    Status readClassColumns(const QString &name, const QStringList &columns, const QString &what,
                            const std::function<Status(const StoredClass &)> &onClass,
                            bool inOrder = true);

    // Yields the next class to store into record: true, false after the last,
    // or a failure that ends the command.
    using ClassSource = std::function<Result<bool>(classfile::ClassRecord &record)>;
    // Stores a new configuration with the classes of source, numbered from 1,
    // in one transaction that the source should keep short; refused like
    // createPackage(name), and "what" leads the store's failures. Recorded
    // as an import of file.
    Status createPackage(const QString &name, const QString &what, const ClassSource &source,
                         const QString &file = {});

    // One change of a configuration's classes, the class picked by its number.
    struct ClassWrite {
        enum Kind { Update, Insert, Delete } kind = Update;
        qint64 classNum = 0;
        QStringList columns; // classdef columns; an insert's class_num among them
        QVariantList values;
    };
    // Changes a configuration's classes in one write transaction: plan runs
    // inside it (its reads see what the writes will change) and gives the
    // writes; its failure, or any write's, leaves nothing changed.
    Status writeClasses(const QString &name, const QString &what,
                        const std::function<Result<QList<ClassWrite>>()> &plan);

    // The number a new class of the configuration takes: the highest plus 1
    // (1 for the first); refused when the highest is already 32767.
    Result<int> nextClassNumber(const QString &package);

    // Adds the flag columns s22..s31 that are missing, in that order, and
    // returns their names.
    Result<QStringList> ensureFields();

    // True when the database keeps the team's settings (the Mod ID) itself:
    // a server's database, which every member shares.
    bool keepsSettings() const { return mDb.shared(); }
    // The Mod ID stored there; nothing when none was set.
    Result<std::optional<QString>> storedModId();
    Status storeModId(const QString &modId);
    // Where the settings file keeps the Mod ID: write(value) replaces the
    // file, inside a transaction of the data file that records the change
    // from before to after. A failed write records nothing; a record that
    // fails writes before back.
    Status recordModId(const QString &before, const QString &after,
                       const std::function<Status(const QString &)> &write);

    // The history of every stored change (store/history.h). False on a team
    // database not yet upgraded: every command works and records nothing.
    Result<bool> keepsHistory();
    // The changes the filter picks, newest first; a failure of onChange ends the read.
    Status readHistory(const HistoryFilter &filter,
                       const std::function<Status(const Change &)> &onChange);
    // Every classdef column of the class just before the change, or nothing
    // when the class did not exist then.
    Result<std::optional<RowValues>> classBefore(const QString &package, qint64 classNum,
                                                 qint64 changeId);
    Result<QList<DeletedPackage>> deletedPackages();
    // Brings the configuration back as it stood at that point, in one
    // transaction, under its own name or under "as"; recorded as a change.
    Status restorePackage(const QString &name, const RestorePoint &point, const QString &as = {});
    // Removes the records older than before; how many.
    Result<qint64> pruneHistory(const QDateTime &before);
    // The same by id: the records before that change.
    Result<qint64> pruneHistory(qint64 beforeChange);
    Result<HistorySize> historySize();

    // Refusals shared with the commands that create configurations elsewhere.
    // A new name must be one that a class file can carry; stored names that
    // break the rule still work everywhere. A server indexes names, which
    // bounds their length well below a class file's line.
    Status checkNewName(const QString &name) const;
    Status refuseExisting(const QString &name);
    // Inside the creating command's transaction: adds the configuration's row
    // unless the name exists (or, with source, that configuration does not)
    // and removes classes filed under it without a configuration. later: a
    // taken name may show only at the transaction's next exchange.
    Status claimNewName(const QString &name, const QString &what, const QString &source = {},
                        bool later = false);

    // Adds the history tables where they are missing: at start on files; on
    // a server by its owner (upgrade). Whether it added them.
    Result<bool> ensureHistory();

private:
    // The configuration's classes from one snapshot: the columns, then the
    // expressions more, in class number order unless inOrder is false; onStart
    // first, with the name as stored and, when count is set, the number of classes.
    Status readSnapshot(const QString &name, const QStringList &columns, const QStringList &more,
                        bool count, bool inOrder, const QString &what,
                        const std::function<Status(const QString &, qint64)> &onStart,
                        const std::function<Status(const StoredClass &)> &onClass);
    QString storedNameSql() const;
    // The first statement of createPackage, copyPackage (source set) and
    // deletePackage, whose affected rows tell whether it did its work.
    std::pair<QString, QVariantList> claimSql(const QString &name, const QString &source) const;
    std::pair<QString, QVariantList> deleteRowSql(const QString &name) const;
    Status storeNewPackage(const QString &name, const QString &what, const ClassSource &source,
                           Change::Kind kind, const QString &detail);
    // Takes back, newest first, the configuration's changes after the point,
    // in classdef under target (inside the caller's transaction); whether the
    // configuration existed then.
    Result<qint64> prune(const QString &condition, const QVariant &value);
    // Inside the caller's transaction, for a name no configuration has: the
    // classes that the name's last Delete left in classdef join the history's
    // kept classes under its mark (the caller then deletes them).
    Status settleKept(const QString &name, const QString &what);
    // deletion: the last Delete taken back, if any.
    Result<bool> takeBack(const QString &name, const QString &target, bool exists,
                          const RestorePoint &point, const QString &what, qint64 &deletion);

    Database mDb;
    QStringList mNextReads; // readClassesNext
};

} // namespace tarn
