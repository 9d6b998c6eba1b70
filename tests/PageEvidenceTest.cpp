// The evidence read from a checked page: which links point to the domain, their text and rel
// tokens, and what the page and its header tell robots.

#include "QtPrinters.h"

#include <Domain.h>
#include <PageEvidence.h>
#include <RobotsTxt.h>
#include <Verdict.h>

#include <QThread>

#include <gtest/gtest.h>

#include <memory>

using namespace vantorel;

namespace {

const QUrl kOtherPage(QStringLiteral("http://blog.other.org/posts/1.html"));
const QUrl kOwnPage(QStringLiteral("https://www.example.com/a/b.html"));

// The evidence of html, which our own pass and libxml2 must read alike.
PageEvidence Evidence(const QString &html, const QUrl &page = kOtherPage, QStringView domain = u"example.com",
                      QByteArrayView robotsHeader = {})
{
    const PageEvidence evidence = ExtractPageEvidence(html, page, domain, robotsHeader);
    EXPECT_TRUE(evidence == ExtractPageEvidence(html, page, domain, robotsHeader, PageReading::Parsed))
        << html.toStdString();
    return evidence;
}

// One field of every link html has to domain.
std::vector<QString> Links(const QString &html, QString LinkEvidence::*field, const QUrl &page = kOtherPage,
                           QStringView domain = u"example.com")
{
    std::vector<QString> values;
    for (const LinkEvidence &link : Evidence(html, page, domain).links)
        values.push_back(link.*field);
    return values;
}

// The only link of html, which must have exactly one to example.com.
LinkEvidence OnlyLink(const QString &html)
{
    const PageEvidence evidence = Evidence(html);
    EXPECT_EQ(evidence.links.size(), 1u) << html.toStdString();
    return evidence.links.empty() ? LinkEvidence{} : evidence.links.front();
}

} // namespace

// A host named in a page's text counts where a link to it would: at host boundaries, whatever
// the punctuation around it, with subdomains, either spelling of an internationalised name, and
// "www." ignored on the domain's side.
TEST(HostBoundaries, TheMentionAndTheLinksCountTheSameHosts)
{
    const struct {
        const char16_t *host, *domain;
        bool counts;
    } cases[] = {
        {u"example.com", u"example.com", true},
        {u"EXAMPLE.Com", u"example.com", true},
        {u"www.example.com", u"example.com", true},
        {u"a.b.example.com", u"example.com", true},
        {u"example.com.", u"example.com", true},
        {u"example.com", u"www.example.com", true},
        {u"blog.example.com", u"www.example.com", true},
        {u"www.com", u"www.com", true},
        {u"evil-example.com", u"example.com", false},
        {u"notexample.com", u"example.com", false},
        {u"1example.com", u"example.com", false},
        {u"wwwexample.com", u"www.example.com", false},
        {u"example.com.cn", u"example.com", false},
        {u"example.com.evil.net", u"example.com", false},
        {u"example.community", u"example.com", false},
        {u"example.com-x.net", u"example.com", false},
        {u"example.co", u"example.com", false},
        {u"com", u"example.com", false},
        {u"", u"example.com", false},
        {u"example.com", u"", false},
        {u"xn--fiq228c.com", u"中文.com", true},
        {u"中文.com", u"xn--fiq228c.com", true},
        {u"WWW.中文.COM", u"中文.com", true},
        {u"www.xn--fiq228c.com", u"中文.com", true},
        {u"xn--fiq228c.cn", u"中文.com", false},
        {u"英文.com", u"中文.com", false},
        {u"好中文.com", u"中文.com", false},
        {u"ñexample.com", u"example.com", false},
    };
    const char16_t *const around[] = {u" %1 ", u"（%1）", u"%1。", u"「%1」", u"“%1”，", u"<b>%1</b>", u"%1"};
    for (const auto &c : cases) {
        const QString host = QString::fromUtf16(c.host);
        const std::string what = host.toStdString() + " for " + QString::fromUtf16(c.domain).toStdString();
        EXPECT_EQ(HostMatchesDomain(c.host, c.domain), c.counts) << what;
        const QString link = QStringLiteral("<a href=\"http://%1/p\">x</a>").arg(host);
        EXPECT_EQ(Evidence(link, kOtherPage, c.domain).links.size(), c.counts ? 1u : 0u) << what;
        for (const char16_t *text : around)
            EXPECT_EQ(PageMentionsDomain(QString::fromUtf16(text).arg(host), c.domain), c.counts)
                << QString::fromUtf16(text).arg(host).toStdString() << " for " << what;
    }
}

TEST(PageEvidence, LinkFormsResolveAndOnlyTheDomainsHostsCount)
{
    const struct {
        const char *html;
        QUrl page;
        const char16_t *domain;
        std::vector<QString> urls;
    } cases[] = {
        {R"(<a href="http://example.com/">x</a>)", kOtherPage, u"example.com", {"http://example.com/"}},
        {R"(<map><area href="https://example.com/a" alt="A"></map>)", kOtherPage, u"example.com",
         {"https://example.com/a"}},
        {R"(<a href="/about">x</a><a href="../up">y</a><a href="z">z</a>)", kOwnPage, u"example.com",
         {"https://www.example.com/about", "https://www.example.com/up", "https://www.example.com/a/z"}},
        {R"(<a href="/about">relative to another site</a>)", kOtherPage, u"example.com", {}},
        {R"(<a href="//example.com/x">x</a>)", QUrl("https://other.org/"), u"example.com", {"https://example.com/x"}},
        {R"(<base href="http://example.com/dir/"><a href="p">p</a>)", kOtherPage, u"example.com",
         {"http://example.com/dir/p"}},
        {R"(<base href="/c/"><a href="d">d</a>)", kOwnPage, u"example.com", {"https://www.example.com/c/d"}},
        {R"(<base href="//example.com/"><a href="x">x</a>)", kOtherPage, u"example.com", {"http://example.com/x"}},
        // The first base with an href counts, wherever it stands.
        {R"(<a href="x">x</a><base target="_top"><base href="http://example.com/1/"><base href="http://other.org/">)",
         kOtherPage, u"example.com", {"http://example.com/1/x"}},
        {R"(<A HREF="HTTP://WWW.EXAMPLE.COM/Path">x</A>)", kOtherPage, u"example.com", {"http://www.example.com/Path"}},
        {R"(<a href="http://xn--fiq228c.com/p">x</a>)", kOtherPage, u"中文.com", {"http://中文.com/p"}},
        {R"(<a href="http://evil-example.com/">x</a><a href="http://example.com.evil.net/">y</a>)", kOtherPage,
         u"example.com", {}},
        // The user part is no host; browsers read a backslash as a slash.
        {R"(<a href="http://example.com@evil.net/">x</a><a href="http://evil.net@example.com/">y</a>)", kOtherPage,
         u"example.com", {"http://evil.net@example.com/"}},
        {R"(<a href="http://evil.net\@example.com/">x</a><a href="\\example.com\x?a\b">y</a>)", kOtherPage,
         u"example.com", {"http://example.com/x?a%5Cb"}},
        {R"(<a href="javascript:location='http://example.com/'">x</a><a href="mailto:me@example.com">y</a>)"
         R"(<a href="#top">z</a><a href="ftp://example.com/">f</a><a href>itself</a><a href=" #x">x</a>)",
         kOwnPage, u"example.com", {}},
        {R"(<a href="http://example.com.:evil.net/">bad port</a><a href="http://exa mple.com/">space</a>)", kOtherPage,
         u"example.com", {}},
        {" <a href=\" \n http://exa\tmple.com/?a=1&amp;b=2 \">x</a>", kOtherPage, u"example.com",
         {"http://example.com/?a=1&b=2"}},
        // Content that browsers show as text, or never, holds no links.
        {R"(<title><a href="http://example.com/1">t</a></title><textarea><a href="http://example.com/2"></textarea>)"
         R"(<script>"<a href='http://example.com/3'>"</script><template><a href="http://example.com/4"></template>)"
         R"(<!-- <a href="http://example.com/5"> --><a href="http://example.com/6">6</a>)",
         kOtherPage, u"example.com", {"http://example.com/6"}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(Links(QString::fromUtf8(c.html), &LinkEvidence::url, c.page, c.domain), c.urls) << c.html;
}

TEST(PageEvidence, RelTokensDecideTheWeight)
{
    const struct {
        const char *rel;
        bool nofollow, ugc, sponsored;
    } cases[] = {
        {"", false, false, false},
        {"noopener noreferrer", false, false, false},
        {"nofollow", true, false, false},
        {"NoFollow", true, false, false},
        {"nofollow noopener", true, false, false},
        {" \tUGC\n", false, true, false},
        {"external Sponsored ugc", false, true, true},
        {"nofollow,ugc", false, false, false}, // commas do not separate tokens
        {"nofollowed", false, false, false},
    };
    for (const auto &c : cases) {
        for (const char *form : {R"(<a href="http://example.com/" rel="%1">x</a>)",
                                 R"(<map><area href="http://example.com/" rel="%1"></map>)"}) {
            const QString html = QString::fromUtf8(form).arg(QString::fromUtf8(c.rel));
            const LinkEvidence link = OnlyLink(html);
            EXPECT_EQ(link.nofollow, c.nofollow) << html.toStdString();
            EXPECT_EQ(link.ugc, c.ugc) << html.toStdString();
            EXPECT_EQ(link.sponsored, c.sponsored) << html.toStdString();
        }
    }
}

TEST(PageEvidence, AnchorIsCollapsedTextElseImageAlt)
{
    const QString x99 = QString(99, u'x');
    const QString cjk = QString(60, u'中') + QString(60, u'文');
    const struct {
        QString inner;
        QString anchor;
    } cases[] = {
        {"  Hello \n  <b>bold</b>\tworld  ", "Hello bold world"},
        {"<span>a</span><span>b</span><div><i> c </i></div>d", "ab c d"},
        {"Tom &amp; Jerry&nbsp;&nbsp;", "Tom & Jerry"},
        {"&#x4E2D;&#25991; &copy; &unknown; &amp &AMP;", "中文 © &unknown; &amp &AMP;"},
        {"<svg class=icon><use href='#home'/></svg> 首页", "首页"},
        {"<div class=card><span>卡片</span></div><section>标题</section>", "卡片标题"},
        {"中文\u3000\u3000链接", "中文 链接"},
        {"Go<script>var x = 1;</script><style>a{}</style>!", "Go!"},
        {"<img src=a.png alt='  Logo \n text '>", "Logo text"},
        {"<img src=pixel.gif><img src=logo.png alt=second>", "second"},
        {"Text <img alt=Logo>", "Text"},
        {" <img alt=''> ", ""},
        {QString(150, u'y'), QString(100, u'y')},
        {x99 + "😀 tail", x99},
        {x99 + " tail", x99},
        {cjk, cjk.left(100)},
        {QString(50, u'a') + QString(200, u' ') + QString(60, u'b'), QString(50, u'a') + ' ' + QString(49, u'b')},
    };
    for (const auto &c : cases) {
        const QString html = "<p>before <a href=\"http://example.com/\">" + c.inner + "</a> after";
        EXPECT_EQ(OnlyLink(html).anchor, c.anchor) << html.toStdString();
    }

    // An area's anchor is its alt, cut the same way.
    EXPECT_EQ(OnlyLink("<area href=\"http://example.com/\" alt=\" Map  part \">").anchor, "Map part");
    EXPECT_EQ(OnlyLink("<area href=\"http://example.com/\" alt=\"" + QString(120, u'z') + "\">").anchor,
              QString(100, u'z'));
}

TEST(PageEvidence, RobotsFromMetaAndHeader)
{
    const struct {
        const char *head;
        QByteArrayView header;
        bool noindex, nofollow;
    } cases[] = {
        {"", "", false, false},
        {R"(<meta name="robots" content="noindex">)", "", true, false},
        {R"(<meta name="ROBOTS" content=" NoFollow ">)", "", false, true},
        {R"(<meta name="baiduspider" content="noindex,nofollow">)", "", true, true},
        {R"(<meta name="googlebot" content="noindex, nofollow">)", "", true, true},
        {R"(<meta name=" GoogleBot " content="noindex">)", "", true, false},
        {R"(<meta name="bingbot" content="noindex, nofollow">)", "", false, false},
        {R"(<meta name="robots" content="none">)", "", true, true},
        {R"(<meta name="robots" content="index, follow, max-snippet:20">)", "", false, false},
        {R"(<meta name="robots" content="noindex"><meta name="baiduspider" content="nofollow">)", "", true, true},
        {R"(<meta content="nofollow">)", "", false, false},
        {"", "noindex", true, false},
        {"", "NOINDEX, NoFollow", true, true},
        {"", "googlebot: noindex", true, false},
        {"", "googlebot: noindex, nofollow", true, true},
        {"", "bingbot: noindex, nofollow", false, false},
        {"", "BaiduSpider: nofollow", false, true},
        {"", "googlebot: noindex\nbaiduspider: none", true, true},
        {"", "bingbot: noindex\r\nnofollow", false, true},
        {"", "unavailable_after: 25 Jun 2010 15:00:00 PST, noindex", true, false},
        {"", "max-snippet: 20, nofollow", false, true},
        {"", "bingbot: noindex, baiduspider: nofollow", false, true},
        {R"(<meta name="robots" content="noindex">)", "nofollow", true, true},
    };
    for (const auto &c : cases) {
        const QString html = QStringLiteral("<html><head>%1</head><body>text</body></html>").arg(c.head);
        const RobotsEvidence robots = Evidence(html, kOtherPage, u"example.com", c.header).robots;
        EXPECT_EQ(robots.noindex, c.noindex) << c.head << " | " << c.header.toByteArray().toStdString();
        EXPECT_EQ(robots.nofollow, c.nofollow) << c.head << " | " << c.header.toByteArray().toStdString();
    }
}

// The canonical address counts when it names another page than the one fetched (its fragment,
// dot segments and an empty path aside); outbound links are those to any other site than the
// page's and the domain's, however the page spells them.
TEST(PageEvidence, CanonicalElsewhereAndOutboundLinks)
{
    const QString many = [] {
        QString links;
        for (int i = 0; i < 200; ++i)
            links += QStringLiteral("<a href=\"http://site%1.net/\">%1</a>").arg(i);
        return links;
    }();
    const struct {
        QString html;
        QUrl page;
        QString canonical;
        int outbound;
    } cases[] = {
        {"<p>no links</p>", kOtherPage, "", 0},
        {R"(<link rel="canonical" href="http://blog.other.org/posts/1.html#top">)", kOtherPage, "", 0},
        {R"(<link rel="canonical" href="/posts/./1.html">)", kOtherPage, "", 0},
        {R"(<link rel="canonical" href="http://blog.other.org">)", QUrl("http://blog.other.org/"), "", 0},
        {R"(<link rel="canonical" href="/posts/2.html">)", kOtherPage, "http://blog.other.org/posts/2.html", 0},
        {R"(<LINK REL="Alternate Canonical" HREF="https://blog.other.org/posts/1.html">)", kOtherPage,
         "https://blog.other.org/posts/1.html", 0},
        // The first canonical counts; a <link> without one, or inside hidden content, is no canonical.
        {R"(<link rel="stylesheet" href="/s.css"><link rel="canonical" href="/c1"><link rel="canonical" href="/c2">)",
         kOtherPage, "http://blog.other.org/c1", 0},
        {R"(<link rel="canonical"><link rel="canonical" href="/c">)", kOtherPage, "http://blog.other.org/c", 0},
        {R"(<title><link rel="canonical" href="/t"></title><link rel="canonical" href="/c">)", kOtherPage,
         "http://blog.other.org/c", 0},
        {R"(<base href="http://example.com/"><link rel="canonical" href="x">)", kOtherPage, "http://example.com/x", 0},
        // Links within the page's site are not outbound, its subdomains included; any other host is.
        {R"(<a href="/a">a</a><a href="http://other.org/">o</a><a href="https://x.blog.other.org/">x</a>)"
         R"(<a href="http://example.com/">e</a><area href="http://site.net/"><a href="mailto:a@b.c">m</a>)",
         kOtherPage, "", 2},
        {R"(<a href="https://example.com/">e</a><a href="http://blog.example.com/">b</a><a href="http://other.org/">o</a>)",
         kOwnPage, "", 1},
        {R"(<a href="http://example.com/">e</a><a href="http://www.example.com/x">w</a>)", kOtherPage, "", 0},
        {many, kOtherPage, "", 200},
    };
    for (const auto &c : cases) {
        const PageEvidence evidence = Evidence(c.html, c.page);
        EXPECT_EQ(evidence.canonical, c.canonical) << c.html.toStdString();
        EXPECT_EQ(evidence.outboundLinks, c.outbound) << c.html.toStdString();
    }
}

// A refresh counts wherever it stands outside <noscript> (which browsers that run scripts skip),
// the first one that reads; its address is resolved as a link is.
TEST(PageEvidence, RefreshAsBrowsersReadIt)
{
    const struct {
        const char *html;
        const char *url; // empty: no refresh
        int seconds = 0;
    } cases[] = {
        {R"(<meta http-equiv="refresh" content="0; url=/new">)", "http://blog.other.org/new"},
        {R"(<head><meta http-equiv=" Refresh " content="5;URL='http://example.com/x'"></head>)", "http://example.com/x", 5},
        {R"(<meta http-equiv=refresh content=" 3 , url = &quot;b.html&quot; tail">)", "http://blog.other.org/posts/b.html", 3},
        {R"(<meta http-equiv=refresh content="2; 'c.html'">)", "http://blog.other.org/posts/c.html", 2},
        {R"(<meta http-equiv=refresh content="7 uri.html">)", "http://blog.other.org/posts/uri.html", 7},
        {R"(<meta http-equiv=refresh content="1.9; url=/half">)", "http://blog.other.org/half", 1},
        {R"(<meta http-equiv=refresh content="99999999999; url=/far">)", "http://blog.other.org/far", 1'000'000},
        {R"(<base href="http://cdn.other.org/d/"><meta http-equiv=refresh content="0; url=n">)", "http://cdn.other.org/d/n"},
        {R"(<meta http-equiv=refresh content="x; url=/bad"><meta http-equiv=refresh content="4;url=/good">)",
         "http://blog.other.org/good", 4},
        {R"(<meta http-equiv=refresh content="10">)", ""},
        {R"(<meta http-equiv=refresh content="5x; url=/y">)", ""},
        {R"(<p>text</p><meta http-equiv=refresh content="0; url=/in-body">)", "http://blog.other.org/in-body"},
        {R"(<head><noscript><meta http-equiv=refresh content="0; url=/nojs"></noscript></head>)", ""},
        {R"(<noscript><p><meta http-equiv=refresh content="0; url=/nojs"></noscript>)"
         R"(<meta http-equiv=refresh content="1; url=/js">)", "http://blog.other.org/js", 1},
        {R"(<title><meta http-equiv=refresh content="0; url=/hidden"></title>)", ""},
    };
    for (const auto &c : cases) {
        const std::optional<RefreshEvidence> refresh =
            Evidence(QString::fromUtf8(c.html)).refresh;
        EXPECT_EQ(refresh ? refresh->url.toString() : QString(), QString::fromUtf8(c.url)) << c.html;
        EXPECT_EQ(refresh ? refresh->seconds : 0, c.seconds) << c.html;
    }
}

TEST(PageEvidence, BrokenHtmlStillGivesItsLinks)
{
    const struct {
        QString html;
        std::vector<QString> anchors;
    } cases[] = {
        {"<a href=http://example.com/1>one<a href=http://example.com/2>two", {"one", "two"}},
        {"<a href=http://example.com/x rel=nofollow title=a>unquoted</a>", {"unquoted"}},
        {"<div><p>a<table><a href='http://example.com/'>in table</a></div></span></a>", {"in table"}},
        {QString("te") + QChar(0) + "xt<a href=http://example.com/>after nul</a>", {"after nul"}},
        {"<a href=http://example.com/><a href=http://example.com/2>", {"", ""}},
        {"</a></a><a href=http://example.com/>x", {"x"}},
        // Nested links, which this parser keeps: the outer one's text holds the inner one's.
        {"<a href=http://example.com/1>outer<div><a href=http://example.com/2>inner</a></div>tail</a>",
         {"outerinnertail", "inner"}},
        {"<a href=http://example.com/1>" + QString(150, u'x') + "<a href=http://example.com/2>inner</a></a>",
         {QString(100, u'x'), "inner"}},
        {"<a href=http://example.com/1><p><a href=http://example.com/2><img alt=I></a></p></a>", {"I", "I"}},
        {"<a href=http://example.com/1><img alt=A><p><a href=http://example.com/2><img alt=B></a></p></a>", {"A", "B"}},
        {"<a href=\"http://example.com/\" href=\"http://evil.net/\">first wins</a>", {"first wins"}},
        {QString("<a href=http://example.com/>") + QChar(0xD800) + "lone", {"?lone"}},
        // A "</a" that closes nothing: the page goes on to the real end of the link.
        {"<a href=http://example.com/><!-- </a> -->text</a><p>tail</p>", {"text"}},
        {"<a href=http://example.com/><script>'</a>'</script>text</a><p>tail</p>", {"text"}},
        {"<a href=http://example.com/>x <span title=\"</a>\">more</span></a><p>tail</p>", {"x more"}},
        {"<a href=http://example.com/>x</a>" + QStringLiteral("<p>tail</p>").repeated(1000), {"x"}},
        // An open <div> keeps the end of its link from closing it; inline elements do not.
        {"<a href=http://example.com/1><div>in div</a>after</div>tail</a><a href=http://example.com/2><span>x</a>y",
         {"in divaftertail", "x"}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(Links(c.html, &LinkEvidence::anchor), c.anchors) << c.html.toStdString();
}

// Extraction on a thread with the usual 8 MiB stack, whatever the shell's limit.
PageEvidence ExtractOnSmallStack(const QString &html)
{
    PageEvidence evidence;
    const std::unique_ptr<QThread> thread(
        QThread::create([&] { evidence = ExtractPageEvidence(html, kOtherPage, u"example.com"); }));
    thread->setStackSize(8 * 1024 * 1024);
    thread->start();
    thread->wait();
    return evidence;
}

TEST(PageEvidence, MillionNestedElementsAndHundredThousandLinks)
{
    for (const QString &element : {QStringLiteral("div"), QStringLiteral("span"), QStringLiteral("b")}) {
        const QString html = QStringLiteral("<%1>").arg(element).repeated(1'000'000) +
                             "<a href=\"http://example.com/deep\">deep</a>";
        const PageEvidence evidence = ExtractOnSmallStack(html);
        ASSERT_EQ(evidence.links.size(), 1u) << element.toStdString();
        EXPECT_EQ(evidence.links.front().anchor, "deep");
    }

    QString html;
    for (int i = 0; i < 100'000; ++i)
        html += QStringLiteral("<a href=\"http://example.com/%1\">link %1</a>\n").arg(i);
    const std::vector<LinkEvidence> links = ExtractOnSmallStack(html).links;
    ASSERT_EQ(links.size(), 100'000u);
    EXPECT_EQ(links.back().url, "http://example.com/99999");
    EXPECT_EQ(links.back().anchor, "link 99999");
}

// A fetched page judged as a row: the verdict's strength, the sentence that says why, and the facts kept.
TEST(JudgePage, StrengthToolTipAndFactsOfEveryKindOfRow)
{
    const auto page = [](long status, QByteArray body, QByteArray robotsTag = {}) {
        FetchResult result;
        result.error = FetchError::None;
        result.httpStatus = status;
        result.finalUrl = QStringLiteral("http://blog.other.org/p");
        result.body = std::move(body);
        result.robotsTag = std::move(robotsTag);
        return result;
    };
    const auto with = [](FetchResult result, QByteArray FetchResult::*header, QByteArray value) {
        result.*header = std::move(value);
        return result;
    };
    const auto failed = [](FetchError error, long status = 0, bool hostDown = false) {
        FetchResult result;
        result.error = error;
        result.httpStatus = status;
        result.hostDown = hostDown;
        return result;
    };
    const QByteArray link = "<a href=http://example.com/>a</a>";
    using enum VerdictStrength;
    const struct {
        const char *what;
        FetchResult result;
        VerdictStrength strength;
        const char16_t *toolTip;
        QStringList failedAttempts = {};
    } cases[] = {
        {"one of two links passes", page(200, "<a href=http://example.com/ rel=nofollow>a</a><a href=//www.example.com/>b</a>"),
         PassesWeight, u"HTTP 200 · 2 个链接：「a」(nofollow)、「b」"},
        {"only links without weight", page(200, "<a href=http://example.com/ rel='ugc sponsored'>a</a>"), NoWeight,
         u"HTTP 200 · 1 个链接：「a」(ugc, sponsored)"},
        {"a mention without a link", page(200, "友情链接：EXAMPLE.com"), NoWeight,
         u"HTTP 200 · 页面提到域名，但没有指向该域名的链接"},
        {"a noindex page", page(200, "<meta name=robots content=noindex>" + link), NoWeight,
         u"HTTP 200 · 1 个链接：「a」 · 页面 noindex"},
        {"nofollow in the header", page(200, link, "nofollow"), NoWeight, u"HTTP 200 · 1 个链接：「a」 · 页面 nofollow"},
        {"an error page that mentions it", page(404, "example.com is gone"), NoWeight,
         u"页面返回 HTTP 404，链接不传递权重 · 页面提到域名，但没有指向该域名的链接"},
        {"a link on a 503 page", page(503, link), NoWeight, u"页面返回 HTTP 503，链接不传递权重 · 1 个链接：「a」"},
        {"a redirect's own page", page(301, link), NoWeight, u"页面返回 HTTP 301，链接不传递权重 · 1 个链接：「a」"},
        {"a page without the name", page(200, "<p>notexample.com</p>"), Removed, u"外链已失效：页面不再提及该域名 · HTTP 200"},
        {"another client error", page(400, "bad request"), Removed, u"外链已失效：页面不再提及该域名 · HTTP 400"},
        {"deleted", page(404, "not found"), Removed, u"外链已失效：页面已删除（HTTP 404）"},
        {"gone", page(410, ""), Removed, u"外链已失效：页面已删除（HTTP 410）"},
        {"forbidden", page(403, "denied"), Unreachable, u"未能检测：服务器拒绝访问（HTTP 403），不代表外链已失效"},
        {"login", page(401, ""), Unreachable, u"未能检测：需要登录（HTTP 401），不代表外链已失效"},
        {"proxy login", page(407, ""), Unreachable, u"未能检测：代理服务器要求认证（HTTP 407），不代表外链已失效"},
        {"request time-out", page(408, ""), Unreachable, u"未能检测：服务器等待请求超时（HTTP 408），不代表外链已失效"},
        {"server error", page(500, ""), Unreachable, u"未能检测：服务器错误（HTTP 500），不代表外链已失效"},
        {"no page", failed(FetchError::ConnectTimeout), Unreachable, u"未能检测：连接超时，不代表外链已失效"},
        {"its host down", failed(FetchError::Refused, 0, true), Unreachable,
         u"未能检测：连接被拒绝，同一网站的其他网页也无法连接，不代表外链已失效"},
        {"a body cut short", failed(FetchError::TooLarge, 200), Unreachable,
         u"未能检测：页面超过 16 MiB，不代表外链已失效 · HTTP 200"},
        {"headers past the limit", failed(FetchError::HeaderTooLarge, 200), Unreachable,
         u"未能检测：响应头过大，不代表外链已失效 · HTTP 200"},
        {"no HTTP", failed(FetchError::NotHttp), Unreachable, u"未能检测：服务器的回复不是 HTTP，不代表外链已失效"},
        {"a challenge", with(page(403, "<title>Just a moment...</title>"), &FetchResult::server, "Cloudflare"), Unreachable,
         u"未能检测：被网站的访问防护拦截（Cloudflare「Just a moment...」），不代表外链已失效 · HTTP 403"},
        {"a challenge that links", with(page(403, link), &FetchResult::cfMitigated, "challenge"), NoWeight,
         u"页面返回 HTTP 403，链接不传递权重 · 1 个链接：「a」"},
        {"too many hops through refreshes", [&] { FetchResult r = page(200, link); r.redirects = 11; return r; }(),
         Unreachable, u"未能检测：重定向过多，不代表外链已失效 · HTTP 200"},
        {"had on the third attempt", page(200, link), PassesWeight,
         u"HTTP 200 · 1 个链接：「a」 · 第 3 次尝试成功（此前：连接超时、HTTP 503）", {"连接超时", "HTTP 503"}},
        {"busy every time", page(429, ""), Unreachable,
         u"未能检测：请求过于频繁（HTTP 429），不代表外链已失效 · 共尝试 3 次（此前：HTTP 429、连接被重置）",
         {"HTTP 429", "连接被重置"}},
    };
    std::vector<RowEvidence> judgedRows;
    for (const auto &c : cases) {
        const JudgedPage judged = JudgePage(c.result, u"www.example.com", u"gb2312", c.failedAttempts);
        EXPECT_EQ(Strength(judged.evidence), c.strength) << c.what;
        EXPECT_EQ(VerdictToolTip(judged.evidence), QString::fromUtf16(c.toolTip)) << c.what;
        EXPECT_EQ(VerdictWord(judged.evidence), c.strength <= NoWeight ? "有效" : "无效") << c.what;
        judgedRows.push_back(judged.evidence);
    }
    EXPECT_EQ(OutcomeCounts(judgedRows), QStringLiteral("有效 10 条，已失效 4 条，未能检测 13 条"));
    EXPECT_EQ(AttemptCause(failed(FetchError::Reset, 200)), QStringLiteral("连接被重置"));
    EXPECT_EQ(AttemptCause(page(503, "")), QStringLiteral("HTTP 503"));

    // The fetch's facts and the charset the page was read in go along.
    FetchResult utf8 = page(200, QStringLiteral("<p>友情链接：example.com</p>").toUtf8());
    utf8.redirects = 2;
    utf8.contentType = "text/html; charset=utf-8";
    const JudgedPage judged = JudgePage(utf8, u"example.com", u"gb2312");
    EXPECT_EQ(judged.text, QStringLiteral("<p>友情链接：example.com</p>"));
    EXPECT_EQ(judged.evidence.charset, QStringLiteral("UTF-8"));
    EXPECT_EQ(judged.evidence.bodyBytes, utf8.body.size());
    EXPECT_EQ(judged.evidence.redirects, 2);
}

// What the evidence dialog adds to the tool tip: every link, not only the first five, where the
// redirects ended, and why each earlier attempt failed.
TEST(EvidenceDetails, EveryLinkTheRedirectsAndEachFailedAttempt)
{
    FetchResult result;
    result.error = FetchError::None;
    result.httpStatus = 200;
    result.finalUrl = QStringLiteral("https://blog.other.org/final");
    result.redirects = 2;
    result.contentType = "text/html; charset=utf-8";
    QByteArray body;
    for (int i = 1; i <= 7; ++i)
        body += QStringLiteral("<a href=\"http://example.com/%1\"%2>链接%1</a>")
                    .arg(i)
                    .arg(i == 7 ? QStringLiteral(" rel=\"nofollow ugc\"") : QString())
                    .toUtf8();
    result.body = "<link rel=canonical href=/main>" + body + "<a href=\"http://other.org/\">elsewhere</a>";
    JudgedPage judged = JudgePage(result, u"example.com", u"gb2312", {QStringLiteral("连接超时"), QStringLiteral("HTTP 503")});
    judged.evidence.checkedAt = QDateTime(QDate(2026, 12, 8), QTime(6, 23, 5));
    // What the run's other fetches found: the host's robots.txt, and the links' targets (the
    // second fails for both links to it, the rest are not known).
    judged.evidence.robotsTxt = QStringLiteral("Googlebot");
    judged.evidence.page.links[1].targetFailure = QStringLiteral("目标页返回 404");
    judged.evidence.page.links[3].targetFailure = QString();
    judged.evidence.page.links[4].targetFailure = QStringLiteral("目标页返回 404");
    EXPECT_TRUE(VerdictToolTip(judged.evidence)
                    .contains(u"7 个链接：「链接1」、「链接2」、「链接3」、「链接4」、「链接5」等 · 规范地址指向 "
                              u"https://blog.other.org/main · robots.txt 屏蔽 Googlebot · 目标页返回 404 · 第 3 次尝试成功"))
        << VerdictToolTip(judged.evidence).toStdString();
    QStringList expected{QStringLiteral("最终地址：https://blog.other.org/final（重定向 2 次）"),
                         QStringLiteral("指向该网站的链接（7 个）：")};
    for (int i = 1; i <= 6; ++i)
        expected << QStringLiteral("%1. http://example.com/%1「链接%1」%2").arg(i).arg(i == 2 || i == 5 ? " · 目标页返回 404" : "");
    expected << QStringLiteral("7. http://example.com/7「链接7」 nofollow, ugc") << QStringLiteral("页面的出站链接：1 个")
             << QStringLiteral("第 1 次尝试失败：连接超时")
             << QStringLiteral("第 2 次尝试失败：HTTP 503") << QStringLiteral("网页编码：UTF-8")
             << QStringLiteral("检测时间：2026-12-08 06:23:05");
    EXPECT_EQ(EvidenceDetails(judged.evidence), expected.join(u'\n'));

    // A row with no page has only its attempts and time to add.
    RowEvidence failed;
    failed.failureCause = QStringLiteral("无法解析域名");
    EXPECT_EQ(EvidenceDetails(failed), QString());
}

// The parser is given the page with long stretches that hold nothing the evidence reads reduced
// to their bare tags: every reading must find what the whole page shows.
TEST(PageEvidence, StretchesLeftOutChangeNothing)
{
    const QString filler = QStringLiteral("<p class=\"x\">Filler text, line after line.</p>\n").repeated(8);
    const struct {
        QString html;
        std::vector<QString> anchors; // of the links to example.com, in page order
        const char *refresh = "";
    } cases[] = {
        {filler + "<A HREF=HTTP://EXAMPLE.COM/1 REL=NOFOLLOW>Upper</A>" + filler + "<a href=//example.com/2>two</a>",
         {"Upper", "two"}},
        {filler + "<!-- <a href=\"http://example.com/c\">c</a> -->" + filler + "<a href=http://example.com/>real</a>",
         {"real"}},
        {filler + "<script>var s = \"<a href='http://example.com/s'>\"; if (a </b) {}</script>" + filler +
             "<style>a:after { content: '</a>' }</style><a href=http://example.com/>styled</a>",
         {"styled"}},
        {filler + "<p title=\"a > <a href=http://example.com/q>\" data-x='<img alt=no>'>text</p>" + filler +
             "<a href=http://example.com/>after</a>",
         {"after"}},
        {filler + "<![CDATA[ <a href=\"http://example.com/cdata\">cdata</a> ]]>" + filler, {"cdata"}},
        // An </a> that an open <div> keeps from closing its link: the text after it is the link's.
        {"<a href=http://example.com/o>open<div>in</a>" + filler, {"openin" + QStringLiteral("Filler text, line after line. ").repeated(3) + "Fill"}},
        {"<p><a href=http://example.com/p>para</p>" + filler + "</a>", {"para"}},
        {"<textarea>" + filler + "<a href=http://example.com/t>t</a></textarea>" + filler +
             "<template>" + filler + "<a href=http://example.com/u>u</a></template><a href=http://example.com/>v</a>",
         {"v"}},
        {"<head><title>" + QString(300, u't') + "</title><style>" + QString(300, u's') +
             "</style><meta http-equiv=refresh content=\"0; url=/r\"></head><body>" + filler + "</body>",
         {}, "http://blog.other.org/r"},
        {"<head>" + filler + "<meta http-equiv=refresh content=\"0; url=/r\"></head>", {}, "http://blog.other.org/r"},
        {filler + "<noscript>" + filler + "<meta http-equiv=refresh content=\"0; url=/n\"></noscript>" + filler, {}},
        {filler + "<div/><custom-el><x-y>" + filler + "</x-y></custom-el><a href=http://example.com/>custom</a>",
         {"custom"}},
        // A quote left open takes the rest of the page into the tag.
        {filler + "<a href=\"http://example.com/unterminated>cut" + filler, {QStringLiteral("Filler text, line after line. ").repeated(3) + "Filler tex"}},
        {filler + "<a href=http://example.com/>x</a>" + filler + "<img src=a.png alt=\"<a href=http://example.com/i>\">",
         {"x"}},
    };
    for (const auto &c : cases) {
        for (const PageReading reading : {PageReading::Scanned, PageReading::Parsed}) {
            const PageEvidence evidence = ExtractPageEvidence(c.html, kOtherPage, u"example.com", {}, reading);
            std::vector<QString> anchors;
            for (const LinkEvidence &link : evidence.links)
                anchors.push_back(link.anchor);
            EXPECT_EQ(anchors, c.anchors) << int(reading) << " " << c.html.toStdString();
            EXPECT_EQ(evidence.refresh ? evidence.refresh->url.toString() : QString(), QString::fromUtf8(c.refresh))
                << int(reading) << " " << c.html.toStdString();
        }
    }
}

// A site's robots.txt as the documented rules read it: the groups that name a crawler (in any
// case, a version aside) else those for "*", the longest matching rule deciding, Allow on a tie,
// "*" and "$" in patterns; rules before any User-agent and other fields count for nothing.
TEST(RobotsTxt, GroupsLongestMatchAndPatterns)
{
    const struct {
        const char *robots;
        const char *path;
        const char *barred; // BarredCrawlers
    } cases[] = {
        {"", "/a", ""},
        {"User-agent: *\nDisallow: /", "/a", "*, Googlebot, Baiduspider"},
        {"User-agent: *\nDisallow:", "/a", ""},
        {"User-agent: *\nDisallow: /private", "/a", ""},
        {"User-agent: *\nDisallow: /private", "/private/x.html", "*, Googlebot, Baiduspider"},
        {"User-agent: *\nDisallow: /\n\nUser-agent: Googlebot\nAllow: /", "/a", "*, Baiduspider"},
        {"User-agent: BadBot\nDisallow: /", "/a", ""},
        {"user-agent: GOOGLEBOT/2.1\ndisallow: /a # comment", "/a", "Googlebot"},
        {"User-agent: baiduspider\nUser-agent: googlebot\nDisallow: /a", "/a", "Googlebot, Baiduspider"},
        {"Disallow: /\nUser-agent: *\nAllow: /", "/a", ""},
        // Groups for one crawler add up; a User-agent after rules starts a new group.
        {"User-agent: Baiduspider\nDisallow: /x\nUser-agent: Baiduspider\nDisallow: /a", "/a", "Baiduspider"},
        {"User-agent: Googlebot\nDisallow: /b\nUser-agent: *\nDisallow: /a", "/a", "*, Baiduspider"},
        // The longest rule decides; Allow wins a tie.
        {"User-agent: *\nDisallow: /a\nAllow: /a/b", "/a/b/c", ""},
        {"User-agent: *\nAllow: /a\nDisallow: /a/b", "/a/b/c", "*, Googlebot, Baiduspider"},
        {"User-agent: *\nDisallow: /a\nAllow: /a", "/a", ""},
        // Patterns: "*" any run, "$" the end; the query counts as part of the path.
        {"User-agent: *\nDisallow: /*.pdf$", "/docs/x.pdf", "*, Googlebot, Baiduspider"},
        {"User-agent: *\nDisallow: /*.pdf$", "/docs/x.pdf?v=1", ""},
        {"User-agent: *\nDisallow: /*?", "/list?page=2", "*, Googlebot, Baiduspider"},
        {"User-agent: *\nDisallow: /*?", "/list", ""},
        {"User-agent: *\nDisallow: /a*b*c", "/aXXbYYc/", "*, Googlebot, Baiduspider"},
        {"User-agent: *\nDisallow: /a*b*c", "/aXXcYYb", ""},
        {"User-agent: *\nDisallow: /$", "/", "*, Googlebot, Baiduspider"},
        {"User-agent: *\nDisallow: /$", "/a", ""},
        // Non-ASCII and percent-encoded spellings of one path match each other; CR LF lines read too.
        {"User-agent: *\r\nDisallow: /文章\r\n", "/%E6%96%87%E7%AB%A0/1", "*, Googlebot, Baiduspider"},
        {"User-agent: *\nDisallow: /%e6%96%87", "/文章", "*, Googlebot, Baiduspider"},
        // robots.txt itself is never barred.
        {"User-agent: *\nDisallow: /", "/robots.txt", ""},
    };
    for (const auto &c : cases) {
        const QUrl page(QStringLiteral("http://blog.other.org") + QString::fromUtf8(c.path));
        EXPECT_EQ(BarredCrawlers(RobotsTxt::Parse(c.robots), page), QString::fromUtf8(c.barred))
            << c.robots << " | " << c.path;
    }
    EXPECT_EQ(RobotsTxtUrl(QUrl("https://Blog.Other.org:8443/a/b?c#d")), "https://blog.other.org:8443/robots.txt");
}
