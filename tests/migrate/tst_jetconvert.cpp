// SPDX-License-Identifier: GPL-3.0-or-later
#include "migrate/jetconvert.h"
#include "migrate/jetdump.h"
#include "store/schema.h"
#include "testsupport.h"

#include <QFile>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace tarn;
using namespace tarn::jet;
using namespace tarn::test;

namespace
{

// A table of the Jet test files as their README lists it: a line a row, or
// a line a column when transposed; cells are `text`, NULL, true/false, numbers.
// What it must read as: its column names, then a line a row with each value as
// SQLite's quote() shows it ('text', NULL, 12).
struct LegacyTable {
    QString file, table;
    bool transposed = false;
    QList<QStringList> cells{};
    QStringList lines{};
};

// Every table of the Jet test files, in the order the README lists them.
QList<LegacyTable> legacyTables()
{
    static const QRegularExpression fileHeading("^## `(.+\\.mdb)`$");
    static const QRegularExpression tableHeading(
        "^### Table `(\\w+)` \\(\\d+ rows(, transposed)?\\)$");
    QList<LegacyTable> tables;
    QString file;
    bool inTable = false;
    for (const QString &line :
         QString::fromUtf8(readFile(TARN_LEGACY_DATA "/README.md")).split('\n')) {
        if (const QRegularExpressionMatch m = fileHeading.match(line); m.hasMatch()) {
            file = m.captured(1);
        } else if (const QRegularExpressionMatch m = tableHeading.match(line); m.hasMatch()) {
            tables.append({file, m.captured(1), !m.captured(2).isEmpty()});
            inTable = true;
        } else if (inTable && line.startsWith('|') && !line.startsWith("|---")) {
            QStringList cells = line.split('|').mid(1);
            cells.removeLast();
            for (QString &cell : cells) {
                cell = cell.trimmed();
                if (cell == "true" || cell == "false") // Yes/No is stored as 1/0
                    cell = QString::number(cell == "true");
                else if (cell.startsWith('`'))
                    cell = '\'' + cell.mid(1, cell.size() - 2).replace('\'', "''") + '\'';
            }
            tables.last().cells << cells;
        } else if (inTable && !line.startsWith('|') && !tables.last().cells.isEmpty()) {
            inTable = false;
        }
    }
    for (LegacyTable &table : tables) {
        if (table.transposed && !table.cells.isEmpty()) {
            QList<QStringList> rows(table.cells.first().size());
            for (const QStringList &line : std::as_const(table.cells))
                for (qsizetype c = 0; c < line.size(); ++c)
                    rows[c] << line.at(c);
            table.cells = rows;
        }
        for (const QStringList &line : std::as_const(table.cells))
            table.lines << line.mid(1).join(" | "); // without the row number
        if (!table.lines.isEmpty())
            table.lines.first().remove('\'');
    }
    return tables;
}

struct Refused {
    const char *name;
    QByteArray ref, reader; // empty: a sound copy, the real reader
    QString cause;
    int timeoutMs = 60000;
    QString failing = {}; // the file the message names; empty: the first that fails
};

} // namespace

Q_DECLARE_METATYPE(LegacyTable)

class tst_JetConvert : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { qputenv("TARN_JET_READER", TARN_JET_READER_PATH); }

    void everyValueKept_data()
    {
        QTest::addColumn<LegacyTable>("table");
        const QList<LegacyTable> tables = legacyTables();
        QCOMPARE(tables.size(), 8); // the README's headings are read
        for (const LegacyTable &table : tables) {
            QVERIFY(!table.lines.isEmpty());
            QTest::addRow("%s %s", qPrintable(table.file), qPrintable(table.table)) << table;
        }
    }

    void everyValueKept()
    {
        QFETCH(LegacyTable, table);
        QTemporaryDir dir;
        const QString name = table.file, path = dir.filePath(name);
        copyLegacyFile(name, path);
        writeFile(path + ".jet", "an older backup");
        QMap<QString, QByteArray> before = snapshot(dir.path());
        const Result<QList<JetConversion>> converted = convertJetFiles({{path, {}}});
        QVERIFY2(converted, qPrintable(converted.message()));
        QCOMPARE(converted->first().backupPath, path + ".jet.1");
        QMap<QString, QByteArray> after = snapshot(dir.path());
        QCOMPARE(after.take(name + ".jet.1"), before.take(name));
        after.remove(name);
        QCOMPARE(after, before);

        Peek peek(path);
        const QStringList columns = peek.columns(table.table);
        QStringList got{columns.join(" | ")};
        const QString values = "quote(\"" + columns.join("\") || ' | ' || quote(\"") + "\")";
        for (const QVariantMap &row : peek.rows(
                 QStringLiteral("SELECT %1 AS v FROM %2 ORDER BY rowid").arg(values, table.table)))
            got << row.value("v").toString();
        QCOMPARE(got, table.lines);
    }

    void tablesAndTypesMapped()
    {
        // A reader that prints a prepared dump: tables the program knows, in
        // another case and column order and with a flag column that is not
        // Yes/No, a table it does not know, with awkward names and a column of
        // every type, and an empty one.
        const QByteArray text = "line 1\nE 1\nZ 0\n\xc5\x81\xc3\xa9 | '\"[x]"; // length-prefixed
        const QByteArray blob("\0\n\xff", 3), guid = "{00000000-0000-0000-0000-000000000000}";
        struct Column {
            QByteArray type, value, declared;
            QVariant stored;
        };
        const QList<Column> columns{
            {"bool", "I 1", "INTEGER", 1LL},
            {"byte", "I 255", "INTEGER", 255LL},
            {"int", "I -32768", "INTEGER", -32768LL},
            {"long", "I -2147483648", "INTEGER", -2147483648LL},
            {"money", "D -12.3400", "NUMERIC", -12.34},
            {"float", "F 0.1", "REAL", 0.1},
            {"double", "F 0.30000000000000004", "REAL", 0.30000000000000004},
            {"datetime", "F 36925.170208333334", "DATETIME", "2001-02-03 04:05:06"},
            {"binary", "X 3:" + blob, "BLOB", blob},
            {"text", "S " + QByteArray::number(text.size()) + ':' + text, "TEXT",
             QString::fromUtf8(text)},
            {"ole", "X 0:", "BLOB", QByteArray("")}, // empty, not NULL
            {"memo", "S 0:", "TEXT", QString("")},
            {"repid", "S 38:" + guid, "TEXT", QString(guid)},
            {"numeric", "D 123456789012345678", "NUMERIC", 123456789012345678LL}};
        const QByteArray other = "Odd \"name\" [x]'s";
        QByteArray dump = "TARNJET 1\nT 4:ITEM\nC text 6:I_Name\nC memo 5:notes\nC long 4:I_ID\n"
                          "C bool 10:qz_enabled\nR\nS 4:Jump\nS 3:a\"b\nI 1\nI 1\nE 1\n"
                          "T 5:Empty\nC text 1:a\nE 0\nT 16:" +
                          other + '\n';
        QByteArray full = "R\n", empty = "R\n";
        for (const Column &c : columns) {
            dump += "C " + c.type + ' ' + QByteArray::number(c.type.size() + 4) + ':' + c.type +
                    " [x]\n";
            full += c.value + '\n';
            empty += c.type == "bool" ? "I 0\n" : "N\n";
        }
        QTemporaryDir dir;
        writeFile(dir.filePath("dump"), dump + full + empty + "E 2\nZ 3\n");
        JetOptions options;
        options.reader = dir.filePath("reader.sh");
        writeScript(options.reader, "cat \"$(dirname \"$0\")/dump\"");
        const QString path = dir.filePath("tarn_ref.mdb");
        writeFile(path, QByteArray(4096, '\0').replace(4, 15, "Standard Jet DB"));

        const Result<QList<JetConversion>> converted = convertJetFiles({{path, {}}}, options);
        QVERIFY2(converted, qPrintable(converted.message()));
        Peek peek(path);
        auto declared = [&](const QString &table) {
            return peek.joined("SELECT name || ' ' || type FROM pragma_table_info(?)", ", ",
                               {table});
        };
        QCOMPARE(declared("item"), "i_id INTEGER, i_name TEXT, qz_enabled NUMERIC, notes TEXT");
        QCOMPARE(peek.rows("SELECT i_id, i_name, qz_enabled, notes FROM item").first(),
                 (QVariantMap{
                     {"i_id", 1LL}, {"i_name", "Jump"}, {"qz_enabled", 1LL}, {"notes", "a\"b"}}));
        QCOMPARE(peek.count("Empty"), 0);
        QStringList declaredWant;
        const QList<QVariantMap> rows =
            peek.rows("SELECT * FROM \"Odd \"\"name\"\" [x]'s\" ORDER BY rowid");
        QCOMPARE(rows.size(), 2);
        for (const Column &c : columns) {
            const QString name = QString::fromLatin1(c.type + " [x]");
            declaredWant << name + ' ' + c.declared;
            const QVariant got = rows.first().value(name);
            QVERIFY2(got.typeId() == c.stored.typeId() && got == c.stored,
                     qPrintable(name + ": " + got.toString()));
            QCOMPARE(rows.last().value(name).isNull(), c.type != "bool");
        }
        QCOMPARE(declared(QString::fromUtf8(other)), declaredWant.join(", "));
    }

    void refusedLeavesEverything_data()
    {
        // The data file is always a sound Jet file and is read first; the
        // reference file or the reader is what fails, so nothing may change in
        // either file. A reader that renames a column in what the real one reads
        // makes a file that converts but lacks what the program needs.
        const QByteArray ref = readFile(TARN_LEGACY_DATA "/tarn_ref.mdb");
        QByteArray garbage(ref.size(), '\0');
        QRandomGenerator(12345).fillRange(reinterpret_cast<quint32 *>(garbage.data()),
                                          garbage.size() / 4);
        addRows<Refused>({
            {"truncated", ref.left(ref.size() / 2), {}, "could not read"},
            {"catalog cut off", ref.left(32768), {}, "incomplete"},
            {"garbage", garbage, {}, "not a Jet database"},
            {"Jet header, then garbage", ref.left(4096) + garbage.mid(4096), {}, "could not read"},
            {"reader crashes", {}, "kill -SEGV $$", "crashed"},
            {"reader fails", {}, "echo 'page 7 is bad' >&2; exit 3", "(status 3): page 7 is bad"},
            {"reader hangs", {}, "exec sleep 60", "stopped", 300},
            {"a column damaged",
             {},
             "'" TARN_JET_READER_PATH "' \"$1\" | sed 's/^C text 6:w_name$/C text 6:w_n?me/'",
             "the table weapon has no column w_name",
             60000,
             "tarn_ref"},
        });
    }

    void refusedLeavesEverything()
    {
        QFETCH(Refused, row);
        const auto &[name, ref, reader, cause, timeoutMs, failing] = row;
        QTemporaryDir dir, tools;
        AppState paths(dir.path());
        copyLegacyFile("tarn_dat.mdb", paths.dataPath());
        ref.isEmpty() ? copyLegacyFile("tarn_ref.mdb", paths.refPath())
                      : writeFile(paths.refPath(), ref);
        JetOptions options;
        options.timeoutMs = timeoutMs;
        options.reader = reader.isEmpty() ? QString() : tools.filePath("reader.sh");
        if (!reader.isEmpty())
            writeScript(options.reader, reader);
        const QMap<QString, QByteArray> before = snapshot(dir.path());

        const Result<QList<JetConversion>> converted =
            convertJetFiles({{paths.dataPath(), schema::dataFileNeeds()},
                             {paths.refPath(), schema::refFileNeeds()}},
                            options);
        const QString file = failing.isEmpty() ? ref.isEmpty() ? "tarn_dat" : "tarn_ref" : failing;
        QVERIFY2(converted.message().contains(dir.filePath(file + ".mdb")) &&
                     converted.message().contains(cause),
                 qPrintable(converted.message()));
        QCOMPARE(snapshot(dir.path()), before);
    }

    void dumpParsed_data()
    {
        // The reader's output: one value of a column of a type as it is kept (type and
        // text), or a part of the refusal that says where it fails.
        QTest::addColumn<QByteArray>("dump");
        QTest::addColumn<QString>("result");
        auto row = [](const char *name, const QByteArray &dump, const char *result) {
            QTest::newRow(name) << dump << QString::fromLatin1(result);
        };
        const QByteArray head = "TARNJET 1\nT 1:t\n";
        auto one = [&](const QByteArray &type, const QByteArray &value) {
            return head + "C " + type + " 1:c\nR\n" + value + "\nE 1\nZ 1\n";
        };
        row("other version", "TARNJET 2\nZ 0\n", "header");
        row("cut short after header", "TARNJET 1\n", "does not end");
        row("cut short in a table", head + "C int 1:c\nR\nI 1\n", "does not end");
        row("cut short in a text", head + "C text 1:c\nR\nS 9:abc", "cut short");
        row("table count", "TARNJET 1\nZ 1\n", "table count");
        row("bytes after the end", "TARNJET 1\nZ 0\nZ 0\n", "more after");
        row("no columns", "TARNJET 1\nT 1:t\nE 0\nZ 1\n", "no columns");
        row("unknown type", head + "C blob 1:c\nE 0\nZ 1\n", "damaged");
        row("column twice", head + "C int 1:c\nC text 1:C\nE 0\nZ 1\n", "comes twice");
        row("table twice", head + "C int 1:c\nE 0\nT 1:T\nC int 1:c\nE 0\nZ 2\n", "comes twice");
        row("name length wrong", "TARNJET 1\nT 3:t\nZ 0\n", "damaged");
        row("row count", head + "C int 1:c\nR\nI 1\nE 2\nZ 1\n", "row count");
        row("row cut short", head + "C int 1:c\nC int 1:d\nR\nI 1\nE 1\nZ 1\n",
            "expected a value of type int for d");
        row("int too large", one("int", "I 32768"), "not a value of type int");
        row("leading zero", one("long", "I 01"), "not a value");
        row("Yes/No NULL", one("bool", "N"), "Yes/No value");
        row("Yes/No 2", one("bool", "I 2"), "not a value of type bool");
        row("not UTF-8", one("text", "S 1:\xff"), "not UTF-8");
        row("infinite", one("double", "F 1e999"), "not a number");
        row("bad date", one("datetime", "F 1e300"), "not a date");
        // Decimals: whole where they have no fraction, else a double only where it keeps
        // them exactly (sixteen digits it does not).
        for (const char *text : {"-1234.0000=qlonglong -1234", "12.5000=double 12.5",
                                 "9223372036854775807=qlonglong 9223372036854775807",
                                 "-9223372036854775808=qlonglong -9223372036854775808",
                                 "0.0001=double 1e-04", "123456789.012345=double 123456789.012345",
                                 "1234567890.123456=more digits", "9223372036854775808=more digits",
                                 "922337203685477.5807=more digits", "1.=not a decimal"})
            row(text, one("money", "D " + QByteArray(text).split('=').first()),
                strchr(text, '=') + 1);
        // Dates: days since 1899-12-30, the fraction the time of day (also before it).
        for (const char *text :
             {"36925.170208333334=QString 2001-02-03 04:05:06", "-1.25=QString 1899-12-29 06:00:00",
              "1.0000000115740741=QString 1899-12-31 00:00:00.001",
              "0.9999999999=QString 1899-12-31 00:00:00", "-657434=QString 0100-01-01 00:00:00",
              "2958465.5=QString 9999-12-31 12:00:00", "2958466=not a date", "nan=not a"})
            row(text, one("datetime", "F " + QByteArray(text).split('=').first()),
                strchr(text, '=') + 1);
    }

    void dumpParsed()
    {
        QFETCH(QByteArray, dump);
        QFETCH(QString, result);
        const Result<QList<Table>> parsed = parseDump(dump);
        const QVariant value = parsed ? parsed->first().rows.first().first() : QVariant();
        const QString got = parsed ? value.typeName() + (' ' + value.toString()) : parsed.message();
        QVERIFY2(parsed ? got == result : got.contains(result), qPrintable(got));
    }
};

QTEST_GUILESS_MAIN(tst_JetConvert)
#include "tst_jetconvert.moc"
