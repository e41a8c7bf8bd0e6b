// SPDX-License-Identifier: GPL-3.0-or-later
#include "store/fieldvalue.h"

#include "classfile/classrecord.h"

#include <cmath>

namespace tarn
{

namespace
{

bool inRange(schema::Kind kind, double value)
{
    double low = 0, high = 0;
    return !schema::rangeOf(kind, &low, &high) || (value >= low && value <= high);
}

Status outOfRange(schema::Kind kind, const QString &field, const QString &value)
{
    double low = 0, high = 0;
    schema::rangeOf(kind, &low, &high);
    return Status::failure(
        Fault::Refused,
        QStringLiteral("%1: %2 is out of range; it must lie between %3 and %4.")
            .arg(field, value, QString::number(qint64(low)), QString::number(qint64(high))));
}

} // namespace

Result<QVariant> fieldValue(schema::Kind kind, const QString &field, const QString &text)
{
    if (kind == schema::Kind::Text)
        return text.isEmpty() ? QVariant() : QVariant(text);
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return QVariant();
    const classfile::Number parsed = classfile::parseNumber(trimmed.toStdString());
    const bool whole = kind != schema::Kind::Number;
    if (parsed.kind == classfile::Number::OutOfRange)
        return Status::failure(Fault::Refused,
                               QStringLiteral("%1: %2 is out of range.").arg(field, trimmed));
    if (parsed.kind != classfile::Number::Ok || (whole && std::floor(parsed.value) != parsed.value))
        return Status::failure(Fault::Refused, QStringLiteral("%1: '%2' is not a %3.")
                                                   .arg(field, text,
                                                        whole ? QStringLiteral("whole number")
                                                              : QStringLiteral("number")));
    if (!inRange(kind, parsed.value))
        return outOfRange(kind, field, trimmed);
    if (std::floor(parsed.value) == parsed.value && std::fabs(parsed.value) < 9007199254740992.0)
        return QVariant(qint64(parsed.value));
    return QVariant(parsed.value);
}

Status checkFieldRange(schema::Kind kind, const QString &field, const QVariant &value)
{
    if (!value.isNull() && !inRange(kind, value.toDouble()))
        return outOfRange(kind, field, value.toString());
    return Status::success();
}

} // namespace tarn
