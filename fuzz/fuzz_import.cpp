// SPDX-License-Identifier: GPL-3.0-or-later
// Fuzz target for importing a class file through the store into a real
// database. Every input must be imported whole or refused with nothing
// stored: the target aborts on anything else. The name of the new
// configuration is line 2 of the input, so that odd names are tried too.

#include "core/classfileio.h"
#include "core/startup.h"
#include "store/initfiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

using namespace tarn;

namespace
{

struct Fixture {
    std::unique_ptr<QCoreApplication> app;
    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<AppState> state;
    QString input;
};

Fixture *fixture = nullptr;

[[noreturn]] void violated(const char *what, const QString &detail = {})
{
    std::fprintf(stderr, "invariant violated: %s\n%s\n", what, qPrintable(detail));
    std::abort();
}

void require(bool condition, const char *what, const QString &detail = {})
{
    if (!condition)
        violated(what, detail);
}

qint64 scalar(const QString &sql, const QVariantList &values = {})
{
    QSqlQuery query;
    const Status s = fixture->state->data().database().exec(query, sql, values);
    require(s && query.next(), "a count failed", s.message());
    return query.value(0).toLongLong();
}

struct Counts {
    qint64 packages;
    qint64 classes;
    bool operator==(const Counts &) const = default;
};

Counts counts()
{
    return {scalar(QStringLiteral("SELECT count(*) FROM package")),
            scalar(QStringLiteral("SELECT count(*) FROM classdef"))};
}

// Line 2 of the input as Latin-1, at most 40 characters; a default if empty.
QString nameFrom(const QByteArray &input)
{
    const QList<QByteArray> lines = input.left(200).split('\n');
    QByteArray name = lines.size() > 1 ? lines.at(1).left(40) : QByteArray();
    if (name.endsWith('\r'))
        name.chop(1);
    return name.isEmpty() ? QStringLiteral("Fuzzed") : QString::fromLatin1(name);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    fixture = new Fixture;
    fixture->app = std::make_unique<QCoreApplication>(*argc, *argv);
    // Memory-backed when possible: the fuzzer runs thousands of imports.
    const QString base =
        QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm") : QDir::tempPath();
    fixture->dir = std::make_unique<QTemporaryDir>(base + QStringLiteral("/tarn-fuzz-XXXXXX"));
    const QString dir = fixture->dir->path();
    fixture->state = std::make_unique<AppState>(dir);
    require(createDataFile(fixture->state->dataPath(), true) &&
                createRefFile(fixture->state->refPath(), true),
            "could not create the data files");
    const StartupResult started = startUp(*fixture->state);
    require(started.status.ok(), "start-up failed", started.status.message());
    fixture->input = QDir(dir).filePath(QStringLiteral("input.class"));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    {
        QFile file(fixture->input);
        require(file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
                    file.write(bytes) == bytes.size(),
                "could not write the input file");
    }
    const QString name = nameFrom(bytes);
    const Counts before = counts();
    const Result<int> checked = checkClassFile(fixture->input);
    const Status imported = importClassFile(*fixture->state, name, fixture->input);
    const Counts after = counts();

    if (!imported) {
        require(after == before, "a refused import changed the database", imported.message());
        require(!imported.message().isEmpty(), "a refusal without a message");
        // A file that reads cleanly is refused only for its name: one a new
        // configuration may not take, or one that exists.
        require(!checked || !DataStore::checkNewName(name) ||
                    imported.message().contains(QLatin1String("exists already")),
                "a readable file was refused", imported.message());
        return 0;
    }
    require(checked.ok(), "a file that does not read was imported", checked.message());
    require(after.packages == before.packages + 1 && after.classes == before.classes + *checked,
            "an import stored other than the file's classes");
    // Numbered 1, 2, 3 ... in file order.
    require(scalar(QStringLiteral("SELECT count(*) FROM classdef WHERE package_name = ? AND "
                                  "class_num BETWEEN 1 AND ?"),
                   {name, *checked}) == *checked,
            "the classes are not numbered 1 to n");
    const Status deleted = fixture->state->data().deletePackage(name);
    require(deleted.ok(), "the imported configuration could not be deleted", deleted.message());
    require(counts() == before, "delete left rows behind");
    return 0;
}
