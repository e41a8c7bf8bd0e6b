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

using StoredClasses = QList<QList<ClassField>>;

void printCsv(QTextStream &out, const StoredClasses &classes)
{
    out << storedFieldColumns().join(u',') << "\r\n";
    QStringList line;
    for (const QList<ClassField> &fields : classes) {
        line.clear();
        for (const ClassField &field : fields)
            line << csvField(field.value.isNull() ? QString() : field.value.toString());
        out << line.join(u',') << "\r\n";
    }
}

// Numbers stay numbers and NULL stays null, so that a parser gets back what
// the table holds.
void printJson(QTextStream &out, const StoredClasses &classes)
{
    QJsonArray array;
    for (const QList<ClassField> &fields : classes) {
        QJsonObject object;
        for (const ClassField &field : fields)
            object.insert(field.column, field.value.isNull()
                                            ? QJsonValue(QJsonValue::Null)
                                            : QJsonValue::fromVariant(field.value));
        array.append(object);
    }
    out << QJsonDocument(array).toJson(QJsonDocument::Indented);
}

// The flags show by name in the Items and Special Abilities lines.
void printText(QTextStream &out, const StoredClasses &classes, const RefNames &names)
{
    // The class number and the fields of a class file; the single flags follow.
    const qsizetype shown = 1 + classFieldColumns().size();
    bool first = true;
    for (const QList<ClassField> &fields : classes) {
        if (!std::exchange(first, false))
            out << '\n';
        for (qsizetype f = 0; f < shown; ++f)
            out << fields[f].label << ": " << shownValue(fields[f], names) << '\n';
    }
}

// A class or a field that is empty still shows in a line of the diff.
QString orNone(const QString &value)
{
    return value.isEmpty() ? QStringLiteral("(none)") : value;
}

// One line, where the store would lead with what it could not read.
Status requireConfiguration(Context &c, const QString &name)
{
    const Result<bool> exists = c.state->data().packageExists(name);
    if (!exists)
        return exists.status();
    if (!*exists)
        return Status::failure(
            QStringLiteral("There is no configuration named '%1'.").arg(shownText(name)));
    return Status::success();
}

Result<StoredClasses> storedClasses(Context &c, const QString &name, const RefNames &names)
{
    if (Status s = requireConfiguration(c, name); !s)
        return s;
    return readStoredClasses(*c.state, name, names);
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
    const Result<RefNames> names = RefNames::read(c.state->ref());
    if (!names)
        return c.fail(names.message());
    const Result<StoredClasses> classes = storedClasses(c, c.args.first(), *names);
    if (!classes)
        return c.fail(classes.message());
    if (format == QLatin1String("csv"))
        printCsv(c.out, *classes);
    else if (format == QLatin1String("json"))
        printJson(c.out, *classes);
    else
        printText(c.out, *classes, *names);
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
        if (*exists)
            return readConfigurationRecords(*c.state, argument);
        if (QFileInfo::exists(argument))
            return readClassFileRecords(argument);
        return Status::failure(QStringLiteral("There is no configuration or file named '%1'.")
                                   .arg(shownText(argument)));
    };
    const Result<ClassRecords> a = recordsOf(c.args.at(0));
    if (!a)
        return c.fail(a.message());
    const Result<ClassRecords> b = recordsOf(c.args.at(1));
    if (!b)
        return c.fail(b.message());
    const Result<RefNames> names = RefNames::read(c.state->ref());
    if (!names)
        return c.fail(names.message());
    const Comparison comparison = compareClasses(*a, *b, *names);
    for (const QString &name : comparison.onlyA)
        c.out << "only in A: " << name << '\n';
    for (const QString &name : comparison.onlyB)
        c.out << "only in B: " << name << '\n';
    for (const ClassChange &change : comparison.changed) {
        c.out << "changed: " << change.name << '\n';
        for (const FieldDifference &field : change.fields)
            c.out << "  " << field.label << ": " << orNone(field.before) << " -> "
                  << orNone(field.after) << '\n';
    }
    return comparison.equal() ? Success : Failure;
}

} // namespace tarn::cli
