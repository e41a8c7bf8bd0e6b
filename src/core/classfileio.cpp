// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/classfileio.h"

#include "classfile/characters.h"
#include "classfile/classfilereader.h"
#include "classfile/classfilewriter.h"
#include "core/atomicfile.h"
#include "store/schema.h"
#include "store/textrules.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <algorithm>
#include <array>
#include <cstring>

namespace tarn
{

namespace
{

using classfile::ClassFileReader;
using classfile::ClassRecord;

// Progress is reported (and a cancel noticed) every this many classes.
constexpr int kProgressStep = 256;

const QString kCancelled = QStringLiteral("Cancelled: nothing was written or stored.");

// Import progress: reading and checking the file is the first half of the
// scale, storing it the second.
constexpr qint64 kImportHalf = kImportProgressHalf;

// Class files hold Latin-1, one byte a character.
QString fromFile(const std::string &bytes)
{
    return QString::fromLatin1(bytes.data(), qsizetype(bytes.size()));
}

// The text as Latin-1 bytes; the failure says why it cannot be.
Result<std::string> toFile(const QString &text)
{
    std::string bytes(size_t(text.size()), '\0');
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c > 0xFF) // whole characters only on this rare path
            for (const char32_t ucs : text.toUcs4())
                if (ucs > 0xFF)
                    return Status::failure(
                        Fault::Refused,
                        QStringLiteral("holds the character %1, which a class file cannot carry")
                            .arg(QString::fromStdString(classfile::describeCharacter(ucs))));
        bytes[size_t(i)] = char(c);
    }
    return bytes;
}

// A class file being read from its device.
ClassFileReader::Source sourceOf(QIODevice &device)
{
    return [&device](char *data, std::size_t size) -> std::ptrdiff_t {
        return std::ptrdiff_t(device.read(data, qint64(size)));
    };
}

// The checked classes of an import, kept in a temporary file between reading
// the class file and storing them: the file is parsed once, and memory stays
// flat whatever its size.
class RecordSpool
{
public:
    explicit RecordSpool(QIODevice &device) : mDevice(device) {}

    bool write(const ClassRecord &r)
    {
        mBuffer.clear();
        put(r.decoySkin);
        put(r.weapons);
        put(r.grenades);
        put(r.armor);
        put(r.speed);
        put(r.health);
        put(r.specialSum);
        put(r.itemSum);
        put(r.ammo);
        for (const std::string *text : {&r.name, &r.model, &r.skin1, &r.skin2})
            put(std::uint32_t(text->size()));
        for (const std::string *text : {&r.name, &r.model, &r.skin1, &r.skin2})
            mBuffer += *text;
        return mDevice.write(mBuffer.data(), qint64(mBuffer.size())) == qint64(mBuffer.size());
    }

    // False when the record is cut short.
    bool read(ClassRecord &r)
    {
        std::array<std::uint32_t, 4> sizes{};
        mBuffer.resize(kFixed);
        if (!fill(kFixed))
            return false;
        const char *at = mBuffer.data();
        take(at, r.decoySkin);
        take(at, r.weapons);
        take(at, r.grenades);
        take(at, r.armor);
        take(at, r.speed);
        take(at, r.health);
        take(at, r.specialSum);
        take(at, r.itemSum);
        take(at, r.ammo);
        take(at, sizes);
        std::size_t total = 0;
        for (const std::uint32_t size : sizes)
            total += size;
        mBuffer.resize(total);
        if (!fill(total))
            return false;
        at = mBuffer.data();
        std::size_t i = 0;
        for (std::string *text : {&r.name, &r.model, &r.skin1, &r.skin2}) {
            text->assign(at, sizes[i]);
            at += sizes[i++];
        }
        return true;
    }

private:
    static constexpr std::size_t kFixed =
        sizeof(ClassRecord::decoySkin) + sizeof(ClassRecord::weapons) +
        sizeof(ClassRecord::grenades) + 3 * sizeof(std::int16_t) + 2 * sizeof(std::int32_t) +
        sizeof(ClassRecord::ammo) + 4 * sizeof(std::uint32_t);

    template<typename T> void put(const T &value)
    {
        mBuffer.append(reinterpret_cast<const char *>(&value), sizeof value);
    }
    template<typename T> static void take(const char *&at, T &value)
    {
        std::memcpy(&value, at, sizeof value);
        at += sizeof value;
    }
    bool fill(std::size_t size)
    {
        return size == 0 || mDevice.read(mBuffer.data(), qint64(size)) == qint64(size);
    }

    QIODevice &mDevice;
    std::string mBuffer;
};

// Why a class file cannot be read.
struct ReadProblem {
    qint64 line = 0; // 0: the file could not be opened or spooled
    QString cause;   // escaped for a message
};

// The reader's problem, with the line and the cause as a message shows them.
ReadProblem problemOf(const ClassFileReader &reader)
{
    // The cause may quote the file, which may hold anything.
    return {qint64(reader.error().line), shownText(fromFile(reader.error().cause))};
}

// What reading a class file came to: the number of classes, or the problem;
// and the bytes a plain file's reading lowered.
struct ReadOutcome {
    int classes = 0;
    ReadProblem problem;
    std::vector<classfile::LoweredByte> lowered{};
    std::int64_t loweredLines = 0;
    bool ok() const { return problem.cause.isEmpty(); }
};

// A byte as a character in quotes, escaped when it is a control character.
QString quotedByte(unsigned char byte)
{
    return u'\'' + shownText(QString(QChar(byte))) + u'\'';
}

// The lines where a plain file's bytes above 128 were read 128 lower, as the
// game reads them: "FILE:LINE: warning: ...", the first few, then how many more.
QStringList loweredWarnings(const ReadOutcome &outcome, const QString &shownPath)
{
    QStringList warnings;
    for (const classfile::LoweredByte &at : outcome.lowered)
        warnings << QStringLiteral("%1:%2: warning: the byte 0x%3 (%4 in Latin-1) is read as %5%6")
                        .arg(shownPath, QString::number(at.line),
                             QString::number(at.byte, 16).toUpper(), quotedByte(at.byte),
                             quotedByte(at.byte - 128),
                             warnings.isEmpty()
                                 ? QStringLiteral(": a plain class file's bytes above 128 are "
                                                  "read 128 lower, as the game reads them")
                                 : QString());
    if (const qint64 more = outcome.loweredLines - qint64(outcome.lowered.size()); more > 0)
        warnings << QStringLiteral("%1: warning: %2 more lines hold bytes above 128")
                        .arg(shownPath, QString::number(more));
    return warnings;
}

ReadOutcome openClassFile(QFile &file)
{
    if (QFileInfo(file.fileName()).isDir())
        return {0, {0, QStringLiteral("this is a folder, not a file")}};
    if (!file.open(QIODevice::ReadOnly))
        return {0, {0, file.errorString()}};
    return {};
}

// Reads and checks every class of an open device, each to onClass, whose
// failure ends the read. Progress counts bytes of total; a cancel is a failure.
Result<ReadOutcome> readClasses(QIODevice &device, qint64 total, const ClassFileProgress &progress,
                                const std::function<Status(const ClassRecord &)> &onClass)
{
    ClassFileReader reader(sourceOf(device));
    ClassRecord record;
    for (;;) {
        switch (reader.next(record)) {
        case ClassFileReader::Step::Error:
            return ReadOutcome{reader.classCount(), problemOf(reader), {}, 0};
        case ClassFileReader::Step::End:
            if (progress && !progress(total, total))
                return Status::failure(Fault::Cancelled, kCancelled);
            return ReadOutcome{reader.classCount(), {}, reader.lowered(), reader.loweredLines()};
        case ClassFileReader::Step::Class:
            if (onClass)
                if (Status s = onClass(record); !s)
                    return s;
            if (progress && reader.classCount() % kProgressStep == 0 &&
                !progress(qint64(reader.bytesRead()), total))
                return Status::failure(Fault::Cancelled, kCancelled);
            break;
        }
    }
}

template<std::size_t N> std::array<bool, N> flagsOf(quint64 mask)
{
    std::array<bool, N> flags{};
    for (std::size_t k = 0; k < N; ++k)
        flags[k] = (mask >> k) & 1;
    return flags;
}

// Builds the record of a stored class; the failure names the field.
// The item and special-ability rows that turn a class's flags into the sums a
// class file carries.
struct FlagRows {
    QList<RefEntry> items, specials;
};

Result<FlagRows> flagRowsOf(AppState &state)
{
    constexpr std::array kinds{schema::RefKind::Item, schema::RefKind::Special};
    state.ref().readAhead(kinds);
    const Result<QList<RefEntry>> items = state.ref().all(schema::RefKind::Item);
    if (!items)
        return items.status();
    const Result<QList<RefEntry>> specials = state.ref().all(schema::RefKind::Special);
    if (!specials)
        return specials.status();
    return FlagRows{*items, *specials};
}

Result<ClassRecord> classFromRow(const StoredClass &row, const FlagRows &flagRows)
{
    const QList<RefEntry> &items = flagRows.items;
    const QList<RefEntry> &specials = flagRows.specials;
    const QStringList &columns = StoredClass::columns();
    ClassRecord r;
    int i = 0;
    Status problem = Status::success();
    auto text = [&](std::string &out) {
        // ASCII is the same in a class file: no conversion for most names.
        if (const std::string_view utf8 = row.utf8(i);
            std::all_of(utf8.begin(), utf8.end(),
                        [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
            out.assign(utf8);
            ++i;
            return true;
        }
        Result<std::string> bytes = toFile(row.text(i));
        if (!bytes)
            problem = Status::failure(Fault::Refused, schema::fieldLabel(columns.at(i)) +
                                                          QLatin1Char(' ') + bytes.message());
        else
            out = std::move(bytes.value());
        ++i;
        return bytes.ok();
    };
    auto whole = [&](std::int16_t &out) {
        const Result<qint16> value = row.whole(i++);
        if (!value)
            problem = value.status();
        else
            out = *value;
        return value.ok();
    };
    auto wholes = [&](auto begin, auto end) {
        return std::all_of(begin, end, [&](std::int16_t &v) { return whole(v); });
    };
    r.weapons[0] = 1;
    if (!text(r.name) || !text(r.model) || !text(r.skin1) || !text(r.skin2) ||
        !whole(r.decoySkin) || !wholes(r.weapons.begin() + 1, r.weapons.end()) ||
        !wholes(r.grenades.begin(), r.grenades.end()) || !whole(r.armor) || !whole(r.speed) ||
        !whole(r.health) || !wholes(r.ammo.begin(), r.ammo.end()))
        return problem;
    const Result<qint32> itemSum =
        flagSum(items, flagsOf<kItemBoxes>(row.flags(schema::RefKind::Item)));
    if (!itemSum)
        return Status::failure(Fault::Refused, QStringLiteral("item sum: ") + itemSum.message());
    const Result<qint32> specialSum =
        flagSum(specials, flagsOf<kSpecialBoxes>(row.flags(schema::RefKind::Special)));
    if (!specialSum)
        return Status::failure(Fault::Refused,
                               QStringLiteral("special sum: ") + specialSum.message());
    r.itemSum = *itemSum;
    r.specialSum = *specialSum;
    return r;
}

// Whether the export would write over one of the program's files or the side
// files the engine keeps beside a database, whether it exists yet or not.
bool isOwnFile(const AppState &state, const QString &path)
{
    QStringList own{state.settingsPath()};
    for (const QString &db : {state.dataPath(), state.refPath()})
        own << databaseFiles(db);
#if defined(Q_OS_WIN) || defined(Q_OS_MACOS)
    const Qt::CaseSensitivity cs = Qt::CaseInsensitive;
#else
    const Qt::CaseSensitivity cs = Qt::CaseSensitive;
#endif
    const QString target = AtomicFile::targetPath(path);
    for (const QString &file : own)
        if (target.compare(AtomicFile::targetPath(file), cs) == 0 ||
            target.compare(QFileInfo(file).absoluteFilePath(), cs) == 0)
            return true;
    return false;
}

} // namespace

Status exportClassFile(AppState &state, const QString &configName, const QString &path,
                       bool protect, const ClassFileProgress &progress)
{
    const QString what = QStringLiteral("Could not export the configuration '%1' to %2.")
                             .arg(shownText(configName), shownText(path));
    auto fail = [&what](const QString &cause, Fault fault = Fault::Refused) {
        return Status::failure(fault, what + QLatin1Char('\n') + cause);
    };

    // Replacing a data file, or a journal the engine would take for one, loses data.
    if (isOwnFile(state, path))
        return fail(QStringLiteral("TARN keeps its own data in that file; choose another file."));

    const Result<std::string> modId = toFile(state.modId());
    if (!modId)
        return fail(QStringLiteral("The Mod ID ") + modId.message());

    const Result<FlagRows> flagRows = flagRowsOf(state);
    if (!flagRows)
        return flagRows.status();

    // Every early return leaves the earlier file as it was: AtomicFile drops
    // what was written unless committed.
    AtomicFile file(path);
    Status written = Status::success();
    classfile::ClassFileWriter writer(
        [&file, &written](std::string_view bytes) {
            written = file.write(QByteArrayView(bytes.data(), qsizetype(bytes.size())));
            return written.ok();
        },
        protect);
    // Why the writer stopped, its field named as the class editor labels it.
    auto writeFailure = [&](const QString &prefix) {
        if (writer.sinkFailed())
            return fail(written.message(), written.fault());
        const classfile::ClassFileWriter::Refusal &r = writer.refusal();
        QString field = schema::fieldLabel(QString::fromStdString(r.field));
        if (!field.isEmpty())
            field += QLatin1Char(' ');
        return fail(prefix + field + QString::fromStdString(r.cause));
    };

    // Only progress needs the total, and counting reads every row once more.
    qint64 total = 0;
    qint64 done = 0;
    // One snapshot from the name to the last class: a configuration that
    // another program deletes or changes meanwhile is written whole or not at all.
    const Status read = state.data().readClasses(
        configName, bool(progress), what,
        [&](const QString &stored, qint64 classes) {
            // The header carries the name as stored, whatever its case was as typed.
            const Result<std::string> name = toFile(stored);
            if (!name)
                return fail(QStringLiteral("The configuration name ") + name.message());
            total = classes;
            if (progress && !progress(0, total))
                return fail(kCancelled, Fault::Cancelled);
            if (Status s = file.open(); !s)
                return fail(s.message(), s.fault());
            if (!writer.writeHeader(*modId, *name))
                return writeFailure(QStringLiteral("The "));
            return Status::success();
        },
        [&](const StoredClass &row) {
            auto ofClass = [&row] {
                return QStringLiteral("class \"%1\": ").arg(shownText(row.text(0)));
            };
            const Result<ClassRecord> record = classFromRow(row, *flagRows);
            if (!record)
                return fail(ofClass() + record.message());
            if (!writer.writeClass(*record))
                return writeFailure(ofClass());
            if (progress && ++done % kProgressStep == 0 && !progress(done, total))
                return fail(kCancelled, Fault::Cancelled);
            return Status::success();
        });
    if (!read)
        return read;
    if (progress)
        progress(total, total);
    // The writes are buffered: a full disk may show only here.
    if (Status s = file.commit(); !s)
        return fail(s.message(), s.fault());
    return Status::success();
}

Status importClassFile(AppState &state, const QString &newName, const QString &path,
                       const ClassFileProgress &progress, QStringList *warnings)
{
    if (Status s = state.data().checkNewName(newName); !s)
        return s;
    // A file name may hold anything: a message shows it escaped.
    const QString shownPath = shownText(path);
    const QString what = QStringLiteral("Could not import %1 as '%2'.").arg(shownPath, newName);
    auto refuse = [&shownPath](const ReadProblem &problem) {
        // Line 0: the file could not be read at all.
        const Fault fault = problem.line > 0 ? Fault::Refused : Fault::InputOutput;
        QString cause = problem.cause;
        if (!cause.isEmpty())
            cause[0] = cause[0].toUpper();
        const QString where =
            problem.line > 0
                ? QStringLiteral("%1, line %2").arg(shownPath, QString::number(problem.line))
                : shownPath;
        return Status::failure(fault,
                               QStringLiteral("%1\n%2\nNothing was imported.").arg(cause, where));
    };
    // Reading: the first half of the scale, in bytes of the file where its size is known.
    auto reading = [&progress](qint64 done, qint64 total) {
        return !progress || progress(total > 0 ? std::min(done, total) * kImportHalf / total : 0,
                                     2 * kImportHalf);
    };

    // A regular file never keeps the database waiting on its input: it is read
    // once, as its classes are stored, and the store's work on the first ones
    // goes on while the rest are read. A problem ends the transaction with
    // nothing stored, as a cancel does; the first half of the scale is empty.
    if (QFileInfo(path).isFile()) {
        QFile file(path);
        if (const ReadOutcome opened = openClassFile(file); !opened.ok())
            return refuse(opened.problem);
        if (progress && !progress(kImportHalf, 2 * kImportHalf))
            return Status::failure(Fault::Cancelled, kCancelled);
        const qint64 total = file.size();
        ClassFileReader reader(sourceOf(file));
        const Status created = state.data().createPackage(
            newName, what,
            [&](ClassRecord &record) -> Result<bool> {
                switch (reader.next(record)) {
                case ClassFileReader::Step::Error:
                    return refuse(problemOf(reader));
                case ClassFileReader::Step::End:
                    if (progress && !progress(2 * kImportHalf, 2 * kImportHalf))
                        return Status::failure(Fault::Cancelled, kCancelled);
                    return false;
                case ClassFileReader::Step::Class:
                    break;
                }
                if (progress && reader.classCount() % kProgressStep == 0 &&
                    !progress(kImportHalf + (total > 0
                                                 ? std::min(qint64(reader.bytesRead()), total) *
                                                       kImportHalf / total
                                                 : 0),
                              2 * kImportHalf))
                    return Status::failure(Fault::Cancelled, kCancelled);
                return true;
            },
            QFileInfo(path).fileName());
        if (created && warnings)
            *warnings = loweredWarnings(
                ReadOutcome{reader.classCount(), {}, reader.lowered(), reader.loweredLines()},
                shownPath);
        return created;
    }

    // Other input (a pipe, say) may be slow or endless: it is read and checked
    // whole before the database is locked, so that it never keeps other
    // programs waiting. The checked classes wait in a temporary file: memory
    // stays flat.
    QTemporaryFile copy;
    if (!copy.open())
        return Status::failure(Fault::InputOutput,
                               what + QStringLiteral("\nCould not make a temporary copy: ") +
                                   copy.errorString());
    // Nameless while open where the system allows it: an interrupted run leaves no file.
    if (QFile::remove(copy.fileName()))
        copy.setAutoRemove(false);
    int classes = 0;
    QStringList lowered;
    {
        QFile file(path);
        if (const ReadOutcome opened = openClassFile(file); !opened.ok())
            return refuse(opened.problem);
        RecordSpool spool(copy);
        const Result<ReadOutcome> read =
            readClasses(file, file.size(), reading, [&](const ClassRecord &record) {
                if (spool.write(record))
                    return Status::success();
                return refuse(
                    {0, QStringLiteral("could not keep a temporary copy: ") + copy.errorString()});
            });
        if (!read)
            return read.status();
        if (!read->ok())
            return refuse(read->problem);
        classes = read->classes;
        lowered = loweredWarnings(*read, shownPath);
    }
    if (!copy.flush() || !copy.seek(0))
        return Status::failure(Fault::InputOutput,
                               what + QStringLiteral("\nCould not read the temporary copy: ") +
                                   copy.errorString());
    if (progress && !progress(kImportHalf, 2 * kImportHalf))
        return Status::failure(Fault::Cancelled, kCancelled);

    // The classes were checked whole: storing them only reads them back.
    RecordSpool spool(copy);
    int stored = 0;
    const Status created = state.data().createPackage(
        newName, what,
        [&](ClassRecord &record) -> Result<bool> {
            if (stored == classes) {
                if (progress && !progress(2 * kImportHalf, 2 * kImportHalf))
                    return Status::failure(Fault::Cancelled, kCancelled);
                return false;
            }
            if (!spool.read(record)) // the copy changed under us
                return Status::failure(
                    Fault::InputOutput,
                    what + QStringLiteral("\nThe temporary copy could not be read: ") +
                        (copy.error() == QFileDevice::NoError ? QStringLiteral("it is cut short")
                                                              : copy.errorString()));
            ++stored;
            if (progress && stored % kProgressStep == 0 &&
                !progress(kImportHalf + qint64(stored) * kImportHalf / classes, 2 * kImportHalf))
                return Status::failure(Fault::Cancelled, kCancelled);
            return true;
        },
        QFileInfo(path).fileName());
    if (created && warnings)
        *warnings = lowered;
    return created;
}

namespace
{

// Reads a class file whole, each class to onClass.
Result<ReadOutcome> readWholeFile(const QString &path,
                                  const std::function<Status(const ClassRecord &)> &onClass)
{
    QFile file(path);
    ReadOutcome outcome = openClassFile(file);
    if (outcome.ok()) {
        const Result<ReadOutcome> read = readClasses(file, file.size(), {}, onClass);
        if (!read)
            return read.status();
        outcome = *read;
    }
    const ReadProblem &problem = outcome.problem;
    const QString shownPath = shownText(path);
    if (!outcome.ok())
        return Status::failure(
            Fault::Refused, problem.line > 0
                                ? QStringLiteral("%1:%2: %3")
                                      .arg(shownPath, QString::number(problem.line), problem.cause)
                                : QStringLiteral("%1: %2").arg(shownPath, problem.cause));
    return outcome;
}

} // namespace

Result<int> checkClassFile(const QString &path, QStringList *warnings)
{
    const Result<ReadOutcome> read = readWholeFile(path, {});
    if (!read)
        return read.status();
    if (warnings)
        *warnings = loweredWarnings(*read, shownText(path));
    return read->classes;
}

Status readClassFile(const QString &path,
                     const std::function<Status(const classfile::ClassRecord &)> &onClass)
{
    return readWholeFile(path, onClass).status();
}

} // namespace tarn
