// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/settings.h"
#include "core/startup.h"
#include "store/schema.h"
#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

using namespace tarn;
using namespace tarn::test;

namespace
{

struct Folder {
    const char *name;
    QString inProgramDir, xdg, home, folder; // folder: PROGRAM, or the user's
};
struct DataFiles {
    const char *name;
    QString file;       // written, or removed when the content is null; "*": both data files;
                        // "A->B": A a link to B
    QByteArray content; // what is written there
    QString cause;      // a part of the refusal; empty: done
    QString make = {};  // "make", "sample" (with the sample rows); empty: start up
    QString folder = {};
};
struct ModId {
    const char *name;
    QString typed;
    QByteArray bytes;
    QString modId;
};

} // namespace

class tst_Startup : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        if (onTestServer() &&
            QByteArrayView(QTest::currentTestFunction()) != "upgradeAddsOnlyMissingColumns")
            QSKIP("about the data folder's files");
    }

    void upgradeAddsOnlyMissingColumns_data()
    {
        QTest::addColumn<int>("last"); // the file has the flag columns s1 to s<last>
        QTest::addColumn<QStringList>("added");
        QTest::newRow("s1-s21") << 21 << schema::upgradeColumns();
        QTest::newRow("s1-s26") << 26 << schema::upgradeColumns().mid(5);
        QTest::newRow("s1-s31") << 31 << QStringList();
    }

    void upgradeAddsOnlyMissingColumns()
    {
        QFETCH(int, last);
        QFETCH(QStringList, added);
        DataDir dir(false);
        Peek peek(dir.dataPath());
        // An older database: the later flag columns missing, one of the user's own added.
        for (int s = last + 1; s <= 31; ++s)
            peek.exec(QStringLiteral("ALTER TABLE classdef DROP COLUMN s%1").arg(s));
        peek.exec("ALTER TABLE classdef ADD COLUMN notes TEXT");
        peek.exec("INSERT INTO classdef (package_name, class_num, s1, notes) "
                  "VALUES ('Old', 1, 1, 'keep me')");
        const QStringList before = peek.columns("classdef");
        const QByteArray bytesBefore = peek.onServer() ? QByteArray() : readFile(dir.dataPath());

        AppState state(dir.location());
        const StartupResult started = startUp(state);
        QVERIFY2(started.status, qPrintable(started.status.message()));
        QCOMPARE(started.addedColumns, added);
        QCOMPARE(peek.columns("classdef"), before + added);
        if (added.isEmpty() && !peek.onServer())
            QCOMPARE(readFile(dir.dataPath()), bytesBefore);
        // An existing row reads false in the new columns and keeps everything else.
        QString kept = "notes = 'keep me' AND s1 = 1";
        for (const QString &column : added)
            kept += " AND " + column + " = 0";
        QCOMPARE(peek.scalar("SELECT count(*) FROM classdef WHERE " + kept).toInt(), 1);
    }

    void dataFolder_data()
    {
        // The program's folder is chosen when it holds a data file: half a data folder
        // is still the program's, and its start-up reports what is missing. Else the
        // user's, from XDG_DATA_HOME and HOME (null: unset), or none.
        addRows<Folder>({
            {"data file only", "tarn_dat.mdb", {}, {}, "PROGRAM"},
            {"ref file only", "tarn_ref.mdb", {}, {}, "PROGRAM"},
            {"settings only", "tarn.ini", "/x", {}, "/x/tarn"},
            {"XDG_DATA_HOME", {}, "/x", "/h", "/x/tarn"},
            {"relative one ignored", {}, "x", "/h", "/h/.local/share/tarn"},
            {"no HOME", {}, {}, {}, ""},
            {"relative HOME", {}, {}, "h", ""},
        });
    }

    void dataFolder()
    {
        QFETCH(Folder, row);
        auto set = [](const char *name, const QString &value) {
            value.isNull() ? qunsetenv(name) : qputenv(name, value.toUtf8());
        };
        const QString oldXdg = qEnvironmentVariable("XDG_DATA_HOME", QString()),
                      oldHome = qEnvironmentVariable("HOME", QString());
        const auto restore = qScopeGuard([&] {
            set("XDG_DATA_HOME", oldXdg);
            set("HOME", oldHome);
        });
        set("XDG_DATA_HOME", row.xdg);
        set("HOME", row.home);
        QTemporaryDir program;
        if (!row.inProgramDir.isEmpty())
            writeFile(QDir(program.path()).filePath(row.inProgramDir), "x");
        const QString user = userDataDir();
        QCOMPARE(chooseDataDir(program.path(), user),
                 row.folder == "PROGRAM" ? program.path() : row.folder);
        const Result<QString> location = chooseLocation({}, {});
        if (user.isEmpty())
            QVERIFY(!location && location.message().contains("--data-dir DIR"));
        else
            QCOMPARE(*location, user);
    }

    void dataFiles_data()
    {
        // A folder's data files started up, or made (with the sample rows or without):
        // a refusal names the file and the cause, and nothing is made or changed. Only a
        // folder with neither file is a first run; one file missing is a fault. Making
        // files refuses any file there already, which the engine could take for its own
        // (it would play a journal left by a crash into the new file).
        const QString data = "tarn_dat.mdb", ref = "tarn_ref.mdb";
        const QByteArray keep = "keep";
        addRows<DataFiles>({
            {"data missing", data, {}, "does not exist"},
            {"both missing", "*", {}, "There are no data files in"},
            {"data empty", data, "", "table package is missing"},
            {"ref empty", ref, "", "table weapon is missing"},
            {"data garbage", data, QByteArray(4096, 'x'), "not a database"},
            {"data truncated", data, QByteArray("SQLite format 3\0", 16), data},
            {"made empty", "", {}, "", "make"},
            {"made in new folders", "", {}, "", "sample", "share/tarn"},
            {"made over a data file", data, keep, data, "sample"},
            {"made over a ref file", ref, keep, ref, "make"},
            {"made over a journal", data + "-journal", keep, data + "-journal", "sample"},
            {"made over a log", ref + "-wal", keep, ref + "-wal", "make"},
            {"made over a dangling link", data + "->gone.mdb", {}, data, "sample"},
        });
    }

    void dataFiles()
    {
        QFETCH(DataFiles, row);
        QTemporaryDir root;
        AppState state(QDir(root.path()).filePath(row.folder));
        if (row.make.isEmpty()) // start up: the files there first
            QVERIFY(tarn::createDataFiles(state, true));
        const QString name = row.file.section("->", 0, 0);
        const QString path = name == "*" ? state.dataDir() : QDir(state.dataDir()).filePath(name);
        if (name == "*")
            QVERIFY(QFile::remove(state.dataPath()) && QFile::remove(state.refPath()));
        else if (row.file.contains("->"))
            QVERIFY(QFile::link(row.file.section("->", 1), path));
        else if (!name.isEmpty() && row.content.isNull())
            QVERIFY(QFile::remove(path));
        else if (!name.isEmpty())
            writeFile(path, row.content);
        const QMap<QString, QByteArray> before = snapshot(root.path());

        StartupResult result;
        if (row.make.isEmpty())
            result = startUp(state);
        else
            result.status = tarn::createDataFiles(state, row.make == "sample");
        if (!row.cause.isEmpty()) {
            const QString message = result.status.message();
            QVERIFY2(message.contains(path) && message.contains(row.cause), qPrintable(message));
            QCOMPARE(result.noDataFiles, name == "*");
            QCOMPARE(snapshot(root.path()), before);
            return;
        }
        QVERIFY2(result.status, qPrintable(result.status.message()));
        QVERIFY2(startUp(state).status, "the new files start up");
        QCOMPARE(Peek(state.dataPath()).count("package") > 0, row.make == "sample");
        QCOMPARE(Peek(state.refPath()).count("weapon") > 0, row.make == "sample");
        QCOMPARE(QDir(state.dataDir()).entryList(QDir::Files),
                 (QStringList{"tarn_dat.mdb", "tarn_ref.mdb"}));
    }

    void modIdReadWrite_data()
    {
        // Rows without typed text read the file as given (null: no file). Rows with
        // it write over an earlier file and expect these bytes (null: refused); what
        // they wrote is read back as well, by itself and at start-up.
        const QString m(32764, 'm');
        addRows<ModId>({
            {"no file", {}, {}, "0"},
            {"blank lines", {}, "\r\n  \r\n", "0"},
            {"spaces round quotes", {}, "   \"abc\"   \r\n", "abc"},
            {"unquoted stops at comma", {}, "abc,def\r\n", "abc"},
            {"quoted keeps comma", {}, "\"a,b\",c\r\n", "a,b"},
            {"only first line", {}, "\"one\"\r\n\"two\"\r\n", "one"},
            {"write keeps spaces on disk", " 7 ", "\" 7 \"\r\n", "7"},
            {"write quote unchanged", "ab\"cd", "\"ab\"cd\"\r\n", "ab"},
            {"write latin-1", "é", "\"\xe9\"\r\n", "é"},
            {"write refuses a line break", "a\nb", {}, "old"},
            {"write longest", m, '"' + m.toLatin1() + "\"\r\n", m},
            {"write refuses longer than line 1 holds", m + 'm', {}, "old"},
        });
    }

    void modIdReadWrite()
    {
        QFETCH(ModId, row);
        DataDir dir;
        const QString path = dir.file(QStringLiteral("tarn.ini"));
        if (!row.typed.isNull()) {
            writeFile(path, "\"old\"\r\n");
            const Status status = settings::WriteModID(path, row.typed);
            QCOMPARE(status.fault(), row.bytes.isNull() ? Fault::Refused : Fault::None);
            QCOMPARE(readFile(path), row.bytes.isNull() ? QByteArray("\"old\"\r\n") : row.bytes);
        } else if (!row.bytes.isNull()) {
            writeFile(path, row.bytes);
        }
        QCOMPARE(settings::ReadModID(path), row.modId);
        QCOMPARE(dir.start().modId(), row.modId);
        QCOMPARE(QFile::exists(path),
                 !row.typed.isNull() || !row.bytes.isNull()); // start-up writes none
    }
};

QTEST_GUILESS_MAIN(tst_Startup)
#include "tst_startup.moc"
