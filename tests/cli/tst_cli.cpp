#include "clirun.h"
#include "core/classfileio.h"
#include "core/compare.h"
#include "core/version.h"
#include "testsupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <csignal>
#include <sys/resource.h>
#include <unistd.h>

using namespace tarn;
using namespace tarn::test;

namespace
{

// The fields of an RFC 4180 text, line by line.
QList<QStringList> parseCsv(const QString &text)
{
    QList<QStringList> lines{{}};
    QString field;
    bool quoted = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (quoted) {
            if (c == '"' && text.mid(i + 1, 1) == "\"")
                field += text[++i];
            else if (c == '"')
                quoted = false;
            else
                field += c;
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            lines.last() << std::exchange(field, QString());
        } else if (text.mid(i, 2) == "\r\n") {
            lines.last() << std::exchange(field, QString());
            lines << QStringList{};
            ++i;
        } else {
            field += c;
        }
    }
    lines.removeLast(); // after the last line end
    return lines;
}

} // namespace

class tst_Cli : public QObject
{
    Q_OBJECT

private slots:
    // What the user reads is the program's own: Qt's drivers say nothing.
    void init() { QTest::failOnWarning(QRegularExpression(".")); }

    void commands_data()
    {
        // Each row runs its commands in order on a fresh sample directory (FILE
        // stands for a file in it, ODD for one that does not read, with a '%1' in
        // its name and control characters in its text, GONE for a file that is not
        // there, with an escape sequence in its name, LATIN for a plain file that
        // another tool wrote in Latin-1); the last one's status and
        // output are compared, then the list. SQL runs a statement as another
        // program would. What the commands only pass on from
        // the store and the class file code is tested there: here one failure a
        // command shows that it is passed on.
        QTest::addColumn<QList<QStringList>>("commands");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("output");
        QTest::addColumn<QString>("error"); // a part of stderr
        QTest::addColumn<QStringList>("list");
        auto row = [](const char *name, const QList<QStringList> &commands, int code,
                      const QString &output, const QString &error = {},
                      const QStringList &list = {"Sample Config"}) {
            QTest::newRow(name) << commands << code << output << error << list;
        };
        const QStringList two{"B", "Sample Config"};
        row("list", {{"list"}}, 0, "Sample Config\n");
        // A name another program stored with a line break is one line, not two.
        row("list, a name with a line break",
            {{"SQL", "UPDATE package SET package_name = 'a' || char(10) || 'b'"},
             {"SQL", "UPDATE classdef SET package_name = 'a' || char(10) || 'b'"},
             {"list"}},
            0, "a\\nb\n", "", {"a\\nb"});
        row("copy missing source", {{"copy", "Nope", "B"}}, 1, "", "no configuration named 'Nope'");
        row("delete missing, escaped", {{"delete", "No\x1b[2J"}}, 1, "",
            "There is no configuration named 'No\\x1b[2J'.");
        row("init over data", {{"new", "B"}, {"init", "--sample"}}, 1, "", "exists already", two);
        row("mod-id set", {{"mod-id", " x "}, {"mod-id"}}, 0, "x\n");
        const QString lineBreak =
            "holds the control character \\n at position 2, which a class file "
            "cannot carry.";
        row("new, name with a line break", {{"new", "a\nb"}}, 1, "",
            "The configuration name " + lineBreak);
        row("mod-id with a line break refused", {{"mod-id", "a\nb"}}, 1, "",
            "The Mod ID " + lineBreak + " It was not saved.");
        row("unknown command", {{"frobnicate"}}, 2, "", "unknown command");
        row("missing argument", {{"new"}}, 2, "", "new takes one NAME");
        row("unknown option", {{"--frob", "list"}}, 2, "",
            "unknown option --frob\nTry 'tarn-cli --help'.");
        row("unknown option of a command", {{"list", "-x"}}, 2, "", "unknown option -x");
        row("option that takes no value", {{"init", "--sample=1"}}, 2, "",
            "unexpected value after '--sample'");
        row("no directory", {{"--data-dir"}}, 2, "", "--data-dir needs a directory");
        row("-- ends the options", {{"new", "--", "--plain"}}, 0, "", "",
            {"--plain", "Sample Config"});
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
        row("diff, a folder", {{"diff", "Sample Config", "."}}, 3, "",
            ".: this is a folder, not a file");
        row("diff, different", {{"new", "B"}, {"diff", "Sample Config", "B"}}, 1,
            "only in A: Scout\nonly in A: Soldier\n", "", two);
        row("diff, no such configuration, escaped", {{"diff", "Sample Config", "No\x1b[2J"}}, 3, "",
            "There is no configuration or file named 'No\\x1b[2J'.");
        row("diff, a file that does not read", {{"diff", "ODD", "Sample Config"}}, 3, "",
            "ODD:3: Bad Class Record");
        row("diff, one argument", {{"diff", "A"}}, 2, "", "diff takes A B");
        // A build pipeline's folder may hold the class files alone (FILE2: another file).
        row("diff without data files: the files alone, slots by id",
            {{"export", "Sample Config", "FILE"},
             {"SQL", "UPDATE classdef SET w3 = 7 WHERE class_name = 'Scout'"},
             {"export", "Sample Config", "FILE2"},
             {"NODATA"},
             {"diff", "FILE", "FILE2"}},
            1, "changed: Scout\n  Weapon slot 3: 3 -> 7\n", "There are no data files in", {});
        const QString lowered = ":4: warning: the byte 0xE9 ('\u00e9' in Latin-1) is read as 'i'";
        row("check, a plain file's byte above 128", {{"check", "LATIN"}}, 0, "1\n", lowered);
        row("import, a plain file's byte above 128", {{"import", "B", "LATIN"}}, 0, "", lowered,
            two);
        row("show, unknown format", {{"show", "--format", "xml", "Sample Config"}}, 2, "",
            "unknown format 'xml'");
        row("import, no file name", {{"import", "C", ""}}, 2, "",
            "import: the FILE given is empty");
        row("import, escaped", {{"import", "C", "ODD"}}, 1, "",
            "Bad Class Record: \\x1b[2Jred\\rx\\x80\nODD, line 3\n");
        // A file name may hold anything; none of it reaches the terminal raw.
        row("import, file name escaped", {{"import", "C", "GONE"}}, 1, "",
            "gone\\x1b[2J.class\nNothing");
        row("check, file name escaped", {{"check", "GONE"}}, 1, "",
            "gone\\x1b[2J.class: No such file");
        row("export, file name escaped", {{"export", "Sample Config", "GONE/x.class"}}, 1, "",
            "gone\\x1b[2J.class/x.class.\n");
    }

    void commands()
    {
        QFETCH(QList<QStringList>, commands);
        QFETCH(int, code);
        QFETCH(QString, output);
        QFETCH(QString, error);
        QFETCH(QStringList, list);
        DataDir dir;
        const QString file = dir.file("out.class"), odd = dir.file("50%1 off.class"),
                      gone = dir.file("gone\x1b[2J.class");
        writeFile(odd, "V3\r\nx\r\n\x1b[2Jred\rx\x80\r\n\r\n");
        writeFile(dir.file("latin.class"), "V3\r\nx\r\n\r\n[Caf\xE9]\r\nm a b 0\r\n0 0 0 0 0 0 0 "
                                           "0 0 0\r\n0 0 0\r\n0 0 0 0 0\r\n0 0 0 0 0 0\r\n");
        CliRun last{};
        for (QStringList command : commands) {
            if (command.first() == "NODATA") {
                if (onTestServer())
                    QSKIP("a server is no folder of files");
                QVERIFY(QFile::remove(dir.dataPath()) && QFile::remove(dir.refPath()));
                continue;
            }
            if (command.first() == "SQL") { // another program's change
                const Peek peek(dir.dataPath());
                peek.exec(peek.onServer() ? QString(command.at(1)).replace("char(", "chr(")
                                          : command.at(1));
                continue;
            }
            last = runCli(dir.location(), command.replaceInStrings("FILE", file)
                                              .replaceInStrings("ODD", odd)
                                              .replaceInStrings("LATIN", dir.file("latin.class"))
                                              .replaceInStrings("GONE", gone));
        }
        QCOMPARE(last.code, code);
        QCOMPARE(last.out, output);
        QVERIFY2(last.err.contains(error.replace("ODD", odd)), qPrintable(last.err));
        QVERIFY2(!last.err.contains(u'\x1b'), qPrintable(last.err));
        QCOMPARE(error.isEmpty(), last.err.isEmpty());
        QCOMPARE(runCli(dir.location(), {"list"}).out,
                 list.isEmpty() ? QString() : list.join('\n') + '\n');
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

    void helpSeparatesColumns()
    {
        DataDir dir;
        const CliRun help = runCli(dir.location(), {"--help"});
        QCOMPARE(help.code, 0);
        QVERIFY(help.err.isEmpty());
        // Every option and command line: two spaces, the synopsis, a gap of two
        // or more spaces, the description; descriptions start in one column.
        static const QRegularExpression entry("^  (\\S.*?\\S)  +(\\S)");
        QSet<qsizetype> columns;
        QStringList synopses;
        for (const QString &line : help.out.split('\n')) {
            if (!line.startsWith("  "))
                continue;
            const QRegularExpressionMatch match = entry.match(line);
            QVERIFY2(match.hasMatch(), qPrintable(line));
            columns << match.capturedStart(2);
            synopses << match.captured(1);
        }
        QCOMPARE(columns.size(), 1);
        for (const char *wanted :
             {"--data-dir DIR", "--database URL", "-h, --help", "init [--sample] [--from DIR]",
              "pull DIR", "export [--plain] NAME FILE", "check FILE", "migrate"})
            QVERIFY2(synopses.contains(wanted), qPrintable(help.out));
    }

    void dataFolder_data()
    {
        // Each row runs in an empty temporary folder; DIR stands for the data folder.
        QTest::addColumn<QString>("folder"); // the data folder, below the temporary one
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("output"); // a part of stdout and stderr
        QTest::addColumn<bool>("created");   // both data files are there after
        auto row = [](const char *name, const char *folder, const QStringList &args, int code,
                      const QString &output, bool created = false) {
            QTest::newRow(name) << folder << args << code << output << created;
        };
        // The folder is not made, nor the files.
        row("none: says to run init", "a/b", {"list"}, 1, "Run 'tarn-cli --data-dir DIR init'");
        row("none: the command to run quotes the folder", "a/my $x", {"list"}, 1,
            "Run 'tarn-cli --data-dir \"DIR\" init'");
        row("init makes the folder", "a/50%1 b", {"init"}, 0,
            "Created DIR/tarn_dat.mdb and DIR/tarn_ref.mdb\n", true);
        row("help names the folder in use", "a", {"--help"}, 0, "Data folder in use: DIR\n");
        row("version", "", {"--version"}, 0, QStringLiteral("tarn-cli (tarn) %1\n").arg(kVersion));
    }

    void dataFolder()
    {
        QFETCH(QString, folder);
        QFETCH(QStringList, args);
        QFETCH(int, code);
        QFETCH(QString, output);
        QFETCH(bool, created);
        QTemporaryDir root;
        const QString dir = QDir(root.path()).filePath(folder);
        const CliRun run = runCli(QDir::cleanPath(dir), args);
        QCOMPARE(run.code, code);
        const QString printed = run.out + run.err;
        QVERIFY2(printed.contains(
                     QString(output).replace("DIR", QDir::cleanPath(dir).replace("$", "\\$"))),
                 qPrintable(printed));
        QCOMPARE(QFile::exists(QDir(dir).filePath("tarn_dat.mdb")), created);
        QCOMPARE(QFile::exists(QDir(dir).filePath("tarn_ref.mdb")), created);
        if (!created && args.first() != "--help")
            QCOMPARE(QDir(root.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size(),
                     0);
    }

    void outputNotWritten_data()
    {
        // tarn-cli itself, its standard output broken in one of three ways; every
        // command writes through the one stream that is checked. diff's failure
        // is 3: its 1 says "different".
        QTest::addColumn<QString>("how");
        QTest::addColumn<QStringList>("command");
        QTest::addColumn<int>("code");
        for (const char *how : {"full disk", "closed", "file-size limit"}) {
            QTest::addRow("list, %s", how) << how << QStringList{"list"} << 1;
            QTest::addRow("diff, %s", how) << how << QStringList{"diff", "Sample Config", "B"} << 3;
            QTest::addRow("show, %s", how) << how << QStringList{"show", "Sample Config"} << 1;
        }
    }

    void outputNotWritten()
    {
        QFETCH(QString, how);
        QFETCH(QStringList, command);
        QFETCH(int, code);
        DataDir dir;
        QCOMPARE(runCli(dir.location(), {"new", "B"}).code, 0);
        QProcess cli;
        if (how == "full disk") {
            cli.setStandardOutputFile("/dev/full");
        } else if (how == "closed") {
            cli.setChildProcessModifier([] { close(STDOUT_FILENO); });
        } else {
            cli.setStandardOutputFile(dir.file("out.txt"));
            cli.setChildProcessModifier([] {
                signal(SIGXFSZ, SIG_IGN);
                const rlimit limit{1, 1};
                setrlimit(RLIMIT_FSIZE, &limit);
            });
        }
        cli.start(TARN_CLI,
                  QStringList{onTestServer() ? "--database" : "--data-dir", dir.location()} +
                      command);
        QVERIFY(cli.waitForFinished(60000));
        QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
        const QString err = QString::fromLocal8Bit(cli.readAllStandardError());
        QVERIFY2(err.startsWith("tarn-cli: the output could not be written: ") &&
                     (how != "closed" || err.contains("standard output is closed")),
                 qPrintable(err));
        QCOMPARE(cli.exitCode(), code);
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
        for (qsizetype i = 0; i < stored.size(); ++i) {
            const QJsonObject read = classes.at(i).toObject();
            QCOMPARE(read.keys().size(), columns.size());
            for (const QString &column : columns) {
                if (column.endsWith("_sum"))
                    continue;
                const QVariant value = stored[i][column];
                const QJsonValue got = read.value(column);
                if (value.isNull())
                    QVERIFY2(got.isNull(), qPrintable(column));
                else if (value.typeId() == QMetaType::QString)
                    QCOMPARE(got.toString(), value.toString());
                else
                    QCOMPARE(got.toInteger(-1), value.toLongLong());
            }
        }
        QCOMPARE(classes.at(0).toObject().value("class_name").toString(), names[1]);
        QCOMPARE(classes.at(1).toObject().value("item_sum").toInt(), 1); // Jetpack
        QCOMPARE(classes.at(1).toObject().value("special_sum").toInt(), 33);

        const CliRun csv = runCli(dir.location(), {"show", "--format", "csv", config});
        const QList<QStringList> lines = parseCsv(csv.out);
        QCOMPARE(lines.size(), 4); // and the mark
        QCOMPARE(lines[0], columns);
        QCOMPARE(lines[1].mid(0, 3), (QStringList{"0", names[1], ""}));
        QCOMPARE(lines[2].mid(0, 3), (QStringList{"1", names[0], "male"}));
        QCOMPARE(lines[2][columns.indexOf("w1")], "5");
        QCOMPARE(lines[1][columns.indexOf("max_armor")], "");
        QCOMPARE(lines[1][columns.indexOf("s31")], "1");

        const CliRun text = runCli(dir.location(), {"show", config});
        QVERIFY2(text.out.startsWith("Class Num: 0\nClass Name: Ünï 😀 %1\\nzwei, \"drei\"\\r\n"
                                     "Model Name: \n"),
                 qPrintable(text.out));
        QVERIFY(text.out.contains(
            "\nClass Num: 1\nClass Name: Sc,\"out\\x1b[2J\\\\n\nModel Name: male\n"));
        QVERIFY(text.out.contains("\nWeapon slot 1: Rail Lance\n")); // w1 = 5 as stored
        QVERIFY(text.out.contains("\nWeapon slot 3: Nail Driver\n"));
        QVERIFY(peek.onServer() || text.out.contains("\nWeapon slot 5: abc\n"));
        QVERIFY(text.out.contains("\nSpecial Abilities: Double Jump, Sprint\n"));
        QVERIFY(!text.out.contains("s31"));
    }
};

QTEST_GUILESS_MAIN(tst_Cli)
#include "tst_cli.moc"
