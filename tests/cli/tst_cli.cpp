// SPDX-License-Identifier: GPL-3.0-or-later
#include "clirun.h"
#include "core/classfileio.h"
#include "core/compare.h"
#include "core/version.h"
#include "testsupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

using namespace tarn;
using namespace tarn::test;

namespace
{

// The fields of an RFC 4180 text, line by line; nothing when it is not one.
QList<QStringList> parseCsv(const QString &text)
{
    static const QRegularExpression field("\"((?:[^\"]|\"\")*)\"|[^\",\r\n]*");
    QList<QStringList> lines{{}};
    for (qsizetype at = 0; at < text.size();) {
        const QRegularExpressionMatch match =
            field.match(text, at, QRegularExpression::NormalMatch,
                        QRegularExpression::AnchorAtOffsetMatchOption);
        lines.last() << (match.hasCaptured(1) ? match.captured(1).replace("\"\"", "\"")
                                              : match.captured());
        at = match.capturedEnd();
        if (text.mid(at, 2) == "\r\n")
            lines << QStringList{};
        else if (text.mid(at, 1) != ",")
            return {};
        at += text.mid(at, 2) == "\r\n" ? 2 : 1;
    }
    lines.removeLast(); // after the last line end
    return lines;
}

struct Commands {
    QList<QStringList> commands;
    int code;
    QString output, error, list; // error: a part of stderr; list: what list prints after
};

struct Folder {
    QString folder, arg; // folder: the data folder, below an empty temporary one
    int code;
    QStringList output;   // parts of stdout and stderr
    bool created = false; // both data files are there after
};

} // namespace

class tst_Cli : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { qputenv("TARN_JET_READER", TARN_JET_READER_PATH); }
    // What the user reads is the program's own: Qt's drivers say nothing.
    void init() { QTest::failOnWarning(QRegularExpression(".")); }

    void commands_data()
    {
        // Each row runs its commands in order on a fresh sample directory (FILE
        // stands for a file in it, ODD for one that does not read, with a '%1' in
        // its name and control characters in its text, GONE for a file that is not
        // there, with an escape sequence in its name, LATIN for a plain file that
        // another tool wrote in Latin-1); the last one's status and output are
        // compared, then the list. SQL runs a statement as another program would,
        // NODATA removes the data files. What the commands only pass on from the
        // store and the class file code is tested there: here one failure a
        // command shows that it is passed on.
        QTest::addColumn<Commands>("row");
        auto row = [](const char *name, const QList<QStringList> &commands, int code,
                      const QString &output, const QString &error = {},
                      const QString &list = "Sample Config\n") {
            QTest::newRow(name) << Commands{commands, code, output, error, list};
        };
        const QString two = "B\nSample Config\n";
        row("list", {{"list"}}, 0, "Sample Config\n");
        // A name another program stored with a line break is one line, not two.
        row("list, a name with a line break",
            {{"SQL", "UPDATE package SET package_name = 'a\nb'"},
             {"SQL", "UPDATE classdef SET package_name = 'a\nb'"},
             {"list"}},
            0, "a\\nb\n", "", "a\\nb\n");
        row("copy missing source", {{"copy", "Nope", "B"}}, 1, "", "no configuration named 'Nope'");
        row("delete missing, escaped", {{"delete", "No\x1b[2J"}}, 1, "", "named 'No\\x1b[2J'.");
        row("init over data", {{"new", "B"}, {"init", "--sample"}}, 1, "", "exists already", two);
        row("new, the name in another case", {{"new", "sample CONFIG"}}, 1, "", "exists already");
        // An older database is upgraded at start, before the command's change.
        const QString older = "ALTER TABLE classdef DROP COLUMN s31";
        row("new on an older database", {{"SQL", older}, {"new", "B"}}, 0, "", "", two);
        row("copy on an older database", {{"SQL", older}, {"copy", "Sample Config", "B"}, {"list"}},
            0, two, "", two);
        row("delete on an older database", {{"SQL", older}, {"delete", "Sample Config"}}, 0, "", "",
            "");
        row("mod-id set", {{"mod-id", " x "}, {"mod-id"}}, 0, "x\n");
        const QString lineBreak = "holds the control character \\n at position 2";
        row("new, name with a line break", {{"new", "a\nb"}}, 1, "", "name " + lineBreak);
        row("mod-id with a line break refused", {{"mod-id", "a\nb"}}, 1, "",
            "The Mod ID " + lineBreak + ", which a class file cannot carry. It was not saved.");
        row("unknown command", {{"frobnicate"}}, 2, "", "unknown command");
        row("missing argument", {{"new"}}, 2, "", "new takes one NAME");
        row("unknown option", {{"--frob", "list"}}, 2, "", "--frob\nTry 'tarn-cli --help'.");
        row("unknown option of a command", {{"list", "-x"}}, 2, "", "unknown option -x");
        row("option that takes no value", {{"init", "--sample=1"}}, 2, "", "after '--sample'");
        row("no directory", {{"--data-dir"}}, 2, "", "--data-dir needs a directory");
        row("-- ends the options", {{"new", "--", "--plain"}}, 0, "", "",
            "--plain\nSample Config\n");
        row("command help", {{"copy", "A", "--help"}}, 0,
            "Usage: tarn-cli [--data-dir DIR | --database URL] copy SOURCE NEW\n"
            "  copy a configuration and its classes under a new name\n");
        row("export, check", {{"export", "Sample Config", "FILE"}, {"check", "FILE"}}, 0, "2\n");
        row("export plain, import",
            {{"export", "--plain", "Sample Config", "FILE"}, {"import", "B", "FILE"}}, 0, "", "",
            two);
        row("check, the problem alone, escaped", {{"check", "ODD"}}, 1, "",
            "ODD:3: Bad Class Record: \\x1b[2Jred\\rx\\x80\n");
        // A stored slot 1 other than 1 and a flag that has no row: the file carries neither.
        row("diff, a configuration and its export",
            {{"SQL", "UPDATE classdef SET w1 = 3, i8 = 1"},
             {"export", "Sample Config", "FILE"},
             {"diff", "sample config", "FILE"}},
            0, "");
        row("diff, a folder", {{"diff", "Sample Config", "."}}, 3, "", ".: this is a folder");
        row("diff, a file before a configuration",
            {{"export", "Sample Config", "FILE"},
             {"SQL", "UPDATE classdef SET max_armor = 7 WHERE class_name = 'Scout'"},
             {"diff", "FILE", "Sample Config"}},
            1, "changed: Scout\n  Max Armor: 50 -> 7\n");
        row("diff, different", {{"new", "B"}, {"diff", "Sample Config", "B"}}, 1,
            "only in A: Scout\nonly in A: Soldier\n", "", two);
        row("diff, no such configuration, escaped", {{"diff", "Sample Config", "No\x1b[2J"}}, 3, "",
            "no configuration or file named 'No\\x1b[2J'.");
        row("diff, a file that does not read", {{"diff", "ODD", "Sample Config"}}, 3, "",
            "ODD:3: Bad Class");
        row("diff, one argument", {{"diff", "A"}}, 2, "", "diff takes A B");
        // A build pipeline's folder may hold the class files alone (FILE2: another file).
        row("diff without data files: the files alone, slots by id",
            {{"export", "Sample Config", "FILE"},
             {"SQL", "UPDATE classdef SET w3 = 7 WHERE class_name = 'Scout'"},
             {"export", "Sample Config", "FILE2"},
             {"NODATA"},
             {"diff", "FILE", "FILE2"}},
            1, "changed: Scout\n  Weapon slot 3: 3 -> 7\n", "There are no data files in", "");
        const QString lowered = ":4: warning: the byte 0xE9 ('\u00e9' in Latin-1) is read as 'i'";
        row("check, a plain file's byte above 128", {{"check", "LATIN"}}, 0, "1\n", lowered);
        row("import, a plain file's byte above 128", {{"import", "B", "LATIN"}}, 0, "", lowered,
            two);
        row("show, unknown format", {{"show", "--format", "xml", "A"}}, 2, "", "format 'xml'");
        row("import, no file name", {{"import", "C", ""}}, 2, "", "the FILE given is empty");
        row("import, escaped", {{"import", "C", "ODD"}}, 1, "",
            "Bad Class Record: \\x1b[2Jred\\rx\\x80\nODD, line 3\n");
        // A file name may hold anything; none of it reaches the terminal raw.
        row("import, file name escaped", {{"import", "C", "GONE"}}, 1, "",
            "\\x1b[2J.class\nNothing");
        row("check, file name escaped", {{"check", "GONE"}}, 1, "", "\\x1b[2J.class: No such file");
        row("history, a time it does not read", {{"history", "--since", "yesterday"}}, 2, "",
            "--since takes a time");
        row("history, a time in a zone",
            {{"new", "B"}, {"history", "--since", "2999-01-01T00:00Z"}}, 0, "", "", two);
        row("restore, no moment", {{"restore", "B"}}, 2, "", "--as-of");
        row("restore by a change's id",
            {{"copy", "Sample Config", "B"}, {"delete", "B"}, {"restore", "--as-of", "1", "B"}}, 0,
            "", "", two);
        row("restore, not there then",
            {{"new", "B"}, {"restore", "--as-of", "2000-01-01T00:00", "B"}}, 1, "",
            "no configuration named 'B' at that moment", two);
        row("export, file name escaped", {{"export", "Sample Config", "GONE/x.class"}}, 1, "",
            "gone\\x1b[2J.class/x.class.\n");
    }

    void commands()
    {
        QFETCH(Commands, row);
        DataDir dir;
        const QString file = dir.file("out.class"), odd = dir.file("50%1 off.class");
        writeFile(odd, "V3\r\nx\r\n\x1b[2Jred\rx\x80\r\n\r\n");
        writeFile(dir.file("latin.class"), "V3\r\nx\r\n\r\n[Caf\xE9]\r\nm a b 0\r\n0 0 0 0 0 0 0 "
                                           "0 0 0\r\n0 0 0\r\n0 0 0 0 0\r\n0 0 0 0 0 0\r\n");
        CliRun last{};
        for (QStringList command : row.commands) {
            if (command.first() == "NODATA" && onTestServer())
                QSKIP("a server is no folder of files");
            if (command.first() == "NODATA")
                QVERIFY(QFile::remove(dir.dataPath()) && QFile::remove(dir.refPath()));
            else if (command.first() == "SQL") // another program's change
                Peek(dir.dataPath()).exec(command.at(1));
            else
                last = runCli(dir.location(),
                              command.replaceInStrings("FILE", file)
                                  .replaceInStrings("ODD", odd)
                                  .replaceInStrings("LATIN", dir.file("latin.class"))
                                  .replaceInStrings("GONE", dir.file("gone\x1b[2J.class")));
        }
        QCOMPARE(last.code, row.code);
        QCOMPARE(last.out, row.output);
        QVERIFY2(last.err.contains(row.error.replace("ODD", odd)) && !last.err.contains(u'\x1b'),
                 qPrintable(last.err));
        QCOMPARE(row.error.isEmpty(), last.err.isEmpty());
        QCOMPARE(runCli(dir.location(), {"list"}).out, row.list);
    }

    void exportMatchesTheWindows()
    {
        DataDir dir;
        QCOMPARE(runCli(dir.location(), {"mod-id", "My Mod"}).code, 0);
        AppState &state = dir.start();
        const QString viaCli = dir.file("cli.class"), direct = dir.file("direct.class");
        for (bool plain : {false, true}) {
            // The name typed in another case: the file carries it as stored.
            QStringList args{"export", "SAMPLE config", viaCli};
            QCOMPARE(runCli(dir.location(), plain ? args << "--plain" : args).code, 0);
            QVERIFY(exportClassFile(state, "Sample Config", direct, !plain));
            QCOMPARE(readFile(viaCli), readFile(direct));
        }
    }

    void dataFolder_data()
    {
        // %D stands for the data folder. The folder is not made, nor the files,
        // but by init.
        QTest::addColumn<Folder>("row");
        auto row = [](const char *name, const char *folder, const char *arg, int code,
                      const QStringList &output, bool created = false) {
            QTest::newRow(name) << Folder{folder, arg, code, output, created};
        };
        row("none: says to run init", "a/b", "list", 1, {"Run 'tarn-cli --data-dir %D init'"});
        row("none: the command to run quotes the folder", "a/my $x", "list", 1,
            {"Run 'tarn-cli --data-dir \"%D\" init'"});
        row("init makes the folder", "a/50%1 b", "init", 0,
            {"Created %D/tarn_dat.mdb and %D/tarn_ref.mdb\n"}, true);
        row("help: the folder in use, the commands", "a", "--help", 0,
            {"Data folder in use: %D\n", "\n  --data-dir DIR  ", "\n  --database URL  ",
             "\n  -h, --help  ", "\n  init [--sample] [--from DIR]  ", "\n  pull DIR  ",
             "\n  export [--plain] NAME FILE  ", "\n  check FILE  ", "\n  migrate  "});
        row("version", "", "--version", 0, {QStringLiteral("tarn-cli (tarn) %1\n").arg(kVersion)});
    }

    void dataFolder()
    {
        QFETCH(Folder, row);
        QTemporaryDir root;
        const QString dir = QDir::cleanPath(QDir(root.path()).filePath(row.folder));
        const CliRun run = runCli(dir, {row.arg});
        QCOMPARE(run.code, row.code);
        for (const QString &part : row.output)
            QVERIFY2((run.out + run.err)
                         .contains(QString(part).replace("%D", QString(dir).replace("$", "\\$"))),
                     qPrintable(run.out + run.err));
        QCOMPARE(QFile::exists(dir + "/tarn_dat.mdb") && QFile::exists(dir + "/tarn_ref.mdb"),
                 row.created);
        if (!row.created && row.arg != "--help")
            QVERIFY(QDir(root.path()).isEmpty());
        // Every option and command line: two spaces, the synopsis, a gap of two
        // or more spaces, the description (or a long synopsis alone, the
        // description on the next line); descriptions start in one column.
        QSet<qsizetype> columns;
        static const QRegularExpression alone("^  \\S+( \\S+)*$"), below("^ {3,}\\S"),
            entry("^  \\S.*?\\S  +\\S");
        for (const QString &line : run.out.split('\n').filter(QRegularExpression("^  ")))
            if (!alone.match(line).hasMatch())
                columns << (below.match(line).hasMatch() ? below : entry).match(line).capturedEnd();
        QVERIFY(columns.size() <= 1 && !columns.contains(-1));
    }

    void showReadsBack()
    {
        // Hostile names in the configuration and its classes, a stored slot 1 that
        // a class file would not carry, NULLs, and a class number out of order.
        DataDir dir;
        const QString config = "50%1, \"Ü\"";
        const QStringList names{"Sc,\"out\x1b[2J\\n", "Ünï 😀 %1\nzwei, \"drei\"\r"};
        const Peek peek(dir.dataPath());
        peek.exec("UPDATE package SET package_name = ?", {config});
        peek.exec("UPDATE classdef SET package_name = ?", {config});
        peek.exec("UPDATE classdef SET class_name = ?, w1 = 5 WHERE class_name = 'Scout'",
                  {names[0]});
        peek.exec("UPDATE classdef SET class_name = ?, class_num = 0, model_name = NULL, "
                  "max_armor = NULL, s31 = 1 WHERE class_name = 'Soldier'",
                  {names[1]});
        if (!peek.onServer()) // a slot that holds text
            peek.exec("UPDATE classdef SET w5 = 'abc' WHERE class_num = 1");
        const QList<QVariantMap> stored = peek.rows("SELECT * FROM classdef ORDER BY class_num");
        QStringList columns;
        for (const ClassField &field : storedFields())
            columns << field.column;

        const CliRun json = runCli(dir.location(), {"show", "--format", "json", config});
        QCOMPARE(json.code, 0);
        QJsonParseError error{};
        const QJsonArray classes = QJsonDocument::fromJson(json.out.toUtf8(), &error).array();
        QCOMPARE(error.error, QJsonParseError::NoError);
        QCOMPARE(classes.size(), stored.size() + 1); // and the mark
        const CliRun csv = runCli(dir.location(), {"show", "--format", "csv", config});
        const QList<QStringList> lines = parseCsv(csv.out);
        QCOMPARE(lines.size(), 4); // and the mark
        QCOMPARE(lines[0], columns);
        // Every stored value, text told apart from numbers in JSON, NULL as null and
        // as an empty field; the sums are the program's own.
        const auto typed = [](const QVariant &value, bool json) {
            return value.isNull()                                 ? QString(json ? "null" : "")
                   : json && value.typeId() == QMetaType::QString ? '"' + value.toString() + '"'
                                                                  : value.toString();
        };
        for (qsizetype i = 0; i < stored.size(); ++i) {
            QCOMPARE(classes[i].toObject().size(), columns.size());
            for (const QString &column : columns)
                if (!column.endsWith("_sum"))
                    QVERIFY2(typed(classes[i][column].toVariant(), true) ==
                                     typed(stored[i][column], true) &&
                                 lines[i + 1][columns.indexOf(column)] ==
                                     typed(stored[i][column], false),
                             qPrintable(column));
        }
        QCOMPARE(classes[0]["class_name"].toString(), names[1]); // in class order
        QCOMPARE(classes[1]["item_sum"].toInt(), 1);             // Jetpack
        QCOMPARE(classes[1]["special_sum"].toInt(), 33);

        const CliRun text = runCli(dir.location(), {"show", config});
        QVERIFY2(text.out.startsWith("Class Num: 0\nClass Name: Ünï 😀 %1\\nzwei, \"drei\"\\r\n"
                                     "Model Name: \n"),
                 qPrintable(text.out));
        for (const char *part :
             {"\nClass Num: 1\nClass Name: Sc,\"out\\x1b[2J\\\\n\nModel Name: male\n",
              "\nWeapon slot 1: Rail Lance\n", // w1 = 5 as stored
              "\nWeapon slot 3: Nail Driver\n", "\nSpecial Abilities: Double Jump, Sprint\n",
              peek.onServer() ? "" : "\nWeapon slot 5: abc\n"})
            QVERIFY2(text.out.contains(part), part);
        QVERIFY(!text.out.contains("s31"));
    }

    void migrateConvertsOnlyJetFiles()
    {
        QTemporaryDir dir;
        AppState paths(dir.path());
        const QString data = paths.dataPath(), ref = paths.refPath();
        copyLegacyFile("tarn_dat_s21.mdb", data);
        copyLegacyFile("tarn_ref.mdb", ref);
        const QString converted = ": converted; the Jet file is kept as ";
        const QString left = ": already an SQLite file, left as it is\n";

        const CliRun first = runCli(dir.path(), {"migrate"});
        QVERIFY2(first.code == 0 && first.err.isEmpty(), qPrintable(first.err));
        QCOMPARE(first.out, data + converted + data + ".jet\n" + ref + converted + ref + ".jet\n" +
                                data +
                                ": added the columns s22, s23, s24, s25, s26, s27, s28, s29, s30, "
                                "s31 to classdef\n");
        QCOMPARE(runCli(dir.path(), {"list"}).out,
                 "Harbor Defense\nO'Neil Squad\nZulu Reserve\nÉquipe Rouge\n");

        // A Jet file beside a converted one: only it is converted, its backup kept apart.
        copyLegacyFile("tarn_ref.mdb", ref);
        QCOMPARE(runCli(dir.path(), {"migrate"}).out,
                 data + left + ref + converted + ref + ".jet.1\n");
        const QMap<QString, QByteArray> done = snapshot(dir.path());
        QVERIFY(ranAs(runCli(dir.path(), {"migrate"}), 0, data + left + ref + left));
        QCOMPARE(snapshot(dir.path()), done);
    }

    void migrateRefusedChangesNothing()
    {
        // Every command that starts up refuses Jet files the same way (list stands
        // for them); a conversion that fails on the second file leaves the first.
        QTemporaryDir dir;
        AppState paths(dir.path());
        copyLegacyFile("tarn_dat.mdb", paths.dataPath());
        copyLegacyFile("tarn_ref.mdb", paths.refPath());
        QMap<QString, QByteArray> before = snapshot(dir.path());
        const CliRun list = runCli(dir.path(), {"list"});
        QVERIFY(ranAs(list, 1, paths.refPath()) && ranAs(list, 1, "Run 'tarn-cli migrate' to"));
        QCOMPARE(snapshot(dir.path()), before);
        writeFile(paths.refPath(), readFile(paths.refPath()).left(32768));
        before = snapshot(dir.path());
        QVERIFY(ranAs(runCli(dir.path(), {"migrate"}), 1, paths.refPath()));
        QCOMPARE(snapshot(dir.path()), before);
    }
};

QTEST_GUILESS_MAIN(tst_Cli)
#include "tst_cli.moc"
