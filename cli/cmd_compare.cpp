// SPDX-License-Identifier: GPL-3.0-or-later
#include "commands.h"

#include "core/sheet.h"
#include "store/textrules.h"

#include <QFileDevice>
#include <QFileInfo>

#include <charconv>
#include <cmath>
#include <cstdio>

namespace tarn::cli
{

namespace
{

std::string_view view(const QByteArray &bytes)
{
    return {bytes.constData(), size_t(bytes.size())};
}

// Output built as UTF-8 and written in large pieces: a long listing costs no
// conversion per value. A failed write fails the stream, as a text's would.
class Output
{
public:
    explicit Output(QTextStream &out) : mOut(out) { mOut.flush(); }
    ~Output()
    {
        flush();
        // The stream's own flush sees nothing left to write: the file's buffer
        // is emptied here, where a full disk shows.
        if (auto *file = qobject_cast<QFileDevice *>(mOut.device());
            file && mOut.status() == QTextStream::Ok && !file->flush())
            mOut.setStatus(QTextStream::WriteFailed);
    }

    Output &operator<<(std::string_view bytes)
    {
        mBuffer.append(bytes);
        return *this;
    }
    Output &operator<<(const char *text) { return *this << std::string_view(text); }
    Output &operator<<(char c)
    {
        mBuffer += c;
        return *this;
    }
    Output &operator<<(const QString &text) { return *this << view(text.toUtf8()); }
    Output &operator<<(qint64 n)
    {
        char digits[24];
        return *this << std::string_view(digits, std::to_chars(digits, digits + 24, n).ptr);
    }
    // The end of a class: written when enough has gathered.
    void flushIfFull()
    {
        if (mBuffer.size() >= 64 * 1024)
            flush();
    }
    // A read that failed: what waits is not written.
    void discard() { mBuffer.clear(); }

private:
    void flush()
    {
        QIODevice *device = mOut.device();
        if (!device)
            mOut << QString::fromUtf8(mBuffer.data(), qsizetype(mBuffer.size()));
        else if (mOut.status() == QTextStream::Ok &&
                 device->write(mBuffer.data(), qint64(mBuffer.size())) != qint64(mBuffer.size()))
            mOut.setStatus(QTextStream::WriteFailed);
        mBuffer.clear();
    }

    QTextStream &mOut;
    std::string mBuffer;
};

// RFC 4180, every character as stored: a field with a comma, a quote or a
// line break goes in quotes, its quotes doubled. An empty text is "" and a
// NULL nothing, so that the two read back apart. A fraction is its shortest
// text that reads back the same.
void writeCsv(Output &out, const StoredRow &row, qsizetype field)
{
    if (const std::optional<qint64> n = row.whole(field)) {
        out << *n;
        return;
    }
    const QVariant value = row.value(field);
    const QByteArray text = value.toString().toUtf8();
    if (value.typeId() == QMetaType::QString &&
        (text.isEmpty() || text.contains(',') || text.contains('"') || text.contains('\n') ||
         text.contains('\r')))
        out << '"' << view(QByteArray(text).replace("\"", "\"\"")) << '"';
    else
        out << view(text);
}

// JSON's escapes, and control characters escaped beyond what it requires, so
// that none reaches a terminal.
void writeJsonString(Output &out, const QString &text)
{
    out << '"';
    qsizetype plain = 0; // where the characters written as they are begin
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t u = text[i].unicode();
        if (u != u'"' && u != u'\\' && u >= 0x20 && (u < 0x7F || u > 0x9F))
            continue;
        out << text.sliced(plain, i - plain);
        plain = i + 1;
        if (u == u'"' || u == u'\\') {
            out << '\\' << char(u);
        } else if (u == u'\n') {
            out << "\\n";
        } else if (u == u'\r') {
            out << "\\r";
        } else if (u == u'\t') {
            out << "\\t";
        } else {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", unsigned(u));
            out << escape;
        }
    }
    out << text.sliced(plain) << '"';
}

void writeJson(Output &out, const StoredRow &row, qsizetype field)
{
    if (const std::optional<qint64> n = row.whole(field)) {
        out << *n;
        return;
    }
    const QVariant value = row.value(field);
    if (value.isNull())
        out << "null";
    else if (value.typeId() == QMetaType::Double && std::isfinite(value.toDouble()))
        out << value.toString();
    else // JSON has no infinite number
        writeJsonString(out, value.toString());
}

// One line a class. Keys are the stored columns; NULL is null and numbers stay
// numbers, so that a parser gets back what the table holds.
Status printJson(Context &c, const QString &name, const RefNames &names)
{
    const QList<ClassField> &fields = storedFields();
    QList<QByteArray> keys;
    for (qsizetype f = 0; f < fields.size(); ++f)
        keys << (f > 0 ? "," : "{") + ('"' + fields[f].column.toUtf8() + "\":");
    Output out(c.out);
    out << '[';
    bool first = true;
    SheetMark mark;
    const Status read = readStoredClasses(*c.state, name, names, [&](const StoredRow &row) {
        mark.add(row);
        out << (std::exchange(first, false) ? "\n" : ",\n");
        for (qsizetype f = 0; f < fields.size(); ++f) {
            out << view(keys[f]);
            writeJson(out, row, f);
        }
        out << '}';
        out.flushIfFull();
        return Status::success();
    });
    if (!read) {
        out.discard();
        return read;
    }
    out << (first ? "\n{\"" : ",\n{\"") << kJsonMarkKey << "\":\"" << mark.text() << "\"}\n]\n";
    return read;
}

Status printCsv(Context &c, const QString &name, const RefNames &names)
{
    QStringList header;
    for (const ClassField &field : storedFields())
        header << field.column;
    Output out(c.out);
    out << header.join(u',') << "\r\n";
    SheetMark mark;
    const Status read = readStoredClasses(*c.state, name, names, [&](const StoredRow &row) {
        mark.add(row);
        for (qsizetype f = 0; f < header.size(); ++f) {
            if (f > 0)
                out << ',';
            writeCsv(out, row, f);
        }
        out << "\r\n";
        out.flushIfFull();
        return Status::success();
    });
    if (read)
        out << kCsvMarkPrefix << mark.text() << "\r\n";
    else
        out.discard();
    return read;
}

// The fields of a class file by label, the flags by name in the Items and
// Special Abilities lines.
Status printText(Context &c, const QString &name, const RefNames &names)
{
    const QList<ClassField> &fields = storedFields();
    // The class number and the fields of a class file; the single flags follow.
    const qsizetype shown = 1 + classFields().size();
    QList<QByteArray> labels;
    for (qsizetype f = 0; f < shown; ++f)
        labels << (fields[f].label + QStringLiteral(": ")).toUtf8();
    Output out(c.out);
    bool first = true;
    return readStoredClasses(*c.state, name, names, [&](const StoredRow &row) {
        if (!std::exchange(first, false))
            out << '\n';
        for (qsizetype f = 0; f < shown; ++f) {
            out << view(labels[f]);
            const std::optional<qint64> n = row.whole(f);
            if (n && !fields[f].ref)
                out << *n;
            else
                out << (n ? shownValue(fields[f], *n, names)
                          : shownValue(fields[f], row.value(f), names));
            out << '\n';
        }
        out.flushIfFull();
        return Status::success();
    });
}

// One line, where the store would lead with what it could not read.
Status requireConfiguration(Context &c, const QString &name)
{
    const Result<bool> exists = c.state->data().packageExists(name);
    if (!exists)
        return exists.status();
    if (!*exists)
        return Status::failure(
            Fault::NotFound,
            QStringLiteral("There is no configuration named '%1'.").arg(shownText(name)));
    return Status::success();
}

// diff's lines; equal turns false with the first.
ComparisonSink differencePrinter(Context &c, bool &equal)
{
    return {[&](const QString &name) {
                equal = false;
                c.out << "only in A: " << name << '\n';
            },
            [&](const QString &name) {
                equal = false;
                c.out << "only in B: " << name << '\n';
            },
            [&](const ClassChange &change) {
                equal = false;
                c.out << "changed: " << change.name << '\n';
                for (const FieldDifference &field : change.fields)
                    c.out << "  " << field.label << ": " << field.before << " -> " << field.after
                          << '\n';
            }};
}

} // namespace

int cmdShow(Context &c)
{
    if (c.args.size() != 1)
        return c.usage(QStringLiteral("show takes [--format FORMAT] NAME"));
    const QString format = c.values.value(QStringLiteral("format"), QStringLiteral("text"));
    using Printer = Status (*)(Context &, const QString &, const RefNames &);
    const Printer print = format == QLatin1String("text")   ? printText
                          : format == QLatin1String("csv")  ? printCsv
                          : format == QLatin1String("json") ? printJson
                                                            : nullptr;
    if (!print)
        return c.usage(
            QStringLiteral("unknown format '%1': choose text, csv or json").arg(shownText(format)));
    const Result<RefNames> names = RefNames::read(c.state->ref());
    if (!names)
        return c.fail(names.message());
    // The read finds a missing configuration itself.
    if (Status s = print(c, c.args.first(), *names); !s)
        return c.fail(s.message());
    return Success;
}

int cmdDiff(Context &c)
{
    if (c.args.size() != 2)
        return c.usage(QStringLiteral("diff takes A B"));
    // A pipeline may hold the class files alone: then slots and flags show by number.
    RefNames names;
    if (c.state) {
        Result<RefNames> read = RefNames::read(c.state->ref());
        if (!read)
            return c.fail(read.message());
        names = std::move(read.value());
    } else {
        c.err << "tarn-cli: " << c.withoutData
              << " Only class files can be compared: slots show ids and flags their places.\n";
    }
    // A configuration's name wins over a file of the same name; ./NAME reaches the file.
    auto sourceOf = [&c, &names](const QString &argument) -> ClassSource {
        ClassSource file = [argument, data = bool(c.state)](ClassSpool &spool) -> Status {
            if (QFileInfo::exists(argument))
                return classFileSource(argument)(spool);
            return Status::failure(Fault::NotFound,
                                   QString::fromLatin1(data ? "There is no configuration or file "
                                                              "named '%1'."
                                                            : "There is no file named '%1'.")
                                       .arg(shownText(argument)));
        };
        if (!c.state)
            return file;
        // The read itself finds that there is no such configuration, before
        // anything is spooled.
        return [configuration = configurationSource(*c.state, argument, names),
                file](ClassSpool &spool) {
            const Status read = configuration(spool);
            return read.fault() == Fault::NotFound ? file(spool) : read;
        };
    };
    if (c.state)
        c.state->data().readClassesNext(c.args);
    bool equal = true;
    const Status compared = compareClasses(sourceOf(c.args.at(0)), sourceOf(c.args.at(1)), names,
                                           differencePrinter(c, equal));
    if (!compared)
        return c.fail(compared.message());
    return equal ? Success : Failure;
}

int cmdApply(Context &c)
{
    if (c.args.size() != 2)
        return c.usage(
            QStringLiteral("apply takes [--dry-run] [--force] [--delete-missing] NAME FILE"));
    const Result<RefNames> names = RefNames::read(c.state->ref());
    if (!names)
        return c.fail(names.message());
    if (Status s = requireConfiguration(c, c.args.first()); !s)
        return c.fail(s.message());
    const Result<Sheet> sheet = readSheet(c.args.at(1));
    if (!sheet)
        return c.fail(sheet.message());
    ApplyOptions options;
    options.dryRun = c.flags.contains(QLatin1String("dry-run"));
    options.force = c.flags.contains(QLatin1String("force"));
    options.deleteMissing = c.flags.contains(QLatin1String("delete-missing"));
    bool equal = true;
    if (Status s = applySheet(*c.state, c.args.first(), *sheet, *names, options,
                              differencePrinter(c, equal));
        !s)
        return c.fail(s.message());
    return Success;
}

} // namespace tarn::cli
