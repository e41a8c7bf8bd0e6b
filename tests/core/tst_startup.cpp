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

    void dataFolderRule_data()
    {
        QTest::addColumn<QStringList>("inProgramDir"); // data files beside the program
        QTest::addColumn<bool>("own");                 // the program's folder is chosen
        // Half a data folder is still the program's: its start-up reports what is missing.
        QTest::newRow("data file only") << QStringList{"tarn_dat.mdb"} << true;
        QTest::newRow("ref file only") << QStringList{"tarn_ref.mdb"} << true;
        QTest::newRow("settings only") << QStringList{"tarn.ini"} << false;
        QTest::newRow("none") << QStringList() << false;
    }

    void dataFolderRule()
    {
        QFETCH(QStringList, inProgramDir);
        QFETCH(bool, own);
        QTemporaryDir program, user;
        for (const QString &name : inProgramDir)
            writeFile(QDir(program.path()).filePath(name), "x");
        QCOMPARE(chooseDataDir(program.path(), user.path()), own ? program.path() : user.path());
    }

    void userDataFolder_data()
    {
        // XDG_DATA_HOME and HOME (null: unset); the folder found, or none.
        QTest::addColumn<QString>("xdg");
        QTest::addColumn<QString>("home");
        QTest::addColumn<QString>("folder");
        QTest::newRow("XDG_DATA_HOME") << "/x" << QString() << "/x/tarn";
        QTest::newRow("relative one ignored") << "x"
                                              << "/h"
                                              << "/h/.local/share/tarn";
        QTest::newRow("no HOME") << QString() << QString() << QString();
        QTest::newRow("relative HOME") << QString() << "h" << QString();
    }

    void userDataFolder()
    {
        QFETCH(QString, xdg);
        QFETCH(QString, home);
        QFETCH(QString, folder);
        auto set = [](const char *name, const QByteArray &value) {
            value.isNull() ? qunsetenv(name) : qputenv(name, value);
        };
        const QByteArray oldXdg = qgetenv("XDG_DATA_HOME"), oldHome = qgetenv("HOME");
        const auto restore = qScopeGuard([&] {
            set("XDG_DATA_HOME", oldXdg);
            set("HOME", oldHome);
        });
        set("XDG_DATA_HOME", xdg.isNull() ? QByteArray() : xdg.toUtf8());
        set("HOME", home.isNull() ? QByteArray() : home.toUtf8());
        QCOMPARE(userDataDir(), folder);
        const Result<QString> location = chooseLocation({}, {});
        if (folder.isEmpty())
            QVERIFY(!location && location.message().contains("Name one with --data-dir DIR"));
        else
            QCOMPARE(*location, folder);
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
        // they wrote is read back as well.
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("modId"); // as read back, by itself and at start-up
        const QString reads;                // null: the row reads
        QTest::newRow("no file") << reads << QByteArray() << "0";
        QTest::newRow("blank lines") << reads << QByteArray("\r\n  \r\n") << "0";
        QTest::newRow("spaces round quotes") << reads << QByteArray("   \"abc\"   \r\n") << "abc";
        QTest::newRow("unquoted stops at comma") << reads << QByteArray("abc,def\r\n") << "abc";
        QTest::newRow("quoted keeps comma") << reads << QByteArray("\"a,b\",c\r\n") << "a,b";
        QTest::newRow("unquoted trimmed") << reads << QByteArray("  x y  \r\n") << "x y";
        QTest::newRow("empty quotes") << reads << QByteArray("\"\"\r\n") << "";
        QTest::newRow("LF, quote not closed") << reads << QByteArray("\"lf\nx\"\n") << "lf";
        QTest::newRow("CR, quote not closed") << reads << QByteArray("\"open\r\nx\"\r\n") << "open";
        QTest::newRow("no line end") << reads << QByteArray("\"bare\"") << "bare";
        QTest::newRow("only first line") << reads << QByteArray("\"one\"\r\n\"two\"\r\n") << "one";
        QTest::newRow("write keeps spaces on disk") << " 7 " << QByteArray("\" 7 \"\r\n") << "7";
        QTest::newRow("write quote unchanged") << "ab\"cd" << QByteArray("\"ab\"cd\"\r\n") << "ab";
        QTest::newRow("write latin-1") << "é" << QByteArray("\"\xe9\"\r\n") << "é";
        QTest::newRow("write refuses a line break") << "a\nb" << QByteArray() << "old";
        const QString m(32764, 'm');
        QTest::newRow("write longest") << m << '"' + m.toLatin1() + "\"\r\n" << m;
        QTest::newRow("write refuses longer than line 1 holds") << m + 'm' << QByteArray() << "old";
    }

    void modIdReadWrite()
    {
        QFETCH(QString, typed);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, modId);
        DataDir dir;
        const QString path = dir.file(QStringLiteral("tarn.ini"));
        if (!typed.isNull()) {
            writeFile(path, "\"old\"\r\n");
            const Status status = settings::WriteModID(path, typed);
            QCOMPARE(bool(status), !bytes.isNull());
            QVERIFY2(status || status.message().startsWith("The Mod ID "),
                     qPrintable(status.message()));
            QCOMPARE(readFile(path), bytes.isNull() ? QByteArray("\"old\"\r\n") : bytes);
        } else if (!bytes.isNull()) {
            writeFile(path, bytes);
        }
        QCOMPARE(settings::ReadModID(path), modId);
        QCOMPARE(dir.start().modId(), modId);
        QCOMPARE(QFile::exists(path), !typed.isNull() || !bytes.isNull()); // start-up writes none
    }
};

QTEST_GUILESS_MAIN(tst_Startup)
#include "tst_startup.moc"
