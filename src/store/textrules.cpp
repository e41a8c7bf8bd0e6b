// SPDX-License-Identifier: GPL-3.0-or-later
#include "store/textrules.h"

#include "classfile/characters.h"

#include <QList>

#include <algorithm>

namespace tarn
{

namespace
{

bool isControl(char32_t c)
{
    return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

QString escaped(char32_t c)
{
    switch (c) {
    case '\r':
        return QStringLiteral("\\r");
    case '\n':
        return QStringLiteral("\\n");
    case '\t':
        return QStringLiteral("\\t");
    default:
        return QStringLiteral("\\x%1").arg(uint(c), 2, 16, QLatin1Char('0'));
    }
}

QString escapedText(const QString &text, bool backslash)
{
    // Most texts need nothing: they are shared, not copied.
    if (std::none_of(text.begin(), text.end(), [backslash](QChar c) {
            return isControl(c.unicode()) || (backslash && c == u'\\');
        }))
        return text;
    QString shown;
    shown.reserve(text.size());
    for (const QChar c : text) {
        if (isControl(c.unicode()))
            shown += escaped(c.unicode());
        else if (backslash && c == u'\\')
            shown += QStringLiteral("\\\\");
        else
            shown += c;
    }
    return shown;
}

} // namespace

QString shownText(const QString &text)
{
    return escapedText(text, false);
}

QString listedText(const QString &text)
{
    return escapedText(text, true);
}

Status checkLineText(const QString &subject, const QString &text, qsizetype maxLength)
{
    const QList<uint> codes = text.toUcs4();
    for (qsizetype i = 0; i < codes.size(); ++i) {
        const char32_t c = codes.at(i);
        if (isControl(c) || c > 0xFF)
            return Status::failure(
                Fault::Refused,
                QStringLiteral("%1 holds the %2 %3 at position %4, which a class file cannot "
                               "carry.")
                    .arg(subject,
                         isControl(c) ? QStringLiteral("control character")
                                      : QStringLiteral("character"),
                         isControl(c) ? escaped(c)
                                      : QString::fromStdString(classfile::describeCharacter(c)),
                         QString::number(i + 1)));
    }
    // Latin-1 text is one byte a character in the file.
    if (codes.size() > maxLength)
        return Status::failure(
            Fault::Refused,
            QStringLiteral("%1 is %2 characters long; a line of a class file holds at most %3.")
                .arg(subject, QString::number(codes.size()), QString::number(maxLength)));
    return Status::success();
}

} // namespace tarn
