// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/compare.h"

#include "store/schema.h"
#include "store/textrules.h"

#include <QFile>
#include <QTemporaryFile>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace tarn
{

using classfile::ClassRecord;
using schema::RefKind;

namespace
{

const QString kItemSum = QStringLiteral("item_sum");
const QString kSpecialSum = QStringLiteral("special_sum");
const QString kNone = QStringLiteral("(none)");

bool isFlags(RefKind kind)
{
    return kind == RefKind::Item || kind == RefKind::Special;
}

} // namespace

Result<RefNames> RefNames::read(RefStore &ref)
{
    RefNames names;
    ref.readAhead(schema::refKinds());
    for (const RefKind kind : schema::refKinds()) {
        const Result<QList<RefEntry>> rows = ref.all(kind);
        if (!rows)
            return rows.status();
        // Of rows sharing an id, the first names it.
        QHash<qint64, QString> &byId = names.mNames[size_t(kind)];
        for (const RefEntry &row : *rows)
            if (!row.id.isNull() && !row.name.isEmpty() && !byId.contains(row.id.toLongLong()))
                byId.insert(row.id.toLongLong(), row.name);
        if (kind == RefKind::Item)
            names.mItems = *rows;
        else if (kind == RefKind::Special)
            names.mSpecials = *rows;
    }
    return names;
}

QString RefNames::slotName(RefKind kind, qint64 id) const
{
    const QString name = mNames[size_t(kind)].value(id);
    if (!name.isEmpty())
        return name;
    return id == 0 ? kNone : QString::number(id);
}

QString RefNames::flagNames(RefKind kind, qint64 sum) const
{
    QStringList set;
    for (int k = 0; k < 32; ++k) {
        if (!((quint64(sum) >> k) & 1))
            continue;
        const QString name = mNames[size_t(kind)].value(qint64(1) << k);
        set << (name.isEmpty() ? schema::fieldLabel(schema::flagColumn(kind, k + 1)) : name);
    }
    return set.join(QStringLiteral(", "));
}

const QList<RefEntry> &RefNames::flagRows(RefKind kind) const
{
    return kind == RefKind::Item ? mItems : mSpecials;
}

std::optional<qint64> RefNames::idOf(RefKind kind, const QString &name) const
{
    const QHash<qint64, QString> &byId = mNames[size_t(kind)];
    std::optional<qint64> found;
    for (auto it = byId.begin(); it != byId.end(); ++it)
        if (it.value().compare(name, Qt::CaseInsensitive) == 0 && (!found || it.key() < *found))
            found = it.key();
    if (found || !isFlags(kind))
        return found;
    for (int k = 1; k <= 32 && k <= schema::flagCount(kind); ++k)
        if (schema::fieldLabel(schema::flagColumn(kind, k)).compare(name, Qt::CaseInsensitive) == 0)
            return qint64(1) << (k - 1);
    return std::nullopt;
}

const QList<ClassField> &classFields()
{
    static const QList<ClassField> fields = [] {
        QList<ClassField> list;
        auto add = [&list](const QString &column, std::optional<RefKind> ref = {}) {
            list.append({column, schema::fieldLabel(column), ref});
        };
        for (const char *column :
             {"class_name", "model_name", "skin_name1", "skin_name2", "decoyskin"})
            add(QLatin1String(column));
        for (const RefKind kind : {RefKind::Weapon, RefKind::Grenade})
            for (int k = 1; k <= schema::slotCount(kind); ++k)
                add(schema::slotColumn(kind, k), kind);
        for (const char *column : {"max_armor", "max_speed", "max_health"})
            add(QLatin1String(column));
        for (const schema::AmmoColumn &ammo : schema::ammoColumns())
            add(QLatin1String(ammo.name));
        list.append({kItemSum, QStringLiteral("Items"), RefKind::Item});
        list.append({kSpecialSum, QStringLiteral("Special Abilities"), RefKind::Special});
        return list;
    }();
    return fields;
}

const QList<ClassField> &storedFields()
{
    static const QList<ClassField> fields = [] {
        QList<ClassField> list{{QStringLiteral("class_num"),
                                schema::fieldLabel(QStringLiteral("class_num")), std::nullopt}};
        list += classFields();
        for (const RefKind kind : {RefKind::Item, RefKind::Special})
            for (int k = 1; k <= schema::flagCount(kind); ++k) {
                const QString column = schema::flagColumn(kind, k);
                list.append({column, schema::fieldLabel(column), std::nullopt});
            }
        return list;
    }();
    return fields;
}

namespace
{

// A stored value as a whole number, where it is one.
std::optional<qint64> wholeOf(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::LongLong: // the usual case, without a conversion
        return *static_cast<const qlonglong *>(value.constData());
    case QMetaType::Int:
        return value.toLongLong();
    case QMetaType::Double: {
        const double d = value.toDouble();
        if (d == std::floor(d) && std::abs(d) < 9e18)
            return qint64(d);
        break;
    }
    default:
        break;
    }
    return std::nullopt;
}

} // namespace

QString shownValue(const ClassField &field, const QVariant &value, const RefNames &names)
{
    if (value.isNull())
        return field.ref && !isFlags(*field.ref) ? QStringLiteral("(no value)") : QString();
    const std::optional<qint64> id = field.ref ? wholeOf(value) : std::nullopt;
    return id ? shownValue(field, *id, names) : listedText(value.toString());
}

QString shownValue(const ClassField &field, qint64 value, const RefNames &names)
{
    if (!field.ref)
        return QString::number(value);
    const RefKind kind = *field.ref;
    return listedText(isFlags(kind) ? names.flagNames(kind, value) : names.slotName(kind, value));
}

QVariant StoredRow::value(qsizetype field) const
{
    const int column = mColumns[field];
    if (column >= 0)
        return mRow->value(column);
    return qlonglong(field == mItemSumAt ? mItemSum : mSpecialSum);
}

std::optional<std::string_view> StoredRow::utf8(qsizetype field) const
{
    if (!mIsWhole[field])
        return mUtf8[field];
    return mRow->utf8(mColumns[field]);
}

Status readStoredClasses(AppState &state, const QString &configName, const RefNames &names,
                         const std::function<Status(const StoredRow &row)> &onClass, bool inOrder)
{
    const QString what =
        QStringLiteral("Could not read the configuration '%1'.").arg(shownText(configName));
    // What the table holds: every field but the sums, which are worked out.
    StoredRow stored;
    QStringList columns;
    for (const ClassField &field : storedFields()) {
        const bool sum = field.column == kItemSum || field.column == kSpecialSum;
        if (field.column == kItemSum)
            stored.mItemSumAt = stored.mColumns.size();
        stored.mColumns << (sum ? -1 : int(columns.size()));
        if (!sum)
            columns << field.column;
    }
    stored.mWhole.resize(stored.mColumns.size());
    stored.mIsWhole.resize(stored.mColumns.size());
    stored.mUtf8.resize(stored.mColumns.size());
    // Each column's whole number, read once.
    std::vector<std::optional<qint64>> byColumn(size_t(columns.size()));
    const int nameAt = int(columns.indexOf(QStringLiteral("class_name")));
    const int itemsAt = int(columns.indexOf(schema::flagColumn(RefKind::Item, 1)));
    const int specialsAt = int(columns.indexOf(schema::flagColumn(RefKind::Special, 1)));
    // The sum of the boxes the class editor shows, as an export writes it.
    auto sumOf = [&](const StoredClass &row, RefKind kind) -> Result<qint32> {
        const int first = kind == RefKind::Item ? itemsAt : specialsAt;
        std::array<bool, kSpecialBoxes> flags{};
        for (int k = 0; k < flagBoxes(kind); ++k)
            flags[size_t(k)] = byColumn[size_t(first + k)].value_or(0) != 0;
        const Result<qint32> sum = flagSum(
            names.flagRows(kind), std::span<const bool>(flags.data(), size_t(flagBoxes(kind))));
        if (!sum)
            return Status::failure(Fault::Refused,
                                   what + QStringLiteral("\nclass \"%1\": %2")
                                              .arg(shownText(row.text(nameAt)), sum.message()));
        return sum;
    };
    return state.data().readClassColumns(
        configName, columns, what,
        [&](const StoredClass &row) -> Status {
            for (size_t c = 0; c < byColumn.size(); ++c)
                byColumn[c] = row.integer(int(c));
            const Result<qint32> items = sumOf(row, RefKind::Item);
            if (!items)
                return items.status();
            const Result<qint32> specials = sumOf(row, RefKind::Special);
            if (!specials)
                return specials.status();
            stored.mRow = &row;
            stored.mItemSum = *items;
            stored.mSpecialSum = *specials;
            qint64 *wholes = stored.mWhole.data();
            bool *isWhole = stored.mIsWhole.data();
            const int *columnOf = stored.mColumns.constData();
            std::optional<std::string_view> *texts = stored.mUtf8.data();
            for (qsizetype f = 0; f < stored.mColumns.size(); ++f) {
                const int column = columnOf[f];
                const std::optional<qint64> n =
                    column >= 0
                        ? byColumn[size_t(column)]
                        : std::optional<qint64>(f == stored.mItemSumAt ? *items : *specials);
                isWhole[f] = n.has_value();
                wholes[f] = n.value_or(0);
                if (!n)
                    texts[f] = row.isNull(column)
                                   ? std::nullopt
                                   : std::optional<std::string_view>(row.utf8(column));
            }
            return onClass(stored);
        },
        inOrder);
}

namespace
{

// How a class waits in a spool: each field of classFields() as a tag and its
// bytes, in the shortest form that holds it, so that equal classes have equal
// bytes and most need no decoding.
enum Tag : char {
    kSmall = 's', // a 16-bit number
    kNumber = 'n',
    kShortText = 't', // UTF-8 of up to 255 bytes
    kText = 'T',
    kNull = '0',
};

class Encoder
{
public:
    explicit Encoder(std::string &out) : mOut(out) { mOut.clear(); }

    void number(qint64 n)
    {
        if (n >= std::numeric_limits<qint16>::min() && n <= std::numeric_limits<qint16>::max()) {
            mOut += char(kSmall);
            put(qint16(n));
        } else {
            mOut += char(kNumber);
            put(n);
        }
    }
    void text(std::string_view utf8)
    {
        if (utf8.size() <= 0xFF) {
            mOut += char(kShortText);
            put(quint8(utf8.size()));
        } else {
            mOut += char(kText);
            put(quint32(utf8.size()));
        }
        mOut.append(utf8);
    }
    // A class file's text: Latin-1.
    void latin1(const std::string &text)
    {
        if (std::all_of(text.begin(), text.end(),
                        [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
            return this->text(text);
        const QByteArray utf8 = QString::fromLatin1(text.data(), qsizetype(text.size())).toUtf8();
        this->text(std::string_view(utf8.constData(), size_t(utf8.size())));
    }
    // What a configuration stores where a class file has a whole number.
    void stored(const StoredClass &row, int column)
    {
        if (const Result<qint16> whole = row.whole(column))
            return number(*whole);
        const QVariant value = row.value(column);
        if (value.isNull()) {
            mOut += char(kNull);
        } else if (const std::optional<qint64> n = wholeOf(value)) {
            number(*n);
        } else {
            const QByteArray utf8 = value.toString().toUtf8();
            text(std::string_view(utf8.constData(), size_t(utf8.size())));
        }
    }

private:
    template<typename T> void put(T value)
    {
        mOut.append(reinterpret_cast<const char *>(&value), sizeof value);
    }
    std::string &mOut;
};

template<typename T> T take(std::string_view &bytes)
{
    T value{};
    std::memcpy(&value, bytes.data(), sizeof value);
    bytes.remove_prefix(sizeof value);
    return value;
}

// A text field at the start of bytes, taken off them.
std::string_view takeText(std::string_view &bytes)
{
    const char tag = bytes.front();
    bytes.remove_prefix(1);
    const size_t size = tag == kShortText ? take<quint8>(bytes) : take<quint32>(bytes);
    const std::string_view text = bytes.substr(0, size);
    bytes.remove_prefix(size);
    return text;
}

// The first field, the name, of a class's bytes.
std::string_view nameOf(std::string_view bytes)
{
    return takeText(bytes);
}

QVariantList decode(std::string_view bytes)
{
    QVariantList values;
    values.reserve(classFields().size());
    while (!bytes.empty()) {
        switch (bytes.front()) {
        case kSmall:
            bytes.remove_prefix(1);
            values << qlonglong(take<qint16>(bytes));
            break;
        case kNumber:
            bytes.remove_prefix(1);
            values << qlonglong(take<qint64>(bytes));
            break;
        case kNull:
            bytes.remove_prefix(1);
            values << QVariant();
            break;
        default: {
            const std::string_view text = takeText(bytes);
            values << QString::fromUtf8(text.data(), qsizetype(text.size()));
        }
        }
    }
    return values;
}

QString shownName(std::string_view utf8)
{
    return listedText(QString::fromUtf8(utf8.data(), qsizetype(utf8.size())));
}

} // namespace

class ClassSpool
{
public:
    // The next class's bytes go here, then add().
    std::string &record() { return mRecord; }
    // A few classes stay in memory; more wait in a temporary file.
    Status add()
    {
        if (mFile.isOpen()) {
            if (mFile.write(mRecord.data(), qint64(mRecord.size())) != qint64(mRecord.size()))
                return failure();
        } else {
            mMemory += mRecord;
            if (mMemory.size() > kInMemory) {
                if (!mFile.open())
                    return failure();
                // Nameless while open where the system allows it: an interrupted run leaves no
                // file.
                if (QFile::remove(mFile.fileName()))
                    mFile.setAutoRemove(false);
                if (mFile.write(mMemory.data(), qint64(mMemory.size())) != qint64(mMemory.size()))
                    return failure();
                std::string().swap(mMemory);
            }
        }
        mOffsets.push_back(mOffsets.back() + qint64(mRecord.size()));
        mHashes.push_back(hashOf(nameOf(mRecord)));
        return Status::success();
    }

    // Done adding: the classes can be read.
    Status finish()
    {
        // Read without a buffer of Qt's: a class read out of order costs no more than its bytes.
        if (mFile.isOpen() &&
            (!mFile.flush() ||
             !mReader.open(mFile.handle(), QIODevice::ReadOnly | QIODevice::Unbuffered,
                           QFileDevice::DontCloseHandle)))
            return failure();
        return Status::success();
    }

    quint32 size() const { return quint32(mOffsets.size() - 1); }
    static size_t hashOf(std::string_view name)
    {
        return qHash(QByteArrayView(name.data(), qsizetype(name.size())), 0);
    }
    // The hash of the name of class i.
    size_t nameHash(quint32 i) const { return mHashes[i]; }

    // The bytes of class i, until the next read. Read in order, or in reverse,
    // the classes around it come along.
    Result<std::string_view> read(quint32 i)
    {
        const qint64 begin = mOffsets[i], end = mOffsets[i + 1];
        if (!mFile.isOpen())
            return std::string_view(mMemory).substr(size_t(begin), size_t(end - begin));
        if (begin < mStart || end > mStart + qint64(mWindow.size())) {
            qint64 from = begin, to = end;
            if (i == mLast + 1)
                to = std::min(std::max(end, begin + kWindow), mOffsets.back());
            else if (i + 1 == mLast)
                from = std::max(std::min(begin, end - kWindow), qint64(0));
            mWindow.resize(size_t(to - from));
            if (!mReader.seek(from) || mReader.read(mWindow.data(), to - from) != to - from)
                return failure();
            mStart = from;
        }
        mLast = i;
        return std::string_view(mWindow).substr(size_t(begin - mStart), size_t(end - begin));
    }

private:
    static constexpr qint64 kWindow = 64 * 1024;
    static constexpr size_t kInMemory = 256 * 1024;

    Status failure() const
    {
        return Status::failure(
            Fault::InputOutput,
            QStringLiteral("Could not keep the classes being compared in a "
                           "temporary file: ") +
                (mReader.isOpen() ? mReader.errorString() : mFile.errorString()));
    }

    QTemporaryFile mFile;
    QFile mReader;
    std::vector<qint64> mOffsets{0}; // where each class begins, then the end
    std::vector<size_t> mHashes;
    std::string mMemory; // the classes, while they are few
    std::string mRecord;
    std::string mWindow;
    qint64 mStart = 0;
    quint32 mLast = quint32(-1); // the class read last
};

ClassSource classFileSource(const QString &path)
{
    return [path](ClassSpool &spool) {
        return readClassFile(path, [&spool](const ClassRecord &r) {
            Encoder out(spool.record());
            out.latin1(r.name);
            out.latin1(r.model);
            out.latin1(r.skin1);
            out.latin1(r.skin2);
            out.number(r.decoySkin);
            for (const std::int16_t id : r.weapons)
                out.number(id);
            for (const std::int16_t id : r.grenades)
                out.number(id);
            for (const std::int16_t value : {r.armor, r.speed, r.health})
                out.number(value);
            for (const std::int16_t value : r.ammo)
                out.number(value);
            out.number(r.itemSum);
            out.number(r.specialSum);
            return spool.add();
        });
    };
}

ClassSource configurationSource(AppState &state, const QString &name, const RefNames &names)
{
    return [&state, name, &names](ClassSpool &spool) {
        const QString what =
            QStringLiteral("Could not read the configuration '%1'.").arg(shownText(name));
        // Each field's place among the columns an export reads; -1 for slot 1,
        // which a class file always carries as 1, and the sums, worked out.
        QList<int> at;
        QList<bool> isText;
        for (const ClassField &field : classFields()) {
            at << int(StoredClass::columns().indexOf(field.column));
            isText << (at.last() >= 0 && at.last() < 4); // names and skins
        }
        return state.data().readClasses(
            name, false, what, [](const QString &, qint64) { return Status::success(); },
            [&](const StoredClass &row) -> Status {
                Encoder out(spool.record());
                for (qsizetype f = 0; f < at.size(); ++f) {
                    const ClassField &field = classFields()[f];
                    if (field.ref && isFlags(*field.ref)) {
                        const RefKind kind = *field.ref;
                        const quint64 mask = row.flags(kind);
                        std::array<bool, kSpecialBoxes> flags{};
                        for (qsizetype k = 0; k < flagBoxes(kind); ++k)
                            flags[size_t(k)] = (mask >> k) & 1;
                        const Result<qint32> sum =
                            flagSum(names.flagRows(kind),
                                    std::span<const bool>(flags.data(), size_t(flagBoxes(kind))));
                        if (!sum)
                            return Status::failure(Fault::Refused,
                                                   what + QStringLiteral("\nclass \"%1\": %2: %3")
                                                              .arg(shownText(row.text(0)),
                                                                   field.label, sum.message()));
                        out.number(*sum);
                    } else if (at[f] < 0) {
                        out.number(1);
                    } else if (isText[f]) {
                        out.text(row.utf8(at[f]));
                    } else {
                        out.stored(row, at[f]);
                    }
                }
                return spool.add();
            });
    };
}

namespace
{

// Where B's classes of a name are: their places by the hash of the name, in
// order, with the next one not yet matched found in steps that shrink.
class NameIndex
{
public:
    explicit NameIndex(const ClassSpool &spool)
    {
        mEntries.reserve(spool.size());
        for (quint32 j = 0; j < spool.size(); ++j)
            mEntries.push_back({spool.nameHash(j), j});
        std::sort(mEntries.begin(), mEntries.end(), [](const Entry &x, const Entry &y) {
            return x.hash != y.hash ? x.hash < y.hash : x.index < y.index;
        });
        mNext.resize(mEntries.size() + 1);
        for (quint32 k = 0; k < mNext.size(); ++k)
            mNext[k] = k;
    }

    // The first of B's classes of that name not yet matched, now matched; -1 when none.
    Result<qint64> take(std::string_view name, ClassSpool &spool)
    {
        const size_t hash = ClassSpool::hashOf(name);
        const auto first =
            std::lower_bound(mEntries.begin(), mEntries.end(), hash,
                             [](const Entry &entry, size_t h) { return entry.hash < h; });
        for (quint32 k = open(quint32(first - mEntries.begin()));
             k < mEntries.size() && mEntries[k].hash == hash; k = open(k + 1)) {
            const Result<std::string_view> bytes = spool.read(mEntries[k].index);
            if (!bytes)
                return bytes.status();
            if (nameOf(*bytes) == name) {
                mNext[k] = k + 1;
                return qint64(mEntries[k].index);
            }
        }
        return qint64(-1);
    }

private:
    struct Entry {
        size_t hash;
        quint32 index;
    };

    // The first place from k on that is not yet matched.
    quint32 open(quint32 k)
    {
        quint32 root = k;
        while (mNext[root] != root)
            root = mNext[root];
        while (mNext[k] != root)
            k = std::exchange(mNext[k], root);
        return root;
    }

    std::vector<Entry> mEntries;
    std::vector<quint32> mNext;
};

QString orNone(const QString &value)
{
    return value.isEmpty() ? kNone : value;
}

} // namespace

Status compareClasses(const ClassSource &a, const ClassSource &b, const RefNames &names,
                      const ComparisonSink &sink)
{
    ClassSpool left, right;
    for (const auto &[source, spool] : {std::pair{&a, &left}, std::pair{&b, &right}})
        if (Status s = (*source)(*spool); !s || !(s = spool->finish()))
            return s;
    NameIndex inB(right);
    std::vector<bool> matched(right.size(), false);
    std::vector<std::pair<quint32, quint32>> changed;
    for (quint32 i = 0; i < left.size(); ++i) {
        const Result<std::string_view> bytes = left.read(i);
        if (!bytes)
            return bytes.status();
        const Result<qint64> j = inB.take(nameOf(*bytes), right);
        if (!j)
            return j.status();
        if (*j < 0) {
            sink.onlyA(shownName(nameOf(*bytes)));
            continue;
        }
        matched[size_t(*j)] = true;
        // The match was the last of B's classes read.
        const Result<std::string_view> other = right.read(quint32(*j));
        if (!other)
            return other.status();
        if (*bytes != *other)
            changed.emplace_back(i, quint32(*j));
    }
    for (quint32 j = 0; j < right.size(); ++j) {
        if (matched[j])
            continue;
        const Result<std::string_view> bytes = right.read(j);
        if (!bytes)
            return bytes.status();
        sink.onlyB(shownName(nameOf(*bytes)));
    }
    const QList<ClassField> &fields = classFields();
    for (const auto &[i, j] : changed) {
        const Result<std::string_view> one = left.read(i);
        if (!one)
            return one.status();
        const QVariantList before = decode(*one);
        const Result<std::string_view> other = right.read(j);
        if (!other)
            return other.status();
        const QVariantList after = decode(*other);
        ClassChange change{shownName(nameOf(*one)), {}};
        for (qsizetype f = 0; f < fields.size(); ++f)
            if (before[f] != after[f])
                change.fields.append({fields[f].label,
                                      orNone(shownValue(fields[f], before[f], names)),
                                      orNone(shownValue(fields[f], after[f], names))});
        sink.changed(change);
    }
    return Status::success();
}

Result<Comparison> compareClasses(const ClassSource &a, const ClassSource &b, const RefNames &names)
{
    Comparison comparison;
    const Status compared =
        compareClasses(a, b, names,
                       {[&comparison](const QString &name) { comparison.onlyA << name; },
                        [&comparison](const QString &name) { comparison.onlyB << name; },
                        [&comparison](const ClassChange &change) {
                            comparison.changed << change;
                        }});
    if (!compared)
        return compared;
    return comparison;
}

} // namespace tarn
