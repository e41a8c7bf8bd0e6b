#include "commands.h"

#include "classfileio.h"

namespace tarn::cli
{

int cmdExport(Context &c)
{
    if (c.args.size() != 2)
        return c.usage(QStringLiteral("export takes [--plain] NAME FILE"));
    const bool plain = c.flags.contains(QStringLiteral("plain"));
    if (Status s = exportClassFile(*c.state, c.args.at(0), c.args.at(1), !plain); !s)
        return c.fail(s.message());
    return Success;
}

int cmdImport(Context &c)
{
    if (c.args.size() != 2)
        return c.usage(QStringLiteral("import takes NAME FILE"));
    if (Status s = importClassFile(*c.state, c.args.at(0), c.args.at(1)); !s)
        return c.fail(s.message());
    return Success;
}

int cmdCheck(Context &c)
{
    if (c.args.size() != 1)
        return c.usage(QStringLiteral("check takes one FILE"));
    const Result<int> classes = checkClassFile(c.args.first());
    if (!classes) {
        // The problem alone, as FILE:LINE: cause, for editors and scripts.
        c.err << classes.message() << '\n';
        return Failure;
    }
    c.out << *classes << '\n';
    return Success;
}

} // namespace tarn::cli
