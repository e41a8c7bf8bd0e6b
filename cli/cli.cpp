#include "cli.h"

#include "commands.h"
#include "startup.h"

#include <array>

namespace tarn::cli
{

namespace
{

const std::array kCommands{
    Command{"init", "init [--sample]",
            "create tarn_dat.mdb and tarn_ref.mdb (with sample rows); never overwrites", false,
            cmdInit},
    Command{"list", "list", "print the configuration names, one a line, in list order", true,
            cmdList},
    Command{"new", "new NAME", "add an empty configuration", true, cmdNew},
    Command{"delete", "delete NAME", "delete a configuration and all its classes", true, cmdDelete},
    Command{"copy", "copy SOURCE NEW", "copy a configuration and its classes under a new name",
            true, cmdCopy},
    Command{"mod-id", "mod-id [VALUE]", "print the Mod ID, or set it", true, cmdModId},
    Command{"export", "export [--plain] NAME FILE",
            "write a configuration as a class file, scrambled unless --plain", true, cmdExport},
    Command{"import", "import NAME FILE", "read a class file into a new configuration", true,
            cmdImport},
    Command{"check", "check FILE", "read a class file without storing it; print its classes",
            false, cmdCheck},
    Command{"migrate", "migrate", "convert Jet data files to SQLite; keeps the Jet files", false,
            cmdMigrate},
};

void printHelp(QTextStream &out)
{
    out << "Usage: tarn-cli [--data-dir DIR] COMMAND [ARGS]\n\n"
           "The data files tarn_dat.mdb, tarn_ref.mdb and tarn.ini live in DIR\n"
           "(default: the directory of the program).\n\nCommands:\n";
    for (const Command &c : kCommands)
        out << QStringLiteral("  %1%2\n")
                   .arg(QLatin1String(c.synopsis), -26)
                   .arg(QLatin1String(c.help));
    out << "\nExit status: 0 success, 1 failure, 2 usage error.\n";
}

} // namespace

int Context::fail(const QString &message) const
{
    err << "tarn-cli: " << message << '\n';
    err.flush();
    return Failure;
}

int Context::usage(const QString &message) const
{
    err << "tarn-cli: " << message << "\nTry 'tarn-cli --help'.\n";
    err.flush();
    return Usage;
}

int run(const QStringList &arguments, QTextStream &out, QTextStream &err)
{
    QStringList args = arguments;
    QString dataDir;
    bool dataDirSet = false;
    while (!args.isEmpty() && args.first().startsWith(QLatin1String("--"))) {
        const QString option = args.takeFirst();
        if (option == QLatin1String("--help")) {
            printHelp(out);
            return Success;
        }
        if (option == QLatin1String("--data-dir") && !args.isEmpty()) {
            dataDir = args.takeFirst();
            dataDirSet = true;
        } else if (option.startsWith(QLatin1String("--data-dir="))) {
            dataDir = option.mid(11);
            dataDirSet = true;
        } else {
            Context c{{}, out, err, {}};
            return c.usage(option == QLatin1String("--data-dir")
                               ? QStringLiteral("--data-dir needs a directory")
                               : QStringLiteral("unknown option %1").arg(option));
        }
    }
    if (!dataDirSet)
        dataDir = defaultDataDir();
    if (dataDir.isEmpty()) {
        Context c{{}, out, err, {}};
        return c.usage(QStringLiteral("--data-dir needs a directory"));
    }
    if (args.isEmpty()) {
        Context c{{}, out, err, dataDir};
        return c.usage(QStringLiteral("no command given"));
    }
    const QString name = args.takeFirst();
    for (const Command &command : kCommands) {
        if (name != QLatin1String(command.name))
            continue;
        Context context{args, out, err, dataDir};
        if (args.contains(QLatin1String("--help"))) {
            out << "Usage: tarn-cli [--data-dir DIR] " << command.synopsis << "\n  " << command.help
                << '\n';
            return Success;
        }
        AppState state(dataDir);
        if (command.needsStartup) {
            StartupResult started = startUp(state);
            if (!started.jetFiles.isEmpty())
                return context.fail(started.status.message() +
                                    QStringLiteral("\nRun 'tarn-cli migrate' to convert them."));
            if (!started.status)
                return context.fail(started.status.message());
            context.state = &state;
        }
        const int code = command.handler(context);
        out.flush();
        err.flush();
        return code;
    }
    Context c{{}, out, err, dataDir};
    return c.usage(QStringLiteral("unknown command %1").arg(name));
}

} // namespace tarn::cli
