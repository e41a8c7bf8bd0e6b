// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/settings.h"

#include "classfile/linecodec.h"
#include "core/atomicfile.h"
#include "store/textrules.h"

#include <QFile>

namespace tarn::settings
{

std::optional<QString> parseModId(const QByteArray &content)
{
    qsizetype pos = 0;
    const qsizetype size = content.size();
    // Blank lines before the field are skipped too, as input would.
    while (pos < size && (content[pos] == ' ' || content[pos] == '\r' || content[pos] == '\n'))
        ++pos;
    if (pos == size)
        return std::nullopt;
    QByteArray field;
    if (content[pos] == '"') {
        const qsizetype start = pos + 1;
        qsizetype end = start;
        while (end < size && content[end] != '"' && content[end] != '\r' && content[end] != '\n')
            ++end;
        field = content.mid(start, end - start);
    } else {
        qsizetype end = pos;
        while (end < size && content[end] != ',' && content[end] != '\r' && content[end] != '\n')
            ++end;
        field = content.mid(pos, end - pos);
    }
    qsizetype first = 0;
    qsizetype last = field.size();
    while (first < last && field[first] == ' ')
        ++first;
    while (last > first && field[last - 1] == ' ')
        --last;
    return QString::fromLatin1(field.mid(first, last - first));
}

QString ReadModID(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("0");
    return parseModId(file.readAll()).value_or(QStringLiteral("0"));
}

Status checkModId(const QString &modId)
{
    // Line 1 of a class file is "V3 " and the Mod ID.
    return checkLineText(QStringLiteral("The Mod ID"), modId,
                         qsizetype(classfile::kMaxLineLength) - 3);
}

Status WriteModID(const QString &path, const QString &modId)
{
    if (Status s = checkModId(modId); !s)
        return Status::failure(s.fault(), s.message() + QStringLiteral(" It was not saved."));
    AtomicFile file(path);
    Status s = file.open();
    if (s)
        s = file.write('"' + modId.toLatin1() + "\"\r\n");
    if (s)
        s = file.commit();
    if (!s)
        return s.under(QStringLiteral("The Mod ID was not saved."));
    return Status::success();
}

} // namespace tarn::settings
