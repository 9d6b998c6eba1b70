#pragma once

#include "PageEvidence.h"

#include <FetchResult.h>

#include <QDateTime>
#include <QString>

#include <chrono>
#include <optional>

namespace vantorel {

// Everything known about one checked row: how the fetch ended, what the page says about the
// domain, and when. The grid, the CSV and the JSON output all read this one struct.
struct RowEvidence {
    bool pageHad = false;        // a complete response arrived
    QString failureCause;        // in Chinese, when no page was had
    long httpStatus = 0;
    QString finalUrl;
    long redirects = 0;
    QString charset;             // the encoding the page was read in
    qsizetype bodyBytes = 0;
    std::chrono::milliseconds elapsed{0};
    bool mentionsDomain = false; // the verdict: 有效 when true
    PageEvidence page;
    QDateTime checkedAt;
};

// How much a row is worth to the webmaster: a link that passes weight, a mention or links that
// pass none, or nothing.
enum class VerdictStrength { PassesWeight, NoWeight, Invalid };

// The evidence of a fetched row and the page text it was judged on (empty without a page). Safe
// on any thread; the caller stamps the time (the C library's time zone is not).
struct JudgedPage {
    RowEvidence evidence;
    QString text;
};
JudgedPage JudgePage(const FetchResult &result, QStringView domain, QStringView defaultCharset);

QString VerdictWord(const RowEvidence &evidence); // "有效" or "无效"
VerdictStrength Strength(const RowEvidence &evidence);
// The verdict in a sentence, naming the HTTP status whenever there was one.
QString VerdictToolTip(const RowEvidence &evidence);
// The page's robots directives as text: "noindex", "nofollow", "noindex, nofollow" or empty.
QString RobotsText(const RobotsEvidence &robots);
// A link's rel tokens that take weight away, comma separated; empty when it passes weight.
QString RelText(const LinkEvidence &link);
// Why no page was had, in Chinese.
QString FailureCause(FetchError error, const QString &clientMessage);

} // namespace vantorel
