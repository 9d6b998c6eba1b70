#include "Retry.h"

#include "TextOps.h"

#include <algorithm>
#include <cmath>

namespace vantorel {

namespace {

using std::chrono::milliseconds;

bool IsPassing(const FetchResult &result)
{
    switch (result.error) {
    case FetchError::ConnectTimeout:
    case FetchError::TransferTimeout:
    case FetchError::Reset:
        return true;
    case FetchError::None:
        return result.httpStatus == 429 || (result.httpStatus >= 502 && result.httpStatus <= 504);
    default:
        return false;
    }
}

// Retry-After as delay seconds or an HTTP date (the IMF-fixdate form; "GMT" is all it may say);
// nothing when it is neither or lies in the past.
std::optional<milliseconds> RetryAfter(QByteArrayView header, const QDateTime &now)
{
    const QByteArrayView value = header.trimmed();
    if (value.isEmpty())
        return std::nullopt;
    if (std::all_of(value.begin(), value.end(), [](char c) { return IsAsciiDigit(c); })) {
        // Any number of digits: a day is as good as a year once capped.
        constexpr qsizetype kDigitsKept = 9;
        return std::chrono::seconds(value.size() > kDigitsKept ? 999'999'999 : value.toInt());
    }
    QString date = QString::fromLatin1(value);
    if (date.endsWith(u" GMT"))
        date = date.chopped(3) + QStringLiteral("+0000"); // Qt's RFC 2822 reading wants a numeric zone
    const QDateTime at = QDateTime::fromString(date, Qt::RFC2822Date);
    if (!at.isValid() || at <= now)
        return std::nullopt;
    return milliseconds(now.msecsTo(at));
}

} // namespace

std::optional<milliseconds> RetryDelay(const FetchResult &result, int attemptsSoFar, const RetryPolicy &policy,
                                       const QDateTime &now, QRandomGenerator &random)
{
    // A host that let a connection time out twice is as good as down; one that is down for
    // another page ends the same way at once.
    const int retries = result.error == FetchError::ConnectTimeout ? std::min(policy.retries, 1) : policy.retries;
    if (attemptsSoFar < 1 || attemptsSoFar > std::min(retries, kMaxRetries) || result.hostDown || !IsPassing(result))
        return std::nullopt;
    milliseconds delay{0};
    if (!policy.delays.empty()) {
        const auto index = std::min(static_cast<std::size_t>(attemptsSoFar - 1), policy.delays.size() - 1);
        const double spread = policy.jitter * (2 * random.generateDouble() - 1);
        delay = milliseconds(std::llround(static_cast<double>(policy.delays[index].count()) * (1 + spread)));
    }
    if (const std::optional<milliseconds> asked = RetryAfter(result.retryAfter, now))
        delay = std::max(delay, std::min(*asked, policy.maxRetryAfter));
    return delay;
}

} // namespace vantorel
