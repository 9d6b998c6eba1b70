#pragma once

#include <FetchResult.h>

#include <QDateTime>
#include <QRandomGenerator>

#include <chrono>
#include <optional>
#include <vector>

namespace vantorel {

// When a fetch that failed for a passing reason is tried again. Passing: a connect or transfer
// time-out, a reset, HTTP 429, 502, 503 and 504; a connect time-out is tried again once only,
// and a fetch never tried because its host is down (FetchResult::hostDown) not at all. A resolve failure is not among them: curl
// reports a resolver's temporary failure and a name that does not exist alike, and a dead
// domain, common among old links, would cost every retry's wait for nothing; a resolver that
// does not answer in time ends as a connect time-out, and is retried.
struct RetryPolicy {
    int retries = 2; // tries after the first, 0 to kMaxRetries
    // Waits before the first retry, the second, ...; the last one stands for any later retry.
    std::vector<std::chrono::milliseconds> delays{std::chrono::milliseconds(2'000), std::chrono::milliseconds(6'000)};
    double jitter = 0.2; // each wait varies by up to this share either way
    // A server's Retry-After is kept to when it asks for longer, up to this.
    std::chrono::milliseconds maxRetryAfter{60'000};
};
constexpr int kMaxRetries = 5;

// How long to wait before trying again after result, the outcome of attempt number
// attemptsSoFar (1 for the first); nothing when no retry is due. now reads a Retry-After date.
std::optional<std::chrono::milliseconds> RetryDelay(const FetchResult &result, int attemptsSoFar,
                                                    const RetryPolicy &policy, const QDateTime &now,
                                                    QRandomGenerator &random);

} // namespace vantorel
