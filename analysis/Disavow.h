#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

namespace vantorel {

// What the search console takes in a file of links to disavow.
inline constexpr int kMostDisavowLines = 100'000;
inline constexpr qint64 kMostDisavowBytes = 2 * 1024 * 1024;
inline constexpr int kMostDisavowUrlLength = 2048;

struct DisavowFile {
    QByteArray text; // UTF-8; empty when refused
    QString refusal; // why it was refused, in Chinese; empty when it was not
};

// The file for the site: a comment line saying what it is, then one line an entry, each once
// and in the order given. An entry is a page's address (http or https; "a.example.org/x" is
// taken as http) or "domain:host" for every page of a host. Refused, with the reason, when an
// entry is neither, an address is too long, or the file would pass the console's limits.
DisavowFile MakeDisavowFile(const QString &site, const QStringList &entries, const QDateTime &made);

} // namespace vantorel
