// SPDX-License-Identifier: GPL-3.0-or-later
#include "commands.h"

#include "core/classfileio.h"

#include <csignal>

#include <unistd.h>

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

namespace
{

constexpr int kInterrupted = 128 + SIGINT;
volatile std::sig_atomic_t gStoring = 0;
volatile std::sig_atomic_t gInterrupted = 0;

// Ctrl+C while the file is read (perhaps waiting on a pipe) ends the program
// at once: nothing is stored yet and the temporary copy has no name. While
// storing, it cancels, so that the transaction is rolled back.
extern "C" void onInterrupt(int)
{
    if (!gStoring)
        _exit(kInterrupted);
    gInterrupted = 1;
}

} // namespace

int cmdImport(Context &c)
{
    if (c.args.size() != 2)
        return c.usage(QStringLiteral("import takes NAME FILE"));
    gStoring = 0;
    gInterrupted = 0;
    struct sigaction action = {}, previous = {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &previous);
    QStringList warnings;
    const Status status = importClassFile(
        *c.state, c.args.at(0), c.args.at(1),
        [](qint64 done, qint64 total) {
            if (done >= total / 2)
                gStoring = 1;
            return !gInterrupted;
        },
        &warnings);
    sigaction(SIGINT, &previous, nullptr);
    if (!status) {
        c.fail(status.message());
        return gInterrupted ? kInterrupted : Failure;
    }
    for (const QString &warning : warnings)
        c.err << "tarn-cli: " << warning << '\n';
    return Success;
}

int cmdCheck(Context &c)
{
    if (c.args.size() != 1)
        return c.usage(QStringLiteral("check takes one FILE"));
    QStringList warnings;
    const Result<int> classes = checkClassFile(c.args.first(), &warnings);
    if (!classes) {
        // The problem alone, as FILE:LINE: cause, for editors and scripts.
        c.err << classes.message() << '\n';
        return Failure;
    }
    for (const QString &warning : warnings)
        c.err << warning << '\n';
    c.out << *classes << '\n';
    return Success;
}

} // namespace tarn::cli
