#include "jetconvert.h"
#include "legacyexpected.h"
#include "schema.h"
#include "startup.h"
#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace tarn;
using namespace tarn::test;

class tst_JetConvert : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void everyValueKept_data();
    void everyValueKept();
    void olderDataFileGainsFlagsAtStartUp();
    void knownAndOtherTablesMapped();
    void refusedLeavesEverything_data();
    void refusedLeavesEverything();
    void backupNeverOverwrites();
};

namespace
{

struct Expected {
    QStringList columns;
    QList<QVariantList> rows;
};

QVariant cell(const QString &text)
{
    if (text.startsWith(QLatin1Char('`')) && text.endsWith(QLatin1Char('`')))
        return text.mid(1, text.size() - 2);
    if (text == QLatin1String("NULL"))
        return QVariant();
    if (text == QLatin1String("true") || text == QLatin1String("false"))
        return qlonglong(text == QLatin1String("true"));
    bool ok = false;
    const qlonglong n = text.toLongLong(&ok);
    if (!ok)
        qFatal("bad expected cell %s", qPrintable(text));
    return n;
}

QStringList cells(const QString &line)
{
    QStringList parts = line.split(QLatin1Char('|'));
    parts = parts.mid(1, parts.size() - 2);
    for (QString &part : parts)
        part = part.trimmed();
    return parts;
}

Expected expected(const LegacyTable &table)
{
    QStringList lines = QString::fromUtf8(table.cells).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    const QStringList header = cells(lines.takeFirst());
    Expected e;
    if (table.transposed) {
        e.rows.resize(table.rows);
        for (const QString &line : std::as_const(lines)) {
            const QStringList c = cells(line);
            e.columns << cell(c.first()).toString();
            for (int r = 0; r < table.rows; ++r)
                e.rows[r] << cell(c.at(r + 1));
        }
    } else {
        e.columns = header.mid(1);
        for (const QString &line : std::as_const(lines)) {
            QVariantList row;
            for (const QString &c : cells(line).mid(1))
                row << cell(c);
            e.rows << row;
        }
    }
    for (const QVariantList &row : std::as_const(e.rows))
        if (row.size() != e.columns.size())
            qFatal("expected table %s is ragged", table.table);
    if (e.rows.size() != table.rows)
        qFatal("expected table %s has %lld rows", table.table, qlonglong(e.rows.size()));
    return e;
}

QString targetName(const QString &legacyName)
{
    return legacyName.startsWith(QLatin1String("tarn_ref")) ? QStringLiteral("tarn_ref.mdb")
                                                            : QStringLiteral("tarn_dat.mdb");
}

void writeScript(const QString &path, const QByteArray &body)
{
    writeFile(path, "#!/bin/sh\n" + body + "\n");
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

} // namespace

void tst_JetConvert::initTestCase()
{
    qputenv("TARN_JET_READER", TARN_JET_READER_PATH);
}

void tst_JetConvert::everyValueKept_data()
{
    QTest::addColumn<int>("index");
    for (int i = 0; i < int(std::size(kLegacyTables)); ++i)
        QTest::addRow("%s %s", kLegacyTables[i].file, kLegacyTables[i].table) << i;
}

void tst_JetConvert::everyValueKept()
{
    QFETCH(int, index);
    const LegacyTable &table = kLegacyTables[index];
    const Expected want = expected(table);
    QTemporaryDir dir;
    const QString path = dir.filePath(targetName(QLatin1String(table.file)));
    copyLegacyFile(QLatin1String(table.file), path);
    const QByteArray original = readFile(path);

    const Result<QList<JetConversion>> converted = convertJetFiles({path});
    QVERIFY2(converted, qPrintable(converted.message()));
    QCOMPARE(converted->size(), 1);
    QCOMPARE(converted->first().backupPath, path + QStringLiteral(".jet"));
    QCOMPARE(readFile(path + QStringLiteral(".jet")), original);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 2);

    Peek peek(path);
    QCOMPARE(peek.columns(QLatin1String(table.table)), want.columns);
    const QList<QVariantMap> rows = peek.rows(
        QStringLiteral("SELECT * FROM %1 ORDER BY rowid").arg(QLatin1String(table.table)));
    QCOMPARE(rows.size(), want.rows.size());
    for (qsizetype r = 0; r < rows.size(); ++r) {
        for (qsizetype c = 0; c < want.columns.size(); ++c) {
            const QVariant actual = rows.at(r).value(want.columns.at(c));
            const QVariant &wanted = want.rows.at(r).at(c);
            const QByteArray where =
                QStringLiteral("row %1, %2: got %3, want %4")
                    .arg(r + 1)
                    .arg(want.columns.at(c), actual.isNull() ? "NULL" : actual.toString(),
                         wanted.isNull() ? "NULL" : wanted.toString())
                    .toUtf8();
            QVERIFY2(actual.isNull() == wanted.isNull(), where.constData());
            if (wanted.isNull())
                continue;
            // Text stays text and whole numbers stay whole numbers.
            if (wanted.typeId() == QMetaType::QString)
                QVERIFY2(actual.typeId() == QMetaType::QString && actual == wanted,
                         where.constData());
            else
                QVERIFY2(actual.typeId() == QMetaType::LongLong && actual == wanted,
                         where.constData());
        }
    }
}

void tst_JetConvert::olderDataFileGainsFlagsAtStartUp()
{
    QTemporaryDir dir;
    AppState state(dir.path());
    copyLegacyFile(QStringLiteral("tarn_dat_s21.mdb"), state.dataPath());
    copyLegacyFile(QStringLiteral("tarn_ref.mdb"), state.refPath());
    const StartupResult refused = startUp(state);
    QCOMPARE(refused.jetFiles, (QStringList{state.dataPath(), state.refPath()}));

    const Result<QList<JetConversion>> converted = convertJetFiles(refused.jetFiles);
    QVERIFY2(converted, qPrintable(converted.message()));
    const StartupResult started = startUp(state);
    QVERIFY2(started.status, qPrintable(started.status.message()));
    QCOMPARE(started.addedColumns, schema::upgradeColumns());

    QStringList columns = schema::classdefColumnNames();
    for (const QString &flag : schema::upgradeColumns())
        columns.removeOne(flag);
    columns << QStringLiteral("notes") << schema::upgradeColumns();
    Peek peek(state.dataPath());
    QCOMPARE(peek.columns(QStringLiteral("classdef")), columns);
    for (const QString &flag : schema::upgradeColumns())
        QCOMPARE(
            peek.scalar(QStringLiteral("SELECT count(*) FROM classdef WHERE %1 = 0").arg(flag)),
            QVariant(qlonglong(9)));

    // The converted file works like any other: names match without regard to case.
    QCOMPARE(state.data().packageNames().value(),
             (QStringList{"Harbor Defense", "O'Neil Squad", "Zulu Reserve", "Équipe Rouge"}));
    QVERIFY(state.data().packageExists(QStringLiteral("harbor DEFENSE")).value());
    QCOMPARE(state.ref().all(schema::RefKind::Special).value().size(), 24);
}

void tst_JetConvert::knownAndOtherTablesMapped()
{
    // A reader that prints a prepared dump: tables the program knows, in
    // another case and column order and with a flag column that is not
    // Yes/No, and a table it does not know, with awkward names.
    const QByteArray other = "Odd \"name\" [x]'s";
    const QByteArray dump = "TARNJET 1\n"
                            "T 4:ITEM\nC text 6:I_Name\nC memo 5:notes\nC long 4:I_ID\n"
                            "C bool 10:qz_enabled\nR\nS 4:Jump\nS 3:a\"b\nI 1\nI 1\nE 1\n"
                            "T 8:classdef\nC text 12:package_name\nC int 2:i1\nC bool 2:s1\n"
                            "R\nS 1:x\nN\nI 1\nR\nS 1:X\nI -1\nI 0\nE 2\n"
                            "T " +
                            QByteArray::number(other.size()) + ":" + other +
                            "\nC int 5:a \"b\"\nC double 1:d\nC datetime 1:t\nC ole 1:o\n"
                            "C money 1:m\nC bool 1:f\n"
                            "R\nI -5\nF 0.5\nF 36925.5\nX 2:" +
                            QByteArray("\0\n", 2) +
                            "\nD 1.2500\nI 0\n"
                            "R\nN\nN\nN\nN\nN\nI 1\nE 2\nZ 3\n";
    QTemporaryDir dir;
    JetOptions options;
    options.reader = dir.filePath(QStringLiteral("reader.sh"));
    writeFile(dir.filePath(QStringLiteral("dump")), dump);
    writeScript(options.reader, "cat \"$(dirname \"$0\")/dump\"");
    const QString path = dir.filePath(QStringLiteral("tarn_ref.mdb"));
    QByteArray jet(4096, '\0');
    jet.replace(4, 15, "Standard Jet DB");
    writeFile(path, jet);

    const Result<QList<JetConversion>> converted = convertJetFiles({path}, options);
    QVERIFY2(converted, qPrintable(converted.message()));
    Peek peek(path);
    const QString types = QStringLiteral("SELECT name || ' ' || type FROM pragma_table_info(?)");
    auto declared = [&](const QString &table) {
        QStringList list;
        for (const QVariantMap &row : peek.rows(types, {table}))
            list << row.first().toString();
        return list;
    };
    QCOMPARE(declared(QStringLiteral("item")),
             (QStringList{"i_id INTEGER", "i_name TEXT", "qz_enabled NUMERIC", "notes TEXT"}));
    QCOMPARE(
        peek.rows(QStringLiteral("SELECT i_id, i_name, qz_enabled, notes FROM item")).first(),
        (QVariantMap{{"i_id", 1LL}, {"i_name", "Jump"}, {"qz_enabled", 1LL}, {"notes", "a\"b"}}));

    QCOMPARE(declared(QStringLiteral("classdef")),
             (QStringList{"package_name TEXT", "i1 INTEGER", "s1 INTEGER"}));
    QCOMPARE(
        peek.scalar(QStringLiteral("SELECT group_concat(coalesce(i1, 'NULL') || '/' || s1, ' ') "
                                   "FROM classdef WHERE package_name = 'x'")),
        QVariant(QStringLiteral("NULL/1 -1/0")));

    QCOMPARE(declared(QString::fromUtf8(other)),
             (QStringList{"a \"b\" INTEGER", "d REAL", "t DATETIME", "o BLOB", "m NUMERIC",
                          "f INTEGER"}));
    const QList<QVariantMap> rows =
        peek.rows(QStringLiteral("SELECT \"a \"\"b\"\"\" AS a, d, t, o, m, f "
                                 "FROM \"Odd \"\"name\"\" [x]'s\" ORDER BY rowid"));
    QCOMPARE(rows.size(), 2);
    QCOMPARE(rows.first(), (QVariantMap{{"a", -5LL},
                                        {"d", 0.5},
                                        {"t", "2001-02-03 12:00:00"},
                                        {"o", QByteArray("\0\n", 2)},
                                        {"m", 1.25},
                                        {"f", 0LL}}));
    QCOMPARE(rows.last().value("f"), QVariant(1LL));
    QVERIFY(rows.last().value("a").isNull() && rows.last().value("o").isNull());
}

void tst_JetConvert::refusedLeavesEverything_data()
{
    // The data file is always a sound Jet file and is read first; the
    // reference file or the reader is what fails, so nothing may change in
    // either file.
    QTest::addColumn<QByteArray>("ref");    // empty: a sound copy
    QTest::addColumn<QByteArray>("reader"); // a script in place of the reader
    QTest::addColumn<int>("timeoutMs");
    QTest::addColumn<QString>("failing"); // the file the message names
    QTest::addColumn<QString>("cause");

    QFile source(qEnvironmentVariable("TARN_SHARED_TESTDATA") + "/legacy/tarn_ref.mdb");
    QVERIFY(source.open(QIODevice::ReadOnly));
    const QByteArray ref = source.readAll();
    QByteArray garbage(ref.size(), '\0');
    quint32 seed = 12345;
    for (char &byte : garbage) {
        seed = seed * 1103515245u + 12345u;
        byte = char(seed >> 16);
    }
    const int minute = 60000;
    QTest::newRow("truncated") << ref.left(ref.size() / 2) << QByteArray() << minute << "tarn_ref"
                               << "could not read";
    QTest::newRow("catalog cut off") << ref.left(32768) << QByteArray() << minute << "tarn_ref"
                                     << "incomplete";
    QTest::newRow("garbage") << garbage << QByteArray() << minute << "tarn_ref"
                             << "not a Jet database";
    QTest::newRow("Jet header, then garbage")
        << ref.left(4096) + garbage.mid(4096) << QByteArray() << minute << "tarn_ref"
        << "could not read";
    QTest::newRow("reader crashes")
        << QByteArray() << QByteArray("kill -SEGV $$") << minute << "tarn_dat"
        << "crashed";
    QTest::newRow("reader fails") << QByteArray() << QByteArray("echo 'page 7 is bad' >&2; exit 3")
                                  << minute << "tarn_dat"
                                  << "(status 3): page 7 is bad";
    QTest::newRow("reader output cut short")
        << QByteArray()
        << QByteArray("printf 'TARNJET 1\\nT 7:package\\nC text 12:package_name\\n'") << minute
        << "tarn_dat"
        << "malformed";
    QTest::newRow("reader hangs") << QByteArray() << QByteArray("exec sleep 60") << 300
                                  << "tarn_dat"
                                  << "stopped";
    QTest::newRow("reader missing") << QByteArray() << QByteArray("-") << minute << "tarn_dat"
                                    << "could not be started";
}

void tst_JetConvert::refusedLeavesEverything()
{
    QFETCH(QByteArray, ref);
    QFETCH(QByteArray, reader);
    QFETCH(int, timeoutMs);
    QFETCH(QString, failing);
    QFETCH(QString, cause);
    QTemporaryDir dir;
    QTemporaryDir tools;
    AppState paths(dir.path());
    copyLegacyFile(QStringLiteral("tarn_dat.mdb"), paths.dataPath());
    if (ref.isEmpty())
        copyLegacyFile(QStringLiteral("tarn_ref.mdb"), paths.refPath());
    else
        writeFile(paths.refPath(), ref);
    JetOptions options;
    options.timeoutMs = timeoutMs;
    if (reader == "-") {
        options.reader = tools.filePath(QStringLiteral("no-such-reader"));
    } else if (!reader.isEmpty()) {
        options.reader = tools.filePath(QStringLiteral("reader.sh"));
        writeScript(options.reader, reader);
    }
    const QMap<QString, QByteArray> before = snapshot(dir.path());

    const Result<QList<JetConversion>> converted =
        convertJetFiles({paths.dataPath(), paths.refPath()}, options);
    QVERIFY(!converted);
    QVERIFY2(converted.message().contains(dir.filePath(failing + QStringLiteral(".mdb"))),
             qPrintable(converted.message()));
    QVERIFY2(converted.message().contains(cause), qPrintable(converted.message()));
    QCOMPARE(snapshot(dir.path()), before);
}

void tst_JetConvert::backupNeverOverwrites()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("tarn_dat.mdb"));
    copyLegacyFile(QStringLiteral("tarn_dat.mdb"), path);
    writeFile(path + QStringLiteral(".jet"), "an older backup");
    writeFile(path + QStringLiteral(".jet.1"), "another one");
    const QByteArray original = readFile(path);

    const Result<QList<JetConversion>> converted = convertJetFiles({path});
    QVERIFY2(converted, qPrintable(converted.message()));
    QCOMPARE(converted->first().backupPath, path + QStringLiteral(".jet.2"));
    QCOMPARE(readFile(path + QStringLiteral(".jet.2")), original);
    QCOMPARE(readFile(path + QStringLiteral(".jet")), QByteArray("an older backup"));
    QCOMPARE(readFile(path + QStringLiteral(".jet.1")), QByteArray("another one"));
    QCOMPARE(Peek(path).count(QStringLiteral("classdef")), 9);
}

QTEST_GUILESS_MAIN(tst_JetConvert)
#include "tst_jetconvert.moc"
