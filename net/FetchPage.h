#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>

#include <chrono>
#include <optional>

// Bounds of one GET; the defaults are the program's, tests shorten them.
struct FetchLimits {
    std::chrono::milliseconds connectTimeout{10'000};
    std::chrono::milliseconds totalTimeout{30'000};
    qsizetype maxBodyBytes = 16 * 1024 * 1024; // after decompression
    long maxRedirects = 10;
};

// One blocking GET over http or https. Gives the raw body whatever the status code, or
// nothing when no complete response was had (unreachable host, time-out, refused scheme,
// broken transfer, body over the cap). contentType, when given, receives the Content-Type of
// the last response.
std::optional<QByteArray> FetchBody(const QString &url, const FetchLimits &limits = {},
                                    QByteArray *contentType = nullptr);

// FetchBody followed by DecodePage: the page's byte order mark, Content-Type charset or
// <meta> names the encoding, else the charset given.
std::optional<QString> FetchPage(const QString &url, QStringView charset,
                                 const FetchLimits &limits = {});

// The URL bytes handed to the HTTP client: UTF-8, with every non-ASCII byte percent-encoded
// and everything else left as it stands.
QByteArray UrlForRequest(const QString &url);
