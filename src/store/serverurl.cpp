// SPDX-License-Identifier: GPL-3.0-or-later
#include "store/serverurl.h"

#include "store/textrules.h"

#include <QRegularExpression>
#include <QSet>
#include <QStringDecoder>
#include <QUrl>

#include <libpq-fe.h>

namespace tarn
{

namespace
{

// Parameters that hold a secret: used, never shown.
bool isSecret(const QString &key)
{
    return key.contains(QLatin1String("password"), Qt::CaseInsensitive);
}

const QRegularExpression &settingName()
{
    static const QRegularExpression rule(QStringLiteral("^[a-z_]+$"));
    return rule;
}

// What this libpq takes: any other name would fail only when connecting,
// and not as a fault of the address.
bool isLibpqSetting(const QString &key)
{
    static const QSet<QString> known = [] {
        QSet<QString> names;
        if (PQconninfoOption *options = PQconndefaults()) {
            for (const PQconninfoOption *option = options; option->keyword; ++option)
                names.insert(QString::fromLatin1(option->keyword));
            PQconninfoFree(options);
        }
        return names;
    }();
    return known.contains(key);
}

// One part of the address with its %-escapes read as UTF-8. libpq would take
// a NUL for the end of the setting, and a lenient reading would change a
// name ('%zz', bytes that are not UTF-8): both are refused, naming the part.
Result<QString> decoded(const QString &text, const QString &part)
{
    const QByteArray raw = text.toUtf8();
    QByteArray bytes;
    for (qsizetype i = 0; i < raw.size(); ++i) {
        if (raw[i] != '%') {
            bytes += raw[i];
            continue;
        }
        if (i + 2 >= raw.size() || !isxdigit(uchar(raw[i + 1])) || !isxdigit(uchar(raw[i + 2])))
            return Status::failure(
                Fault::Refused,
                QStringLiteral("%1 holds a '%' that two hexadecimal digits do not follow")
                    .arg(part));
        bytes += char(raw.mid(i + 1, 2).toInt(nullptr, 16));
        i += 2;
    }
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString value = utf8.decode(bytes);
    if (utf8.hasError())
        return Status::failure(
            Fault::Refused,
            QStringLiteral("%1 is not UTF-8 once its %-escapes are read").arg(part));
    if (value.contains(QChar(0)))
        return Status::failure(
            Fault::Refused, part + QStringLiteral(" holds a NUL (%00), which no setting can hold"));
    return value;
}

QString encoded(const QString &part, const QByteArray &keep = {})
{
    return QString::fromLatin1(QUrl::toPercentEncoding(part, keep));
}

QString schemeOf(const QString &location)
{
    for (const char *scheme : {"postgresql://", "postgres://"})
        if (location.startsWith(QLatin1String(scheme), Qt::CaseInsensitive))
            return QLatin1String(scheme);
    return {};
}

// For text that does not parse, whatever its form: anything that may be a
// password is left out. All from the first ':' (after any "scheme://") to the
// last '@' ahead of the parameters; in an address, the value of a parameter
// whose name reads as a password or as no setting; in libpq's key=value form,
// the value of any key that ends in "password".
QString maskedText(const QString &location)
{
    const qsizetype scheme = location.indexOf(QLatin1String("://"));
    const qsizetype start = scheme < 0 ? 0 : scheme + 3;
    const qsizetype query = scheme < 0 ? -1 : location.indexOf(u'?', start);
    QString text = query < 0 ? location : location.left(query);
    const qsizetype at = text.lastIndexOf(u'@');
    if (const qsizetype colon = text.indexOf(u':', start); colon >= 0 && colon < at)
        text.remove(colon, at - colon);
    if (scheme < 0) {
        static const QRegularExpression keyword(
            QStringLiteral("(\\w*password\\s*=\\s*)('(?:[^'\\\\]|\\\\.)*'?|\\S*)"),
            QRegularExpression::CaseInsensitiveOption);
        return text.replace(keyword, QStringLiteral("\\1..."));
    }
    if (query < 0)
        return text;
    QStringList pairs = location.mid(query + 1).split(u'&');
    for (QString &pair : pairs)
        if (const qsizetype eq = pair.indexOf(u'='); eq >= 0) {
            const QString key = QUrl::fromPercentEncoding(pair.left(eq).toUtf8());
            if (isSecret(key) || !settingName().match(key).hasMatch())
                pair = pair.left(eq + 1) + QStringLiteral("...");
        }
    return text + u'?' + pairs.join(u'&');
}

// Why location is not a postgresql:// address at all.
QString notAnAddress(const QString &location)
{
    static const QRegularExpression scheme(QStringLiteral("^([A-Za-z][A-Za-z0-9+.-]*)://"));
    if (const QRegularExpressionMatch match = scheme.match(location); match.hasMatch())
        return QStringLiteral("the scheme '%1://' is not known; a team database's address "
                              "starts with postgresql://")
            .arg(match.captured(1));
    if (location.contains(u'='))
        return QStringLiteral("settings as key=value are not taken; write the address as "
                              "postgresql://[user@]host[:port]/dbname[?key=value&...]");
    return QStringLiteral("it must start with postgresql://");
}

} // namespace

bool isServerUrl(const QString &location)
{
    return !schemeOf(location).isEmpty();
}

QString ServerUrl::shown() const
{
    QString text = QStringLiteral("postgresql://");
    if (!user.isEmpty())
        text += encoded(user) + u'@';
    const bool socket = host.startsWith(u'/');
    if (!socket)
        text += host.contains(u':') ? u'[' + host + u']' : encoded(host, "-.");
    if (port > 0)
        text += u':' + QString::number(port);
    text += u'/' + encoded(dbname);
    QStringList query;
    if (socket)
        query << QStringLiteral("host=") + encoded(host, "/");
    for (const auto &[key, value] : options)
        if (!isSecret(key))
            query << key + u'=' + encoded(value, "/");
    if (!query.isEmpty())
        text += u'?' + query.join(u'&');
    return text;
}

Result<ServerUrl> parseServerUrl(const QString &url)
{
    auto refuse = [&url](const QString &why) {
        return Status::failure(Fault::Refused,
                               QStringLiteral("%1: not a usable database address: %2")
                                   .arg(shownText(maskedText(url)), why));
    };
    const QString scheme = schemeOf(url);
    if (scheme.isEmpty())
        return refuse(notAnAddress(url));
    QString rest = url.mid(scheme.size());
    QString query;
    if (const qsizetype q = rest.indexOf(u'?'); q >= 0) {
        query = rest.mid(q + 1);
        rest.truncate(q);
    }
    const qsizetype slash = rest.indexOf(u'/');
    if (slash < 0)
        return refuse(QStringLiteral("the database name is missing (…/dbname)"));
    QString authority = rest.left(slash);
    ServerUrl server;
    // Each part read, or the refusal that names it.
    auto read = [&refuse](const QString &text, QString &into, const QString &part) {
        Result<QString> value = decoded(text, part);
        if (!value)
            return refuse(value.message());
        into = *value;
        return Status::success();
    };
    if (Status s = read(rest.mid(slash + 1), server.dbname, QStringLiteral("the database name"));
        !s)
        return s;
    if (const qsizetype at = authority.lastIndexOf(u'@'); at >= 0) {
        const QString info = authority.left(at);
        authority = authority.mid(at + 1);
        const qsizetype colon = info.indexOf(u':');
        if (Status s = read(info.left(colon), server.user, QStringLiteral("the user name")); !s)
            return s;
        if (colon >= 0)
            if (Status s =
                    read(info.mid(colon + 1), server.password, QStringLiteral("the password"));
                !s)
                return s;
    }
    QString port;
    if (authority.startsWith(u'[')) {
        const qsizetype close = authority.indexOf(u']');
        if (close < 0)
            return refuse(QStringLiteral("the host's closing ']' is missing"));
        server.host = authority.mid(1, close - 1);
        const QString after = authority.mid(close + 1);
        if (!after.isEmpty() && !after.startsWith(u':'))
            return refuse(QStringLiteral("unexpected text after the host"));
        port = after.mid(1);
    } else {
        const qsizetype colon = authority.lastIndexOf(u':');
        if (Status s = read(colon < 0 ? authority : authority.left(colon), server.host,
                            QStringLiteral("the host"));
            !s)
            return s;
        if (colon >= 0)
            port = authority.mid(colon + 1);
    }
    // The text is not repeated: a password with a '/' in it, written as it
    // is, would end in the port's place.
    auto setPort = [&](const QString &text) -> Status {
        bool ok = false;
        const int value = text.toInt(&ok);
        if (!ok || value < 1 || value > 65535)
            return refuse(QStringLiteral("the port is not a number from 1 to 65535"));
        server.port = value;
        return Status::success();
    };
    if (!port.isEmpty())
        if (Status s = setPort(port); !s)
            return s;
    for (const QString &pair : query.split(u'&', Qt::SkipEmptyParts)) {
        const qsizetype eq = pair.indexOf(u'=');
        QString key, value;
        if (Status s = read(pair.left(eq), key, QStringLiteral("a parameter's name")); !s)
            return s;
        if (!settingName().match(key).hasMatch())
            return refuse(
                QStringLiteral("the parameter '%1' is not a libpq setting").arg(shownText(key)));
        // Left out, libpq would take its default: another server, or none.
        if (eq < 0 || eq == pair.size() - 1)
            return refuse(QStringLiteral("the parameter '%1' has no value").arg(key));
        if (!isLibpqSetting(key))
            return refuse(QStringLiteral("the parameter '%1' is not a libpq setting").arg(key));
        if (Status s = read(pair.mid(eq + 1), value,
                            QStringLiteral("the value of the parameter '%1'").arg(key));
            !s)
            return s;
        if (key == QLatin1String("host"))
            server.host = value;
        else if (key == QLatin1String("port")) {
            if (Status s = setPort(value); !s)
                return s;
        } else if (key == QLatin1String("user"))
            server.user = value;
        else if (key == QLatin1String("dbname"))
            server.dbname = value;
        else if (key == QLatin1String("password"))
            server.password = value;
        else
            server.options.append({key, value});
    }
    if (server.dbname.isEmpty())
        return refuse(QStringLiteral("the database name is missing (…/dbname)"));
    return server;
}

QString withoutPassword(const QString &location)
{
    if (!isServerUrl(location))
        return location;
    const Result<ServerUrl> server = parseServerUrl(location);
    return server ? server->shown() : maskedText(location);
}

} // namespace tarn
