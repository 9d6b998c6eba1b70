// Results leaving the program (clipboard text, HTML, CSV) and address lists coming in.

#include "QtPrinters.h"

#include "DisavowRules.h"

#include <AddressList.h>
#include <Disavow.h>
#include <ResultExport.h>

#include <QStringEncoder>

#include <QBuffer>

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
    std::vector<ResultRow> rows = {
        {1, QString(), QStringLiteral("a.com/x "), RowState::Judged,
         Judged(200, {{QStringLiteral("http://example.com/"), QStringLiteral("我的站, \"首页\""), true}, {QStringLiteral("http://example.com/b"), QStringLiteral("=1+1")}}, true)},
        {2, QString(), QStringLiteral("=HYPERLINK(\"x\")"), RowState::Judged, failed},
        {3, QString(), QStringLiteral("-b.com\nnext"), RowState::Waiting, std::nullopt},
        {4, QString(), QStringLiteral("@c.com"), RowState::Fetching, std::nullopt},
        {5, QString(), QStringLiteral("+d.com"), RowState::WaitingToRetry, std::nullopt, std::chrono::milliseconds(5500)},
        {6, QString(), QStringLiteral("e.com"), RowState::Rendering, std::nullopt},
    };
    rows[0].evidence->rendered = true;
    // What the page is worth: its canonical, the robots.txt's verdict, its outbound links, and
    // each link's target (the second's not known).
    rows[0].evidence->page.canonical = QStringLiteral("https://a.com/main");
    rows[0].evidence->robotsTxt = QStringLiteral("*, Googlebot");
    rows[0].evidence->page.outboundLinks = 3;
    rows[0].evidence->page.links[0].targetFailure = QStringLiteral("目标页返回 404");
    const QByteArray expected =
        "\xEF\xBB\xBF"
        "序号,外链地址,有效性,结果,HTTP状态,最终地址,链接数,锚文本,rel,页面robots,原因,检测时间,rendered,"
        "规范地址,robots.txt屏蔽,出站链接数,目标页\r\n"
        "1,a.com/x,有效,不传递权重,200,https://a.com/final,2,\"我的站, \"\"首页\"\" | =1+1\",nofollow | ,noindex,,"
        "2026-12-07T21:05:00,true,https://a.com/main,\"*, Googlebot\",3,目标页返回 404 | \r\n"
        "2,\"'=HYPERLINK(\"\"x\"\")\",无效,未能检测,,,,,,,连接超时,2026-12-07T21:06:00,false,,,,\r\n"
        "3,\"'-b.com\nnext\",等待检测,,,,,,,,,,,,,,\r\n"
        "4,'@c.com,检测中…,,,,,,,,,,,,,,\r\n"
        "5,'+d.com,等待重试（6 秒）,,,,,,,,,,,,,,\r\n"
        "6,e.com,渲染中…,,,,,,,,,,,,,,\r\n";
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
              QStringLiteral("1\ta.com/<b>\t有效\t传递权重\n2\tb c.com\t等待检测\t\n3\t@d.com\t等待检测\t\n"));
    EXPECT_EQ(RowsAsText(rows, false, FormulaGuard::Guarded),
              QStringLiteral("1\ta.com/<b>\t有效\t传递权重\n2\tb c.com\t等待检测\t\n3\t'@d.com\t等待检测\t\n"));
    EXPECT_EQ(RowsAsText(rows, true, FormulaGuard::Raw).section(u'\n', 0, 0),
              QStringLiteral("1\ta.com/<b>\t有效\t传递权重\t200\thttps://a.com/final\t1\t=HYPERLINK(\"http://evil.test/\",\"点我领奖\")"
                             "\t\t\t\t2026-12-07T21:05:00\tfalse\t\t\t\t"));
    EXPECT_TRUE(RowsAsText(rows, true, FormulaGuard::Guarded).section(u'\n', 0, 0).contains(u"\t'=HYPERLINK("));
    EXPECT_EQ(RowsAsHtml(rows, false),
              QStringLiteral("<table><tr><td>1</td><td>a.com/&lt;b&gt;</td><td>有效</td><td>传递权重</td></tr>"
                             "<tr><td>2</td><td>b\tc.com</td><td>等待检测</td><td></td></tr>"
                             "<tr><td>3</td><td>'@d.com</td><td>等待检测</td><td></td></tr></table>"));
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
        u"i.com./x\n"
        u"参考了 https://j.com/p?q=1。\n"
        u"http://k.com/ 和 http://l.com/\n");
    EXPECT_EQ(list.addresses, (QStringList{"http://a.com/x", "HTTPS://b.com", "http://c.com/page?q=1",
                                           QStringLiteral("http://例子.com"), "http://e.com:8080/x#y",
                                           "http://127.0.0.1:81?q", "http://[::1]:82/", "https://h.com:443/?a#b",
                                           "http://i.com./x", "https://j.com/p?q=1"}));
    EXPECT_EQ(list.rejectedLines, (std::vector<int>{6, 7, 8, 10, 11, 12, 13, 14, 18, 19, 20, 24}));
    EXPECT_FALSE(list.truncated);

    QString many;
    for (int i = 0; i <= 100'000; ++i)
        many += QStringLiteral("h%1.cn\n").arg(i);
    const AddressList capped = ReadAddressList(many);
    EXPECT_EQ(capped.addresses.size(), 100'000);
    EXPECT_EQ(capped.addresses.back(), QStringLiteral("http://h99999.cn"));
    EXPECT_TRUE(capped.truncated);
    EXPECT_EQ(AddressListSummary(capped), QStringLiteral("读取 100,001 个地址"));
    EXPECT_EQ(AddressListNotes(capped), QStringList{QStringLiteral("地址超过 100,000 个，只检测前 100,000 个。")});
    many.chop(QStringLiteral("h100000.cn\n").size());
    EXPECT_FALSE(ReadAddressList(many).truncated);
}

QByteArray Utf16(QStringView text, QStringConverter::Encoding encoding)
{
    QStringEncoder encoder(encoding, QStringConverter::Flag::WriteBom);
    return encoder.encode(text);
}

// Exports as the tools describe their columns, each written here by hand: the addresses taken
// from each, and what the user is told of it.
TEST(ReadAddressList, TakesTheSourcePageColumnOfKnownExports)
{
    const struct {
        const char *what;
        QByteArray bytes;
        QStringList addresses;
        QString summary;
        std::vector<int> skipped = {};
    } exports[] = {
        {"search console latest links: byte order mark, quoted address holding a comma, quoted dates",
         "\xEF\xBB\xBFLinking page,Last crawled\r\n"
         "https://a1.test/p,\"May 1, 2024\"\r\n"
         "\"https://a2.test/list?ids=1,2\",\"Apr 30, 2024\"\r\n"
         "https://a3.test/,\"Apr 29, 2024\"\r\n",
         {"https://a1.test/p", "https://a2.test/list?ids=1,2", "https://a3.test/"},
         "Search Console 导出：按表头「Linking page」读取 3 个地址"},
        {"search console latest links in Chinese",
         QStringLiteral("链接页面,上次抓取时间\nhttps://a4.test/,2024-05-01\n").toUtf8(), {"https://a4.test/"},
         "Search Console 导出：按表头「链接页面」读取 1 个地址"},
        {"Ahrefs: UTF-16 LE, tabs, a title over two lines, a row without a page",
         Utf16(u"Referring page title\tReferring page URL\tDomain rating\tTarget URL\tAnchor\tNofollow\n"
               u"\"Best\ttools,\nreviewed\"\thttps://blog.b1.test/tools\t45\thttps://example.com/\texample\tfalse\n"
               u"Post\thttps://b2.test/post?id=7\t12\thttps://example.com/a\tsee here\ttrue\n"
               u"No page\t\t3\thttps://example.com/\t\tfalse\n",
               QStringConverter::Utf16LE),
         {"https://blog.b1.test/tools", "https://b2.test/post?id=7"},
         "Ahrefs 导出：按表头「Referring page URL」读取 2 个地址（跳过 1 行）", {5}},
        {"Semrush",
         "Page ascore,Source title,Source url,Target url,Anchor,External links,Nofollow,First seen,Last seen\n"
         "34,A title,https://c1.test/a,https://example.com/,anchor,5,false,2024-01-01,2024-05-01\n"
         "7,\"Title, \"\"quoted\"\"\",http://c2.test/,https://example.com/b,,1,true,2024-02-01,2024-05-02\n",
         {"https://c1.test/a", "http://c2.test/"}, "Semrush 导出：按表头「Source url」读取 2 个地址"},
        {"Majestic, the target first",
         "Target URL,Source URL,Anchor Text,Source Crawl Date,Flag No Follow\n"
         "https://example.com/,https://d1.test/links,Example,2024-04-01,-\n"
         "https://example.com/,d2.test/blog,,2024-04-02,+\n",
         {"https://d1.test/links", "http://d2.test/blog"}, "Majestic 导出：按表头「Source URL」读取 2 个地址"},
        {"Moz",
         "URL,Title,Anchor Text,Spam Score,Domain Authority,Page Authority,Target URL\n"
         "https://e1.test/,Home,example,1,30,25,https://example.com/\n",
         {"https://e1.test/"}, "Moz 导出：按表头「URL」读取 1 个地址"},
        {"Bing, in capitals the tools share",
         "SOURCE URL,TARGET URL,ANCHOR TEXT\nhttps://g1.test/,https://example.com/,x\n",
         {"https://g1.test/"}, "按表头「SOURCE URL」读取 1 个地址"},
        {"a spreadsheet saved as UTF-16 with semicolons, no header",
         Utf16(u"友情链接;https://f1.test/x;2024-05-01\r\n合作;f2.test:8080/y;\r\n\r\n备注;;\r\n", QStringConverter::Utf16LE),
         {"https://f1.test/x", "http://f2.test:8080/y"}, "按第 2 列读取 2 个地址（跳过 1 行）", {4}},
        {"a spreadsheet in UTF-16 BE under a name of its own",
         Utf16(u"名称;网址\n甲;https://h1.test/\n", QStringConverter::Utf16BE), {"https://h1.test/"},
         "按表头「网址」读取 1 个地址"},
        {"a GBK list, one address a line",
         "# \xD3\xD1\xC1\xB4\r\nhttp://\xC0\xFD\xD7\xD3.com/\xD2\xB3\xC3\xE6\r\nk1.test/a,b\r\n\xC0\xFD\r\n",
         {QStringLiteral("http://例子.com/页面"), "http://k1.test/a,b"}, "读取 2 个地址（跳过 1 行）", {4}},
        {"a target column and nothing else", "Target URL,Clicks\nhttps://example.com/,3\n", {}, "读取 0 个地址（跳过 1 行）", {2}},
        {"a search console's top linking sites",
         "Site,Linking pages,Target pages\r\na1.test,12,3\r\nb1.test,4,1\r\n", {}, {}},
        {"binary junk, refused", QByteArrayLiteral("\x89PNG\r\n\x1A\n\0\0\0\rIHDR\0\x01\xFF\xFE,;\t\x80\nhttp://a.cn/\n"), {},
         {}},
    };
    for (const auto &file : exports) {
        const AddressList list = ReadAddressList(file.bytes);
        EXPECT_EQ(list.addresses, file.addresses) << file.what;
        EXPECT_EQ(AddressListSummary(list), file.summary) << file.what;
        EXPECT_EQ(list.rejectedLines, file.skipped) << file.what;
    }
    // What the exports with an anchor and a nofollow column said of each page's links.
    const auto exported = [](const QByteArray &bytes) {
        QStringList links;
        for (const ExportedPage &page : ReadAddressList(bytes).exported)
            for (const LinkEvidence &link : page.links)
                links << page.address + u' ' + link.anchor + (link.nofollow ? QStringLiteral(" nofollow") : QStringLiteral(" follow"));
        return links;
    };
    EXPECT_EQ(exported(exports[2].bytes), (QStringList{"https://blog.b1.test/tools example follow",
                                                       "https://b2.test/post?id=7 see here nofollow"}));
    EXPECT_EQ(exported(exports[3].bytes), (QStringList{"https://c1.test/a anchor follow", "http://c2.test/  nofollow"}));
    EXPECT_TRUE(exported(exports[0].bytes).isEmpty()) << "no anchor, no nofollow";
    EXPECT_EQ(AddressListNotes(ReadAddressList(exports[12].bytes)), QStringList{QStringLiteral("不是文本文件：这份列表")});
    const AddressList sites = ReadAddressList(exports[11].bytes);
    EXPECT_EQ(AddressListNotes(sites), QStringList{QStringLiteral("这份表格只列出网站，没有网页地址；请导出「最新链接」")});
    // Read for another site than the one the exports name, Majestic's target column first.
    for (const std::size_t named : {2u, 3u, 4u, 5u}) {
        const AddressList other = ReadAddressList(exports[named].bytes, QStringLiteral("www.gui.com"));
        EXPECT_TRUE(other.addresses.isEmpty()) << exports[named].what;
        EXPECT_EQ(AddressListNotes(other).last(), QStringLiteral("这份导出的目标网站是 example.com，不是 gui.com")) << exports[named].what;
    }
}

// A list far longer than one piece of reading reads as the same text given whole: records cut
// by a piece's end (quoted cells over several lines, CRLF, Chinese) are read once, whole; a
// line longer than any list's is skipped; memory does not hold the file.
TEST(ReadAddressList, ReadsAListAsItComes)
{
    QString text = QStringLiteral("Referring page URL,Target URL,Anchor,Nofollow\r\n");
    constexpr int kPages = 300, kRounds = 120;
    for (int round = 0; round < kRounds; ++round)
        for (int page = 0; page < kPages; ++page)
            text += QStringLiteral("https://p%1.test/文章,https://example.com/,\"锚文本 %2\r\n第二行\",%3\r\n")
                        .arg(page)
                        .arg(round)
                        .arg(round % 2 ? QStringLiteral("true") : QStringLiteral("false"));
    const QByteArray bytes = text.toUtf8();
    ASSERT_GT(bytes.size(), 2 * 1024 * 1024);
    QBuffer device;
    device.setData(bytes);
    ASSERT_TRUE(device.open(QIODevice::ReadOnly));
    const AddressList pieces = ReadAddressList(device, QStringLiteral("example.com"));
    const AddressList whole = ReadAddressList(QStringView(text), QStringLiteral("example.com"));
    EXPECT_EQ(pieces.addresses.size(), kPages);
    EXPECT_EQ(pieces.addresses, whole.addresses);
    EXPECT_EQ(pieces.rejected, 0);
    ASSERT_EQ(pieces.exported.size(), static_cast<std::size_t>(kPages));
    for (std::size_t page = 0; page < pieces.exported.size(); ++page) {
        ASSERT_EQ(pieces.exported[page].links.size(), static_cast<std::size_t>(kRounds));
        for (int round = 0; round < kRounds; ++round)
            ASSERT_EQ(pieces.exported[page].links[static_cast<std::size_t>(round)].anchor,
                      whole.exported[page].links[static_cast<std::size_t>(round)].anchor);
    }
    EXPECT_EQ(pieces.exported.back().links.back().anchor, QStringLiteral("锚文本 119 第二行"));

    // Two megabytes without a line break, then the list goes on.
    const QByteArray endless = "http://a.cn/\n" + QByteArray(2 * 1024 * 1024, 'x') + "\nhttp://b.cn/\n";
    const AddressList skipped = ReadAddressList(endless);
    EXPECT_EQ(skipped.addresses, (QStringList{"http://a.cn/", "http://b.cn/"}));
    EXPECT_EQ(skipped.rejectedLines, std::vector<int>{2});
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
        QString summary;
    } outputs[] = {
        {"csv export", QString::fromUtf8(RowsAsCsv(rows, true)), "Vantorel 导出：按表头「外链地址」读取 3 个地址"},
        {"copied rows", RowsAsText(rows, false, FormulaGuard::Guarded), "按第 2 列读取 3 个地址"},
        {"copied rows with evidence", RowsAsText(rows, true, FormulaGuard::Guarded), "按第 2 列读取 3 个地址"},
        {"tsv", ResultColumns(true).join(u'\t') + u'\n' + RowsAsText(rows, true, FormulaGuard::Raw),
         "Vantorel 导出：按表头「外链地址」读取 3 个地址"},
    };
    for (const auto &output : outputs) {
        const AddressList list = ReadAddressList(output.text);
        EXPECT_EQ(AddressListSummary(list), output.summary) << output.what;
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
         {"以下行不是网址，已跳过：第 1、2、3、4、5、6、7、8、9、10 等 12 行。", "地址超过 100,000 个，只检测前 100,000 个。",
          "没有可以检测的网址。"}},
    };
    for (const auto &c : cases) {
        AddressList list;
        list.addresses = c.addresses;
        list.rejectedLines = c.rejected;
        list.rejected = static_cast<int>(c.rejected.size());
        list.truncated = c.truncated;
        EXPECT_EQ(AddressListNotes(list), c.notes) << c.rejected.size();
    }
    AddressList read;
    read.header = QStringLiteral("Referring page URL");
    read.read = 1234;
    read.rejected = 3;
    EXPECT_EQ(AddressListSummary(read), QStringLiteral("按表头「Referring page URL」读取 1,234 个地址（跳过 3 行）"));
}

} // namespace

// Files the console takes, as a checker of its rules reads them, and those it would refuse,
// refused with the reason.
TEST(MakeDisavowFile, KeepsTheConsolesRulesAndRefusesWhatPassesItsLimits)
{
    const QDateTime made(QDate(2026, 12, 9), QTime(10, 30));
    const QString longPath = QStringLiteral("http://a.example.org/") + QString(2048 - 21, u'x');
    QStringList hundredThousand;
    for (int i = 0; i < 100'000; ++i)
        hundredThousand << QStringLiteral("http://a.cn/%1").arg(i);
    QStringList largePages; // 1,100 addresses of 2,000 characters: 2.2 MB
    for (int i = 0; i < 1100; ++i)
        largePages << QStringLiteral("http://p%1.example.org/").arg(i) + QString(1975, u'y');
    const struct {
        const char *what;
        QStringList entries;
        QStringList lines;    // after the comment line, when the file is made
        const char *refusal;  // when it is not
    } cases[] = {
        {"addresses, hosts, each once", {"http://a.example.org/x?b=1", "a.example.org/y", "https://b.example.org/", "domain:Spam.Example.org",
                                         "http://a.example.org/x?b=1", "domain:spam.example.org"},
         {"http://a.example.org/x?b=1", "http://a.example.org/y", "https://b.example.org/", "domain:spam.example.org"}, ""},
        {"Chinese addresses and hosts, encoded", {"http://中文.com/页面", "domain:链接.cn"},
         {"http://xn--fiq228c.com/%E9%A1%B5%E9%9D%A2", "domain:xn--gzu811i.cn"}, ""},
        {"an address of 2,048 characters", {longPath}, {longPath}, ""},
        {"one character more", {longPath + u'x'}, {}, "网址超过 2,048 个字符（第 2 行）：http://a.example.org/xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx…"},
        {"not an address", {"http://a.example.org/", "ftp://b.example.org/"}, {}, "无法识别的网址（第 3 行）：ftp://b.example.org/"},
        {"a domain line without a host", {"domain:"}, {}, "无法识别的网址（第 2 行）：domain:"},
        {"100,000 addresses and the comment: 100,001 lines", hundredThousand, {}, "超过 100,000 行（共 100,001 行）"},
        {"99,999 addresses and the comment", hundredThousand.mid(1), hundredThousand.mid(1), ""},
        {"more than 2 MB", largePages, {}, "超过 2 MB（共 2,200,079 字节）"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const DisavowFile file = MakeDisavowFile(QStringLiteral("example.com"), c.entries, made);
        EXPECT_EQ(file.refusal, QString::fromUtf8(c.refusal));
        if (!file.refusal.isEmpty()) {
            EXPECT_TRUE(file.text.isEmpty());
            continue;
        }
        EXPECT_EQ(DisavowRulesBroken(file.text), QString());
        QStringList lines = QString::fromUtf8(file.text).split(u'\n');
        EXPECT_EQ(lines.takeLast(), QString()) << "the last line ends too";
        EXPECT_EQ(lines.takeFirst(), QStringLiteral("# example.com 的拒绝链接文件：%1 条，由 Vantorel 生成于 2026-12-09 10:30")
                                          .arg(c.lines.size()));
        EXPECT_EQ(lines, c.lines);
    }
    // What the checker refuses, so that its word on the files above counts.
    EXPECT_NE(DisavowRulesBroken(QByteArray(100'001 * 2, '\n').replace("\n\n", "#\n")), QString());
    EXPECT_NE(DisavowRulesBroken("# fine\nhttp://a.example.org/\nwww.example.org\n"), QString());
    EXPECT_NE(DisavowRulesBroken("domain:http://example.org/\n"), QString());
    EXPECT_NE(DisavowRulesBroken("http://a.example.org/\xff\n"), QString());
}
