// SPDX-License-Identifier: GPL-3.0-or-later
#include "commands.h"

#include "core/settings.h"
#include "core/startup.h"
#include "store/textrules.h"

namespace tarn::cli
{

int cmdInit(Context &c)
{
    if (!c.args.isEmpty())
        return c.usage(QStringLiteral("init takes only --sample and --from DIR"));
    const bool sample = c.flags.contains(QStringLiteral("sample"));
    const QString from = c.values.value(QStringLiteral("from"));
    AppState paths(c.location);
    if (c.values.contains(QStringLiteral("from"))) {
        if (sample)
            return c.usage(QStringLiteral("init takes --sample or --from, not both"));
        if (!paths.onServer())
            return c.usage(QStringLiteral("init --from needs --database URL"));
        if (from.isEmpty())
            return c.usage(QStringLiteral("--from needs a directory"));
        if (Status s = seedTeamDatabase(paths, from); !s)
            return c.fail(s.message());
        c.out << "Created the tables in " << paths.where() << " from the data files of " << from
              << '\n';
        return Success;
    }
    if (Status s = createDataFiles(paths, sample); !s)
        return c.fail(s.message());
    if (paths.onServer())
        c.out << "Created the tables in " << paths.where();
    else
        c.out << "Created " << paths.dataPath() << " and " << paths.refPath();
    c.out << (sample ? " with sample rows\n" : "\n");
    return Success;
}

int cmdPull(Context &c)
{
    if (c.args.size() != 1 || c.args.first().isEmpty())
        return c.usage(QStringLiteral("pull takes one DIR"));
    AppState team(c.location);
    if (!team.onServer())
        return c.usage(QStringLiteral("pull needs --database URL (or TARN_DATABASE)"));
    if (Status s = pullTeamDatabase(team, c.args.first()); !s)
        return c.fail(s.message());
    c.out << "Copied " << team.where() << " into " << c.args.first() << '\n';
    return Success;
}

int cmdList(Context &c)
{
    if (!c.args.isEmpty())
        return c.usage(QStringLiteral("list takes no arguments"));
    if (Status s = c.state->data().forEachPackageName(
            // One a line: a line break or escape sequence another program
            // stored in a name is shown escaped.
            [&c](const QString &name) { c.out << shownText(name) << '\n'; });
        !s)
        return c.fail(s.message());
    return Success;
}

int cmdNew(Context &c)
{
    if (c.args.size() != 1)
        return c.usage(QStringLiteral("new takes one NAME"));
    if (Status s = c.state->data().createPackage(c.args.first()); !s)
        return c.fail(s.message());
    return Success;
}

int cmdDelete(Context &c)
{
    if (c.args.size() != 1)
        return c.usage(QStringLiteral("delete takes one NAME"));
    if (Status s = c.state->data().deletePackage(c.args.first()); !s)
        return c.fail(s.message());
    return Success;
}

int cmdCopy(Context &c)
{
    if (c.args.size() != 2)
        return c.usage(QStringLiteral("copy takes SOURCE and NEW"));
    if (Status s = c.state->data().copyPackage(c.args.at(0), c.args.at(1)); !s)
        return c.fail(s.message());
    return Success;
}

int cmdModId(Context &c)
{
    if (c.args.size() > 1)
        return c.usage(QStringLiteral("mod-id takes at most one VALUE"));
    if (c.args.isEmpty()) {
        c.out << c.state->modId() << '\n';
        return Success;
    }
    const QString value = c.args.first();
    if (value.isEmpty())
        return c.fail(QStringLiteral("the Mod ID given is empty; nothing was changed"));
    if (Status s = c.state->saveModId(value); !s)
        return c.fail(s.message());
    return Success;
}

} // namespace tarn::cli
