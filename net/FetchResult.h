#pragma once

#include <QByteArray>
#include <QString>

#include <chrono>
#include <optional>

namespace vantorel {

// Bounds of one GET; the defaults are the program's, tests shorten them.
struct FetchLimits {
    std::chrono::milliseconds connectTimeout{10'000};
    std::chrono::milliseconds totalTimeout{30'000};
    qsizetype maxBodyBytes = 16 * 1024 * 1024; // after decompression
    long maxRedirects = 10;
};

// A fetch asked otherwise than the page fetches: a HEAD (no body), or limits of its own instead
// of the engine's.
struct FetchRequest {
    bool head = false;
    std::optional<FetchLimits> limits;
};

enum class FetchError {
    None,
    Resolve,
    Refused,
    ConnectTimeout,
    TransferTimeout,
    Reset,
    Certificate,
    TooLarge,
    HeaderTooLarge,
    TooManyRedirects,
    UnsupportedProtocol,
    NotHttp,
    Aborted,
    Other,
};

// How one GET ended. The body is kept only for a complete response.
struct FetchResult {
    FetchError error = FetchError::Aborted; // None: a complete response was had (any HTTP status)
    QString errorText;                      // the HTTP client's own words for the failure
    long httpStatus = 0;                    // of the final response; 0 when none
    QString finalUrl;
    long redirects = 0;
    QByteArray body;                        // raw bytes, after content decoding
    QByteArray contentType;                 // Content-Type of the final response, raw
    QByteArray robotsTag;                   // every X-Robots-Tag value of the final response, one a line
    QByteArray retryAfter;                  // Retry-After of the final response, raw
    QByteArray server;                      // Server of the final response, raw
    QByteArray cfMitigated;                 // every cf-mitigated value of the final response, one a line
    std::chrono::milliseconds elapsed{0};   // from transfer start to its end
    bool hostDown = false;                  // not tried: connecting to the host failed for another page
    bool ok() const { return error == FetchError::None; }
};

} // namespace vantorel
