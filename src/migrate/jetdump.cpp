// SPDX-License-Identifier: GPL-3.0-or-later
#include "migrate/jetdump.h"

#include <QDate>
#include <QSet>
#include <QStringDecoder>
#include <QTime>

#include <array>
#include <cmath>
#include <limits>
#include <optional>

namespace tarn::jet
{

namespace
{

struct TypeInfo {
    const char *name;
    Type type;
    char tag; // the value line that carries it ('N' aside)
    CopiedType stored;
};

constexpr std::array<TypeInfo, 14> kTypes{{
    {"bool", Type::Bool, 'I', CopiedType::YesNo},
    {"byte", Type::Byte, 'I', CopiedType::Integer},
    {"int", Type::Int, 'I', CopiedType::Integer},
    {"long", Type::Long, 'I', CopiedType::Integer},
    {"money", Type::Money, 'D', CopiedType::Numeric},
    {"float", Type::Float, 'F', CopiedType::Real},
    {"double", Type::Double, 'F', CopiedType::Real},
    {"datetime", Type::DateTime, 'F', CopiedType::DateTime},
    {"binary", Type::Binary, 'X', CopiedType::Blob},
    {"text", Type::Text, 'S', CopiedType::Text},
    {"ole", Type::Ole, 'X', CopiedType::Blob},
    {"memo", Type::Memo, 'S', CopiedType::Text},
    {"repid", Type::RepId, 'S', CopiedType::Text},
    {"numeric", Type::Numeric, 'D', CopiedType::Numeric},
}};

const TypeInfo &info(Type type)
{
    return kTypes[static_cast<size_t>(type)];
}

bool isDigits(QByteArrayView text)
{
    if (text.isEmpty())
        return false;
    for (char c : text)
        if (c < '0' || c > '9')
            return false;
    return true;
}

// -?digits, without leading zeros.
bool isInteger(QByteArrayView text)
{
    if (text.startsWith('-'))
        text = text.sliced(1);
    return isDigits(text) && (text.size() == 1 || text.front() != '0');
}

// -?digits(.digits)?
bool isDecimal(QByteArrayView text)
{
    if (text.startsWith('-'))
        text = text.sliced(1);
    const qsizetype dot = text.indexOf('.');
    if (dot < 0)
        return isDigits(text);
    return isDigits(text.first(dot)) && isDigits(text.sliced(dot + 1));
}

// What a real number in the dump may consist of; the parse itself is checked too.
bool isReal(QByteArrayView text)
{
    if (text.isEmpty())
        return false;
    for (char c : text)
        if (!((c >= '0' && c <= '9') || c == '-' || c == '+' || c == '.' || c == 'e' || c == 'E'))
            return false;
    return true;
}

class Parser
{
public:
    explicit Parser(const QByteArray &dump) : mDump(dump) {}
    Result<QList<Table>> parse();

private:
    Status error(const QString &what) const
    {
        return Status::failure(Fault::Damaged,
                               QStringLiteral("the Jet reader's output is malformed (byte %1): %2")
                                   .arg(mPos)
                                   .arg(what));
    }
    bool atEnd() const { return mPos >= mDump.size(); }
    char peek() const { return atEnd() ? '\0' : mDump.at(mPos); }
    // "X " at the current position.
    bool startsLine(char tag) const
    {
        return mPos + 1 < mDump.size() && mDump.at(mPos) == tag && mDump.at(mPos + 1) == ' ';
    }
    // The rest of the line, without its LF; nullopt when there is no LF.
    std::optional<QByteArray> rest();
    // "<count>:<bytes>" then LF.
    std::optional<QByteArray> string();
    std::optional<QString> utf8(const QByteArray &bytes) const;
    Result<QVariant> value(const Column &column);

    const QByteArray &mDump;
    qsizetype mPos = 0;
};

std::optional<QByteArray> Parser::rest()
{
    const qsizetype end = mDump.indexOf('\n', mPos);
    if (end < 0)
        return std::nullopt;
    QByteArray line = mDump.mid(mPos, end - mPos);
    mPos = end + 1;
    return line;
}

std::optional<QByteArray> Parser::string()
{
    const qsizetype colon = mDump.indexOf(':', mPos);
    if (colon < 0 || colon - mPos > 10)
        return std::nullopt;
    const QByteArrayView digits(mDump.constData() + mPos, colon - mPos);
    if (!isInteger(digits) || digits.startsWith('-'))
        return std::nullopt;
    const qsizetype size = digits.toLongLong();
    if (size > mDump.size() - colon - 2 || mDump.at(colon + 1 + size) != '\n')
        return std::nullopt;
    QByteArray bytes = mDump.mid(colon + 1, size);
    mPos = colon + size + 2;
    return bytes;
}

std::optional<QString> Parser::utf8(const QByteArray &bytes) const
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

Result<QVariant> Parser::value(const Column &column)
{
    const TypeInfo &type = info(column.type);
    if (mDump.mid(mPos, 2) == "N\n") {
        if (column.type == Type::Bool)
            return error(QStringLiteral("a Yes/No value of %1 is empty").arg(column.name));
        mPos += 2;
        return QVariant();
    }
    if (!startsLine(type.tag))
        return error(QStringLiteral("expected a value of type %1 for %2")
                         .arg(QLatin1String(type.name), column.name));
    mPos += 2;
    if (type.tag == 'S' || type.tag == 'X') {
        const std::optional<QByteArray> bytes = string();
        if (!bytes)
            return error(QStringLiteral("a value of %1 is cut short").arg(column.name));
        if (type.tag == 'X')
            return QVariant(*bytes);
        const std::optional<QString> text = utf8(*bytes);
        if (!text)
            return error(QStringLiteral("a text of %1 is not UTF-8").arg(column.name));
        return QVariant(*text);
    }
    const std::optional<QByteArray> line = rest();
    if (!line)
        return error(QStringLiteral("a value of %1 is cut short").arg(column.name));
    switch (type.tag) {
    case 'I': {
        static const QHash<Type, std::pair<qint64, qint64>> ranges{
            {Type::Bool, {0, 1}},
            {Type::Byte, {0, 255}},
            {Type::Int, {-32768, 32767}},
            {Type::Long, {std::numeric_limits<qint32>::min(), std::numeric_limits<qint32>::max()}}};
        bool ok = isInteger(*line);
        const qint64 n = ok ? line->toLongLong(&ok) : 0;
        const auto [low, high] = ranges.value(column.type);
        if (!ok || n < low || n > high)
            return error(
                QStringLiteral("'%1' is not a value of type %2 (%3)")
                    .arg(QString::fromLatin1(*line), QLatin1String(type.name), column.name));
        return QVariant(n);
    }
    case 'F': {
        bool ok = isReal(*line);
        const double d = ok ? line->toDouble(&ok) : 0;
        if (!ok || !std::isfinite(d))
            return error(QStringLiteral("'%1' is not a number (%2)")
                             .arg(QString::fromLatin1(*line), column.name));
        if (column.type != Type::DateTime)
            return QVariant(d);
        Result<QString> text = dateTimeText(d);
        if (!text)
            return error(QStringLiteral("%1 (%2)").arg(text.message(), column.name));
        return QVariant(*text);
    }
    case 'D': {
        Result<QVariant> number = decimalValue(*line);
        if (!number)
            return Status::failure(
                Fault::Damaged,
                QStringLiteral("the column %1 holds %2").arg(column.name, number.message()));
        return number;
    }
    }
    return error(QStringLiteral("unexpected value"));
}

Result<QList<Table>> Parser::parse()
{
    if (!mDump.startsWith("TARNJET 1\n"))
        return error(QStringLiteral("it does not start with the expected header"));
    mPos = 10;
    QList<Table> tables;
    QSet<QString> tableNames;
    while (startsLine('T')) {
        mPos += 2;
        const std::optional<QByteArray> name = string();
        const std::optional<QString> tableName = name ? utf8(*name) : std::nullopt;
        if (!tableName || tableName->isEmpty())
            return error(QStringLiteral("a table name is missing or damaged"));
        if (tableNames.contains(tableName->toLower()))
            return error(QStringLiteral("the table %1 comes twice").arg(*tableName));
        tableNames.insert(tableName->toLower());
        Table table{*tableName, {}, {}};

        QSet<QString> columnNames;
        while (startsLine('C')) {
            mPos += 2;
            const qsizetype space = mDump.indexOf(' ', mPos);
            if (space < 0)
                return error(QStringLiteral("a column of %1 is cut short").arg(table.name));
            const QByteArray typeName = mDump.mid(mPos, space - mPos);
            mPos = space + 1;
            const auto type = std::find_if(kTypes.begin(), kTypes.end(),
                                           [&](const TypeInfo &t) { return typeName == t.name; });
            const std::optional<QByteArray> bytes = string();
            const std::optional<QString> columnName = bytes ? utf8(*bytes) : std::nullopt;
            if (type == kTypes.end() || !columnName || columnName->isEmpty())
                return error(QStringLiteral("a column of %1 is damaged").arg(table.name));
            if (columnNames.contains(columnName->toLower()))
                return error(
                    QStringLiteral("the column %1 of %2 comes twice").arg(*columnName, table.name));
            columnNames.insert(columnName->toLower());
            table.columns.append({*columnName, type->type});
        }
        if (table.columns.isEmpty())
            return error(QStringLiteral("the table %1 has no columns").arg(table.name));

        while (mDump.mid(mPos, 2) == "R\n") {
            mPos += 2;
            QVariantList row;
            row.reserve(table.columns.size());
            for (const Column &column : std::as_const(table.columns)) {
                Result<QVariant> v = value(column);
                if (!v)
                    return Status::failure(
                        Fault::Damaged,
                        QStringLiteral("table %1, row %2: %3")
                            .arg(table.name, QString::number(table.rows.size() + 1), v.message()));
                row.append(*v);
            }
            table.rows.append(row);
        }
        if (!startsLine('E'))
            return error(QStringLiteral("the table %1 does not end properly").arg(table.name));
        mPos += 2;
        const std::optional<QByteArray> count = rest();
        if (!count || !isInteger(*count) || count->toLongLong() != table.rows.size())
            return error(
                QStringLiteral("the row count of %1 does not match its rows").arg(table.name));
        tables.append(table);
    }
    if (!startsLine('Z'))
        return error(QStringLiteral("it does not end properly"));
    mPos += 2;
    const std::optional<QByteArray> count = rest();
    if (!count || !isInteger(*count) || count->toLongLong() != tables.size())
        return error(QStringLiteral("the table count does not match its tables"));
    if (!atEnd())
        return error(QStringLiteral("there is more after its end"));
    return tables;
}

} // namespace

Result<QList<Table>> parseDump(const QByteArray &dump)
{
    return Parser(dump).parse();
}

Result<QVariant> decimalValue(const QByteArray &text)
{
    if (!isDecimal(text))
        return Status::failure(
            Fault::Damaged,
            QStringLiteral("'%1', which is not a decimal number").arg(QString::fromLatin1(text)));
    const bool negative = text.startsWith('-');
    const QByteArray unsignedText = negative ? text.mid(1) : text;
    const qsizetype dot = unsignedText.indexOf('.');
    QByteArray whole = dot < 0 ? unsignedText : unsignedText.first(dot);
    QByteArray fraction = dot < 0 ? QByteArray() : unsignedText.mid(dot + 1);
    while (fraction.endsWith('0'))
        fraction.chop(1);
    while (whole.size() > 1 && whole.startsWith('0'))
        whole.remove(0, 1);
    if (fraction.isEmpty()) {
        bool ok = false;
        const qint64 n = (negative ? "-" + whole : whole).toLongLong(&ok);
        if (ok)
            return QVariant(n);
    }
    // Significant digits: strip the leading zeros of the whole number.
    QByteArray digits = (whole == "0" ? QByteArray() : whole) + fraction;
    while (digits.startsWith('0'))
        digits.remove(0, 1);
    if (digits.size() > std::numeric_limits<double>::digits10)
        return Status::failure(Fault::Damaged,
                               QStringLiteral("%1, which has more digits than can be kept exactly")
                                   .arg(QString::fromLatin1(text)));
    return QVariant(text.toDouble());
}

Result<QString> dateTimeText(double days)
{
    // Jet's own range is the years 100 to 9999.
    if (!std::isfinite(days) || days < -657434.0 || days >= 2958466.0)
        return Status::failure(Fault::Damaged,
                               QStringLiteral("%1 is not a date").arg(days, 0, 'g', 17));
    const double whole = std::trunc(days);
    qint64 msecs = std::llround(std::fabs(days - whole) * 86400000.0);
    QDate date = QDate(1899, 12, 30).addDays(qint64(whole));
    if (msecs >= 86400000) {
        date = date.addDays(1);
        msecs -= 86400000;
    }
    const QTime time = QTime::fromMSecsSinceStartOfDay(int(msecs));
    QString text =
        date.toString(QStringLiteral("yyyy-MM-dd ")) + time.toString(QStringLiteral("HH:mm:ss"));
    if (time.msec() != 0)
        text += time.toString(QStringLiteral(".zzz"));
    return text;
}

CopiedType storedAs(Type type)
{
    return info(type).stored;
}

} // namespace tarn::jet
