#include "store/serverurl.h"

#include <QRegularExpression>
#include <QUrl>

namespace tarn
{

namespace
{

QString decoded(const QString &part)
{
    return QUrl::fromPercentEncoding(part.toUtf8());
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

// Best effort for text that does not parse: the user info up to '@' loses
// whatever follows a ':', and a password parameter its value.
QString maskedText(const QString &location)
{
    const QString scheme = schemeOf(location);
    QString rest = location.mid(scheme.size());
    const qsizetype slash = rest.indexOf(u'/');
    const qsizetype at = rest.lastIndexOf(u'@', slash < 0 ? -1 : slash);
    if (at >= 0) {
        const qsizetype colon = rest.left(at).indexOf(u':');
        if (colon >= 0)
            rest.remove(colon, at - colon);
    }
    static const QRegularExpression password(QStringLiteral("([?&]password=)[^&]*"),
                                             QRegularExpression::CaseInsensitiveOption);
    rest.replace(password, QStringLiteral("\\1..."));
    return scheme + rest;
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
        query << key + u'=' + encoded(value, "/");
    if (!query.isEmpty())
        text += u'?' + query.join(u'&');
    return text;
}

Result<ServerUrl> parseServerUrl(const QString &url)
{
    auto refuse = [&url](const QString &why) {
        return Status::failure(
            QStringLiteral("%1: not a usable database address: %2").arg(maskedText(url), why));
    };
    const QString scheme = schemeOf(url);
    if (scheme.isEmpty())
        return refuse(QStringLiteral("it must start with postgresql://"));
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
    server.dbname = decoded(rest.mid(slash + 1));
    if (const qsizetype at = authority.lastIndexOf(u'@'); at >= 0) {
        const QString info = authority.left(at);
        authority = authority.mid(at + 1);
        const qsizetype colon = info.indexOf(u':');
        server.user = decoded(info.left(colon));
        if (colon >= 0)
            server.password = decoded(info.mid(colon + 1));
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
        server.host = decoded(colon < 0 ? authority : authority.left(colon));
        if (colon >= 0)
            port = authority.mid(colon + 1);
    }
    auto setPort = [&](const QString &text) -> Status {
        bool ok = false;
        const int value = text.toInt(&ok);
        if (!ok || value < 1 || value > 65535)
            return refuse(
                QStringLiteral("the port '%1' is not a number from 1 to 65535").arg(text));
        server.port = value;
        return Status::success();
    };
    if (!port.isEmpty())
        if (Status s = setPort(port); !s)
            return s;
    static const QRegularExpression keyRule(QStringLiteral("^[a-z_]+$"));
    for (const QString &pair : query.split(u'&', Qt::SkipEmptyParts)) {
        const qsizetype eq = pair.indexOf(u'=');
        const QString key = decoded(pair.left(eq));
        const QString value = eq < 0 ? QString() : decoded(pair.mid(eq + 1));
        if (!keyRule.match(key).hasMatch())
            return refuse(QStringLiteral("the parameter '%1' is not a libpq setting").arg(key));
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
