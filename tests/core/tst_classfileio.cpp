// SPDX-License-Identifier: GPL-3.0-or-later
#include "classfile/linecodec.h"
#include "core/classfileio.h"
#include "store/schema.h"
#include "testsupport.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace tarn;
using namespace tarn::test;

namespace
{

const QByteArray kExample =
    "V3 17\r\nTest Config\r\n\r\n[Scout]\r\nmale grunt blue 3\r\n"
    "1 2 5 0 0 0 0 0 0 0\r\n1 0 0\r\n50 340 90  5  3\r\n100 25 10 2 50 5\r\n";

// The worked example's class with these columns changed; every other column 0.
void insertClass(const Peek &peek, QVariantMap row = {})
{
    const QString values =
        "class_name=Scout class_num=1 model_name=male skin_name1=grunt skin_name2=blue decoyskin=3 "
        "w1=1 w2=2 w3=5 g1=1 max_armor=50 max_speed=340 max_health=90 s1=1 s3=1 i1=1 i2=1 "
        "maxbullets=100 maxshells=25 maxrockets=10 maxgrenades=2 maxcells=50 maxslugs=5 "
        "package_name=Test_Config";
    for (const QString &pair : values.split(' ')) // stored as numbers where they are
        row.insert(pair.section('=', 0, 0),
                   row.value(pair.section('=', 0, 0), pair.section('=', 1).replace('_', ' ')));
    for (const QString &column : schema::classdefColumnNames())
        row.insert(column, row.value(column, 0));
    peek.exec(QStringLiteral("INSERT INTO classdef (%1) VALUES (%2)")
                  .arg(schema::joined(row.keys()), schema::placeholders(row.size())),
              row.values());
}

void insertRef(const Peek &peek, const QString &table, const QVariant &id)
{
    peek.exec(QStringLiteral("INSERT INTO %1 (%2_id, %2_name, qz_enabled) VALUES (?, ?, 1)")
                  .arg(table, table.left(1)),
              {id, "row " + id.toString()});
}

// A data directory with the worked example's configuration and reference rows.
struct Fixture {
    Fixture()
    {
        Peek data(dir.dataPath()), ref(dir.refPath());
        data.exec("INSERT INTO package (package_name) VALUES ('Test Config')");
        insertClass(data);
        for (int k = 0; k < 31; ++k) {
            insertRef(ref, "special", qint64(1) << k);
            if (k < 8)
                insertRef(ref, "item", qint64(1) << k);
        }
        state = &dir.start();
        state->setModId("17");
    }
    // Doubles the classes n times.
    void doubleClasses(int n) const
    {
        for (int i = 0; i < n; ++i)
            Peek(dir.dataPath())
                .exec(QStringLiteral("INSERT INTO classdef (%1) SELECT %1 FROM classdef")
                          .arg(schema::joined(schema::classdefColumnNames())));
    }

    DataDir dir{false};
    AppState *state = nullptr;
};

// What stands at a path, without opening it (a FIFO would block): its kind,
// and the bytes of a regular file or the target of a link.
QString entryAt(const QString &path)
{
    const QFileInfo info(path);
    if (info.isSymLink())
        return "link to " + info.symLinkTarget();
    if (!info.exists() || info.isDir())
        return info.exists() ? "folder" : "nothing";
    return info.isFile() ? "file " + readFile(path).toHex() : "fifo";
}

// Every column of a configuration's classes as its type and value, so that
// a number stored as text, or an empty text as NULL, shows.
QList<QVariantMap> typedClasses(const Peek &peek, const QString &package)
{
    QStringList typed;
    for (const QString &c : schema::classdefColumnNames())
        typed << (peek.onServer() ? QStringLiteral("coalesce(quote_literal(%1), 'NULL') AS %1")
                                  : QStringLiteral("typeof(%1) || ' ' || quote(%1) AS %1"))
                     .arg(c);
    return peek.rows("SELECT " + typed.join(", ") +
                         " FROM classdef WHERE package_name = ? ORDER BY class_num",
                     {package});
}

struct Trip {
    const char *name;
    bool protect;
    int classes;
    QByteArray header = {};
};
struct Export {
    const char *name;
    QString column; // of the second class; "modid"; "doubled": the classes doubled `value` times
    QVariant value;
    QString cause; // a part of the refusal; empty: written
    Fault fault = Fault::Refused;
    bool protect = false;
    QString target = "earlier.class", first = "file";
};

} // namespace

class tst_ClassFileIo : public QObject
{
    Q_OBJECT

private slots:
    void roundTrip_data()
    {
        // Classes 1: the worked example, whose file is compared byte for byte; else as
        // many with every column set. A header set: the Mod ID "café", a Latin-1 name,
        // and these bytes.
        addRows<Trip>({
            {"every column, scrambled", true, 3},
            {"every column, plain", false, 2},
            {"no class", false, 0},
            // The earlier program wrote the header as Latin-1; codes above 127 are not scrambled.
            {"Latin-1 header, plain", false, 1, "V3 caf\xE9\r\nGar\xE7ons Sauvages\r\n"},
            {"Latin-1 header, scrambled", true, 1,
             "\xD6\xB3\xA0\xE3\xE1\xE6\xE9\r\n"
             "\xC7\xE1\xF2\xE7\xEF\xEE\xF3\xA0\xD3\xE1\xF5\xF6\xE1\xE7\xE5\xF3\r\n"},
        });
    }

    void roundTrip()
    {
        QFETCH(Trip, row);
        Fixture f;
        Peek data(f.dir.dataPath());
        const QString config = row.header.isEmpty() ? "Test Config" : "Gar\u00E7ons Sauvages";
        if (!row.header.isEmpty()) {
            data.exec("UPDATE package SET package_name = ?", {config});
            data.exec("UPDATE classdef SET package_name = ?", {config});
            f.state->setModId("caf\u00E9");
        }
        if (row.classes != 1) // classes numbered 5, 2, 9 with a different value in every column
            data.exec("DELETE FROM classdef");
        int value = 1;
        for (int number : QList<int>{5, 2, 9}.first(row.classes == 1 ? 0 : row.classes)) {
            QVariantMap values;
            for (const schema::Column &c : schema::classdefColumns()) {
                if (c.kind == schema::Kind::YesNo) // all ticked in 9: the largest sums
                    values[c.name] = (number == 9 || value++ % 3) ? 1 : 0;
                else if (c.kind == schema::Kind::Text)
                    values[c.name] = QStringLiteral("%1-%2").arg(c.name).arg(value++);
                else
                    values[c.name] = (value++ * 37) % 65536 - 32768;
            }
            // Bytes above 127 stand in a plain class file as they are.
            values.insert({{"package_name", "Test Config"},
                           {"class_num", number},
                           {"decoyskin", -32768},
                           {"maxslugs", 32767},
                           {"model_name", number == 2 ? "" : "m"},
                           {"class_name", QStringLiteral("Class [%1] with spaces,\ta tab, a \\%2")
                                              .arg(number)
                                              .arg(row.protect ? "" : "\u0080")}});
            insertClass(data, values);
        }
        const QString path = f.dir.file("out.class");
        const Status exported = exportClassFile(*f.state, config, path, row.protect);
        QVERIFY2(exported, qPrintable(exported.message()));
        // Line ends (codes below 31) are never scrambled, so the whole file scrambles as one line.
        auto line = [&row](const QByteArray &bytes) {
            return QByteArray::fromStdString(
                classfile::ProtectLine(bytes.toStdString(), row.protect));
        };
        if (row.classes < 2)
            QCOMPARE(readFile(path), (row.header.isEmpty() ? line(kExample.left(20)) : row.header) +
                                         line(row.classes ? kExample.mid(20) : ""));
        const Status status = importClassFile(*f.state, "Back", path);
        QVERIFY2(status, qPrintable(status.message()));
        QCOMPARE(data.count("package"), 2);
        QCOMPARE(data.rows("SELECT detail FROM history WHERE package_name = 'Back'")
                     .value(0)
                     .value("detail"),
                 "out.class");
        QList<QVariantMap> before = typedClasses(data, config);
        const QList<QVariantMap> after = typedClasses(data, "Back");
        QCOMPARE(after.size(), row.classes);
        const QString number = data.onServer() ? "'%1'" : "integer %1";
        for (int i = 0; i < row.classes; ++i) {
            // Renumbered from 1; slot 1 is always written as 1; i9 has no box to carry it.
            before[i].insert({{"package_name", after[i]["package_name"]},
                              {"class_num", number.arg(i + 1)},
                              {"w1", number.arg(1)},
                              {"i9", number.arg(0)}});
            // By column, so that a failure names it.
            for (const QString &column : schema::classdefColumnNames())
                QCOMPARE(column + ' ' + after[i][column].toString(),
                         column + ' ' + before[i][column].toString());
        }
    }

    void importLeavesOnlyTheFile_data()
    {
        // 600 classes into "Back", where older versions left classes of "BACK" without
        // a configuration: exactly the file's classes, or nothing. A NUL in the last
        // class is kept in a file, refused by a server, whose text cannot hold it. Taken:
        // "BACK" is a configuration, whose classes stay as they were.
        QTest::addColumn<qint64>("cancelAt"); // on the progress scale; -1: never
        QTest::addColumn<bool>("nul");
        QTest::addColumn<bool>("taken");
        QTest::newRow("imported") << qint64(-1) << false << false;
        QTest::newRow("cancelled while reading") << kImportProgressHalf / 2 << false << false;
        QTest::newRow("cancelled while storing") << kImportProgressHalf * 3 / 2 << false << false;
        QTest::newRow("a NUL in the last class") << qint64(-1) << true << false;
        QTest::newRow("name taken") << qint64(-1) << false << true;
    }

    void importLeavesOnlyTheFile()
    {
        QFETCH(qint64, cancelAt);
        QFETCH(bool, nul);
        QFETCH(bool, taken);
        Fixture f;
        Peek peek(f.dir.dataPath());
        for (int number : {1, 5})
            insertClass(peek, {{"package_name", "BACK"}, {"class_num", number}});
        if (taken)
            peek.exec("INSERT INTO package (package_name) VALUES ('BACK')");
        const qint64 records = peek.count("history");
        QTemporaryDir tmp;
        qputenv("TMPDIR", QFile::encodeName(tmp.path()));
        QByteArray file = kExample.left(20);
        for (int i = 0; i < 600; ++i)
            file += kExample.mid(20).replace("[Scout]", "[C" + QByteArray::number(i + 1) + "]");
        if (nul)
            file.replace(file.lastIndexOf("grunt"), 5, QByteArray("gr\0nt", 5));
        writeFile(f.dir.file("in.class"), file);
        const bool stored = cancelAt < 0 && !(nul && peek.onServer()) && !taken;
        const Status status =
            importClassFile(*f.state, "Back", f.dir.file("in.class"),
                            [&](qint64 done, qint64) { return cancelAt < 0 || done < cancelAt; });
        qunsetenv("TMPDIR");
        QCOMPARE(status.fault(), stored         ? Fault::None
                                 : taken        ? Fault::Exists
                                 : cancelAt < 0 ? Fault::Refused
                                                : Fault::Cancelled);
        for (const char *fact : {"Red Skin", "C600", "\\x00"})
            QVERIFY(stored || cancelAt >= 0 || taken || status.message().contains(fact));
        QVERIFY(!taken || status.message().contains("'Back'"));
        QCOMPARE(peek.count("package"), stored || taken ? 2 : 1);
        QCOMPARE(peek.count("history"), records + (stored ? 1 : 0));
        const QList<QVariantMap> classes =
            peek.rows("SELECT class_num, class_name FROM classdef WHERE lower(package_name) = "
                      "'back' ORDER BY rowid");
        QCOMPARE(classes.size(), stored ? 600 : 2);
        QCOMPARE(classes.last()["class_name"], stored ? "C600" : "Scout");
        QCOMPARE(classes.last()["class_num"], stored ? 600 : 5);
        QCOMPARE(QDir(tmp.path()).entryList(QDir::Files | QDir::Hidden), QStringList());
    }

    void exportRefused_data()
    {
        // What the export refuses, in the second class or the header (the writer's own
        // refusals are tested with it: each kind once here, the field named as the class
        // editor labels it), or at the target: a name in the data folder and what stands
        // there first: a "file", a "fifo", a "folder", or a "link" to the next word (made
        // as "fifo" or "file" when named so, left dangling otherwise). A refusal leaves
        // what stood there; an empty cause: the export replaces it.
        const QString cannot = "holds the character '%1' (U+%2), which a %3class file cannot carry";
        const QString e = "\u00E9", euro = "\u20AC", smile = "\U0001F600";
        const QString range = "not a whole number", second = "\"Second\": ";
        const QString own = "TARN keeps its own data in that file; choose another file.";
        const QString pipe = "%1: this is a named pipe (FIFO), not a regular file";
        const Fault io = Fault::InputOutput, refused = Fault::Refused;
        addRows<Export>({
            {"scrambled é", "skin_name1", e,
             second + "Red Skin " + cannot.arg(e, "00E9", "scrambled "), refused, true},
            {"space", "skin_name2", "a b", second + "Blue Skin holds a space"},
            {"not Latin-1", "model_name", euro,
             second + "Model Name " + cannot.arg(euro, "20AC", "")},
            {"beyond the BMP", "class_name", "A" + smile,
             "class \"A" + smile + "\": Class Name " + cannot.arg(smile, "1F600", "")},
            {"Mod ID not Latin-1", "modid", smile, "The Mod ID " + cannot.arg(smile, "1F600", "")},
            {"Mod ID line break", "modid", "a\nb", "The Mod ID holds a line break"},
            {"empty number", "decoyskin", {}, second + "Decoy Skin # (blue) is empty"},
            {"empty slot", "w5", {}, second + "Weapon slot 5 is empty"},
            {"fraction", "g3", 2.5, "Grenade slot 3 holds '2.5', " + range},
            {"out of range", "maxslugs", 40000,
             second + "Slugs (Ammo Limits) holds '40000', " + range},
            {"cancelled", "doubled", 10, "Cancelled", Fault::Cancelled},
            {"id not whole", "i3", 1, "item sum: the id '2.5' of 'row 2.5' (box 3)"},
            {"new file", "", {}, "", Fault::None, false, "new.class", ""},
            {"file replaced", "", {}, "", Fault::None},
            {"FIFO", "", {}, pipe.arg("f.class"), io, false, "f.class", "fifo"},
            {"folder", "", {}, "d.class: this is a folder", io, false, "d.class", "folder"},
            {"link to a FIFO", "", {}, pipe.arg("l.class"), io, false, "l.class", "link fifo"},
            {"link to the data file", "", {}, own, refused, false, "l.class", "link tarn_dat.mdb"},
            {"dangling link, settings", "", {}, own, refused, false, "l.class", "link tarn.ini"},
            {"settings", "", {}, own, refused, false, "tarn.ini"},
            {"settings not there yet", "", {}, own, refused, false, "tarn.ini", ""},
            {"data file", "", {}, own, refused, false, "tarn_dat.mdb", "database"},
            {"through a linked folder", "", {}, own, refused, false, "alias/tarn.ini", ""},
        });
        // Side files are refused whether they exist or not; a stray one would change how
        // SQLite opens the database, so only their names are tried.
        for (const QString db : {"tarn_dat.mdb", "tarn_ref.mdb"})
            for (const char *side : {"-journal", "-wal", "-shm"})
                QTest::newRow(qPrintable(db + side))
                    << Export{"", "", {}, own, refused, false, db + side, ""};
    }

    void exportRefused()
    {
        QFETCH(Export, row);
        // A server's columns are typed: it rounds a fraction and refuses what lies beyond
        // 16 bits itself, nor does it hold the id 2.5 in box 3; it keeps no files in the folder.
        if (onTestServer() && (QStringList{"g3", "maxslugs", "i3"}.contains(row.column) ||
                               row.cause.contains("own data")))
            QSKIP("a value a server's typed column cannot hold, or a file it does not keep");
        Fixture f;
        QVariantMap second{{"class_name", "Second"}, {"class_num", 2}};
        if (row.column == "doubled") // so often that progress comes midway
            f.doubleClasses(row.value.toInt());
        else if (row.column == "modid")
            f.state->setModId(row.value.toString());
        else
            second[row.column] = row.value;
        if (row.column == "i3")
            insertRef(Peek(f.dir.refPath()), "item", 2.5);
        if (!row.column.isEmpty())
            insertClass(Peek(f.dir.dataPath()), second);
        const QDir dir(f.dir.path());
        QFile::link(dir.path(), dir.filePath("alias"));
        QFile::remove(dir.filePath("tarn.ini")); // unless the row makes it
        const QString path = dir.filePath(row.target);
        const QString link = row.first.startsWith("link ") ? row.first.section(' ', 1) : "";
        const QString made = link.isEmpty() ? path : dir.filePath(link);
        const QString kind = link.isEmpty() ? row.first : link;
        if (kind == "file")
            writeFile(made, "earlier\r\n");
        else if (kind == "fifo")
            QCOMPARE(::mkfifo(QFile::encodeName(made).constData(), 0600), 0);
        else if (kind == "folder")
            QVERIFY(dir.mkdir(row.target));
        if (!link.isEmpty())
            QVERIFY(QFile::link(link, path));
        const QString before = entryAt(path);
        const QStringList entries = dir.entryList(QDir::AllEntries | QDir::System | QDir::Hidden);

        auto halfway = [](qint64 done, qint64 total) {
            return done < total / 2;
        };
        const Status status =
            exportClassFile(*f.state, "Test Config", path, row.protect,
                            row.column == "doubled" ? ClassFileProgress(halfway) : nullptr);
        QCOMPARE(status.fault(), row.fault);
        if (row.cause.isEmpty()) {
            QCOMPARE(readFile(path), kExample);
            return;
        }
        const QString cause =
            row.cause.startsWith(row.target + ':') ? dir.filePath(row.cause) : row.cause;
        QVERIFY2(status.message().contains(path) && status.message().contains(cause),
                 qPrintable(status.message()));
        QCOMPARE(entryAt(path), before);
        QCOMPARE(dir.entryList(QDir::AllEntries | QDir::System | QDir::Hidden), entries);
    }

    void flagSum_data()
    {
        // Row k's box is flag k; flags beyond the last are the boxes not ticked or not shown.
        QTest::addColumn<QVariantList>("ids");
        QTest::addColumn<QList<bool>>("flags");
        QTest::addColumn<QString>("result"); // the sum or the refusal
        QVariantList forty;                  // beyond the boxes: never looked at
        for (int k = 0; k < 40; ++k)
            forty << (k < 31 ? QVariant(qint64(1) << k) : QVariant());
        using Flags = QList<bool>;
        QTest::newRow("5 items, all 8 flags") << forty.mid(0, 5) << Flags(8, true) << "31";
        QTest::newRow("12 items, ids not powers of two")
            << QVariantList{3, 5, 6, 7, 9, 10, 11, 12, 13, 14, 15, 16}
            << Flags{true, false, true, false, false, false, false, true} << "21";
        QTest::newRow("40 specials, all") << forty << Flags(31, true) << "2147483647";
        QTest::newRow("bad id not ticked")
            << QVariantList{1, "x", 4} << Flags{true, false, true} << "5";
        QTest::newRow("bad id ticked") << QVariantList{1, "x", 4} << Flags{true, true, true}
                                       << "the id 'x' of 'r1' (box 2) is not a whole 32-bit number";
        QTest::newRow("negative sum")
            << QVariantList{INT_MIN, 1} << Flags{true, false} << "-2147483648";
        QTest::newRow("sum beyond 32 bits")
            << QVariantList{1 << 30, 1 << 30} << Flags{true, true}
            << "the sum of the ticked ids, 2147483648, lies beyond the 32-bit range";
    }

    void flagSum()
    {
        QFETCH(QVariantList, ids);
        QFETCH(QList<bool>, flags);
        QFETCH(QString, result);
        QList<RefEntry> rows;
        for (int i = 0; i < ids.size(); ++i) // every other row disabled: they count all the same
            rows.append({ids[i], QStringLiteral("r%1").arg(i), int(i % 2 == 0)});
        const Result<qint32> sum =
            tarn::flagSum(rows, std::span<const bool>(flags.constData(), size_t(flags.size())));
        QCOMPARE(sum ? QString::number(*sum) : sum.message(), result);
    }

    void changedMidway()
    {
        // Another program deletes the configuration once the export has begun, and a
        // window checks for changes while the export reads the rows (its progress lets
        // the event loop run): the file holds the configuration as it was when the
        // export began, neither cut short nor broken.
        Fixture f;
        Peek data(f.dir.dataPath());
        if (!data.onServer()) // so that the deletion gets through
            data.exec("PRAGMA journal_mode = WAL");
        f.doubleClasses(9); // 512 classes: progress comes midway
        const QByteArray whole = kExample.left(20) + kExample.mid(20).repeated(512);
        int calls = 0;
        auto meanwhile = [&](qint64 done, qint64 total) {
            for (const char *table : {"classdef", "package"})
                if (calls == 0)
                    data.exec(QStringLiteral("DELETE FROM %1").arg(table));
            if (calls++ > 0 && done < total)
                std::ignore = f.state->data().changedElsewhere();
            return true;
        };
        const QString path = f.dir.file("out.class");
        const Status status = exportClassFile(*f.state, "Test Config", path, false, meanwhile);
        QVERIFY2(status, qPrintable(status.message()));
        QVERIFY(calls > 2);
        QCOMPARE(readFile(path), whole);
        // Once gone, the configuration is refused by name.
        const Status gone = exportClassFile(*f.state, "Test Config", path, false);
        QVERIFY(gone.fault() == Fault::NotFound && gone.message().contains("'Test Config'"));
        QCOMPARE(readFile(path), whole);
    }
};

QTEST_GUILESS_MAIN(tst_ClassFileIo)
#include "tst_classfileio.moc"
