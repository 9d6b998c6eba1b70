// Results leaving the program (clipboard text, HTML, CSV) and address lists coming in.

#include "QtPrinters.h"

#include <ResultExport.h>

#include <gtest/gtest.h>

using namespace vantorel;

namespace {

RowEvidence Judged(long status, std::vector<LinkEvidence> links, bool noindex = false)
{
    RowEvidence evidence;
    evidence.pageHad = true;
    evidence.httpStatus = status;
    evidence.finalUrl = QStringLiteral("https://a.com/final");
    evidence.mentionsDomain = true;
    evidence.page.links = std::move(links);
    evidence.page.robots.noindex = noindex;
    evidence.checkedAt = QDateTime(QDate(2026, 12, 7), QTime(21, 5, 0));
    return evidence;
}

TEST(RowsAsCsv, HeaderQuotingFormulaGuardAndCrlf)
{
    RowEvidence failed;
    failed.failureCause = QStringLiteral("连接超时");
    failed.checkedAt = QDateTime(QDate(2026, 12, 7), QTime(21, 6, 0));
    const std::vector<ResultRow> rows = {
        {1, QString(), QStringLiteral("a.com/x "), RowState::Judged,
         Judged(200, {{QStringLiteral("http://example.com/"), QStringLiteral("我的站, \"首页\""), true}, {QStringLiteral("http://example.com/b"), QStringLiteral("=1+1")}}, true)},
        {2, QString(), QStringLiteral("=HYPERLINK(\"x\")"), RowState::Judged, failed},
        {3, QString(), QStringLiteral("-b.com\nnext"), RowState::Waiting, std::nullopt},
        {4, QString(), QStringLiteral("@c.com"), RowState::Fetching, std::nullopt},
        {5, QString(), QStringLiteral("+d.com"), RowState::WaitingToRetry, std::nullopt, std::chrono::milliseconds(5500)},
    };
    const QByteArray expected =
        "\xEF\xBB\xBF"
        "序号,外链地址,有效性,结果,HTTP状态,最终地址,链接数,锚文本,rel,页面robots,原因,检测时间\r\n"
        "1,a.com/x,有效,不传递权重,200,https://a.com/final,2,\"我的站, \"\"首页\"\" | =1+1\",nofollow | ,noindex,,"
        "2026-12-07T21:05:00\r\n"
        "2,\"'=HYPERLINK(\"\"x\"\")\",无效,未能检测,,,,,,,连接超时,2026-12-07T21:06:00\r\n"
        "3,\"'-b.com\nnext\",等待检测,,,,,,,,,\r\n"
        "4,'@c.com,检测中…,,,,,,,,,\r\n"
        "5,'+d.com,等待重试（6 秒）,,,,,,,,,\r\n";
    EXPECT_EQ(RowsAsCsv(rows, true).toStdString(), expected.toStdString());
    EXPECT_EQ(RowsAsCsv(rows, false), expected.mid(3));
}

TEST(RowsAsText, TabsBetweenTrimmedCellsRawForProgramsGuardedAndEscapedForTheClipboard)
{
    const std::vector<ResultRow> rows = {
        {1, QString(), QStringLiteral("a.com/<b> "), RowState::Judged,
         Judged(200, {{QStringLiteral("http://example.com/"), QStringLiteral("=HYPERLINK(\"http://evil.test/\",\"点我领奖\")")}})},
        {2, QString(), QStringLiteral("b\tc.com"), RowState::Waiting, std::nullopt},
        {3, QString(), QStringLiteral("@d.com"), RowState::Waiting, std::nullopt},
    };
    EXPECT_EQ(RowsAsText(rows, false, FormulaGuard::Raw),
              QStringLiteral("1\ta.com/<b>\t有效\n2\tb c.com\t等待检测\n3\t@d.com\t等待检测\n"));
    EXPECT_EQ(RowsAsText(rows, false, FormulaGuard::Guarded),
              QStringLiteral("1\ta.com/<b>\t有效\n2\tb c.com\t等待检测\n3\t'@d.com\t等待检测\n"));
    EXPECT_EQ(RowsAsText(rows, true, FormulaGuard::Raw).section(u'\n', 0, 0),
              QStringLiteral("1\ta.com/<b>\t有效\t传递权重\t200\thttps://a.com/final\t1\t=HYPERLINK(\"http://evil.test/\",\"点我领奖\")"
                             "\t\t\t\t2026-12-07T21:05:00"));
    EXPECT_TRUE(RowsAsText(rows, true, FormulaGuard::Guarded).section(u'\n', 0, 0).contains(u"\t'=HYPERLINK("));
    EXPECT_EQ(RowsAsHtml(rows, false),
              QStringLiteral("<table><tr><td>1</td><td>a.com/&lt;b&gt;</td><td>有效</td></tr>"
                             "<tr><td>2</td><td>b\tc.com</td><td>等待检测</td></tr>"
                             "<tr><td>3</td><td>'@d.com</td><td>等待检测</td></tr></table>"));
    EXPECT_TRUE(RowsAsHtml(rows, true).contains(u"<td>'=HYPERLINK(&quot;http://evil.test/&quot;,&quot;点我领奖&quot;)</td>"));
}

TEST(ReadAddressList, KeepsAddressesSkipsTheRestAndSaysWhichLines)
{
    const AddressList list = ReadAddressList(
        u"# my list\r\n"
        u"http://a.com/x\r\n"
        u"\r\n"
        u"  HTTPS://b.com  \n"
        u"c.com/page?q=1\n"
        u"not an address\n"
        u"ftp://d.com/\n"
        u"http://\n"
        u"例子.com\n"
        u"abc\n"
        u"垃圾\n"
        u"1234\n"
        u"mailto:a@b.c\n"
        u"javascript:alert(1)\n"
        u"e.com:8080/x#y\n"
        u"127.0.0.1:81?q\n"
        u"[::1]:82/\n"
        u"f.com:/x\n"
        u"user@g.com/\n"
        u"http://localhost/\n"
        u"https://h.com:443/?a#b\n"
        u"i.com./x\n");
    EXPECT_EQ(list.addresses, (QStringList{"http://a.com/x", "HTTPS://b.com", "http://c.com/page?q=1",
                                           QStringLiteral("http://例子.com"), "http://e.com:8080/x#y",
                                           "http://127.0.0.1:81?q", "http://[::1]:82/", "https://h.com:443/?a#b",
                                           "http://i.com./x"}));
    EXPECT_EQ(list.rejectedLines, (std::vector<int>{6, 7, 8, 10, 11, 12, 13, 14, 18, 19, 20}));
    EXPECT_FALSE(list.truncated);

    QString many;
    for (int i = 0; i < kMaxListedAddresses + 5; ++i)
        many += QStringLiteral("h%1.cn\n").arg(i);
    const AddressList capped = ReadAddressList(many);
    EXPECT_EQ(capped.addresses.size(), kMaxListedAddresses);
    EXPECT_EQ(capped.addresses.back(), QStringLiteral("http://h999.cn"));
    EXPECT_TRUE(capped.truncated);
}

// The program's own output read back as a list: the CSV export (records over several lines
// included), rows copied from the grid, and the command line's TSV with its header.
TEST(ReadAddressList, TakesTheAddressColumnOfTheProgramsOwnOutput)
{
    RowEvidence multiline = Judged(200, {{QStringLiteral("http://example.com/"), QStringLiteral("第一行\n\"第二行\", 逗号")}});
    const std::vector<ResultRow> rows = {
        {1, QString(), QStringLiteral("a.com/x,y"), RowState::Judged, multiline},
        {2, QString(), QStringLiteral("https://b.com/"), RowState::Waiting, std::nullopt},
        {3, QString(), QStringLiteral("c.com"), RowState::Judged, Judged(404, {})},
    };
    const QStringList expected{"http://a.com/x,y", "https://b.com/", "http://c.com"};
    const struct {
        const char *what;
        QString text;
    } outputs[] = {
        {"csv export", QString::fromUtf8(RowsAsCsv(rows, true))},
        {"copied rows", RowsAsText(rows, false, FormulaGuard::Guarded)},
        {"copied rows with evidence", RowsAsText(rows, true, FormulaGuard::Guarded)},
        {"tsv", ResultColumns(true).join(u'\t') + u'\n' + RowsAsText(rows, true, FormulaGuard::Raw)},
    };
    for (const auto &output : outputs) {
        const AddressList list = ReadAddressList(output.text);
        EXPECT_EQ(list.addresses, expected) << output.what;
        EXPECT_TRUE(list.rejectedLines.empty()) << output.what << ": " << list.rejectedLines.front();
    }
}

TEST(AddressListNotes, NamesTenSkippedLinesAtMost)
{
    const struct {
        std::vector<int> rejected;
        QStringList addresses;
        bool truncated;
        QStringList notes;
    } cases[] = {
        {{}, {"http://a.com"}, false, {}},
        {{3}, {"http://a.com"}, false, {"以下行不是网址，已跳过：第 3 行。"}},
        {{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, {"http://a.com"}, false, {"以下行不是网址，已跳过：第 1、2、3、4、5、6、7、8、9、10 行。"}},
        {{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 3001}, {}, true,
         {"以下行不是网址，已跳过：第 1、2、3、4、5、6、7、8、9、10 等 12 行。", "地址超过 1000 个，只检测前 1000 个。",
          "没有可以检测的网址。"}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(AddressListNotes({c.addresses, c.rejected, c.truncated}), c.notes) << c.rejected.size();
}

} // namespace
