#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringView>
#include <QUrl>

#include <optional>
#include <vector>

namespace vantorel {

// What a checked page shows about its links to one domain: where each link goes, its text,
// whether it passes weight, and what the page tells robots.

struct LinkEvidence {
    QString url;            // resolved, as a full address
    QString anchor;         // text content, white space collapsed; else an image's alt; at most 100 characters
    bool nofollow = false, ugc = false, sponsored = false;
    // How the page it points to on the site answered: empty when fine, why it fails when it does
    // ("目标页返回 404"); none when it was not checked or could not be had.
    std::optional<QString> targetFailure{};
    bool PassesWeight() const { return !nofollow && !ugc && !sponsored; }
    friend bool operator==(const LinkEvidence &, const LinkEvidence &) = default;
};

struct RobotsEvidence {
    bool noindex = false;
    bool nofollow = false;
    friend bool operator==(const RobotsEvidence &, const RobotsEvidence &) = default;
};

// A <meta http-equiv="refresh"> that sends the visitor to another address after some seconds.
struct RefreshEvidence {
    int seconds = 0; // whole seconds, as browsers count them; very large ones capped
    QUrl url;        // resolved as a link is
    friend bool operator==(const RefreshEvidence &, const RefreshEvidence &) = default;
};

struct PageEvidence {
    std::vector<LinkEvidence> links; // every <a href> and <area href> pointing to the domain, in page order
    // From <meta name="robots">, <meta name="googlebot">, <meta name="baiduspider"> and the X-Robots-Tag header.
    RobotsEvidence robots;
    std::optional<RefreshEvidence> refresh; // the first refresh outside <noscript> that names an address, wherever it goes
    // The first <link rel="canonical">'s address, resolved, when it names another page than the
    // one fetched (a canonical to itself is nothing); empty otherwise.
    QString canonical{};
    // The <a href> and <area href> links to http(s) addresses on other sites than the page's own
    // (its host, a leading "www." ignored, and that host's subdomains) and the domain's: those
    // that share the weight it passes. None when no page was read.
    std::optional<int> outboundLinks{};
    friend bool operator==(const PageEvidence &, const PageEvidence &) = default;
};

// A link's text as the evidence keeps it: trimmed, then cut to its 100 characters without
// leaving half of a surrogate pair at the end.
QString AnchorText(QStringView text);

// How the page is read: in one pass of our own, which hands the page to libxml2 only where its
// rules for broken markup decide the evidence, or by libxml2 throughout. Both give the same
// evidence; the second is there to prove it.
enum class PageReading { Scanned, Parsed };

// html: the decoded page text; pageUrl: the final URL of the fetch (base for relative links,
// overridden by the first <base href>, itself resolved against pageUrl); domain: the host the
// user checks (lower case, no scheme, Unicode or punycode); robotsHeader: the raw X-Robots-Tag
// values, one per line: directives without a crawler name and those for "googlebot:" and
// "baiduspider:" count.
// Only http and https links can point to the domain, as HostMatchesDomain tells.
PageEvidence ExtractPageEvidence(QStringView html, const QUrl &pageUrl, QStringView domain,
                                 QByteArrayView robotsHeader = {}, PageReading reading = PageReading::Scanned);

// True when host is domain or one of its subdomains; ASCII case ignored, an internationalised
// name equals its punycode, a final root dot does not count, and neither does a leading "www."
// of the domain (SiteDomain).
bool HostMatchesDomain(QStringView host, QStringView domain);

} // namespace vantorel
