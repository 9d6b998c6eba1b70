#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace vantorel {

// A PostgreSQL database named as libpq names one:
//   postgresql://[user[:password]@][host][:port][/dbname][?key=value&…]
// Every part is percent-decoded; host may be a folder holding the server's socket, also given
// as ?host=/folder. A password left out comes from PGPASSWORD or ~/.pgpass, as libpq reads them.
struct ServerAddress {
    QString host; // empty: libpq's default (PGHOST, else the local socket)
    int port = -1;
    QString user, password, database;
    // The other parameters (sslmode, connect_timeout, …) as libpq's key='value'.
    QStringList options;

    // "host:port" as messages name the server.
    QString Shown() const;
};

// Whether the history's location names a database server rather than a file.
bool IsServerLocation(const QString &location);

// The location as messages may show it: a server address with its password, if any, as "***"
// (postgresql://seo:***@db/vantorel); a file's path as it is.
QString ShownLocation(const QString &location);

// The address, or nothing with why not in Chinese.
std::optional<ServerAddress> ParseServerAddress(const QString &location, QString &error);

} // namespace vantorel
