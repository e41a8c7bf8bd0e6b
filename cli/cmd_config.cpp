#include "commands.h"

#include "core/settings.h"
#include "core/startup.h"
#include "store/textrules.h"

namespace tarn::cli
{

int cmdInit(Context &c)
{
    if (!c.args.isEmpty())
        return c.usage(QStringLiteral("init takes only --sample"));
    const bool sample = c.flags.contains(QStringLiteral("sample"));
    AppState paths(c.dataDir);
    if (Status s = createDataFiles(paths, sample); !s)
        return c.fail(s.message());
    c.out << "Created " << paths.dataPath() << " and " << paths.refPath()
          << (sample ? " with sample rows\n" : "\n");
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
    if (Status s = settings::WriteModID(c.state->settingsPath(), value); !s)
        return c.fail(s.message());
    c.state->setModId(value);
    return Success;
}

} // namespace tarn::cli
