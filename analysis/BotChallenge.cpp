#include "BotChallenge.h"

#include "SearchPage.h"

#include <QList>

#include <algorithm>
#include <vector>

namespace vantorel {

namespace {

// Challenge pages are a few KiB of markup and script; a real page that bears such a title is
// seldom this short.
constexpr qsizetype kShortPageBytes = 32 * 1024;

// Whether any of a header's values, one a line, is the word wanted, in any case.
bool AnyValueIs(const QByteArray &values, QByteArrayView wanted)
{
    const QList<QByteArray> lines = values.split('\n');
    return std::any_of(lines.begin(), lines.end(), [wanted](const QByteArray &value) {
        return value.trimmed().compare(wanted, Qt::CaseInsensitive) == 0;
    });
}

struct Signature {
    QStringView named;                       // in the row's cause, before the title that matched
    bool (*answerFits)(const FetchResult &); // the status and headers it comes with
    std::vector<QStringView> titles;         // the page's title holds one of them; none: any page
};

// Every challenge the verdict knows, and where each comes from.
const Signature kSignatures[] = {
    // Cloudflare marks every challenge page it serves, of whatever kind, with this header (its
    // documentation, "Detect a Challenge Page response": "challenge" is the only value).
    {u"cf-mitigated: challenge", [](const FetchResult &answer) { return AnyValueIs(answer.cfMitigated, "challenge"); }, {}},
    // Cloudflare's own challenge pages, answered by its servers with 403 or 503: the managed and
    // JavaScript challenges ("Just a moment...") and the captcha page before them ("Attention
    // Required! | Cloudflare"). The same title on a page it serves with 200 is the site's own.
    {u"Cloudflare",
     [](const FetchResult &answer) {
         return (answer.httpStatus == 403 || answer.httpStatus == 503) && AnyValueIs(answer.server, "cloudflare");
     },
     {u"Just a moment...", u"Attention Required! | Cloudflare"}},
    // Short verification pages of Chinese sites, whatever the status: Baidu's "百度安全验证" (as the
    // engine's own answer shows it) and the captcha and slider pages that site firewalls put before
    // a page ("访问验证", "人机验证", "滑动验证").
    {u"验证页", [](const FetchResult &answer) { return answer.body.size() <= kShortPageBytes; },
     {u"安全验证", u"访问验证", u"人机验证", u"滑动验证"}},
};

} // namespace

std::optional<QString> BotChallenge(const FetchResult &answer, QStringView pageText)
{
    std::optional<QString> title; // parsed once, and only when a signature needs it
    for (const Signature &signature : kSignatures) {
        if (!signature.answerFits(answer))
            continue;
        if (signature.titles.empty())
            return signature.named.toString();
        if (!title)
            title = PageTitle(pageText).simplified();
        for (const QStringView known : signature.titles)
            if (title->contains(known))
                return QStringLiteral("%1「%2」").arg(signature.named, known);
    }
    return std::nullopt;
}

} // namespace vantorel
