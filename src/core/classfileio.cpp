#include "classfileio.h"

#include "atomicfile.h"
#include "characters.h"
#include "classfilereader.h"
#include "classfilewriter.h"
#include "schema.h"
#include "textrules.h"

#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QTemporaryFile>

#include <algorithm>
#include <array>
#include <cmath>
#include <istream>
#include <limits>
#include <optional>
#include <streambuf>

namespace tarn
{

namespace
{

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

// The text as Latin-1 bytes; empty with the reason when a character is not Latin-1.
std::optional<std::string> toFile(const QString &text, QString *why)
{
    for (const char32_t c : text.toUcs4()) {
        if (c > 0xFF) {
            *why = QStringLiteral("holds the character %1, which a class file cannot carry")
                       .arg(QString::fromStdString(classfile::describeCharacter(c)));
            return std::nullopt;
        }
    }
    const QByteArray bytes = text.toLatin1();
    return std::string(bytes.constData(), size_t(bytes.size()));
}

// Lets the reader stream a QIODevice; a failed read makes the stream bad.
// With a copy device, every byte read is written there as well.
class DeviceBuffer : public std::streambuf
{
public:
    DeviceBuffer(QIODevice &device, QIODevice *copy) : mDevice(device), mCopy(copy) {}
    bool copyFailed() const { return mCopyFailed; }

protected:
    int_type underflow() override
    {
        const qint64 n = mDevice.read(mBuffer.data(), qint64(mBuffer.size()));
        if (n < 0)
            throw std::ios_base::failure("read failed"); // the istream turns this into badbit
        if (n == 0)
            return traits_type::eof();
        if (mCopy && mCopy->write(mBuffer.data(), n) != n) {
            mCopyFailed = true;
            throw std::ios_base::failure("copy failed");
        }
        setg(mBuffer.data(), mBuffer.data(), mBuffer.data() + n);
        return traits_type::to_int_type(*gptr());
    }

private:
    QIODevice &mDevice;
    QIODevice *mCopy;
    bool mCopyFailed = false;
    std::array<char, 64 * 1024> mBuffer{};
};

struct ReadProblem {
    qint64 line = 0; // 0: the file could not be opened or copied
    QString cause;   // escaped for a message
};

std::optional<ReadProblem> openClassFile(QFile &file)
{
    if (QFileInfo(file.fileName()).isDir())
        return ReadProblem{0, QStringLiteral("this is a folder, not a file")};
    if (!file.open(QIODevice::ReadOnly))
        return ReadProblem{0, file.errorString()};
    return std::nullopt;
}

// Streams the classes of an open device to onClass, which may refuse one with
// a failure; copy, when given, receives every byte read. Progress counts bytes
// of total. Returns the problem with the file, if any; a failure of onClass or
// a cancel comes back in *status.
std::optional<ReadProblem> readClasses(QIODevice &device, qint64 total,
                                       const std::function<Status(const ClassRecord &)> &onClass,
                                       const ClassFileProgress &progress, Status *status,
                                       QIODevice *copy = nullptr)
{
    DeviceBuffer buffer(device, copy);
    std::istream in(&buffer);
    classfile::ClassFileReader reader(in);
    ClassRecord record;
    for (;;) {
        switch (reader.next(record)) {
        case classfile::ClassFileReader::Step::Error:
            if (buffer.copyFailed())
                return ReadProblem{0, QStringLiteral("could not keep a temporary copy: ") +
                                          copy->errorString()};
            // The cause may quote the file, which may hold anything.
            return ReadProblem{qint64(reader.error().line),
                               shownText(fromFile(reader.error().cause))};
        case classfile::ClassFileReader::Step::End:
            if (progress && !progress(total, total))
                *status = Status::failure(kCancelled);
            return std::nullopt;
        case classfile::ClassFileReader::Step::Class:
            if (*status = onClass(record); !*status)
                return std::nullopt;
            if (progress && reader.classCount() % kProgressStep == 0 &&
                !progress(qint64(reader.bytesRead()), total)) {
                *status = Status::failure(kCancelled);
                return std::nullopt;
            }
            break;
        }
    }
}

// Binds a class read from a file in the order of schema::classdefColumns().
void bindClass(QSqlQuery &query, const QString &package, int number, const ClassRecord &r)
{
    int i = 0;
    auto bind = [&](const QVariant &value) {
        query.bindValue(i++, value);
    };
    bind(package);
    bind(fromFile(r.name));
    bind(number);
    bind(fromFile(r.skin1));
    bind(fromFile(r.skin2));
    bind(fromFile(r.model));
    for (qint16 w : r.weapons)
        bind(w);
    for (qint16 g : r.grenades)
        bind(g);
    bind(r.speed);
    bind(r.health);
    bind(r.armor);
    for (int k = 1; k <= classfile::kItemFlags; ++k)
        bind(int(r.item(k)));
    for (int k = 1; k <= classfile::kSpecialFlags; ++k)
        bind(int(r.special(k)));
    bind(r.decoySkin);
    for (qint16 a : r.ammo)
        bind(a);
}

// The flag columns i1..iN (or s1..sN) as one number, bit k - 1 for flag k:
// two values a row instead of 39 keeps a long export close to the engine's speed.
QString flagMask(schema::RefKind kind, qsizetype count)
{
    QStringList bits;
    for (qsizetype k = 1; k <= count; ++k)
        bits << QStringLiteral("(ifnull(%1 <> 0, 0) << %2)")
                    .arg(schema::flagColumn(kind, int(k)))
                    .arg(k - 1);
    return bits.join(QStringLiteral(" | "));
}

template<std::size_t N> std::array<bool, N> flagsOf(qlonglong mask)
{
    std::array<bool, N> flags{};
    for (std::size_t k = 0; k < N; ++k)
        flags[k] = (mask >> k) & 1;
    return flags;
}

// Builds the record of the current row; the reason naming the field otherwise.
std::optional<ClassRecord> classFromRow(const QSqlQuery &query, const QStringList &columns,
                                        const QList<RefEntry> &items,
                                        const QList<RefEntry> &specials, QString *why)
{
    ClassRecord r;
    int i = 0;
    auto text = [&](std::string &out) {
        QString reason;
        std::optional<std::string> bytes = toFile(query.value(i).toString(), &reason);
        if (!bytes)
            *why = schema::fieldLabel(columns.at(i)) + QLatin1Char(' ') + reason;
        else
            out = std::move(*bytes);
        ++i;
        return bool(bytes);
    };
    auto whole = [&](std::int16_t &out) {
        const QString field = schema::fieldLabel(columns.at(i));
        const QVariant value = query.value(i++);
        const bool isText = value.typeId() == QMetaType::QString;
        if (value.isNull() || (isText && value.toString().isEmpty())) {
            *why = field + QStringLiteral(" is empty");
            return false;
        }
        if (value.typeId() == QMetaType::LongLong) { // the usual case, without a conversion
            const qlonglong n = value.toLongLong();
            if (n >= std::numeric_limits<qint16>::min() &&
                n <= std::numeric_limits<qint16>::max()) {
                out = std::int16_t(n);
                return true;
            }
        }
        bool ok = false;
        const double d = value.toDouble(&ok);
        if (!ok || d != std::floor(d) || d < std::numeric_limits<qint16>::min() ||
            d > std::numeric_limits<qint16>::max()) {
            *why = QStringLiteral("%1 holds '%2', not a whole number from -32768 to 32767")
                       .arg(field, value.toString());
            return false;
        }
        out = std::int16_t(d);
        return true;
    };
    if (!text(r.name) || !text(r.model) || !text(r.skin1) || !text(r.skin2) || !whole(r.decoySkin))
        return std::nullopt;
    r.weapons[0] = 1;
    for (size_t k = 1; k < r.weapons.size(); ++k)
        if (!whole(r.weapons[k]))
            return std::nullopt;
    for (std::int16_t &g : r.grenades)
        if (!whole(g))
            return std::nullopt;
    if (!whole(r.armor) || !whole(r.speed) || !whole(r.health))
        return std::nullopt;
    for (std::int16_t &a : r.ammo)
        if (!whole(a))
            return std::nullopt;
    const auto itemFlags = flagsOf<kItemBoxes>(query.value(i++).toLongLong());
    const auto specialFlags = flagsOf<kSpecialBoxes>(query.value(i++).toLongLong());
    const Result<qint32> itemSum = flagSum(items, itemFlags);
    if (!itemSum) {
        *why = QStringLiteral("item sum: ") + itemSum.message();
        return std::nullopt;
    }
    const Result<qint32> specialSum = flagSum(specials, specialFlags);
    if (!specialSum) {
        *why = QStringLiteral("special sum: ") + specialSum.message();
        return std::nullopt;
    }
    r.itemSum = *itemSum;
    r.specialSum = *specialSum;
    return r;
}

// Whether the export would write over one of the program's files or the side
// files SQLite keeps beside a database, whether it exists yet or not.
bool isOwnFile(const AppState &state, const QString &path)
{
    QStringList own{state.settingsPath()};
    for (const QString &db : {state.dataPath(), state.refPath()})
        for (const QString &suffix : {QString(), QStringLiteral("-journal"), QStringLiteral("-wal"),
                                      QStringLiteral("-shm")})
            own << db + suffix;
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
    const QString what =
        QStringLiteral("Could not export the configuration '%1' to %2.").arg(configName, path);
    auto fail = [&what](const QString &cause) {
        return Status::failure(what + QLatin1Char('\n') + cause);
    };

    // Replacing a data file, or a journal SQLite would take for one, loses data.
    if (isOwnFile(state, path))
        return fail(QStringLiteral("TARN keeps its own data in that file; choose another file."));

    QString why;
    const std::optional<std::string> modId = toFile(state.modId(), &why);
    if (!modId)
        return fail(QStringLiteral("The Mod ID ") + why);

    const Result<QList<RefEntry>> items = state.ref().all(schema::RefKind::Item);
    if (!items)
        return items.status();
    const Result<QList<RefEntry>> specials = state.ref().all(schema::RefKind::Special);
    if (!specials)
        return specials.status();

    // One snapshot from the name to the last class: a configuration that
    // another program deletes or changes meanwhile is written whole or not at all.
    const Database &db = state.data().database();
    Transaction snapshot(db);
    if (Status s = snapshot.beginRead(what); !s)
        return s;
    // The header carries the name as stored, whatever its case was as typed.
    const Result<QString> stored = state.data().storedPackageName(configName);
    if (!stored)
        return fail(stored.message());
    const std::optional<std::string> name = toFile(*stored, &why);
    if (!name)
        return fail(QStringLiteral("The configuration name ") + why);
    QSqlQuery query;
    // Only progress needs the total, and counting reads every row once more.
    qint64 total = 0;
    if (progress) {
        if (Status s = db.exec(query,
                               QStringLiteral("SELECT count(*) FROM classdef WHERE ") +
                                   DataStore::nameFilter(),
                               {*stored}, what);
            !s)
            return s;
        total = query.next() ? query.value(0).toLongLong() : 0;
        if (!progress(0, total))
            return fail(kCancelled);
    }

    AtomicFile file(path);
    if (!file.open())
        return fail(file.errorString());
    // Every early return leaves the earlier file as it was: AtomicFile drops
    // what was written unless committed.
    classfile::ClassFileWriter writer(
        [&file](std::string_view bytes) {
            return file.write(QByteArrayView(bytes.data(), qsizetype(bytes.size())));
        },
        protect);
    // Why the writer stopped, its field named as the class editor labels it.
    auto writeFailure = [&](const QString &prefix) {
        if (writer.sinkFailed())
            return fail(file.errorString());
        const classfile::ClassFileWriter::Refusal &r = writer.refusal();
        QString field = schema::fieldLabel(QString::fromStdString(r.field));
        if (!field.isEmpty())
            field += QLatin1Char(' ');
        return fail(prefix + field + QString::fromStdString(r.cause));
    };
    if (!writer.writeHeader(*modId, *name))
        return writeFailure(QStringLiteral("The "));

    const QStringList columns = schema::exportColumns();
    if (Status s = db.exec(
            query,
            QStringLiteral("SELECT %1, %2, %3 FROM classdef WHERE %4 "
                           "ORDER BY class_num, rowid")
                .arg(schema::joined(columns), flagMask(schema::RefKind::Item, kItemBoxes),
                     flagMask(schema::RefKind::Special, kSpecialBoxes), DataStore::nameFilter()),
            {*stored}, what);
        !s)
        return s;
    qint64 done = 0;
    while (query.next()) {
        const QString ofClass = QStringLiteral("class \"%1\": ").arg(query.value(0).toString());
        std::optional<ClassRecord> record = classFromRow(query, columns, *items, *specials, &why);
        if (!record)
            return fail(ofClass + why);
        if (!writer.writeClass(*record))
            return writeFailure(ofClass);
        if (progress && ++done % kProgressStep == 0 && !progress(done, total))
            return fail(kCancelled);
    }
    if (query.lastError().isValid())
        return db.failure(what, query);
    if (progress)
        progress(total, total);
    // The writes are buffered: a full disk may show only here.
    if (!file.commit())
        return fail(file.errorString());
    return Status::success();
}

Status importClassFile(AppState &state, const QString &newName, const QString &path,
                       const ClassFileProgress &progress)
{
    if (Status s = DataStore::checkNewName(newName); !s)
        return s;
    const QString what = QStringLiteral("Could not import %1 as '%2'.").arg(path, newName);
    auto refuse = [&path](const ReadProblem &problem) {
        QString cause = problem.cause;
        if (!cause.isEmpty())
            cause[0] = cause[0].toUpper();
        const QString where =
            problem.line > 0
                ? QStringLiteral("%1, line %2").arg(path, QString::number(problem.line))
                : path;
        return Status::failure(QStringLiteral("%1\n%2\nNothing was imported.").arg(cause, where));
    };
    // Reading: the first half of the scale, in bytes of the file where its size is known.
    auto reading = [&progress](qint64 done, qint64 total) {
        return !progress || progress(total > 0 ? std::min(done, total) * kImportHalf / total : 0,
                                     2 * kImportHalf);
    };

    // The file is read and checked whole before the database is locked, so that
    // a slow or endless input (a pipe, say) never keeps other programs waiting.
    // A copy of its bytes is read again to store the classes: memory stays flat.
    QTemporaryFile copy;
    if (!copy.open())
        return Status::failure(what + QStringLiteral("\nCould not make a temporary copy: ") +
                               copy.errorString());
    // Nameless while open where the system allows it: an interrupted run leaves no file.
    if (QFile::remove(copy.fileName()))
        copy.setAutoRemove(false);
    Status status = Status::success();
    {
        QFile file(path);
        std::optional<ReadProblem> problem = openClassFile(file);
        if (!problem)
            problem = readClasses(
                file, file.size(), [](const ClassRecord &) { return Status::success(); }, reading,
                &status, &copy);
        if (problem)
            return refuse(*problem);
        if (!status)
            return status;
    }
    if (!copy.flush() || !copy.seek(0))
        return Status::failure(what + QStringLiteral("\nCould not read the temporary copy: ") +
                               copy.errorString());
    if (progress && !progress(kImportHalf, 2 * kImportHalf))
        return Status::failure(kCancelled);

    const Database &db = state.data().database();
    Transaction tx(db);
    if (Status s = tx.begin(what); !s)
        return s;
    if (Status s = state.data().claimNewName(newName, what); !s)
        return s;
    QSqlQuery insert(db.connection());
    insert.setForwardOnly(true);
    const QStringList columns = schema::classdefColumnNames();
    if (!insert.prepare(QStringLiteral("INSERT INTO classdef (%1) VALUES (%2)")
                            .arg(schema::joined(columns), schema::placeholders(columns.size()))))
        return db.failure(what, insert);
    int number = 0;
    const qint64 copied = copy.size();
    const std::optional<ReadProblem> problem = readClasses(
        copy, copied,
        [&](const ClassRecord &record) {
            bindClass(insert, newName, ++number, record);
            return insert.exec() ? Status::success() : db.failure(what, insert);
        },
        [&progress](qint64 done, qint64 total) {
            return !progress ||
                   progress(kImportHalf + (total > 0 ? done * kImportHalf / total : kImportHalf),
                            2 * kImportHalf);
        },
        &status);
    if (problem) // the copy changed under us
        return Status::failure(what + QStringLiteral("\nThe temporary copy could not be read: ") +
                               problem->cause);
    if (!status)
        return status;
    if (Status s = db.exec(QStringLiteral("INSERT INTO package (package_name) VALUES (?)"),
                           {newName}, what);
        !s)
        return s;
    return tx.commit(what);
}

Result<int> checkClassFile(const QString &path)
{
    int classes = 0;
    Status status = Status::success();
    QFile file(path);
    std::optional<ReadProblem> problem = openClassFile(file);
    if (!problem)
        problem = readClasses(
            file, file.size(),
            [&classes](const ClassRecord &) {
                ++classes;
                return Status::success();
            },
            {}, &status);
    if (problem)
        return Status::failure(problem->line > 0
                                   ? QStringLiteral("%1:%2: %3")
                                         .arg(path, QString::number(problem->line), problem->cause)
                                   : QStringLiteral("%1: %2").arg(path, problem->cause));
    if (!status)
        return status;
    return classes;
}

} // namespace tarn
