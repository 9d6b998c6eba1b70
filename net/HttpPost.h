#pragma once

#include "FetchResult.h"

#include <QByteArray>
#include <QString>

namespace vantorel {

// One blocking POST of a JSON body, with the same limits and the same account of how it ended
// as a page's GET, except that no redirect is followed: a 3xx comes back as it is. Never on the
// window's thread.
FetchResult PostJson(const QString &url, const QByteArray &body, const FetchLimits &limits);

} // namespace vantorel
