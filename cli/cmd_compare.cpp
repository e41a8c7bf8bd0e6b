#include "commands.h"

#include "core/compare.h"
#include "store/textrules.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace tarn::cli
{

namespace
{

// RFC 4180: a field with a comma, a quote or a line break goes in quotes,
// its quotes doubled. Control characters are escaped first, so that none
// reaches a terminal.
QString csvField(const QString &text)
{
    QString field = shownText(text);
    if (!field.contains(u',') && !field.contains(u'"'))
        return field;
    field.replace(QStringLiteral("\""), QStringLiteral("\"\""));
    return u'"' + field + u'"';
}

void printCsv(QTextStream &out, const ClassRecords &records)
{
    QStringList line;
    for (const QString &column : classFieldColumns())
        line << column;
    out << line.join(u',') << "\r\n";
    for (const classfile::ClassRecord &record : records) {
        line.clear();
        for (const ClassField &field : classFields(record))
            line << csvField(field.value.toString());
        out << line.join(u',') << "\r\n";
    }
}

void printJson(QTextStream &out, const ClassRecords &records)
{
    QJsonArray classes;
    for (const classfile::ClassRecord &record : records) {
        QJsonObject object;
        for (const ClassField &field : classFields(record))
            object.insert(field.column, field.value.typeId() == QMetaType::QString
                                            ? QJsonValue(field.value.toString())
                                            : QJsonValue(field.value.toLongLong()));
        classes.append(object);
    }
    out << QJsonDocument(classes).toJson(QJsonDocument::Indented);
}

void printText(QTextStream &out, const ClassRecords &records, const RefNames &names)
{
    bool first = true;
    for (const classfile::ClassRecord &record : records) {
        if (!std::exchange(first, false))
            out << '\n';
        for (const ClassField &field : classFields(record))
            out << field.label << ": " << shownValue(field, names) << '\n';
    }
}

// A class or a field that is empty still shows in a line of the diff.
QString orNone(const QString &value)
{
    return value.isEmpty() ? QStringLiteral("(none)") : value;
}

// The store's own refusal would quote the name raw.
Result<ClassRecords> configurationRecords(Context &c, const QString &name)
{
    const Result<bool> exists = c.state->data().packageExists(name);
    if (!exists)
        return exists.status();
    if (!*exists)
        return Status::failure(
            QStringLiteral("There is no configuration named '%1'.").arg(shownText(name)));
    return readConfigurationRecords(*c.state, name);
}

} // namespace

int cmdShow(Context &c)
{
    if (c.args.size() != 1)
        return c.usage(QStringLiteral("show takes [--format FORMAT] NAME"));
    const QString format = c.values.value(QStringLiteral("format"), QStringLiteral("text"));
    if (format != QLatin1String("text") && format != QLatin1String("csv") &&
        format != QLatin1String("json"))
        return c.usage(
            QStringLiteral("unknown format '%1': choose text, csv or json").arg(shownText(format)));
    const Result<ClassRecords> records = configurationRecords(c, c.args.first());
    if (!records)
        return c.fail(records.message());
    if (format == QLatin1String("csv")) {
        printCsv(c.out, *records);
    } else if (format == QLatin1String("json")) {
        printJson(c.out, *records);
    } else {
        const Result<RefNames> names = RefNames::read(c.state->ref());
        if (!names)
            return c.fail(names.message());
        printText(c.out, *records, *names);
    }
    return Success;
}

int cmdDiff(Context &c)
{
    if (c.args.size() != 2)
        return c.usage(QStringLiteral("diff takes A B"));
    // A configuration's name wins over a file of the same name; ./NAME reaches the file.
    auto recordsOf = [&c](const QString &argument) -> Result<ClassRecords> {
        const Result<bool> exists = c.state->data().packageExists(argument);
        if (!exists)
            return exists.status();
        if (!*exists && QFileInfo::exists(argument)) {
            Result<ClassRecords> records = readClassFileRecords(argument);
            if (!records) // the message quotes the path
                return Status::failure(shownText(records.message()));
            return records;
        }
        return configurationRecords(c, argument);
    };
    const Result<ClassRecords> a = recordsOf(c.args.at(0));
    if (!a) {
        c.fail(a.message());
        return DiffFailure;
    }
    const Result<ClassRecords> b = recordsOf(c.args.at(1));
    if (!b) {
        c.fail(b.message());
        return DiffFailure;
    }
    const Result<RefNames> names = RefNames::read(c.state->ref());
    if (!names) {
        c.fail(names.message());
        return DiffFailure;
    }
    const Comparison comparison = compareClasses(*a, *b, *names);
    for (const QString &name : comparison.onlyA)
        c.out << "only in A: " << name << '\n';
    for (const QString &name : comparison.onlyB)
        c.out << "only in B: " << name << '\n';
    for (const ClassChange &change : comparison.changed) {
        c.out << "changed: " << change.name << '\n';
        for (const FieldChange &field : change.fields)
            c.out << "  " << field.label << ": " << orNone(field.before) << " -> "
                  << orNone(field.after) << '\n';
    }
    return comparison.equal() ? Success : Failure;
}

} // namespace tarn::cli
