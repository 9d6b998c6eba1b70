#pragma once

#include <FetchResult.h>

#include <QString>
#include <QStringView>

#include <optional>

namespace vantorel {

// One blocking GET over http or https on the same transfer the engine runs, reporting how it
// ended: the tests compare the two, and the benchmarks time it.
FetchResult FetchOnce(const QString &url, const FetchLimits &limits = {});

// FetchOnce followed by DecodePage: the page's byte order mark, Content-Type charset or
// <meta> names the encoding, else the charset given.
std::optional<QString> FetchPage(const QString &url, QStringView charset,
                                 const FetchLimits &limits = {});

} // namespace vantorel
