// When a failed fetch is tried again, and after how long.

#include <Retry.h>

#include <gtest/gtest.h>

#include <algorithm>

using namespace vantorel;
using namespace std::chrono_literals;

namespace {

FetchResult Ended(FetchError error, long status = 0, QByteArray retryAfter = {})
{
    FetchResult result;
    result.error = error;
    result.httpStatus = status;
    result.retryAfter = std::move(retryAfter);
    return result;
}

FetchResult Down(FetchError error)
{
    FetchResult result = Ended(error);
    result.hostDown = true;
    return result;
}

FetchResult Answered(long status, QByteArray retryAfter = {})
{
    return Ended(FetchError::None, status, std::move(retryAfter));
}

} // namespace

TEST(RetryDelay, PassingFailuresWaitTwoThenSixSecondsOrAsLongAsTheServerAsks)
{
    const QDateTime now(QDate(2026, 10, 21), QTime(7, 27, 30), Qt::UTC);
    RetryPolicy steady;
    steady.jitter = 0;
    RetryPolicy five = steady;
    five.retries = 5;
    RetryPolicy none = steady;
    none.retries = 0;
    const struct {
        const char *what;
        FetchResult result;
        int attemptsSoFar;
        const RetryPolicy &policy;
        std::optional<std::chrono::milliseconds> delay;
    } cases[] = {
        {"connect time-out", Ended(FetchError::ConnectTimeout), 1, steady, 2s},
        {"a connect time-out once only", Ended(FetchError::ConnectTimeout), 2, five, std::nullopt},
        {"a host down for another page", Down(FetchError::ConnectTimeout), 1, steady, std::nullopt},
        {"transfer time-out", Ended(FetchError::TransferTimeout, 200), 2, steady, 6s},
        {"reset", Ended(FetchError::Reset), 1, steady, 2s},
        {"no third retry", Ended(FetchError::Reset), 3, steady, std::nullopt},
        {"the last wait repeats", Ended(FetchError::Reset), 5, five, 6s},
        {"no sixth retry", Ended(FetchError::Reset), 6, five, std::nullopt},
        {"no retries at all", Ended(FetchError::Reset), 1, none, std::nullopt},
        {"429", Answered(429), 1, steady, 2s},
        {"502", Answered(502), 1, steady, 2s},
        {"503", Answered(503), 2, steady, 6s},
        {"504", Answered(504), 1, steady, 2s},
        {"500", Answered(500), 1, steady, std::nullopt},
        {"404", Answered(404, "5"), 1, steady, std::nullopt},
        {"200", Answered(200), 1, steady, std::nullopt},
        {"resolve", Ended(FetchError::Resolve), 1, steady, std::nullopt},
        {"refused", Ended(FetchError::Refused), 1, steady, std::nullopt},
        {"header too large", Ended(FetchError::HeaderTooLarge, 200), 1, steady, std::nullopt},
        {"protocol", Ended(FetchError::UnsupportedProtocol), 1, steady, std::nullopt},
        {"not http", Ended(FetchError::NotHttp), 1, steady, std::nullopt},
        {"longer seconds", Answered(503, "10"), 1, steady, 10s},
        {"shorter seconds", Answered(503, "1"), 2, steady, 6s},
        {"seconds past the cap", Answered(429, "120"), 1, steady, 60s},
        {"a century of seconds", Answered(429, "99999999999999999999"), 1, steady, 60s},
        {"spaces around", Answered(503, " 7 "), 1, steady, 7s},
        {"not a number", Answered(503, "soon"), 1, steady, 2s},
        {"negative", Answered(503, "-30"), 1, steady, 2s},
        {"a date", Answered(503, "Wed, 21 Oct 2026 07:28:00 GMT"), 1, steady, 30s},
        {"an asctime date", Answered(503, "Wed Oct 21 07:28:00 2026"), 1, steady, 30s},
        {"a past date", Answered(503, "Wed, 21 Oct 2026 07:27:00 GMT"), 1, steady, 2s},
        {"a date past the cap", Answered(503, "Wed, 21 Oct 2026 09:00:00 GMT"), 1, steady, 60s},
    };
    QRandomGenerator random(1);
    for (const auto &c : cases)
        EXPECT_EQ(RetryDelay(c.result, c.attemptsSoFar, c.policy, now, random), c.delay) << c.what;
}

TEST(RetryDelay, WaitsVaryByTheJitterEitherWay)
{
    QRandomGenerator random(42);
    std::vector<std::chrono::milliseconds> waits;
    for (int i = 0; i < 1000; ++i)
        waits.push_back(RetryDelay(Ended(FetchError::Reset), 1, {}, QDateTime::currentDateTimeUtc(), random).value());
    const auto [shortest, longest] = std::minmax_element(waits.begin(), waits.end());
    EXPECT_GE(*shortest, 1600ms);
    EXPECT_LT(*shortest, 1650ms);
    EXPECT_LE(*longest, 2400ms);
    EXPECT_GT(*longest, 2350ms);
}
