#include "classfile/linecodec.h"
#include "core/classfileio.h"
#include "store/schema.h"
#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <utility>

using namespace tarn;
using namespace tarn::test;

namespace
{

// Every classdef column with a value: the worked example's class.
QVariantMap exampleClass()
{
    QVariantMap row;
    for (const QString &column : schema::classdefColumnNames())
        row[column] = 0;
    const QString values =
        "class_name=Scout class_num=1 model_name=male skin_name1=grunt skin_name2=blue decoyskin=3 "
        "w1=1 w2=2 w3=5 g1=1 max_armor=50 max_speed=340 max_health=90 s1=1 s3=1 i1=1 i2=1 "
        "maxbullets=100 maxshells=25 maxrockets=10 maxgrenades=2 maxcells=50 maxslugs=5";
    for (const QString &pair : values.split(' '))
        row[pair.section('=', 0, 0)] = pair.section('=', 1); // stored as numbers where they are
    row["package_name"] = "Test Config";
    return row;
}

void insertClass(const Peek &peek, const QVariantMap &row)
{
    peek.exec(QStringLiteral("INSERT INTO classdef (%1) VALUES (%2)")
                  .arg(schema::joined(row.keys()), schema::placeholders(row.size())),
              row.values());
}

void insertRefs(const Peek &peek, const QString &table, const QVariantList &ids)
{
    for (const QVariant &id : ids)
        peek.exec(QStringLiteral("INSERT INTO %1 (%2_id, %2_name, qz_enabled) VALUES (?, ?, 1)")
                      .arg(table, table.left(1)),
                  {id, QStringLiteral("row %1").arg(id.toString())});
}

QVariantList powersOfTwo(int count)
{
    QVariantList ids;
    for (int k = 0; k < count; ++k)
        ids << (qint64(1) << k);
    return ids;
}

const QByteArray kExample =
    "V3 17\r\nTest Config\r\n\r\n[Scout]\r\nmale grunt blue 3\r\n"
    "1 2 5 0 0 0 0 0 0 0\r\n1 0 0\r\n50 340 90  5  3\r\n100 25 10 2 50 5\r\n";

// A data directory with the worked example's configuration and reference rows.
struct Fixture {
    Fixture()
    {
        Peek data(dir.dataPath()), ref(dir.refPath());
        data.exec("INSERT INTO package (package_name) VALUES ('Test Config')");
        insertClass(data, exampleClass());
        insertRefs(ref, "item", powersOfTwo(8));
        insertRefs(ref, "special", powersOfTwo(31));
        state = &dir.start();
        state->setModId("17");
    }

    DataDir dir{false};
    AppState *state = nullptr;
};

QString notExported(const QString &path, const QString &cause)
{
    return QStringLiteral("Could not export the configuration 'Test Config' to %1.\n%2")
        .arg(path, cause);
}

// What stands at a path, without opening it (a FIFO would block): its kind,
// and the bytes of a regular file or the target of a link.
QString entryAt(const QString &path)
{
    const QFileInfo info(path);
    if (info.isSymLink())
        return "link to " + info.symLinkTarget();
    if (!info.exists())
        return "nothing";
    if (info.isDir())
        return "folder";
    return info.isFile() ? "file " + readFile(path).toHex() : "fifo";
}

} // namespace

class tst_ClassFileIo : public QObject
{
    Q_OBJECT

private slots:
    void roundTrip_data()
    {
        QTest::addColumn<bool>("protect");
        // Classes 1: the worked example; else as many with every column set. A header
        // set: the Mod ID "café", a Latin-1 name, and these bytes.
        QTest::addColumn<int>("classes");
        QTest::addColumn<QByteArray>("header");
        // The worked example's file is compared byte for byte in the Latin-1 rows.
        QTest::newRow("every column, scrambled") << true << 3 << QByteArray();
        QTest::newRow("no class") << false << 0 << QByteArray();
        // The earlier program wrote the header as Latin-1; codes above 127 are not scrambled.
        QTest::newRow("Latin-1 header, plain")
            << false << 1 << QByteArray("V3 caf\xE9\r\nGar\xE7ons Sauvages\r\n");
        QTest::newRow("Latin-1 header, scrambled")
            << true << 1
            << QByteArray("\xD6\xB3\xA0\xE3\xE1\xE6\xE9\r\n"
                          "\xC7\xE1\xF2\xE7\xEF\xEE\xF3\xA0\xD3\xE1\xF5\xF6\xE1\xE7\xE5\xF3\r\n");
    }

    void roundTrip()
    {
        QFETCH(bool, protect);
        QFETCH(int, classes);
        QFETCH(QByteArray, header);
        Fixture f;
        QString config = "Test Config";
        if (!header.isEmpty()) {
            config = QString::fromUtf8("Gar\u00E7ons Sauvages");
            Peek data(f.dir.dataPath());
            data.exec("UPDATE package SET package_name = ?", {config});
            data.exec("UPDATE classdef SET package_name = ?", {config});
            f.state->setModId(QString::fromUtf8("caf\u00E9"));
        }
        if (classes != 1) { // classes numbered 5, 2, 9 with a different value in every column
            Peek data(f.dir.dataPath());
            data.exec("DELETE FROM classdef");
            int value = 1;
            for (int number : QList<int>{5, 2, 9}.first(classes)) {
                QVariantMap row;
                for (const schema::Column &c : schema::classdefColumns()) {
                    if (c.kind == schema::Kind::YesNo)
                        row[c.name] = (value++ % 3) ? 1 : 0;
                    else if (c.kind == schema::Kind::Text)
                        row[c.name] = QStringLiteral("%1-%2").arg(c.name).arg(value++);
                    else
                        row[c.name] = (value++ * 37) % 65536 - 32768;
                }
                row["package_name"] = "Test Config";
                row["class_num"] = number;
                row["class_name"] =
                    QStringLiteral("Class [%1] with spaces,\ta tab, a \\").arg(number);
                row["model_name"] = number == 2 ? QString() : QStringLiteral("m%1").arg(number);
                insertClass(data, row);
            }
        }
        const QString path = f.dir.file("out.class");
        const Status exported = exportClassFile(*f.state, config, path, protect);
        QVERIFY2(exported, qPrintable(exported.message()));
        // Line ends (codes below 31) are never scrambled, so the whole file scrambles as one line.
        auto line = [protect](const QByteArray &bytes) {
            return QByteArray::fromStdString(classfile::ProtectLine(bytes.toStdString(), protect));
        };
        if (classes < 2)
            QCOMPARE(readFile(path), (header.isEmpty() ? line(kExample.left(20)) : header) +
                                         line(classes ? kExample.mid(20) : ""));
        const Status status = importClassFile(*f.state, "Back", path);
        QVERIFY2(status, qPrintable(status.message()));
        Peek peek(f.dir.dataPath());
        QCOMPARE(peek.count("package"), 2);
        const QString select = "SELECT * FROM classdef WHERE package_name = ? ORDER BY class_num";
        QList<QVariantMap> before = peek.rows(select, {config});
        const QList<QVariantMap> after = peek.rows(select, {"Back"});
        QCOMPARE(after.size(), classes);
        for (int i = 0; i < classes; ++i) {
            // Renumbered from 1; slot 1 is always written as 1; i9 has no box to carry it.
            before[i].insert(
                {{"package_name", "Back"}, {"class_num", i + 1}, {"w1", 1}, {"i9", 0}});
            // By column, so that a failure names it.
            for (const QString &column : schema::classdefColumnNames())
                QCOMPARE(column + ' ' + after[i][column].toString(),
                         column + ' ' + before[i][column].toString());
        }
    }

    void importLeavesOnlyTheFile_data()
    {
        // 600 classes into "Back", where older versions left classes of "BACK"
        // without a configuration: exactly the file's classes, or nothing.
        QTest::addColumn<qint64>("cancelAt"); // on the progress scale; -1: never
        QTest::addColumn<bool>("nul");        // in a skin of the last class
        const qint64 half = kImportProgressHalf;
        QTest::newRow("imported") << qint64(-1) << false;
        QTest::newRow("cancelled while reading") << half / 2 << false;
        QTest::newRow("cancelled while storing") << half + half / 2 << false;
        // Kept in a file, refused by a server, whose text cannot hold it.
        QTest::newRow("a NUL in the last class") << qint64(-1) << true;
    }

    void importLeavesOnlyTheFile()
    {
        QFETCH(qint64, cancelAt);
        QFETCH(bool, nul);
        Fixture f;
        Peek peek(f.dir.dataPath());
        for (int number : {1, 5}) {
            QVariantMap stray = exampleClass();
            stray.insert({{"package_name", "BACK"}, {"class_num", number}});
            insertClass(peek, stray);
        }
        QTemporaryDir tmp;
        qputenv("TMPDIR", QFile::encodeName(tmp.path()));
        const QString path = f.dir.file("in.class");
        QByteArray file = kExample.left(20);
        for (int i = 0; i < 600; ++i)
            file += kExample.mid(20).replace("[Scout]", "[C" + QByteArray::number(i + 1) + "]");
        if (nul)
            file.replace(file.lastIndexOf("grunt"), 5, QByteArray("gr\0nt", 5));
        writeFile(path, file);
        const bool stored = cancelAt < 0 && !(nul && peek.onServer());
        qint64 last = -1;
        bool steady = true;
        const Status status =
            importClassFile(*f.state, "Back", path, [&](qint64 done, qint64 total) {
                steady = steady && done >= last && total == 2 * kImportProgressHalf;
                last = done;
                return cancelAt < 0 || done < cancelAt;
            });
        qunsetenv("TMPDIR");
        QCOMPARE(status ? QString() : status.message().section('\n', -1),
                 stored         ? QString()
                 : cancelAt < 0 ? "Red Skin of class 600 ('C600') holds the character \\x00, "
                                  "which a database on a server cannot store."
                                : "Cancelled: nothing was written or stored.");
        QVERIFY(steady);
        // Cancelled in the pass it was asked for (0: reading, 1: storing).
        if (cancelAt >= 0)
            QCOMPARE(last / kImportProgressHalf, cancelAt / kImportProgressHalf);
        else if (stored)
            QCOMPARE(last, 2 * kImportProgressHalf);
        QCOMPARE(peek.count("package"), stored ? 2 : 1);
        const QList<QVariantMap> classes = peek.rows(
            "SELECT class_num, class_name FROM classdef WHERE lower(package_name) = 'back' "
            "ORDER BY rowid");
        QCOMPARE(classes.size(), stored ? 600 : 2);
        if (stored)
            QCOMPARE(classes.last(), (QVariantMap{{"class_num", 600}, {"class_name", "C600"}}));
        QCOMPARE(QDir(tmp.path()).entryList(QDir::Files | QDir::Hidden), QStringList());
    }

    void exportRefusals_data()
    {
        QTest::addColumn<QString>("column");
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<bool>("protect");
        QTest::addColumn<QString>("cause");
        // The writer's own refusals are tested with it: each kind once here, the
        // field named as the class editor labels it.
        auto row = [](const char *name, const char *column, const QVariant &value, bool protect,
                      const QString &cause) {
            QTest::newRow(name) << column << value << protect << cause;
        };
        const QString cannot = "holds the character '%1' (U+%2), which a %3class file cannot carry";
        const QString second = "class \"Second\": ",
                      range = "not a whole number from -32768 to 32767";
        const QString e = QString::fromUtf8("\u00E9"), euro = QString::fromUtf8("\u20AC"),
                      smile = QString::fromUtf8("\U0001F600");
        row("scrambled é", "skin_name1", e, true,
            second + "Red Skin " + cannot.arg(e, "00E9", "scrambled "));
        row("space", "skin_name2", "a b", false, second + "Blue Skin holds a space");
        row("not Latin-1", "model_name", euro, false,
            second + "Model Name " + cannot.arg(euro, "20AC", ""));
        row("beyond the BMP", "class_name", "A" + smile, false,
            "class \"A" + smile + "\": Class Name " + cannot.arg(smile, "1F600", ""));
        row("Mod ID not Latin-1", "modid", smile, true,
            "The Mod ID " + cannot.arg(smile, "1F600", ""));
        row("Mod ID line break", "modid", "a\nb", false, "The Mod ID holds a line break");
        row("empty number", "decoyskin", {}, false, second + "Decoy Skin # (blue) is empty");
        row("empty slot", "w5", {}, false, second + "Weapon slot 5 is empty");
        row("fraction", "g3", 2.5, false, second + "Grenade slot 3 holds '2.5', " + range);
        row("out of range", "maxslugs", 40000, true,
            second + "Slugs (Ammo Limits) holds '40000', " + range);
        row("cancelled", "", 10, true, "Cancelled: nothing was written or stored.");
        row("id not whole", "i3", 1, true,
            second + "item sum: the id '2.5' of 'row 2.5' (box 3) is not a whole 32-bit number");
    }

    void exportRefusals()
    {
        QFETCH(QString, column);
        QFETCH(QVariant, value);
        QFETCH(bool, protect);
        QFETCH(QString, cause);
        Fixture f;
        Peek data(f.dir.dataPath());
        QVariantMap second = exampleClass();
        second.insert({{"class_name", "Second"}, {"class_num", 2}});
        if (column.isEmpty()) { // the classes doubled so often that progress comes midway
            for (int i = 0; i < value.toInt(); ++i)
                data.exec(QStringLiteral("INSERT INTO classdef (%1) SELECT %1 FROM classdef")
                              .arg(schema::joined(schema::classdefColumnNames())));
        } else if (column == "modid") {
            f.state->setModId(value.toString());
        } else {
            // A server's columns are typed: it rounds a fraction and refuses what
            // lies beyond 16 bits itself; nor does it hold the id 2.5 in box 3.
            bool whole = false;
            const int number = value.toInt(&whole);
            if (onTestServer() &&
                (column == "i3" ||
                 (!value.isNull() && value.typeId() != QMetaType::QString &&
                  (!whole || value.toDouble() != number || number != qint16(number)))))
                QSKIP("a value a server's typed column cannot hold");
            second[column] = value;
        }
        if (column == "i3")
            insertRefs(Peek(f.dir.refPath()), "item", {2.5});
        insertClass(data, second);
        const QString path = f.dir.file("earlier.class");
        writeFile(path, "earlier export\r\n");
        const Status status =
            exportClassFile(*f.state, "Test Config", path, protect,
                            [](qint64 done, qint64 total) { return done < total / 2; });
        QCOMPARE(status.message(), notExported(path, cause));
        QCOMPARE(readFile(path), QByteArray("earlier export\r\n"));
        QCOMPARE(QDir(f.dir.path()).entryList(QDir::Files).filter(".class"),
                 QStringList{"earlier.class"});
    }

    void flagSum_data()
    {
        // Row k's box is flag k; flags beyond the last are the boxes not ticked or not shown.
        QTest::addColumn<QVariantList>("ids");
        QTest::addColumn<QList<bool>>("flags");
        QTest::addColumn<QString>("result"); // the sum or the refusal
        using Ids = QVariantList;
        using Flags = QList<bool>;
        QTest::newRow("5 items, all 8 flags") << powersOfTwo(5) << Flags(8, true) << "31";
        QTest::newRow("12 items, ids not powers of two")
            << Ids{3, 5, 6, 7, 9, 10, 11, 12, 13, 14, 15, 16}
            << Flags{true, false, true, false, false, false, false, true} << "21";
        Ids forty = powersOfTwo(31);
        for (int i = 0; i < 9; ++i)
            forty << QVariant(); // beyond the boxes: never looked at
        QTest::newRow("40 specials, all") << forty << Flags(31, true) << "2147483647";
        QTest::newRow("bad id not ticked") << Ids{1, "x", 4} << Flags{true, false, true} << "5";
        QTest::newRow("bad id ticked") << Ids{1, "x", 4} << Flags{true, true, true}
                                       << "the id 'x' of 'r1' (box 2) is not a whole 32-bit number";
        QTest::newRow("negative sum")
            << Ids{-2147483647 - 1, 1} << Flags{true, false} << "-2147483648";
        QTest::newRow("sum beyond 32 bits")
            << Ids{1 << 30, 1 << 30} << Flags{true, true}
            << "the sum of the ticked ids, 2147483648, lies beyond the 32-bit range";
    }

    void flagSum()
    {
        QFETCH(QVariantList, ids);
        QFETCH(QList<bool>, flags);
        QFETCH(QString, result);
        QList<RefEntry> rows;
        for (int i = 0; i < ids.size(); ++i) // every other row disabled: they count all the same
            rows.append({ids[i], QStringLiteral("r%1").arg(i), i % 2 ? QVariant(0) : QVariant(1)});
        const Result<qint32> sum =
            tarn::flagSum(rows, std::span<const bool>(flags.constData(), size_t(flags.size())));
        QCOMPARE(sum ? QString::number(*sum) : sum.message(), result);
    }

    void exportTargets_data()
    {
        // The target, a name in the data folder, and what stands there first: nothing, a
        // "file", a "fifo", a "folder", or a "link" to the next word (made as "fifo" or "file"
        // when named so, left dangling otherwise); an empty cause: the export replaces it.
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("cause");
        const QString own = "TARN keeps its own data in that file; choose another file.";
        const QString pipe = "%1: this is a named pipe (FIFO), not a regular file";
        auto row = [](const char *name, const char *target, const char *first,
                      const QString &cause) {
            QTest::newRow(name) << target << first << cause;
        };
        row("new file", "new.class", "", "");
        row("file replaced", "old.class", "file", "");
        row("FIFO", "f.class", "fifo", pipe.arg("f.class"));
        row("folder", "d.class", "folder", "d.class: this is a folder, not a file");
        row("link to a FIFO", "l.class", "link fifo", pipe.arg("l.class"));
        row("link to the data file", "l.class", "link tarn_dat.mdb", own);
        row("dangling link to the settings", "l.class", "link tarn.ini", own);
        row("settings", "tarn.ini", "file", own);
        row("settings not there yet", "tarn.ini", "", own);
        row("data file", "tarn_dat.mdb", "database", own);
        row("through a linked folder", "alias/tarn.ini", "", own);
        // Side files are refused whether they exist or not; a stray one would change how
        // SQLite opens the database, so only their names are tried.
        for (const char *db : {"tarn_dat.mdb", "tarn_ref.mdb"})
            for (const char *side : {"-journal", "-wal", "-shm"})
                row(qPrintable(QString(db) + side), qPrintable(QString(db) + side), "", own);
    }

    void exportTargets()
    {
        QFETCH(QString, target);
        QFETCH(QString, first);
        QFETCH(QString, cause);
        if (onTestServer() && cause.contains("own data"))
            QSKIP("a server keeps no files in the folder");
        Fixture f;
        const QDir dir(f.dir.path());
        QFile::link(dir.path(), dir.filePath("alias"));
        auto make = [&dir](const QString &name, const QString &kind) {
            const QString path = dir.filePath(name);
            if (kind == "file")
                writeFile(path, "earlier\r\n");
            else if (kind == "fifo")
                QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
            else if (kind == "folder")
                QVERIFY(dir.mkdir(name));
        };
        const QString path = dir.filePath(target);
        if (first.startsWith("link ")) {
            const QString to = first.section(' ', 1);
            make(to, to);
            QVERIFY(QFile::link(to, path));
        } else {
            make(target, first);
        }
        QFile::remove(dir.filePath("tarn.ini")); // unless the row made it
        if (target == "tarn.ini" && first == "file")
            make(target, first);
        const QString before = entryAt(path);
        const QStringList entries = dir.entryList(QDir::AllEntries | QDir::System | QDir::Hidden);

        const Status status = exportClassFile(*f.state, "Test Config", path, false);
        if (cause.isEmpty()) {
            QVERIFY2(status, qPrintable(status.message()));
            QCOMPARE(readFile(path), kExample);
            return;
        }
        QCOMPARE(status.message(),
                 notExported(path, cause.contains(':') ? dir.filePath(cause) : cause));
        QCOMPARE(entryAt(path), before);
        QCOMPARE(dir.entryList(QDir::AllEntries | QDir::System | QDir::Hidden), entries);
    }

    void configurationDeletedMidway()
    {
        // Another program deletes the configuration once the export has begun: the
        // file holds the configuration as it was when the export began.
        Fixture f;
        if (!onTestServer()) // so that the deletion gets through
            Peek(f.dir.dataPath()).exec("PRAGMA journal_mode = WAL");
        const QString path = f.dir.file("out.class");
        bool deleted = false;
        auto deleteOnce = [&](qint64, qint64) {
            if (!std::exchange(deleted, true))
                for (const char *table : {"classdef", "package"})
                    Peek(f.dir.dataPath()).exec(QStringLiteral("DELETE FROM %1").arg(table));
            return true;
        };
        const Status status = exportClassFile(*f.state, "Test Config", path, false, deleteOnce);
        QVERIFY2(status, qPrintable(status.message()));
        QVERIFY(deleted);
        QCOMPARE(readFile(path), kExample);
        // Once gone, the configuration is refused by name.
        QCOMPARE(exportClassFile(*f.state, "Test Config", path, false).message(),
                 notExported(path, "There is no configuration named 'Test Config'."));
    }

    void ownConnectionUsedMidway()
    {
        // A window's check for changes while an export reads the rows (its
        // progress lets the event loop run) neither cuts the export short nor
        // breaks it.
        Fixture f;
        for (int i = 0; i < 9; ++i) // 512 classes: progress comes midway
            Peek(f.dir.dataPath())
                .exec(QStringLiteral("INSERT INTO classdef (%1) SELECT %1 FROM classdef")
                          .arg(schema::joined(schema::classdefColumnNames())));
        int checks = 0;
        auto check = [&](qint64 done, qint64 total) {
            if (done > 0 && done < total) {
                ++checks;
                std::ignore = f.state->data().changedElsewhere();
            }
            return true;
        };
        const QString path = f.dir.file("out.class");
        const Status status = exportClassFile(*f.state, "Test Config", path, false, check);
        QVERIFY2(status, qPrintable(status.message()));
        QVERIFY(checks > 0);
        QCOMPARE(readFile(path).count("\r\n["), 512);
        QVERIFY(exportClassFile(*f.state, "Test Config", path, false));
    }
};

QTEST_GUILESS_MAIN(tst_ClassFileIo)
#include "tst_classfileio.moc"
