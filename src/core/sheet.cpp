// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/sheet.h"

#include "store/fieldvalue.h"
#include "store/recordcursor.h"
#include "store/schema.h"
#include "store/textrules.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringDecoder>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>

namespace tarn
{

using schema::RefKind;

namespace
{

// splitmix64's finaliser: every bit of the value moves every bit of the result.
quint64 mixed(quint64 x)
{
    x ^= x >> 30;
    x *= 0xbf58476d1ce4e5b9;
    x ^= x >> 27;
    x *= 0x94d049bb133111eb;
    return x ^ (x >> 31);
}

} // namespace

void SheetMark::add(const StoredRow &row)
{
    static const QList<bool> sums = [] {
        QList<bool> list;
        for (const ClassField &field : storedFields())
            list << field.column.endsWith(QLatin1String("_sum"));
        return list;
    }();
    // Each value with a tag, in order, so that moved or retyped values differ.
    quint64 hash = 0x243f6a8885a308d3;
    auto put = [&hash](quint64 tag, quint64 value) {
        hash = mixed(hash ^ (value + tag * 0x9e3779b97f4a7c15));
    };
    for (qsizetype f = 0; f < sums.size(); ++f) {
        if (sums[f])
            continue; // worked out from the flags and the reference rows
        if (const std::optional<qint64> n = row.whole(f)) {
            put(1, quint64(*n));
            continue;
        }
        const std::optional<std::string_view> text = row.utf8(f);
        if (!text) {
            put(2, 0);
            continue;
        }
        put(3, text->size());
        for (size_t i = 0; i < text->size(); i += 8) {
            quint64 chunk = 0;
            std::memcpy(&chunk, text->data() + i, std::min<size_t>(8, text->size() - i));
            put(4, chunk);
        }
    }
    mHash += mixed(hash);
}

QString SheetMark::text() const
{
    return QStringLiteral("%1").arg(mHash, 16, 16, QLatin1Char('0'));
}

namespace
{

Status failAt(const QString &path, qint64 line, const QString &cause)
{
    return Status::failure(Fault::Refused,
                           QStringLiteral("%1:%2: %3").arg(path).arg(line).arg(cause));
}

// Most sheets are ASCII, which needs no decoder to tell.
bool isUtf8(QByteArrayView bytes)
{
    qsizetype i = 0;
    for (quint64 chunk = 0; i + 8 <= bytes.size(); i += 8) {
        std::memcpy(&chunk, bytes.data() + i, 8);
        if (chunk & 0x8080808080808080)
            break;
    }
    while (i < bytes.size() && uchar(bytes[i]) < 0x80)
        ++i;
    if (i == bytes.size())
        return true;
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString decoded = decoder(bytes.sliced(i)); // from a character's first byte
    return !decoder.hasError();
}

bool isBlank(QByteArrayView cell)
{
    for (const char c : cell) {
        if (uchar(c) >= 0x80) // perhaps a space beyond ASCII
            return QString::fromUtf8(cell).trimmed().isEmpty();
        if (!QChar::isSpace(uchar(c)))
            return false;
    }
    return true;
}

// A header, then rows; comment rows (a first cell from '#') and blank rows
// are no classes. The record's cells are those of sheet.cells from first on.
void addRecord(Sheet &sheet, bool &headed, qint64 line, qsizetype first)
{
    const Sheet::Row row{line, first, qsizetype(sheet.cells.size()) - first};
    const QByteArrayView start = sheet.cell(row, 0);
    // Most rows start with a class number: no need to decode the cell to know.
    const bool plain = !start.isEmpty() && uchar(start[0]) < 0x80 && start[0] != '#' &&
                       !QChar::isSpace(uchar(start[0]));
    if (const QString trimmed = plain ? QString() : QString::fromUtf8(start).trimmed();
        trimmed.startsWith(u'#')) {
        if (trimmed.startsWith(QLatin1String(kCsvMarkPrefix)))
            sheet.mark = trimmed.mid(qsizetype(qstrlen(kCsvMarkPrefix))).trimmed();
    } else if (!headed) {
        for (qsizetype c = 0; c < row.count; ++c)
            sheet.header << QString::fromUtf8(sheet.cell(row, c)).trimmed();
        headed = true;
    } else if (std::any_of(sheet.cells.begin() + first, sheet.cells.end(),
                           [&sheet](const Sheet::Cell &cell) {
                               return !isBlank(
                                   QByteArrayView(sheet.text.constData() + cell.at, cell.size));
                           })) {
        sheet.rows.append(row);
        return;
    }
    sheet.cells.resize(size_t(first));
}

// RFC 4180 as spreadsheets write it: the separator is whichever of ',' and
// ';' the header line uses; a line ends in CRLF, LF or CR.
Result<Sheet> readCsv(const QString &path, QByteArray bytes)
{
    Sheet sheet;
    sheet.path = path;
    const qsizetype size = bytes.size();
    sheet.text = std::move(bytes);
    // A quoted cell is unquoted at the end of text: where it is read moves.
    const char *text = sheet.text.constData();
    char separator = ',';
    {
        qsizetype commas = 0, semicolons = 0;
        bool quoted = false;
        for (qsizetype i = 0; i < size; ++i) {
            const char c = text[i];
            if (c == '"')
                quoted = !quoted;
            else if (!quoted && (c == '\n' || c == '\r'))
                break;
            commas += !quoted && c == ',';
            semicolons += !quoted && c == ';';
        }
        if (semicolons > commas)
            separator = ';';
    }
    std::array<bool, 256> ends{};
    for (const char c : {separator, '\n', '\r'})
        ends[uchar(c)] = true;
    auto plainEnd = [&](qsizetype i) {
        while (i < size && !ends[uchar(text[i])])
            ++i;
        return i;
    };
    bool headed = false;
    qint64 line = 1, start = 1;
    qsizetype first = 0, i = 0;
    sheet.cells.reserve(size_t(size / 2)); // a cell and its separator: two bytes or more
    while (i < size) {
        qsizetype end = i;
        if (text[i] != '"') {
            end = plainEnd(i);
            sheet.cells.push_back({i, end - i});
        } else {
            const qsizetype at = sheet.text.size();
            QByteArray field;
            for (end = i + 1;;) {
                const char *quote =
                    static_cast<const char *>(std::memchr(text + end, '"', size_t(size - end)));
                if (!quote)
                    return failAt(path, start, QStringLiteral("a quoted field is not closed"));
                const QByteArrayView run(text + end, quote - (text + end));
                field += run;
                line += run.count('\n') + run.count('\r') - run.count("\r\n");
                end = quote - text + 1;
                if (end < size && text[end] == '"') {
                    field += '"';
                    ++end;
                    continue;
                }
                // Anything after the closing quote belongs to the cell.
                const qsizetype rest = plainEnd(end);
                field += QByteArrayView(text + end, rest - end);
                end = rest;
                break;
            }
            sheet.text += field;
            text = sheet.text.constData();
            sheet.cells.push_back({at, field.size()});
        }
        if (end < size && text[end] == separator) {
            i = end + 1;
            if (i == size) // a last empty cell
                sheet.cells.push_back({i, 0});
            else
                continue;
        } else if (end < size) {
            end += text[end] == '\r' && end + 1 < size && text[end + 1] == '\n';
            i = end + 1;
        } else {
            i = size;
        }
        addRecord(sheet, headed, start, first);
        start = ++line;
        first = qsizetype(sheet.cells.size());
    }
    if (!headed)
        return failAt(path, 1, QStringLiteral("the sheet has no header row"));
    return sheet;
}

// The line each element of the top-level array starts on.
QList<qint64> elementLines(const QByteArray &bytes)
{
    QList<qint64> lines;
    qint64 line = 1;
    int depth = 0;
    bool inString = false, expecting = false;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (c == '\n')
            ++line;
        if (inString) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                inString = false;
            continue;
        }
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n')
            continue;
        if (depth == 1 && expecting && c != ']') {
            lines << line;
            expecting = false;
        }
        if (c == '"')
            inString = true;
        else if (c == '[' || c == '{')
            expecting = ++depth == 1;
        else if (c == ']' || c == '}')
            --depth;
        else if (c == ',' && depth == 1)
            expecting = true;
    }
    return lines;
}

Result<Sheet> readJson(const QString &path, const QByteArray &bytes)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError)
        return failAt(path, bytes.left(error.offset).count('\n') + 1,
                      QStringLiteral("not json: %1").arg(error.errorString()));
    if (!document.isArray())
        return failAt(path, 1, QStringLiteral("json sheet is not an array of classes"));
    Sheet sheet;
    sheet.path = path;
    const QJsonArray elements = document.array();
    const QList<qint64> lines = elementLines(bytes);
    for (qsizetype e = 0; e < elements.size(); ++e) {
        const qint64 line = lines.value(e, 1);
        const QJsonObject object = elements[e].toObject();
        if (!elements[e].isObject())
            return failAt(path, line, QStringLiteral("a class is not an object"));
        if (object.size() == 1 && object.contains(QLatin1String(kJsonMarkKey))) {
            sheet.mark = object.value(QLatin1String(kJsonMarkKey)).toString();
            continue;
        }
        Sheet::Row row{line, qsizetype(sheet.cells.size()), sheet.header.size()};
        sheet.cells.resize(sheet.cells.size() + size_t(row.count));
        for (auto it = object.begin(); it != object.end(); ++it) {
            qsizetype at = sheet.header.indexOf(it.key());
            if (at < 0) {
                at = sheet.header.size();
                sheet.header << it.key();
                sheet.cells.emplace_back();
                ++row.count;
            }
            const QJsonValue value = it.value();
            QString cell;
            if (value.isNull()) {
                cell = QString(u""_qs);
            } else if (value.isString()) {
                cell = value.toString();
            } else if (value.isBool()) {
                cell = value.toBool() ? QStringLiteral("1") : QStringLiteral("0");
            } else if (value.isDouble()) {
                const double d = value.toDouble();
                cell = std::floor(d) == d && std::fabs(d) < 9007199254740992.0
                           ? QString::number(qint64(d))
                           : QString::number(d, 'g', QLocale::FloatingPointShortest);
            } else {
                return failAt(path, line,
                              QStringLiteral("key \"%1\" holds no value").arg(shownText(it.key())));
            }
            const QByteArray utf8 = cell.toUtf8();
            sheet.cells[size_t(row.first + at)] = {sheet.text.size(), utf8.size()};
            sheet.text += utf8;
        }
        sheet.rows << row;
    }
    return sheet;
}

schema::Kind kindOf(const QString &column)
{
    static const QHash<QString, schema::Kind> kinds = [] {
        QHash<QString, schema::Kind> all;
        for (const schema::Column &c : schema::classdefColumns())
            all.insert(QLatin1String(c.name), c.kind);
        return all;
    }();
    return kinds.value(column, schema::Kind::Id32); // Id32: the flag sums
}

bool isSum(const ClassField &field)
{
    return field.ref && (*field.ref == RefKind::Item || *field.ref == RefKind::Special);
}

// A cell as a typed value is checked: by fieldValue, except that slots and
// flag sums also take names as show's text prints them.
Result<QVariant> cellValue(const ClassField &field, const QString &text, const RefNames &names)
{
    // Only a refusal names the column: most cells pass.
    auto label = [&field] {
        return QStringLiteral("column \"%1\"").arg(field.label);
    };
    const schema::Kind kind = kindOf(field.column);
    auto checked = [&](const QString &cell) {
        const Result<QVariant> value = fieldValue(kind, QString(), cell);
        return value ? value : fieldValue(kind, label(), cell);
    };
    if (kind == schema::Kind::YesNo && text.trimmed().isEmpty())
        return QVariant(qint64(0)); // a flag's column holds no NULL
    if (!field.ref)
        return checked(text);
    const QString trimmed = text.trimmed();
    const bool number = !trimmed.isEmpty() && (trimmed[0].isDigit() || trimmed[0] == u'-' ||
                                               trimmed[0] == u'+' || trimmed[0] == u'.');
    const RefKind ref = *field.ref;
    static const char *const nouns[] = {"weapon", "grenade", "item", "special ability"};
    auto unknown = [&](const QString &name) {
        return Status::failure(Fault::Refused,
                               QStringLiteral("%1: '%2' is no %3 of the reference tables.")
                                   .arg(label(), name, QLatin1String(nouns[int(ref)])));
    };
    if (isSum(field)) {
        if (trimmed.isEmpty())
            return QVariant(qint64(0));
        if (number)
            return checked(trimmed);
        qint64 sum = 0;
        for (const QString &part : trimmed.split(u',', Qt::SkipEmptyParts)) {
            const std::optional<qint64> id = names.idOf(ref, part.trimmed());
            if (!id)
                return unknown(part.trimmed());
            sum |= *id;
        }
        return QVariant(sum);
    }
    if (trimmed.isEmpty() || trimmed == QLatin1String("(no value)"))
        return QVariant();
    if (trimmed.compare(QLatin1String("(none)"), Qt::CaseInsensitive) == 0)
        return QVariant(qint64(0));
    if (number)
        return checked(trimmed);
    if (const std::optional<qint64> id = names.idOf(ref, trimmed))
        return QVariant(*id);
    return unknown(trimmed);
}

// The value show printed for a stored one, so that a cell left as it was
// needs no checking: a stored value a field cannot hold stays stored.
// A cell of plain digits as show prints n, read without converting the text.
bool printsAs(QByteArrayView cell, qint64 n)
{
    const qsizetype size = cell.size();
    const bool minus = size > 0 && cell[0] == '-';
    if (size == minus || size > 19)
        return false;
    quint64 read = 0;
    for (qsizetype i = minus; i < size; ++i) {
        const uchar c = uchar(cell[i]);
        if (c < '0' || c > '9')
            return false;
        read = read * 10 + (c - '0');
    }
    return (minus ? 0 - read : read) == quint64(n);
}

bool asPrinted(const StoredRow &row, qsizetype field, QByteArrayView cell)
{
    if (const std::optional<qint64> n = row.whole(field))
        return printsAs(cell, *n);
    // Text the same as stored, byte for byte, is as printed; other text is
    // compared as show prints it.
    if (const std::optional<std::string_view> text = row.utf8(field);
        text && qsizetype(text->size()) == cell.size() &&
        (text->empty() || std::memcmp(text->data(), cell.data(), text->size()) == 0))
        return true;
    const QVariant value = row.value(field);
    return value.isNull() ? cell.isEmpty() : value.toString() == QString::fromUtf8(cell);
}

// One row of the sheet, read by field.
struct Wanted {
    qint64 line = 0;
    qint64 classNum = 0;
    const Sheet *sheet = nullptr;
    const Sheet::Row *row = nullptr;
    const QList<qsizetype> *columnOf = nullptr; // each field's column in the sheet, or -1
    bool matched = false;

    // Null where the sheet has no such column.
    QByteArrayView cell(qsizetype field) const { return sheet->cell(*row, (*columnOf)[field]); }
    QString text(qsizetype field) const { return QString::fromUtf8(cell(field)); }
};

struct Planned {
    QStringList columns;
    QVariantList values;
    QList<FieldDifference> differences;
};

class Planner
{
public:
    // columnOf: each field's column in the sheet, or -1.
    Planner(const Sheet &sheet, const RefNames &names, const QList<qsizetype> &columnOf)
        : mSheet(sheet), mNames(names), mSumAt{indexOf("item_sum"), indexOf("special_sum")},
          mFirstFlag{indexOf(schema::flagColumn(RefKind::Item, 1)),
                     indexOf(schema::flagColumn(RefKind::Special, 1))}
    {
        const QList<ClassField> &fields = storedFields();
        for (qsizetype f = 0; f < fields.size(); ++f)
            if (columnOf[f] >= 0 && !isSum(fields[f]))
                mCells.push_back({f, columnOf[f]});
    }

    // What the sheet changes in a stored class, or all a new class gets.
    Result<Planned> plan(const Wanted &wanted, const StoredRow *row) const
    {
        const QList<ClassField> &fields = storedFields();
        const qsizetype count = fields.size();
        // Kept from class to class: a value counts only where changed says so.
        QVariantList &after = mAfter;
        QList<bool> &changed = mChanged;
        after.resize(count);
        changed.fill(false, count);
        auto at = [&](const QString &cause) {
            return failAt(mSheet.path, wanted.line, cause);
        };
        // Two million cells in a large sheet: those as printed are passed by
        // the shortest way.
        const Sheet::Row &line = *wanted.row;
        const Sheet::Cell *cells = mSheet.cells.data() + line.first;
        for (const auto &[f, column] : mCells) {
            if (column >= line.count || cells[column].size < 0)
                continue;
            const QByteArrayView cell(mSheet.text.constData() + cells[column].at,
                                      cells[column].size);
            if (row && asPrinted(*row, f, cell))
                continue;
            const Result<QVariant> value = cellValue(fields[f], QString::fromUtf8(cell), mNames);
            if (!value)
                return at(value.message());
            if (!row && value->isNull())
                continue; // the column's default
            const QVariant before = row ? row->value(f) : QVariant();
            const bool emptyText = kindOf(fields[f].column) == schema::Kind::Text &&
                                   value->isNull() && before.toString().isEmpty();
            if (row && (emptyText || sameValue(before, *value)))
                continue;
            after[f] = *value;
            changed[f] = true;
        }
        Planned planned;
        std::array<std::optional<FieldDifference>, 2> sums;
        for (const RefKind kind : {RefKind::Item, RefKind::Special}) {
            const qsizetype sumAt = mSumAt[kind == RefKind::Item ? 0 : 1];
            const qsizetype first = mFirstFlag[kind == RefKind::Item ? 0 : 1];
            const qsizetype boxes = flagBoxes(kind);
            // No box changed and the sum as stored: nothing of this kind changes.
            if (row && std::none_of(changed.begin() + first, changed.begin() + first + boxes,
                                    [](bool c) { return c; })) {
                const QByteArrayView cell = wanted.cell(sumAt);
                if (cell.isNull() || printsAs(cell, row->whole(sumAt).value_or(0)))
                    continue;
            }
            const QList<RefEntry> &rows = mNames.flagRows(kind);
            auto flag = [&](qsizetype k) {
                return changed[first + k] ? after[first + k].toLongLong() != 0
                                          : row && row->whole(first + k).value_or(0) != 0;
            };
            std::array<bool, kSpecialBoxes> flags{};
            for (qsizetype k = 0; k < boxes; ++k)
                flags[size_t(k)] = flag(k);
            const std::span<const bool> used(flags.data(), size_t(boxes));
            Result<qint32> sum = flagSum(rows, used);
            if (!sum)
                return at(sum.message());
            // The sum is worked out from the flag columns: a sum cell left as
            // it was, or agreeing with them, leaves them to say.
            const qint64 before = row ? row->whole(sumAt).value_or(0) : 0;
            const QByteArrayView cell = wanted.cell(sumAt);
            // A sum cell as stored, or as the flags make it, leaves them to say.
            if (!cell.isNull() && !(row && printsAs(cell, before)) && !printsAs(cell, *sum)) {
                const QString typed = QString::fromUtf8(cell).trimmed();
                const Result<QVariant> value = cellValue(fields[sumAt], typed, mNames);
                if (!value)
                    return at(value.message());
                const qint64 wantedSum = value->toLongLong();
                if (wantedSum != *sum && wantedSum != before) {
                    const QString label = QStringLiteral("column \"%1\"").arg(fields[sumAt].label);
                    for (qsizetype k = 0; k < boxes; ++k)
                        if (changed[first + k] &&
                            (after[first + k].toLongLong() != 0) !=
                                (row && row->whole(first + k).value_or(0) != 0))
                            return at(QStringLiteral("%1: %2 differs from the flag columns "
                                                     "changed beside it.")
                                          .arg(label, typed));
                    for (qsizetype k = 0; k < boxes; ++k) {
                        const qint64 id = k < rows.size() ? rows[k].id.toLongLong() : 0;
                        flags[size_t(k)] = id > 0 && (wantedSum & id) == id;
                    }
                    sum = flagSum(rows, used);
                    if (!sum || *sum != wantedSum)
                        return at(QStringLiteral("%1: %2 is no sum of the boxes a class shows.")
                                      .arg(label, typed));
                    for (qsizetype k = 0; k < boxes; ++k)
                        if (flags[size_t(k)] != flag(k) || !row) {
                            after[first + k] = qint64(flags[size_t(k)]);
                            changed[first + k] = true;
                        }
                }
            }
            if (*sum != before)
                sums[kind == RefKind::Item ? 0 : 1] = FieldDifference{
                    fields[sumAt].label, orNone(shownValue(fields[sumAt], before, mNames)),
                    orNone(shownValue(fields[sumAt], qint64(*sum), mNames))};
        }
        const qsizetype flagsFrom = mFirstFlag[0];
        for (qsizetype f = 0; f < count; ++f) {
            if (!changed[f])
                continue;
            planned.columns << fields[f].column;
            planned.values << after[f];
            if (!row)
                continue;
            if (f < flagsFrom)
                planned.differences.append({fields[f].label,
                                            orNone(shownValue(fields[f], row->value(f), mNames)),
                                            orNone(shownValue(fields[f], after[f], mNames))});
            else if (!sums[f < mFirstFlag[1] ? 0 : 1])
                planned.differences.append({fields[f].label, orNone(row->value(f).toString()),
                                            orNone(after[f].toString())});
        }
        for (const std::optional<FieldDifference> &sum : sums)
            if (sum && row)
                planned.differences << *sum;
        return planned;
    }

    static qsizetype indexOf(const QString &column)
    {
        const QList<ClassField> &fields = storedFields();
        for (qsizetype f = 0; f < fields.size(); ++f)
            if (fields[f].column == column)
                return f;
        return -1;
    }
    static qsizetype indexOf(const char *column) { return indexOf(QLatin1String(column)); }

private:
    static QString orNone(const QString &value)
    {
        return value.isEmpty() ? QStringLiteral("(none)") : value;
    }

    const Sheet &mSheet;
    const RefNames &mNames;
    const std::array<qsizetype, 2> mSumAt, mFirstFlag;   // items, specials
    std::vector<std::pair<qsizetype, qsizetype>> mCells; // the fields the sheet has, and where
    mutable QVariantList mAfter;
    mutable QList<bool> mChanged;
};

} // namespace

Result<Sheet> readSheet(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return Status::failure(file.error() == QFileDevice::OpenError && !file.exists()
                                   ? Fault::NotFound
                                   : Fault::InputOutput,
                               QStringLiteral("%1: %2").arg(path, file.errorString()));
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return Status::failure(Fault::InputOutput,
                               QStringLiteral("%1: %2").arg(path, file.errorString()));
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes.remove(0, 3);
    const auto from = std::find_if(bytes.cbegin(), bytes.cend(),
                                   [](char c) { return !QChar::isSpace(uchar(c)); });
    if (from != bytes.cend() && *from == '[')
        return readJson(path, bytes);
    if (!isUtf8(bytes))
        return failAt(path, 1, QStringLiteral("the sheet is not UTF-8 text; save it as CSV UTF-8"));
    return readCsv(path, std::move(bytes));
}

Status storeClassWrites(AppState &state, const QString &configName, const RefNames &names,
                        const QList<DataStore::ClassWrite> &writes,
                        const QList<DataStore::ClassWrite> &stored)
{
    const QString what = QStringLiteral("Could not store the changes to the configuration '%1'.")
                             .arg(shownText(configName));
    QHash<qint64, qsizetype> byNumber;
    for (qsizetype i = 0; i < writes.size(); ++i)
        byNumber.insert(writes[i].classNum, i);
    const qsizetype nameAt = Planner::indexOf("class_name");
    return state.data().writeClasses(
        configName, what, [&]() -> Result<QList<DataStore::ClassWrite>> {
            // Another user's change since is kept: a field of theirs this step
            // would overwrite refuses all of it, so nothing is half taken back.
            auto refuse = [&](const QString &cause) {
                return Status::failure(Fault::Refused,
                                       QStringLiteral("%1 Nothing was stored.").arg(cause));
            };
            QList<bool> seen(writes.size(), false);
            Status clash = Status::success();
            const Status read = readStoredClasses(
                state, configName, names,
                [&](const StoredRow &row) {
                    const std::optional<qint64> number = row.whole(0);
                    const auto found = number ? byNumber.constFind(*number) : byNumber.cend();
                    if (!clash || found == byNumber.cend())
                        return Status::success();
                    seen[*found] = true;
                    const DataStore::ClassWrite &write = writes[*found], &was = stored[*found];
                    const QString name = listedText(row.value(nameAt).toString());
                    if (write.kind == DataStore::ClassWrite::Insert) {
                        clash = refuse(QStringLiteral("Class number %1 ('%2') was added by someone "
                                                      "else meanwhile.")
                                           .arg(*number)
                                           .arg(name));
                        return Status::success();
                    }
                    for (qsizetype c = 0; c < was.columns.size(); ++c) {
                        const qsizetype f = Planner::indexOf(was.columns[c]);
                        const QVariant now = row.value(f);
                        const qsizetype w = write.columns.indexOf(was.columns[c]);
                        if (f < 0 || sameValue(now, was.values[c]) ||
                            (w >= 0 && sameValue(now, write.values[w])))
                            continue;
                        clash = refuse(
                            QStringLiteral("Someone else changed %1 of the class '%2' "
                                           "meanwhile (now %3).")
                                .arg(storedFields()[f].label, name,
                                     now.isNull() ? QStringLiteral("empty") : now.toString()));
                        break;
                    }
                    return Status::success();
                },
                false);
            if (!read)
                return read;
            if (!clash)
                return clash;
            for (qsizetype i = 0; i < writes.size(); ++i)
                if (!seen[i] && writes[i].kind != DataStore::ClassWrite::Insert)
                    return refuse(QStringLiteral("Class number %1 was deleted by someone else "
                                                 "meanwhile.")
                                      .arg(writes[i].classNum));
            return writes;
        });
}

Status applySheet(AppState &state, const QString &configName, const Sheet &sheet,
                  const RefNames &names, const ApplyOptions &options, const ComparisonSink &sink,
                  AppliedSheet *applied)
{
    const QString what = QStringLiteral("Could not apply %1 to the configuration '%2'.")
                             .arg(sheet.path, shownText(configName));
    const QList<ClassField> &fields = storedFields();
    QList<qsizetype> fieldOf(sheet.header.size(), -1);
    for (qsizetype h = 0; h < sheet.header.size(); ++h) {
        const QString &name = sheet.header[h];
        if (name.isEmpty())
            continue; // a spreadsheet's trailing separators
        const qsizetype f = Planner::indexOf(name);
        if (f < 0)
            return failAt(
                sheet.path, 1,
                QStringLiteral("column \"%1\" is no field of a class").arg(shownText(name)));
        if (fieldOf.contains(f))
            return failAt(sheet.path, 1,
                          QStringLiteral("column \"%1\" is there twice").arg(shownText(name)));
        fieldOf[h] = f;
    }
    if (!fieldOf.contains(0))
        return failAt(sheet.path, 1, QStringLiteral("the sheet has no column \"class_num\""));

    QList<qsizetype> columnOf(fields.size(), -1);
    for (qsizetype h = 0; h < fieldOf.size(); ++h)
        if (fieldOf[h] >= 0)
            columnOf[fieldOf[h]] = h;
    QList<Wanted> wanted;
    wanted.reserve(sheet.rows.size());
    QHash<qint64, qsizetype> byNumber;
    for (const Sheet::Row &row : sheet.rows) {
        Wanted w{row.line, 0, &sheet, &row, &columnOf};
        // Plain digits of a number the column holds need no conversion.
        const QByteArrayView digits = w.cell(0);
        qint64 plain = -1;
        if (!digits.isEmpty() && digits.size() <= 5 &&
            std::all_of(digits.begin(), digits.end(),
                        [](char c) { return c >= '0' && c <= '9'; })) {
            plain = 0;
            for (const char c : digits)
                plain = plain * 10 + (c - '0');
        }
        if (plain >= 0 && plain <= std::numeric_limits<qint16>::max()) {
            w.classNum = plain;
        } else {
            const Result<QVariant> number = cellValue(fields[0], w.text(0), names);
            if (!number)
                return failAt(sheet.path, row.line, number.message());
            if (number->isNull())
                return failAt(sheet.path, row.line,
                              QStringLiteral("column \"%1\": a class needs its number.")
                                  .arg(fields[0].label));
            w.classNum = number->toLongLong();
        }
        if (const auto seen = byNumber.constFind(w.classNum); seen != byNumber.cend())
            return failAt(sheet.path, row.line,
                          QStringLiteral("class number %1 is on line %2 already.")
                              .arg(w.classNum)
                              .arg(wanted[*seen].line));
        byNumber.insert(w.classNum, wanted.size());
        wanted << w;
    }

    const Planner planner(sheet, names, columnOf);
    const qsizetype nameAt = Planner::indexOf("class_name");
    auto plan = [&]() -> Result<QList<DataStore::ClassWrite>> {
        for (Wanted &w : wanted)
            w.matched = false;
        SheetMark mark;
        QList<DataStore::ClassWrite> writes, undo;
        // Every stored column of a class, to put a deleted one back.
        auto whole = [&fields](const StoredRow &row, DataStore::ClassWrite &write) {
            for (qsizetype f = 0; f < fields.size(); ++f) {
                if (isSum(fields[f]))
                    continue;
                write.columns << fields[f].column;
                write.values << row.value(f);
            }
        };
        // Read as stored, not sorted: what is told goes in class order after.
        QList<std::pair<qint64, QString>> deleted;
        QList<std::pair<qint64, ClassChange>> changes;
        // A sheet of an older state is refused as such before any cell is;
        // of the refused cells, the one of the lowest class number is told.
        Status checked = Status::success();
        qint64 checkedAt = 0;
        auto refuse = [&](qint64 number, const Status &status) {
            if (checked || number < checkedAt)
                checked = status, checkedAt = number;
        };
        const Status read = readStoredClasses(
            state, configName, names,
            [&](const StoredRow &row) {
                mark.add(row);
                const std::optional<qint64> number = row.whole(0);
                const auto found = number ? byNumber.constFind(*number) : byNumber.cend();
                // Named only when told: most classes stay as they are.
                auto name = [&row, nameAt] {
                    return listedText(row.value(nameAt).toString());
                };
                if (found == byNumber.cend()) {
                    if (options.deleteMissing && number) {
                        deleted.append({*number, name()});
                        writes.append({DataStore::ClassWrite::Delete, *number, {}, {}});
                        undo.append({DataStore::ClassWrite::Insert, *number, {}, {}});
                        whole(row, undo.last());
                    }
                    return Status::success();
                }
                Wanted &w = wanted[*found];
                if (std::exchange(w.matched, true)) {
                    refuse(*number, failAt(sheet.path, w.line,
                                           QStringLiteral("the configuration holds class number %1 "
                                                          "more than once; its rows cannot be told "
                                                          "apart.")
                                               .arg(*number)));
                    return Status::success();
                }
                const Result<Planned> planned = planner.plan(w, &row);
                if (!planned) {
                    refuse(*number, planned.status());
                    return Status::success();
                }
                if (checked && !planned->columns.isEmpty()) {
                    changes.append({*number, {name(), planned->differences}});
                    writes.append({DataStore::ClassWrite::Update, *number, planned->columns,
                                   planned->values});
                    undo.append({DataStore::ClassWrite::Update, *number, planned->columns, {}});
                    for (const QString &column : planned->columns)
                        undo.last().values << row.value(Planner::indexOf(column));
                }
                return Status::success();
            },
            false);
        if (!read)
            return read;
        if (!options.force && sheet.mark != mark.text())
            return Status::failure(
                Fault::Refused,
                sheet.mark.isEmpty()
                    ? QStringLiteral("%1 has no mark of the configuration it was shown from, so "
                                     "it cannot tell whether '%2' changed since. Give --force "
                                     "to store it all the same.")
                          .arg(sheet.path, shownText(configName))
                    : QStringLiteral("The configuration '%1' changed since %2 was written: "
                                     "nothing was stored. Show it again and make the changes "
                                     "there, or give --force to store over the newer classes.")
                          .arg(shownText(configName), sheet.path));
        if (!checked)
            return checked;
        QStringList added;
        for (const Wanted &w : wanted) {
            if (w.matched)
                continue;
            const Result<Planned> planned = planner.plan(w, nullptr);
            if (!planned)
                return planned.status();
            added << listedText(w.text(nameAt));
            writes.append(
                {DataStore::ClassWrite::Insert, w.classNum, planned->columns, planned->values});
            undo.append({DataStore::ClassWrite::Delete, w.classNum, {}, {}});
        }
        auto byNumberOrder = [](const auto &a, const auto &b) {
            return a.first < b.first;
        };
        std::stable_sort(deleted.begin(), deleted.end(), byNumberOrder);
        std::stable_sort(changes.begin(), changes.end(), byNumberOrder);
        for (const auto &[number, name] : deleted)
            sink.onlyA(name);
        for (const QString &name : added)
            sink.onlyB(name);
        for (const auto &[number, change] : changes)
            sink.changed(change);
        if (options.dryRun)
            writes.clear();
        if (applied)
            *applied = {writes, undo};
        return writes;
    };
    if (options.dryRun)
        return plan().status();
    return state.data().writeClasses(configName, what, plan);
}

} // namespace tarn
