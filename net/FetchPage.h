#pragma once

#include "FetchResult.h"

#include <QByteArray>
#include <QString>
#include <QStringView>

#include <optional>

namespace vantorel {

// Sets up the HTTP client for the whole process. main() calls it once, before any thread
// exists, and stops when it fails.
bool InitNetwork();

// One blocking GET over http or https, reporting how it ended.
FetchResult FetchOnce(const QString &url, const FetchLimits &limits = {});

// FetchOnce followed by DecodePage: the page's byte order mark, Content-Type charset or
// <meta> names the encoding, else the charset given.
std::optional<QString> FetchPage(const QString &url, QStringView charset,
                                 const FetchLimits &limits = {});

// The URL bytes handed to the HTTP client: UTF-8, with every non-ASCII byte, space, control
// character and DEL percent-encoded and everything else left as it stands.
QByteArray UrlForRequest(const QString &url);

} // namespace vantorel
