#pragma once

#include "PageEvidence.h"

#include <FetchResult.h>

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <chrono>
#include <optional>
#include <vector>

namespace vantorel {

// Everything known about one checked row: how the fetch ended, what the page says about the
// domain, and when. The grid, the CSV and the JSON output all read this one struct.
struct RowEvidence {
    bool pageHad = false;        // a complete response arrived
    QString failureCause;        // in Chinese, why the row could not be judged: no page was had, the
                                 // page was a bot challenge, or its refreshes passed the redirect limit
    long httpStatus = 0;
    QString finalUrl;
    long redirects = 0;
    QString charset;             // the encoding the page was read in
    qsizetype bodyBytes = 0;
    std::chrono::milliseconds elapsed{0};
    bool mentionsDomain = false; // the verdict: 有效 when true
    PageEvidence page;
    QDateTime checkedAt;
    int attempts = 1;            // fetches made for the row, the retries included
    QStringList failedAttempts;  // why each attempt before the last one was tried again
    bool rendered = false;       // the links were found only once the page's scripts ran in the browser
    QString renderFailure;       // why the page could not be rendered, when it was to be
    // The crawlers the host's robots.txt bars from the page (BarredCrawlers; empty: none, the
    // robots.txt missing included); none when it was not read or could not be had.
    std::optional<QString> robotsTxt{};
};

// What a judged row is worth to the webmaster. A 有效 row passes weight (a link that passes it,
// on a 2xx page whose robots allow it) or passes none; a 无效 row's link is removed (the page
// no longer names the domain, or is gone with 404 or 410), or it could not be checked (no page,
// or a status that says nothing of the page: 401, 403, 407, 408, 429, 5xx).
enum class VerdictStrength { PassesWeight, NoWeight, Removed, Unreachable };

// The evidence of a fetched row and the page text it was judged on (empty without a page). Safe
// on any thread; the caller stamps the time (the C library's time zone is not).
struct JudgedPage {
    RowEvidence evidence;
    QString text;
    // Where the page sends the visitor within seconds, to be fetched and judged instead as a
    // redirect's target is; empty when the page names the domain, is a bot challenge, or stays.
    QString refreshTo;
};
// failedAttempts: the causes of the attempts before this one (AttemptCause), retried.
// maxRedirects: the limit on a row's redirects, the refreshes followed counted among them; a
// page reached through refreshes comes with their number added to its own redirects.
JudgedPage JudgePage(const FetchResult &result, QStringView domain, QStringView defaultCharset,
                     const QStringList &failedAttempts = {}, long maxRedirects = FetchLimits{}.maxRedirects);

QString VerdictWord(const RowEvidence &evidence); // "有效" or "无效"
VerdictStrength Strength(const RowEvidence &evidence);
// "传递权重", "不传递权重", "已失效" or "未能检测".
QString StrengthWord(VerdictStrength strength);
// The verdict in a sentence, naming the HTTP status whenever there was one, then the attempts.
QString VerdictToolTip(const RowEvidence &evidence);
// What the linking page is worth besides its links and robots meta, each a few words: its
// canonical address elsewhere, the crawlers its robots.txt bars, its links' target failures.
QStringList PageWorthParts(const QString &canonical, const std::optional<QString> &robotsTxt,
                           const std::vector<LinkEvidence> &links);
// What the tool tip leaves out, one item a line: where the redirects ended, every link with its
// anchor and rel, why each earlier attempt failed, the encoding and when the page was checked.
QString EvidenceDetails(const RowEvidence &evidence);
// "有效 N 条，已失效 M 条，未能检测 K 条" over the rows judged.
QString OutcomeCounts(const std::vector<RowEvidence> &evidences);
// The same counted row by row, for rows that keep their evidence where it is.
class OutcomeCounter {
public:
    void Add(const RowEvidence &evidence);
    QString Text() const;

private:
    int valid_ = 0;
    int removed_ = 0;
    int unreachable_ = 0;
};
// Why a fetch that is to be tried again failed: the failure's cause, or its HTTP status.
QString AttemptCause(const FetchResult &result);
// The page's robots directives as text: "noindex", "nofollow", "noindex, nofollow" or empty.
QString RobotsText(const RobotsEvidence &robots);
// A link's rel tokens that take weight away, comma separated; empty when it passes weight.
QString RelText(const LinkEvidence &link);
// How a link's target page on the site answered its check (a HEAD, else a GET): empty when
// fine, why it fails ("目标页返回 404", a redirect off the site); none when the answer says
// nothing of the page (no response, a block, a server error), which must never read as a change.
std::optional<QString> TargetFailure(const FetchResult &result, QStringView domain);
// Why no page was had, in Chinese.
QString FailureCause(FetchError error, const QString &clientMessage);

} // namespace vantorel
