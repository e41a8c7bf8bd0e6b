// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli.h"

#include "commands.h"
#include "core/startup.h"
#include "store/history.h"
#include "store/textrules.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QIODevice>
#include <QRegularExpression>

#include <array>

namespace tarn::cli
{

namespace
{

// show and diff name slots and flags: every reference table.
const FirstReads kEveryRefTable{.refs = {schema::RefKind::Weapon, schema::RefKind::Grenade,
                                         schema::RefKind::Item, schema::RefKind::Special}};

const std::array kCommands{
    Command{"init", "init [--sample] [--from DIR]",
            "create tarn_dat.mdb and tarn_ref.mdb (with sample rows); never overwrites. With "
            "--database: the tables in that database, empty, with sample rows, or copied from "
            "the data files of DIR",
            false, cmdInit},
    Command{"pull", "pull DIR",
            "with --database: write a complete local copy of the team database into DIR (the "
            "data files and tarn.ini); never overwrites",
            false, cmdPull},
    Command{"list",
            "list",
            "print the configuration names, one a line, in list order",
            true,
            cmdList,
            Failure,
            false,
            {.names = true, .follow = false, .refs = {}}},
    Command{"new",
            "new NAME",
            "add an empty configuration",
            true,
            cmdNew,
            Failure,
            false,
            {},
            FirstWrite::Create},
    Command{"delete",
            "delete NAME",
            "delete a configuration and all its classes",
            true,
            cmdDelete,
            Failure,
            false,
            {},
            FirstWrite::Delete},
    Command{"copy",
            "copy SOURCE NEW",
            "copy a configuration and its classes under a new name",
            true,
            cmdCopy,
            Failure,
            false,
            {},
            FirstWrite::Copy},
    Command{"mod-id", "mod-id [VALUE]", "print the Mod ID, or set it", true, cmdModId},
    Command{"export",
            "export [--plain] NAME FILE",
            "write a configuration as a class file, scrambled unless --plain",
            true,
            cmdExport,
            Failure,
            false,
            {.refs = {schema::RefKind::Item, schema::RefKind::Special}}},
    Command{"import", "import NAME FILE", "read a class file into a new configuration", true,
            cmdImport},
    Command{"check", "check FILE", "read a class file without storing it; print its classes", false,
            cmdCheck},
    Command{"show", "show [--format FORMAT] NAME",
            "print a configuration's classes; FORMAT is text (names, the default), csv or json "
            "(ids)",
            true, cmdShow, Failure, false, kEveryRefTable},
    Command{"diff", "diff A B",
            "compare two configurations or class files class by class (a configuration's name "
            "wins; ./FILE for a file); status 0 equal, 1 different, 3 failure",
            true, cmdDiff, DiffFailure, true, kEveryRefTable},
    Command{"apply", "apply [--dry-run] [--force] [--delete-missing] NAME FILE",
            "change a configuration to match a sheet show wrote as csv or json, classes matched "
            "by number; prints the changes as diff does, then stores them all or none. Refused "
            "when the configuration changed since, unless --force; --dry-run only prints; "
            "--delete-missing deletes the classes the sheet lacks",
            true, cmdApply, Failure, false, kEveryRefTable},
    Command{"history",
            "history [--class CLASS] [--since TIME] [--format FORMAT] [--size] "
            "[--prune-before TIME] [NAME]",
            "print the recorded changes, newest first, of every configuration and reference "
            "table or of NAME (--class: one class number), with who, when and which program; "
            "FORMAT is text or json. TIME is ISO 8601 (2026-12-06T14:00, local time unless it "
            "names a zone) or a change's id. --size: how many records and bytes; --prune-before: "
            "remove the older records (on a server, its owner only)",
            true, cmdHistory},
    Command{"restore", "restore [--as-of TIME] [--as NEWNAME] NAME",
            "bring a configuration back whole as it stood at TIME (after the change of that "
            "id), a deleted one too, under its own name or NEWNAME; recorded as a change",
            true, cmdRestore},
    Command{"deleted", "deleted",
            "print the deleted configurations that restore can bring back: name, the id of the "
            "deletion, when, who and how many classes",
            true, cmdDeleted},
    Command{"upgrade", "upgrade",
            "with --database, as the database's owner: add the history tables (files gain them "
            "at start)",
            true, cmdUpgrade},
    Command{"migrate", "migrate", "convert Jet data files to SQLite; keeps the Jet files", false,
            cmdMigrate},
};

// The options a command takes are the ones its synopsis shows ("[--plain]",
// "[--format FORMAT]" for one that takes a value), so the two cannot disagree.
QList<QCommandLineOption> optionsOf(const Command &command)
{
    static const QRegularExpression option(QStringLiteral("\\[--([a-z-]+)(?: ([A-Z]+))?\\]"));
    QList<QCommandLineOption> options;
    for (const QRegularExpressionMatch &match : option.globalMatch(QLatin1String(command.synopsis)))
        options << QCommandLineOption(match.captured(1), QString(), match.captured(2));
    return options;
}

const QString kDataDir = QStringLiteral("data-dir");
const QString kDatabase = QStringLiteral("database");
const QString kHelp = QStringLiteral("help");
const QString kVersionOption = QStringLiteral("version");

// Before the command and after it.
QCommandLineOption helpOption()
{
    return {{QStringLiteral("h"), kHelp},
            QStringLiteral("print this help; after a command, print that command's help")};
}

// The options before the command, in the order the help lists them. Add an
// option here and both the parser and the help know it.
const QList<QCommandLineOption> &globalOptions()
{
    static const QList<QCommandLineOption> list{
        {kDataDir, QStringLiteral("the directory of the data files"), QStringLiteral("DIR")},
        {kDatabase,
         QStringLiteral("a team database instead: postgresql://[user@]host[:port]/dbname"),
         QStringLiteral("URL")},
        helpOption(),
        {kVersionOption, QStringLiteral("print the program, its package and the version")},
    };
    return list;
}

QString dashed(const QString &name)
{
    return (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
}

// "-h, --help" or "--data-dir DIR".
QString synopsis(const QCommandLineOption &option)
{
    QStringList names;
    for (const QString &name : option.names())
        names << dashed(name);
    const QString value = option.valueName();
    return names.join(QStringLiteral(", ")) + (value.isEmpty() ? QString() : u' ' + value);
}

// One line of a two-column list. The gap is never empty, however long the
// left column grows.
void printEntry(QTextStream &out, const QString &left, const QString &right, qsizetype width)
{
    // A long synopsis stands on a line of its own, not widening every other.
    if (left.size() > width)
        out << "  " << left << '\n' << QString(width + 2, u' ');
    else
        out << "  " << left.leftJustified(width);
    out << "  " << right << '\n';
}

// location: the data folder or database in use, or why there is none.
void printHelp(QTextStream &out, const Result<QString> &location)
{
    qsizetype width = 0;
    for (const QCommandLineOption &option : globalOptions())
        width = std::max(width, synopsis(option).size());
    for (const Command &c : kCommands)
        width = std::max(width, qsizetype(qstrlen(c.synopsis)));
    width = std::min(width, qsizetype(56));
    out << "Usage: tarn-cli [--data-dir DIR | --database URL] COMMAND [ARGS]\n\n"
           "The data files tarn_dat.mdb, tarn_ref.mdb and tarn.ini live in DIR; without\n"
           "--data-dir, in the program's folder when a data file is there, else in\n"
        << userDataDirText()
        << ".\nA team database on a PostgreSQL server (--database, or the environment\n"
           "variable TARN_DATABASE) holds both sets of tables and the Mod ID; passwords\n"
           "come from ~/.pgpass, PGPASSFILE or PGPASSWORD.\n";
    if (!location)
        out << "Data folder in use: none. " << location.message();
    else if (const AppState where(*location); where.onServer())
        out << "Database in use: " << where.where();
    else
        out << "Data folder in use: "
            << QDir::toNativeSeparators(QFileInfo(where.dataDir()).absoluteFilePath());
    out << "\n\nOptions:\n";
    for (const QCommandLineOption &option : globalOptions())
        printEntry(out, synopsis(option), option.description(), width);
    out << "\nCommands:\n";
    for (const Command &c : kCommands)
        printEntry(out, QLatin1String(c.synopsis), QLatin1String(c.help), width);
    out << "\nAn argument -- ends the options: 'export -- --plain FILE' exports the\n"
           "configuration named --plain.\n"
           "\nExit status: 0 success, 1 failure, 2 usage error; diff: 0 equal, 1 different,\n"
           "2 usage error, 3 failure (a configuration or file that cannot be read, or the\n"
           "output not written).\n";
}

// The folder as a shell reads it back when pasted: in double quotes when it
// holds more than letters, digits and /._-+:,@ (the message around it quotes
// with single ones); control characters escaped all the same.
QString shellWord(const QString &text)
{
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9/._+:,@-]+$"));
    if (plain.match(text).hasMatch())
        return text;
    QString quoted = shownText(text);
    for (const QChar special : {u'\\', u'"', u'$', u'`'})
        quoted.replace(special, QStringLiteral("\\") + special);
    return u'"' + quoted + u'"';
}

// Parses arguments (without the program name); on a usage error returns its
// message. The parser's own error handling would print and exit the process.
QString parse(QCommandLineParser &parser, const QStringList &arguments)
{
    if (parser.parse(QStringList{QStringLiteral("tarn-cli")} + arguments))
        return {};
    const QStringList unknown = parser.unknownOptionNames();
    if (!unknown.isEmpty())
        return QStringLiteral("unknown option %1").arg(dashed(unknown.first()));
    // The only other mistakes: a value missing at the end, or one given to a flag.
    if (!arguments.isEmpty() && arguments.constLast() == dashed(kDataDir))
        return QStringLiteral("--data-dir needs a directory");
    if (!arguments.isEmpty() && arguments.constLast() == dashed(kDatabase))
        return QStringLiteral("--database needs an address");
    QString text = parser.errorText();
    if (text.endsWith(u'.'))
        text.chop(1);
    return text.left(1).toLower() + text.mid(1);
}

// An empty FILE would reach the file system as no name at all.
QString emptyFileName(const Command &command, const QStringList &args)
{
    static const QRegularExpression options(QStringLiteral("\\[[^]]*\\]"));
    const QStringList words = QString::fromLatin1(command.synopsis)
                                  .remove(options)
                                  .split(u' ', Qt::SkipEmptyParts)
                                  .mid(1);
    for (qsizetype i = 0; i < std::min(words.size(), args.size()); ++i)
        if (words.at(i) == QLatin1String("FILE") && args.at(i).isEmpty())
            return QStringLiteral("%1: the FILE given is empty").arg(QLatin1String(command.name));
    return {};
}

// initCommand: how to run init on the same folder, for the first-run hint.
int runCommand(const Command &command, const QStringList &arguments, QTextStream &out,
               QTextStream &err, const QString &location, const QString &initCommand)
{
    Context context{{}, {}, out, err, location};
    context.failure = command.failure;
    QCommandLineParser parser;
    parser.addOption(helpOption());
    const QList<QCommandLineOption> options = optionsOf(command);
    for (const QCommandLineOption &option : options)
        parser.addOption(option);
    if (const QString wrong = parse(parser, arguments); !wrong.isEmpty())
        return context.usage(wrong);
    if (parser.isSet(kHelp)) {
        out << "Usage: tarn-cli [--data-dir DIR | --database URL] " << command.synopsis << "\n  "
            << command.help << '\n';
        return Success;
    }
    context.args = parser.positionalArguments();
    if (const QString empty = emptyFileName(command, context.args); !empty.isEmpty())
        return context.usage(empty);
    for (const QCommandLineOption &option : options) {
        const QString name = option.names().constFirst();
        if (!parser.isSet(name))
            continue;
        if (option.valueName().isEmpty())
            context.flags << name;
        else
            context.values.insert(name, parser.value(name));
    }
    setChangeProgram(QStringLiteral("tarn-cli ") + QLatin1String(command.name));
    AppState state(location);
    if (command.needsStartup) {
        FirstReads first = command.reads;
        if (command.writes != FirstWrite::None &&
            context.args.size() == (command.writes == FirstWrite::Copy ? 2 : 1))
            first.write = {command.writes, context.args.last(),
                           command.writes == FirstWrite::Copy ? context.args.first() : QString()};
        StartupResult started = startUp(state, first);
        if (started.noDataFiles && command.withoutData && !state.onServer()) {
            context.withoutData = started.status.message();
            return command.handler(context);
        }
        if (started.noDataFiles)
            return context.fail(started.status.message() +
                                QStringLiteral("\nRun '%1' to create them (add --sample for "
                                               "sample rows to start from).")
                                    .arg(initCommand));
        if (!started.jetFiles.isEmpty())
            return context.fail(started.status.message() +
                                QStringLiteral("\nRun 'tarn-cli migrate' to convert them."));
        if (!started.status)
            return context.fail(started.status.message());
        // The history's own commands say it themselves.
        if (started.noHistory && command.handler != cmdUpgrade && command.handler != cmdHistory &&
            command.handler != cmdDeleted && command.handler != cmdRestore)
            err << "tarn-cli: note: " << state.where()
                << " keeps no history yet; its owner adds it with 'tarn-cli --database URL "
                   "upgrade'\n";
        context.state = &state;
    }
    return command.handler(context);
}

// failure: set to the status a failure of the command found takes.
int runLine(const QStringList &arguments, QTextStream &out, QTextStream &err, int &failure)
{
    Context c{{}, {}, out, err, {}};
    QCommandLineParser parser;
    for (const QCommandLineOption &option : globalOptions())
        parser.addOption(option);
    // Everything after the command name is the command's to parse.
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    if (const QString wrong = parse(parser, arguments); !wrong.isEmpty())
        return c.usage(wrong);
    if (parser.isSet(kVersionOption)) {
        out << versionText(QStringLiteral("tarn-cli")) << '\n';
        return Success;
    }
    const Result<QString> location =
        chooseLocation(parser.isSet(kDataDir) ? parser.value(kDataDir) : QString(),
                       parser.isSet(kDatabase) ? parser.value(kDatabase) : QString());
    if (parser.isSet(kHelp)) {
        printHelp(out, location);
        return Success;
    }
    if (!location)
        return c.usage(location.message());
    if (location->isEmpty())
        return c.usage(QStringLiteral("--data-dir needs a directory"));
    const AppState where(*location);
    const QString initCommand =
        where.onServer()
            ? QStringLiteral("tarn-cli --database %1 init").arg(shellWord(where.where()))
        : parser.isSet(kDataDir)
            ? QStringLiteral("tarn-cli --data-dir %1 init").arg(shellWord(*location))
            : QStringLiteral("tarn-cli init");
    QStringList args = parser.positionalArguments();
    if (args.isEmpty())
        return c.usage(QStringLiteral("no command given"));
    const QString name = args.takeFirst();
    for (const Command &command : kCommands)
        if (name == QLatin1String(command.name)) {
            failure = command.failure;
            return runCommand(command, args, out, err, *location, initCommand);
        }
    return c.usage(QStringLiteral("unknown command %1").arg(name));
}

} // namespace

int Context::fail(const QString &message) const
{
    err << "tarn-cli: " << message << '\n';
    err.flush();
    return failure;
}

int Context::usage(const QString &message) const
{
    err << "tarn-cli: " << message << "\nTry 'tarn-cli --help'.\n";
    err.flush();
    return Usage;
}

int run(const QStringList &arguments, QTextStream &out, QTextStream &err)
{
    int failure = Failure;
    const int code = runLine(arguments, out, err, failure);
    // Output cut short (a full disk, a closed standard output) is a failure,
    // or a script would go on with half a list. diff's "different" is no
    // answer when the differences were not written.
    out.flush();
    if (out.status() == QTextStream::Ok)
        return code;
    Context c{{}, {}, out, err, {}};
    c.failure = failure;
    const QIODevice *device = out.device();
    return c.fail(QStringLiteral("the output could not be written: %1")
                      .arg(device ? device->errorString() : QStringLiteral("write error")));
}

} // namespace tarn::cli
