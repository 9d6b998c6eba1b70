// Reading the engine's result page: occurrence finder, count line, result addresses, and the
// rows ParseSearchResults writes.

#include "RunRecorder.h"
#include "ResultPages.h"

#include <BacklinkAnalysis.h>
#include <Domain.h>
#include <ResultExport.h>
#include <SearchPage.h>
#include <TextOps.h>

#include <gtest/gtest.h>

using namespace vantorel;

namespace {

const QString kMarker = QStringLiteral("})\" href=\"");

// A page with one result link marker followed by the given excerpt text ("http://" skipped).
QString PageWithLink(const QString &afterScheme)
{
    return QStringLiteral("<a onmousedown=\"c({'F':'1'})\" href=\"http://") + afterScheme;
}

qint32 MarkerPosition(const QString &page)
{
    return static_cast<qint32>(page.indexOf(kMarker)) + 1;
}

TEST(TextOps, OneBasedFindExcerptAndSpaceTrim)
{
    EXPECT_EQ(Find(u"abcabc", u"c", 1), 3);
    EXPECT_EQ(Find(u"abcabc", u"c", 4), 6);
    EXPECT_EQ(Find(u"abcabc", u"C", 1), 0);
    EXPECT_EQ(Find(u"abc", u"c", 4), 0);
    EXPECT_EQ(Find(u"abc", u"", 1), 1);
    EXPECT_EQ(Excerpt(u"abcdef", 5, 300), u"ef");
    EXPECT_TRUE(Excerpt(u"abc", 4, 3).isEmpty());
    EXPECT_TRUE(Excerpt(u"abc", 1, -1).isEmpty());
    EXPECT_EQ(TrimSpaces(u"  \ta b\n  "), u"\ta b\n");
    EXPECT_TRUE(TrimSpaces(u"   ").isEmpty());
}

TEST(FindAllOccurrences, StartsAtTheSecondCharacterAndCountsOverlaps)
{
    std::vector<qint32> positions{99};
    EXPECT_EQ(FindAllOccurrences(u"", u"a", &positions), 0);
    EXPECT_EQ(positions, std::vector<qint32>{99});

    positions.clear();
    EXPECT_EQ(FindAllOccurrences(u"aaaa", u"aa", &positions), 2);
    EXPECT_EQ(positions, (std::vector<qint32>{2, 3}));
    EXPECT_EQ(FindAllOccurrences(u"aaaa", u"aa"), 2);

    positions.clear();
    EXPECT_EQ(FindAllOccurrences(u"abxx", u"ab", &positions), 0);
    EXPECT_TRUE(positions.empty());
    EXPECT_EQ(FindAllOccurrences(u"xabx", u"ab", &positions), 1);
    EXPECT_EQ(positions, std::vector<qint32>{2});

    // Positions are appended after what the list already held.
    EXPECT_EQ(FindAllOccurrences(u"xab-ab", u"ab", &positions), 2);
    EXPECT_EQ(positions, (std::vector<qint32>{2, 2, 5}));
}

TEST(FindAllOccurrences, CountsBeyondSixteenBits)
{
    const QString text = QStringLiteral("x") + kMarker.repeated(40'000);
    std::vector<qint32> positions;
    EXPECT_EQ(FindAllOccurrences(text, kMarker, &positions), 40'000);
    ASSERT_EQ(positions.size(), 40'000u);
    EXPECT_EQ(positions.back(), 2 + 39'999 * 10);
}

TEST(LinkCountLine, CopiesTheCountTextVerbatim)
{
    EXPECT_EQ(LinkCountLine(SearchResultPage(QStringLiteral("约1,234,567"), {}), u"example.com"),
              QStringLiteral("提示：当前站点 example.com 的外链数为：  约1,234,567 条"));
    // Touching markers give an empty count text.
    EXPECT_EQ(LinkCountLine(u"<p>找到相关网页篇，用时0.1秒", u"a.cn"), QStringLiteral("提示：当前站点 a.cn 的外链数为：   条"));
    // The count ends at the first end marker after it, even far into the page.
    const QString far = QStringLiteral("找到相关网页") + QString(40'000, u'9') + QStringLiteral("篇，用时");
    EXPECT_EQ(LinkCountLine(far, u"a.cn"),
              QStringLiteral("提示：当前站点 a.cn 的外链数为：  ") + QString(40'000, u'9') + QStringLiteral(" 条"));
}

TEST(LinkCountLine, NoResultsSentenceCountsOnlyPastTheTenthCharacter)
{
    const QString zero = QStringLiteral("提示：当前站点 a.cn 的外链数为：0 条");
    EXPECT_EQ(LinkCountLine(SearchResultPage(QString(), {}, true), u"a.cn"), zero);
    EXPECT_EQ(LinkCountLine(QStringLiteral("0123456789抱歉，没有找到与"), u"a.cn"), zero);           // position 11
    EXPECT_EQ(LinkCountLine(QStringLiteral("012345678抱歉，没有找到与找到相关网页5篇，用时"), u"a.cn"), // position 10
              QStringLiteral("提示：当前站点 a.cn 的外链数为：  5 条"));
}

TEST(LinkCountLine, NothingWhenTheCountCannotBeRead)
{
    EXPECT_FALSE(LinkCountLine(u"<html>502 Bad Gateway, 篇，用时</html>", u"a.cn").has_value());
    EXPECT_FALSE(LinkCountLine(u"找到相关网页约10个结果", u"a.cn").has_value());
    EXPECT_FALSE(LinkCountLine(u"篇，用时 找到相关网页", u"a.cn").has_value());
    EXPECT_FALSE(LinkCountLine(u"", u"a.cn").has_value());
}

TEST(ResultAddress, CutsAtTheFirstSpaceOrTheQuoteAndDecodesReferences)
{
    const QString longPath = QString(300, u'p');
    struct Case {
        QString afterScheme;
        QString cell;
    };
    const Case cases[] = {
        // The closing quote comes before the space, so a slash before it stays.
        {QStringLiteral("www.a.com/\" target=\"_blank\">A</a>"), QStringLiteral("www.a.com/ ")},
        {QStringLiteral("www.a.com/news/1.html\" target=\"_blank\">"), QStringLiteral("www.a.com/news/1.html ")},
        // A slash right before the first space goes, and the space with it.
        {QStringLiteral("www.b.com/ target=_blank>"), QStringLiteral("www.b.com")},
        {QStringLiteral(" www.c.com/\">"), QStringLiteral(" ")},
        {QStringLiteral("\"\"q\"uoted\"/ x"), QStringLiteral("quoted")},
        // No space in the excerpt: up to the closing quote, however far, up to 2,048 characters.
        {QStringLiteral("www.d.com/\">no-space-anywhere"), QStringLiteral("www.d.com/")},
        {QStringLiteral("e.com/") + longPath + QStringLiteral("?a=1&amp;b=2\"> x"),
         QStringLiteral("e.com/") + longPath + QStringLiteral("?a=1&b=2")},
        {QString(2048, u'f') + QStringLiteral("\">"), QString(2048, u'f')},
        {QString(2049, u'g') + QStringLiteral("\">"), QString()},
        {QString(300, u'h') + QStringLiteral(" i\tj&#32;\">"), QString(300, u'h') + QStringLiteral("%20i%09j%20")},
        {QStringLiteral("sho"), QString()},
        // References decode as in any attribute value; one that names nothing stays as written.
        {QStringLiteral("a.com/p?a=1&amp;b=2\" x"), QStringLiteral("a.com/p?a=1&b=2 ")},
        {QStringLiteral("a.com/?q=&#20013;&#x6587;&#X6587&lt;&apos;\" x"), QStringLiteral("a.com/?q=中文文<' ")},
        {QStringLiteral("a.com/?x=1&amp&y&ampz=2&copy=3&bogus;&#;&#xg;\" x"),
         QStringLiteral("a.com/?x=1&&y&ampz=2&copy=3&bogus;&#;&#xg; ")},
        {QStringLiteral("a.com/&#0;&#xD800;&#x110000;&#99999999999;\" x"), QStringLiteral("a.com/\uFFFD\uFFFD\uFFFD\uFFFD ")},
        // A space, quote or control made by a reference is sent percent-encoded.
        {QStringLiteral("a.com/a&#32;b&quot;c&#9;\" x"), QStringLiteral("a.com/a%20b%22c%09 ")},
    };
    for (const Case &c : cases) {
        const QString page = PageWithLink(c.afterScheme);
        EXPECT_EQ(ResultAddress(page, MarkerPosition(page)), c.cell) << c.afterScheme.left(80).toStdString();
    }
    // The excerpt starts past the end of the page.
    EXPECT_EQ(ResultAddress(u"x})\" href=\"http:", 2), QString());
}

TEST(ResultAddress, PaidWhenTheMarkerLiesWithinThreeHundredCharacters)
{
    const QString beforePaid = QStringLiteral("www.ad.com/\" target=\"_blank\">") + QString(250, u'x');
    QString page = PageWithLink(beforePaid + QStringLiteral("推广"));
    EXPECT_FALSE(ResultAddress(page, MarkerPosition(page)).has_value());

    // Starting at the 300th character of the excerpt, only its first half is inside.
    page = PageWithLink(QStringLiteral("a.com/ ") + QString(292, u'x') + QStringLiteral("推广"));
    EXPECT_EQ(ResultAddress(page, MarkerPosition(page)), QStringLiteral("a.com"));
    page = PageWithLink(QStringLiteral("a.com/ ") + QString(291, u'x') + QStringLiteral("推广"));
    EXPECT_FALSE(ResultAddress(page, MarkerPosition(page)).has_value());
}

TEST(ResultAddress, AnHttpsLinkKeepsItsScheme)
{
    const QString page = QStringLiteral("<a onmousedown=\"c({'F':'1'})\" href=\"https://www.a.com/x\" target=\"_blank\">");
    EXPECT_EQ(ResultAddress(page, MarkerPosition(page)), QStringLiteral("https://www.a.com/x "));
    const QString paid = QStringLiteral("<a x({'F':'1'})\" href=\"https://ad.com/\" >推广</a>");
    EXPECT_FALSE(ResultAddress(paid, MarkerPosition(paid)).has_value());
}

TEST(SearchQueryUrl, AsksForFiftyResultsOfTheEncodedDomain)
{
    EXPECT_EQ(SearchQueryUrl(u"www.baidu.com", u"例子.com"),
              QStringLiteral("http://www.baidu.com/s?q1=domain:%E4%BE%8B%E5%AD%90.com"
                             "&q2=&q3=&q4=&rn=50&lm=0&ct=0&ft=&q5=&q6=&tn=baiduadv"));
    EXPECT_TRUE(SearchQueryUrl(u"h", u"a&b=c+d%").contains(u"domain:a%26b%3Dc%2Bd%25&q2="));
}

TEST(ClassifyEngineAnswer, ResultsVerificationOrUnrecognised)
{
    const QString results = SearchResultPage(QStringLiteral("约3"), {{"a.com"}});
    const struct {
        QString page;
        const char16_t *finalHost;
        const char16_t *title;
        EngineAnswer expected;
    } cases[] = {
        {results, u"www.baidu.com", u"domain:example.com_百度搜索", EngineAnswer::Results},
        {SearchResultPage(QString(), {}, true), u"www.baidu.com", u"", EngineAnswer::Results},
        {QStringLiteral("<a x({'F':'1'})\" href=\"http://a.com/ "), u"", u"", EngineAnswer::Results},
        {results, u"WAPPASS.baidu.com", u"", EngineAnswer::Verification},
        {QStringLiteral("<p>请完成验证</p>"), u"www.baidu.com", u"百度安全验证", EngineAnswer::Verification},
        {QStringLiteral("<html>403 Forbidden</html>"), u"www.baidu.com", u"403", EngineAnswer::Unrecognised},
        {QString(), u"www.baidu.com", u"", EngineAnswer::Unrecognised},
    };
    for (const auto &c : cases)
        EXPECT_EQ(ClassifyEngineAnswer(c.page, c.finalHost, c.title), c.expected) << c.page.left(40).toStdString();
}

TEST(ReduceToHost, KeepsOnlyTheLowerCasedHostWhichMustBeANameOrAnAddress)
{
    const QString label63 = QString(63, u'a');
    const QString name253 = (label63 + u'.').repeated(3) + QString(61, u'b'); // 3 * 64 + 61
    const struct {
        QString typed;
        QString host;
        bool checkable;
    } cases[] = {
        {"example.com", "example.com", true},
        {"EXAMPLE.COM", "example.com", true},
        {"  http://Example.com/path?q=1#f \t\n", "example.com", true},
        {"HTTPS://user:pw@www.example.com:8080/x", "www.example.com", true},
        {"example.com.", "example.com", true},
        {QStringLiteral("例子.COM"), QStringLiteral("例子.com"), true},
        {QStringLiteral("例子.中国"), QStringLiteral("例子.中国"), true},
        {"xn--fsq.com", "xn--fsq.com", true},
        {"//cdn.example.com/a", "cdn.example.com", true},
        {QStringLiteral("\u3000example.com\r\n"), "example.com", true},
        {"example.com?x#y", "example.com", true},
        {"example.com\\path", "example.com", true},
        {"[::1]:8080", "[::1]", true},
        {"1.2.3.4:80", "1.2.3.4", true},
        {"127.0.0.1", "127.0.0.1", true},
        {label63 + ".com", label63 + ".com", true},
        {name253, name253, true},
        {name253 + "b", name253 + "b", false},
        {u'a' + label63 + ".com", u'a' + label63 + ".com", false},
        {QString(300, u'x'), QString(300, u'x'), false},
        {"my site.com", "my site.com", false},
        {QStringLiteral("😀.com"), QStringLiteral("😀.com"), false},
        {QStringLiteral("例子。中国"), QStringLiteral("例子。中国"), false},
        {"my_site.com", "my_site.com", false},
        {"a..com", "a..com", false},
        {"javascript:alert(1)", "javascript", false},
        {"localhost", "localhost", false},
        {"1234", "1234", false},
        {"1.2.3", "1.2.3", false},
        {"256.1.1.1", "256.1.1.1", false},
        {"01.2.3.4", "01.2.3.4", false},
        {"a.123", "a.123", false},
        {"[zz]", "[zz]", false},
        {"   ", "", false},
        {"http://", "", false},
        {"\t\x01\x7f", "", false},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(ReduceToHost(c.typed), c.host) << c.typed.toStdString();
        EXPECT_EQ(IsCheckableHost(c.host), c.checkable) << c.host.toStdString();
    }
}

TEST(SiteKey, EveryFormOfANameHasOneKeyShownInUnicode)
{
    const struct {
        const char16_t *typed;
        const char16_t *key;
        const char16_t *shown;
    } cases[] = {
        {u"http://WWW.Watch.CN./path", u"watch.cn", u"watch.cn"},
        {u"watch.cn", u"watch.cn", u"watch.cn"},
        {u"中文.com", u"xn--fiq228c.com", u"中文.com"},
        {u"WWW.XN--FIQ228C.COM", u"xn--fiq228c.com", u"中文.com"},
        {u"Bücher.DE", u"xn--bcher-kva.de", u"bücher.de"},
        {u"www.com", u"www.com", u"www.com"},
        {u"127.0.0.1:8080", u"127.0.0.1", u"127.0.0.1"},
        {u" http:// ", u"", u""},
    };
    for (const auto &c : cases) {
        const QString typed = QString::fromUtf16(c.typed);
        EXPECT_EQ(SiteKey(typed), QString::fromUtf16(c.key)) << typed.toStdString();
        EXPECT_EQ(SiteShown(SiteKey(typed)), QString::fromUtf16(c.shown)) << typed.toStdString();
    }
}

TEST(PageMentionsDomain, CaseIgnoredAndEitherSpellingOfAnInternationalName)
{
    const struct {
        const char16_t *page;
        const char16_t *domain;
        bool mentioned;
    } cases[] = {
        {u"友情链接：example.com", u"example.com", true},
        {u"<a href=\"http://WWW.EXAMPLE.COM/\">", u"example.com", true},
        {u"see xn--fsqu00a.com", u"例子.com", true},
        {u"see 例子.com", u"xn--fsqu00a.com", true},
        {u"see XN--FSQU00A.COM", u"例子.com", true},
        {u"examp1e.com", u"example.com", false},
        {u"例子.cn", u"例子.com", false},
        // Prose that runs words together runs them up to an ASCII name, not into it; beside a
        // Chinese name it could be more of the name, so it is taken to be.
        {u"欢迎访问example.com获取更多", u"example.com", true},
        {u"欢迎访问例子.com获取更多", u"例子.com", false},
        {u"欢迎访问 例子.com获取更多", u"例子.com", true},
        {u"EXAMPLE.COM.", u"example.com", true},
        {u"example.com.cn example.com.", u"example.com", true},
        {u"mail me: me@example.com", u"example.com", true},
        {u"", u"example.com", false},
        {u"anything", u"", false},
    };
    for (const auto &c : cases)
        EXPECT_EQ(PageMentionsDomain(c.page, c.domain), c.mentioned) << QString::fromUtf16(c.page).toStdString();
}

TEST(RowUrl, KeepsHttpAndHttpsAndPrefixesTheRestWhichTheGridShowsWithoutHttp)
{
    EXPECT_EQ(RowUrl(u" a.com/x "), QStringLiteral("http://a.com/x"));
    EXPECT_EQ(RowUrl(u"https://a.com/"), QStringLiteral("https://a.com/"));
    EXPECT_EQ(RowUrl(u"HTTP://a.com"), QStringLiteral("HTTP://a.com"));
    EXPECT_EQ(RowUrl(u"ftp://a.com"), QStringLiteral("http://ftp://a.com"));
    EXPECT_EQ(RowUrl(u"https:/a.com"), QStringLiteral("http://https:/a.com"));
    EXPECT_EQ(GridAddress(u"HTTP://a.com/x"), QStringLiteral("a.com/x"));
    EXPECT_EQ(GridAddress(u"Https://a.com/x"), QStringLiteral("Https://a.com/x"));
    EXPECT_EQ(GridAddress(u"http:/a.com"), QStringLiteral("http:/a.com"));
}

class ParseIntoGrid : public ::testing::Test {
protected:
    void Parse(const QString &page, const QString &domain = QStringLiteral("example.com"))
    {
        analysis.ParseSearchResults(page, domain);
    }

    BacklinkAnalysis analysis;
    RunRecorder window{analysis};
};

TEST_F(ParseIntoGrid, NumbersOrganicRowsAndLeavesPaidOnesOut)
{
    Parse(SearchResultPage(QStringLiteral("约4"), {{"a.com/x"}, {"ad.com", true}, {"b.com"}, {"ad2.com", true}, {"c.com"}}));

    EXPECT_EQ(window.tipLine, QStringLiteral("提示：当前站点 example.com 的外链数为：  约4 条"));
    EXPECT_EQ(window.Addresses(), (QStringList{"a.com/x ", "b.com ", "c.com "}));
    EXPECT_EQ(window.Verdicts(), (QStringList{"等待检测", "等待检测", "等待检测"}));
    EXPECT_EQ(analysis.Rows().back().number, 3);
    EXPECT_EQ(analysis.Rows().back().url, QStringLiteral("http://c.com"));
    EXPECT_EQ(window.events, (QStringList{QStringLiteral("TipLine:提示：当前站点 example.com 的外链数为：  约4 条"), "RowsListed"}));
}

TEST_F(ParseIntoGrid, APageWithoutMarkersKeepsTheTipAndEmptiesTheGrid)
{
    Parse(SearchResultPage(QStringLiteral("约1"), {{"old.com"}}));
    window.events.clear();
    Parse(QStringLiteral("<html><body>403 Forbidden</body></html>"));

    EXPECT_EQ(window.events, QStringList{"RowsListed"});
    EXPECT_TRUE(analysis.Rows().empty());
}

TEST_F(ParseIntoGrid, NoResultsSentenceStillListsResults)
{
    Parse(SearchResultPage(QStringLiteral("5"), {{"a.com"}}, true));
    EXPECT_EQ(window.tipLine, QStringLiteral("提示：当前站点 example.com 的外链数为：0 条"));
    EXPECT_EQ(window.Addresses(), QStringList{"a.com "});
}

TEST_F(ParseIntoGrid, AtMostFiftyRowsFromAHugePage)
{
    QString page = QStringLiteral("找到相关网页40,000篇，用时");
    for (int i = 0; i < 40'000; ++i)
        page += kMarker + QStringLiteral("http://h%1.cn/ ").arg(i);
    Parse(page);
    ASSERT_EQ(analysis.Rows().size(), 50u);
    EXPECT_EQ(analysis.Rows().back().number, 50);
    EXPECT_EQ(analysis.Rows().back().address, QStringLiteral("h49.cn"));
}

} // namespace
