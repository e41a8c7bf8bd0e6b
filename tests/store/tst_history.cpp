// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/appstate.h"
#include "core/startup.h"
#include "store/datastore.h"
#include "store/recordcursor.h"
#include "store/refstore.h"
#include "store/schema.h"
#include "testsupport.h"

#include <QProcess>
#include <QTest>
#include <QThread>

using namespace tarn;
using namespace tarn::test;

namespace
{

const QString kSample = QStringLiteral("Sample Config");

// A configuration's classes in class order, every column quoted as the engine
// stores it (NULL, 1, 1.0 and '1' apart); the name left out, for a copy.
QStringList classRows(const Peek &peek, const QString &package)
{
    QStringList columns = schema::classdefColumnNames().mid(1);
    columns.replaceInStrings(QRegularExpression("(.+)"),
                             peek.onServer() ? "quote_nullable(\\1)" : "quote(\\1)");
    QStringList rows;
    for (const QVariantMap &row :
         peek.rows("SELECT " + columns.join("||'|'||") +
                       " AS line FROM classdef WHERE lower(package_name) = lower(?) AND EXISTS "
                       "(SELECT 1 FROM package p WHERE lower(p.package_name) = "
                       "lower(classdef.package_name)) ORDER BY class_num, rowid",
                   {package}))
        rows << row["line"].toString();
    return rows;
}

// The newest change the store gives.
Change newest(AppState &state, bool refRow = false)
{
    Change found;
    HistoryFilter filter;
    filter.limit = 1;
    const auto keep = [&found](const Change &c) {
        found = c;
        return Status::success();
    };
    // A file of reference tables keeps their records itself.
    const Status read = refRow && !onTestServer() ? state.ref().readHistory(filter, keep)
                                                  : state.data().readHistory(filter, keep);
    if (!read)
        qWarning("%s", qPrintable(read.message()));
    return found;
}

qint64 nextChange(AppState &state)
{
    return newest(state).id + 1;
}

RecordCursor::Key firstKey(RecordCursor &cursor)
{
    return cursor.reload() && !cursor.keys().isEmpty() ? cursor.keys().first() : -1;
}

// A step of the story before a restore.
Status step(AppState &state, const QString &what)
{
    DataStore &data = state.data();
    RecordCursor classes(data.database(), RecordSource::classesOf(kSample));
    if (what == "edit")
        return classes
            .store(firstKey(classes), {{"max_speed", "skin_name1"}, {901, QVariant()}}, {})
            .status();
    if (what == "add")
        return classes.insert({"package_name", "class_num", "class_name"}, {kSample, 9, "Added"})
            .status();
    if (what == "remove")
        return classes.remove(firstKey(classes)).status();
    if (what == "apply")
        return data.writeClasses(kSample, "apply", [] {
            using W = DataStore::ClassWrite;
            return Result<QList<W>>(
                QList<W>{{W::Update, 2, {"max_armor", "model_name"}, {75, "text"}},
                         {W::Insert, 0, {"class_num", "class_name"}, {12, "Inserted"}},
                         {W::Delete, 1, {}, {}}});
        });
    if (what == "delete")
        return data.deletePackage(kSample);
    if (what == "new")
        return data.createPackage(kSample);
    return Status::failure(Fault::Other, "no step " + what);
}

struct Story {
    const char *name;
    QStringList before, after; // steps before the moment, and after it
    bool byTime = false;
    QString as = {};
};

struct Recorded {
    const char *name;
    QString op;
    Change::Kind kind;
    QString column = {};
    QVariant before = {}, after = {};
    QString rowName = {}; // the class or reference row named, or the detail
};

} // namespace

// Every stored change is recorded with who made it, in its own transaction;
// a restore gives back the rows exactly as they were.
class tst_History : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        qputenv("TARN_TEST_USER", "alice");
        setChangeProgram("tst_history");
    }

    void recordsEveryWrite_data()
    {
        using C = Change;
        addRows<Recorded>({
            {"write-back", "store", C::Field, "max_speed", 400, 900, "Scout"},
            {"write-back of a text to empty",
             "clear",
             C::Field,
             "skin_name1",
             "scout_r",
             {},
             "Scout"},
            {"apply's update", "update", C::Field, "max_armor", 50, 2, "Scout"},
            {"Add Class", "insert", C::AddClass, {}, {}, {}, "Added"},
            {"Delete Class", "remove", C::DeleteClass, {}, {}, {}, "Scout"},
            {"New", "new", C::NewPackage},
            {"Make Copy", "copy", C::CopyPackage, {}, {}, {}, kSample},
            {"Import", "import", C::ImportPackage, {}, {}, {}, "file.class"},
            {"Delete", "delete", C::DeletePackage},
            {"a weapon's damage", "weapon", C::Field, "w_damage", 15, 2.25, "Blaster"},
            {"a weapon added", "add weapon", C::AddRow, {}, {}, {}, "Rail"},
            {"a weapon deleted", "delete weapon", C::DeleteRow, {}, {}, {}, "Blaster"},
            {"the Mod ID", "mod id", C::ModId, "mod_id", {}, "M2"},
        });
    }

    void recordsEveryWrite()
    {
        QFETCH(Recorded, row);
        DataDir dir;
        AppState &state = dir.start();
        DataStore &data = state.data();
        RecordCursor classes(data.database(), RecordSource::classesOf(kSample));
        RecordCursor weapons(state.ref().database(),
                             RecordSource::referenceRows(schema::RefKind::Weapon));
        const QString &op = row.op;
        Status done = Status::failure(Fault::Other, op);
        if (op == "store" || op == "clear")
            done = classes
                       .store(firstKey(classes), {{row.column}, {row.after}},
                              {{row.column}, {row.before}})
                       .status();
        else if (op == "update")
            done = data.writeClasses(kSample, "", [] {
                return Result<QList<DataStore::ClassWrite>>(
                    {{DataStore::ClassWrite::Update, 1, {"max_armor"}, {2}}});
            });
        else if (op == "insert")
            done =
                classes.insert({"package_name", "class_num", "class_name"}, {kSample, 7, "Added"})
                    .status();
        else if (op == "remove")
            done = classes.remove(firstKey(classes)).status();
        else if (op == "new")
            done = data.createPackage("N");
        else if (op == "copy")
            done = data.copyPackage(kSample, "N");
        else if (op == "import")
            done = data.createPackage(
                "N", "", [](auto &) { return Result<bool>(false); }, "file.class");
        else if (op == "delete")
            done = data.deletePackage(kSample);
        else if (op == "weapon")
            done = weapons.store(firstKey(weapons), {{"w_damage"}, {2.25}}, {}).status();
        else if (op == "add weapon")
            done = weapons.insert({"w_id", "w_name"}, {40, "Rail"}).status();
        else if (op == "delete weapon")
            done = weapons.remove(firstKey(weapons)).status();
        else if (op == "mod id")
            done = state.saveModId("M2");
        QVERIFY2(done, qPrintable(done.message()));

        const bool refRow = op.contains("weapon");
        const Change c = newest(state, refRow);
        QCOMPARE(c.kind, row.kind);
        QCOMPARE(c.who, dir.server() ? QString("tarn") : QString("alice"));
        QCOMPARE(c.program, QString("tst_history"));
        QVERIFY(qAbs(c.at.secsTo(QDateTime::currentDateTimeUtc())) < 60);
        QCOMPARE(c.column, row.column);
        // As stored: a whole number, a fraction and a text stay apart.
        QCOMPARE(c.before, row.kind == Change::ModId && !dir.server() ? QVariant("0") : row.before);
        QCOMPARE(c.after, row.after);
        if (row.kind == Change::ModId)
            return;
        QCOMPARE(c.table, refRow ? "weapon" : row.kind <= Change::DeleteClass ? "classdef" : "");
        QCOMPARE(c.package, refRow                            ? QString()
                            : row.kind <= Change::DeleteClass ? kSample
                            : op == "delete"                  ? kSample
                                                              : QString("N"));
        if (row.kind <= Change::DeleteClass || refRow)
            QCOMPARE(c.rowName, row.rowName);
        else
            QCOMPARE(c.detail, row.rowName);
        // Add and Delete keep the whole row.
        if (row.kind == Change::AddClass || row.kind == Change::DeleteClass) {
            QCOMPARE(c.row.columns, schema::classdefColumnNames());
            QCOMPARE(c.row.value("class_name").toString(), row.rowName);
        }
        if (row.kind == Change::AddRow || row.kind == Change::DeleteRow)
            QCOMPARE(c.row.value("w_name").toString(), row.rowName);
    }

    // A change that fails leaves no record, and a record no change.
    void failedWriteLeavesNoRecord()
    {
        DataDir dir;
        AppState &state = dir.start();
        Peek peek(dir.dataPath());
        const QStringList before = classRows(peek, kSample);
        const qint64 records = peek.count("history");
        peek.refuseInserts("classdef", "disk full");
        const Status failed = state.data().writeClasses(kSample, "", [] {
            using W = DataStore::ClassWrite;
            return Result<QList<W>>(
                QList<W>{{W::Update, 1, {"max_speed"}, {1}}, {W::Insert, 0, {"class_num"}, {5}}});
        });
        QVERIFY(!failed && failed.message().contains("disk full"));
        QCOMPARE(classRows(peek, kSample), before);
        QCOMPARE(peek.count("history"), records);
        QCOMPARE(peek.count("history_class"), 0);
    }

    void restoreGivesBackExactRows_data()
    {
        addRows<Story>({
            {"a deleted configuration", {}, {"delete"}},
            {"edits after the moment", {"edit"}, {"edit", "add", "remove", "apply"}},
            {"by time", {}, {"edit", "apply"}, true},
            {"deleted, made again and deleted again", {}, {"delete", "new", "add", "delete"}},
            {"under a new name, the old one kept", {}, {"remove", "edit"}, false, "Back"},
            {"a deleted one under a new name", {"apply"}, {"delete", "new"}, false, "Back"},
        });
    }

    void restoreGivesBackExactRows()
    {
        QFETCH(Story, row);
        DataDir dir;
        AppState &state = dir.start();
        Peek peek(dir.dataPath());
        for (const QString &what : row.before)
            QVERIFY(step(state, what));
        const QStringList then = classRows(peek, kSample);
        RestorePoint point;
        if (row.byTime) {
            point.at = QDateTime::currentDateTimeUtc();
            QThread::msleep(20);
        } else {
            point.beforeChange = nextChange(state);
        }
        for (const QString &what : row.after)
            QVERIFY(step(state, what));
        const QStringList now = classRows(peek, kSample);
        QVERIFY(now != then);
        const bool existed = *state.data().packageExists(kSample);

        const Status restored = state.data().restorePackage(kSample, point, row.as);
        QVERIFY2(restored, qPrintable(restored.message()));
        const QString target = row.as.isEmpty() ? kSample : row.as;
        QCOMPARE(classRows(peek, target), then);
        QVERIFY(*state.data().packageExists(target));
        if (!row.as.isEmpty())
            QCOMPARE(classRows(peek, kSample), now);
        // The restore is a change too, and can itself be taken back.
        const Change recorded = newest(state);
        QCOMPARE(recorded.kind, Change::RestorePackage);
        QCOMPARE(recorded.package, target);
        if (row.as.isEmpty() && existed) {
            QVERIFY(state.data().restorePackage(kSample, {recorded.id, {}}));
            QCOMPARE(classRows(peek, kSample), now);
        }
    }

    void restoreRefusals()
    {
        DataDir dir;
        AppState &state = dir.start();
        DataStore &data = state.data();
        const RestorePoint start{nextChange(state), {}};
        QVERIFY(data.createPackage("Later"));
        QVERIFY(data.deletePackage(kSample));
        // Not there at that moment; a name taken now.
        QCOMPARE(data.restorePackage("Later", start).fault(), Fault::NotFound);
        QCOMPARE(data.restorePackage(kSample, start, "Later").fault(), Fault::Exists);
        QVERIFY(!*data.packageExists(kSample));
        QVERIFY(data.restorePackage(kSample, start));
        // The deleted configuration is listed with its classes.
        const QList<DeletedPackage> deleted = data.deletedPackages().value();
        QCOMPARE(deleted.size(), 1);
        QCOMPARE(deleted.first().name, kSample);
        QCOMPARE(deleted.first().classes, Peek(dir.dataPath()).count("classdef"));
    }

    void classBefore()
    {
        DataDir dir;
        AppState &state = dir.start();
        DataStore &data = state.data();
        const qint64 first = nextChange(state);
        QVERIFY(step(state, "edit"));
        const Change edit = newest(state);
        QVERIFY(step(state, "remove"));
        QVERIFY(step(state, "add"));
        const Change added = newest(state);
        QVERIFY(step(state, "delete"));
        // A field before its change; a deleted class whole, also in a deleted configuration.
        const auto before = [&](qint64 number, qint64 change) {
            return data.classBefore(kSample, number, change).value();
        };
        QCOMPARE(before(edit.rowKey, first)->value("max_speed"), QVariant(400));
        QCOMPARE(before(edit.rowKey, first + 1)->value("max_speed"), QVariant(901));
        QCOMPARE(before(edit.rowKey, first + 1)->value("class_name"), QVariant("Scout"));
        QVERIFY(!before(added.rowKey, added.id));
        QCOMPARE(before(added.rowKey, added.id + 1)->value("class_name"), QVariant("Added"));
        QCOMPARE(before(2, edit.id)->value("class_name"), QVariant("Soldier"));
    }

    void pruneKeepsLaterRecords()
    {
        DataDir dir;
        AppState &state = dir.start();
        DataStore &data = state.data();
        Peek peek(dir.dataPath());
        QVERIFY(data.copyPackage(kSample, "Old"));
        QVERIFY(data.deletePackage("Old"));
        const qint64 cut = nextChange(state);
        QVERIFY(data.copyPackage(kSample, "Young"));
        QVERIFY(data.deletePackage("Young"));
        QVERIFY(step(state, "edit"));
        const qint64 sample = classRows(peek, kSample).size();
        QCOMPARE(data.pruneHistory(cut).value(), 2);
        QCOMPARE(peek.count("history"), 4);
        // The classes of the pruned Delete go; the later one keeps its own.
        QCOMPARE(peek.count("classdef"), 2 * sample);
        const QList<DeletedPackage> deleted = data.deletedPackages().value();
        QCOMPARE(deleted.size(), 1);
        QCOMPARE(deleted.first().classes, sample);
        QVERIFY(data.restorePackage("Young", {cut + 1, {}}));
        QCOMPARE(classRows(peek, "Young").size(), sample);
        QCOMPARE(data.historySize()->records, 5);
        QVERIFY(data.historySize()->bytes > 0);
        QCOMPARE(data.pruneHistory(QDateTime::currentDateTimeUtc().addSecs(1)).value(), 5);
        QCOMPARE(peek.count("history_class"), 0);
    }

    // Files gain the history at start; a team database when its owner upgrades
    // it, and works as before until then.
    void upgrade()
    {
        DataDir dir;
        {
            Peek peek(dir.dataPath());
            peek.exec("DROP TABLE history");
            peek.exec("DROP TABLE history_class");
        }
        AppState state(dir.location());
        const StartupResult started = startUp(state);
        QVERIFY(started.status);
        QCOMPARE(started.noHistory, bool(dir.server()));
        QCOMPARE(state.data().keepsHistory().value(), !dir.server());
        QVERIFY(state.data().createPackage("Before"));
        QCOMPARE(state.data().ensureHistory().value(), bool(dir.server()));
        QVERIFY(state.data().createPackage("After"));
        QCOMPARE(newest(state).package, QString("After"));
        QCOMPARE(Peek(dir.dataPath()).count("history"), dir.server() ? 1 : 2);
    }

    // Two people, each under their own name: the operating system's user on
    // files, the login role on a server, where only the owner may prune.
    void twoPeople()
    {
        DataDir dir;
        QString bob = dir.location();
        if (dir.server()) {
            Peek peek(dir.dataPath());
            peek.exec("DO $$BEGIN CREATE ROLE bob LOGIN; EXCEPTION WHEN duplicate_object THEN "
                      "NULL; END$$");
            peek.exec("GRANT SELECT, INSERT, UPDATE, DELETE ON package, classdef, weapon, "
                      "grenade, item, special, tarn_settings TO bob");
            peek.exec("GRANT SELECT, INSERT ON history, history_class TO bob");
            bob.replace("://tarn@", "://bob@");
        }
        const auto cli = [&](const QString &user, const QString &location,
                             const QStringList &args) {
            QProcess run;
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert("TARN_TEST_USER", user);
            run.setProcessEnvironment(environment);
            run.start(TARN_CLI, cliLocation(location) + args);
            run.waitForFinished(60000);
            return run.exitCode() == 0 ? QString() : QString::fromUtf8(run.readAllStandardError());
        };
        QCOMPARE(cli("alice", dir.location(), {"new", "A"}), QString());
        QCOMPARE(cli("bob", bob, {"copy", "A", "B"}), QString());
        AppState &state = dir.start();
        QStringList seen;
        QVERIFY(state.data().readHistory({}, [&seen](const Change &c) {
            seen << c.who + ' ' + c.program + ' ' + c.package;
            return Status::success();
        }));
        const QString alice = dir.server() ? "tarn" : "alice";
        QCOMPARE(seen, QStringList({"bob tarn-cli copy B", alice + " tarn-cli new A"}));
        if (dir.server()) {
            QVERIFY(cli("alice", bob, {"history", "--prune-before", "9"}).contains("history"));
            QCOMPARE(Peek(dir.dataPath()).count("history"), 2);
        }
    }
};

QTEST_MAIN(tst_History)
#include "tst_history.moc"
