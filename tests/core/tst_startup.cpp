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

    void refusedDataFiles_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QByteArray>("content"); // null: the file is removed
        QTest::addColumn<QString>("cause");
        const QString data = "tarn_dat.mdb";
        QTest::newRow("data missing") << data << QByteArray() << "does not exist";
        QTest::newRow("both missing") << "" << QByteArray() << "There are no data files in";
        QTest::newRow("data empty") << data << QByteArray("") << "table package is missing";
        QTest::newRow("ref empty") << "tarn_ref.mdb" << QByteArray("") << "table weapon is missing";
        QTest::newRow("data garbage") << data << QByteArray(4096, 'x') << "not a database";
        QTest::newRow("data truncated") << data << QByteArray("SQLite format 3\0", 16) << data;
    }

    void refusedDataFiles()
    {
        QFETCH(QString, file);
        QFETCH(QByteArray, content);
        QFETCH(QString, cause);
        DataDir dir;
        const bool both = file.isEmpty();
        const QString path = both ? dir.path() : dir.file(file);
        if (both)
            QVERIFY(QFile::remove(dir.dataPath()) && QFile::remove(dir.refPath()));
        else if (content.isNull())
            QVERIFY(QFile::remove(path));
        else
            writeFile(path, content);

        AppState state(dir.location());
        const StartupResult started = startUp(state);
        const QString message = started.status.message();
        QVERIFY2(message.contains(path) && message.contains(cause), qPrintable(message));
        // Only a folder with neither file is a first run; one file missing is a fault.
        QCOMPARE(started.noDataFiles, both);
        if (both) {
            QVERIFY(snapshot(dir.path()).isEmpty());
            return;
        }
        // Nothing is created or changed by a failed start.
        QCOMPARE(QFile::exists(path), !content.isNull());
        if (!content.isNull())
            QCOMPARE(readFile(path), content);
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

    void createDataFiles_data()
    {
        QTest::addColumn<QString>("folder"); // below a temporary folder
        // A file there already (LINK->TARGET: a symbolic link); empty: none.
        QTest::addColumn<QString>("existing");
        QTest::addColumn<bool>("sample");
        QTest::newRow("empty") << QString() << QString() << false;
        QTest::newRow("folders made") << QString("share/tarn") << QString() << true;
        QTest::newRow("data file there") << QString() << QString("tarn_dat.mdb") << true;
        QTest::newRow("ref file there") << QString() << QString("tarn_ref.mdb") << false;
        // The engine would play a side file left by a crash into the new file.
        QTest::newRow("journal left") << QString() << QString("tarn_dat.mdb-journal") << true;
        QTest::newRow("log left") << QString() << QString("tarn_ref.mdb-wal") << false;
        QTest::newRow("dangling link") << QString() << QString("tarn_dat.mdb->gone.mdb") << true;
    }

    void createDataFiles()
    {
        QFETCH(QString, folder);
        QFETCH(QString, existing);
        QFETCH(bool, sample);
        QTemporaryDir root;
        AppState state(QDir(root.path()).filePath(folder));
        const QStringList link = existing.split("->");
        if (link.size() == 2)
            QVERIFY(QFile::link(link[1], QDir(root.path()).filePath(link[0])));
        else if (!existing.isEmpty())
            writeFile(QDir(root.path()).filePath(existing), "keep");
        const QMap<QString, QByteArray> before = snapshot(root.path());

        const Status created = tarn::createDataFiles(state, sample);
        if (!existing.isEmpty()) {
            QVERIFY(!created && created.message().contains(link[0]));
            QCOMPARE(snapshot(root.path()), before);
            return;
        }
        QVERIFY2(created, qPrintable(created.message()));
        QVERIFY2(startUp(state).status, "the new files start up");
        QCOMPARE(Peek(state.dataPath()).count("package") > 0, sample);
        QCOMPARE(Peek(state.refPath()).count("weapon") > 0, sample);
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
