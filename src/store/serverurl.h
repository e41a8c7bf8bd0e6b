// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "store/status.h"

#include <QList>
#include <QPair>
#include <QString>

namespace tarn
{

// A PostgreSQL server address as users write it:
// postgresql://[user[:password]@][host][:port]/dbname[?sslmode=...&...]
// The host may be a socket folder, percent-encoded (%2Fvar%2Frun%2Fpostgresql)
// or given as ?host=/var/run/postgresql.
struct ServerUrl {
    QString user;
    QString password; // only ever passed to the server, never shown or kept
    QString host;
    int port = 0; // 0: libpq's default
    QString dbname;
    QList<QPair<QString, QString>> options; // the other query parameters, for libpq

    // The address with any password left out: what messages and settings show.
    QString shown() const;
};

// True when location names a server rather than a folder or a file.
bool isServerUrl(const QString &location);

// A failure names the address without its password and says what is wrong.
Result<ServerUrl> parseServerUrl(const QString &url);

// The address without its password; text that is not a server address comes back unchanged.
QString withoutPassword(const QString &location);

} // namespace tarn
