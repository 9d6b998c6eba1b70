// Reading the engine's result page: occurrence finder, count line, result addresses, and the
// rows ParseSearchResults writes.

#include "FakeWindow.h"
#include "ResultPages.h"

#include <BacklinkAnalysis.h>
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

TEST(ResultAddress, CutsAtTheFirstSpaceAndDropsQuotes)
{
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
        {QStringLiteral("www.d.com/\">no-space-anywhere"), QString()},
        {QStringLiteral("sho"), QString()},
        {QStringLiteral("\"\"q\"uoted\"/ x"), QStringLiteral("quoted")},
    };
    for (const Case &c : cases) {
        const QString page = PageWithLink(c.afterScheme);
        EXPECT_EQ(ResultAddress(page, MarkerPosition(page)), c.cell) << c.afterScheme.toStdString();
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

TEST(SearchQueryUrl, AsksForFiftyResultsOfTheDomainQuery)
{
    EXPECT_EQ(SearchQueryUrl(u"www.baidu.com", u"例子.com/x y"),
              QStringLiteral("http://www.baidu.com/s?q1=domain:例子.com/x y"
                             "&q2=&q3=&q4=&rn=50&lm=0&ct=0&ft=&q5=&q6=&tn=baiduadv"));
}

class ParseIntoGrid : public ::testing::Test {
protected:
    void Parse(const QString &page, const QString &domain = QStringLiteral(" example.com "))
    {
        window.domain = domain;
        window.pageSource = page;
        analysis.ParseSearchResults();
    }

    FakeWindow window;
    BacklinkAnalysis analysis{window};
};

TEST_F(ParseIntoGrid, NumbersOrganicRowsAndLeavesPaidOnesOut)
{
    window.grid.SetRowCount(30);
    Parse(SearchResultPage(QStringLiteral("约4"), {{"a.com/x"}, {"ad.com", true}, {"b.com"}, {"ad2.com", true}, {"c.com"}}));

    EXPECT_EQ(window.tipLine, QStringLiteral("提示：当前站点 example.com 的外链数为：  约4 条"));
    ASSERT_EQ(window.grid.GetRowCount(), 4);
    EXPECT_EQ(window.grid.Column(0), (QStringList{"1", "2", "3"}));
    EXPECT_EQ(window.grid.Column(1), (QStringList{"a.com/x ", "b.com ", "c.com "}));
    EXPECT_EQ(window.grid.Column(2), (QStringList{"等待检测", "等待检测", "等待检测"}));
    EXPECT_EQ(window.grid.headerFormat, kResultGridHeader);
    EXPECT_EQ(window.operations.mid(0, 2), (QStringList{"SetTipLine", "RepaintTipLine"}));
    EXPECT_GE(window.grid.repaints, 1);
    EXPECT_TRUE(window.pageSource.contains(QStringLiteral("c.com")));
}

TEST_F(ParseIntoGrid, APageWithoutMarkersKeepsTheTipAndEmptiesTheGrid)
{
    window.grid.SetRowCount(17);
    window.grid.SetCellText(3, 1, "old");
    Parse(QStringLiteral("<html><body>403 Forbidden</body></html>"));

    EXPECT_EQ(window.tipLine, QStringLiteral("initial tip"));
    EXPECT_EQ(window.operations.mid(0, 1), QStringList{"RepaintTipLine"});
    EXPECT_EQ(window.grid.GetRowCount(), 1);
    EXPECT_EQ(window.grid.headerFormat, kResultGridHeader);
}

TEST_F(ParseIntoGrid, NoResultsSentenceStillListsResults)
{
    Parse(SearchResultPage(QStringLiteral("5"), {{"a.com"}}, true));
    EXPECT_EQ(window.tipLine, QStringLiteral("提示：当前站点 example.com 的外链数为：0 条"));
    EXPECT_EQ(window.grid.Column(1), QStringList{"a.com "});
}

TEST_F(ParseIntoGrid, MoreThanSixteenBitsOfResults)
{
    QString page = QStringLiteral("找到相关网页40,000篇，用时");
    for (int i = 0; i < 40'000; ++i)
        page += kMarker + QStringLiteral("http://h%1.cn/ ").arg(i);
    Parse(page);
    ASSERT_EQ(window.grid.GetRowCount(), 40'001);
    EXPECT_EQ(window.grid.GetCellText(40'000, 0), QStringLiteral("40000"));
    EXPECT_EQ(window.grid.GetCellText(40'000, 1), QStringLiteral("h39999.cn"));
    // The last row is on the screen when parsing ends.
    EXPECT_EQ(window.grid.rowsAtLastRepaint, 40'001);
}

} // namespace
