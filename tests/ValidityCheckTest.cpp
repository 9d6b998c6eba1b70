// The validity check: every listed page fetched and judged, row by row.

#include "ResultPages.h"
#include "RunRecorder.h"
#include "TestWeb.h"

#include "WidgetLookup.h"

#include <BacklinkAnalysis.h>
#include <FormMain.h>
#include <GridActions.h>
#include <ResultModel.h>

#include <QAction>
#include <QClipboard>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QTimer>
#include <QMenu>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocument>

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>

using namespace vantorel;

namespace {

using namespace std::chrono_literals;

const QString kChecked = QStringLiteral("网站地址有效性检测完成...");

// What a rich-text tool tip shows.
QString ShownText(const QString &toolTip)
{
    QTextDocument document;
    document.setHtml(toolTip);
    return document.toPlainText();
}

class Check : public ::testing::Test {
protected:
    // Lists the addresses (given without "http://") and judges them against the domain.
    void CheckList(const QStringList &addresses, const QString &domain = QStringLiteral("example.com"))
    {
        QStringList urls;
        for (const QString &address : addresses)
            urls << QStringLiteral("http://") + address;
        analysis.CheckAddresses(urls, domain);
        ASSERT_TRUE(window.WaitForEnd());
    }

    TestWeb web;
    BacklinkAnalysis analysis{QuickSettings(web.server().hostAndPort())};
    RunRecorder window{analysis};
};

TEST_F(Check, JudgesEachPageByASearchThatIgnoresCase)
{
    web.SetPage("/has", "<a href=\"http://example.com/\">us</a>");
    web.SetPage("/upper", "<a href=\"http://EXAMPLE.COM/\">us</a>");
    web.SetPage("/longer", "see www.myexample.com.cn");
    web.SetPage("/missing", "<html>about something else</html>");
    web.SetPage("/gone", "example.com was here", 404);
    const QString closed = QStringLiteral("127.0.0.1:%1/x").arg(LoopbackServer::ClosedPort());
    CheckList({web.Address("/has") + " ", web.Address("/upper"), web.Address("/longer"), web.Address("/missing"),
               web.Address("/gone"), closed});

    // A longer host that ends in the domain's letters names another site.
    EXPECT_EQ(window.Verdicts(), (QStringList{"有效", "有效", "无效", "无效", "有效", "无效"}));
    for (const ResultRow &row : analysis.Rows())
        EXPECT_LT(std::abs(row.evidence->checkedAt.secsTo(QDateTime::currentDateTime())), 60);
    EXPECT_EQ(web.RequestsFor("/has HTTP/1.1"), 1) << "the trailing space is not sent";
    EXPECT_FALSE(window.panelVisible);
    EXPECT_EQ(window.finished, RunOutcome::Completed);
}

// A verdict lands as soon as its page is judged, while the status stays on the lowest row
// still being checked, which shows so; an address listed twice is fetched once and both rows
// get its verdict.
TEST_F(Check, VerdictsLandAsJudgedAndAnAddressListedTwiceIsFetchedOnce)
{
    web.SetPage("/slow", "example.com");
    web.SetPage("/a", "nothing");
    web.OnRequest([](const std::string &path) {
        if (path == "/slow")
            std::this_thread::sleep_for(300ms);
    });
    QString slowRowWhileOthersLanded;
    window.onEvent = [&](const QString &event) {
        if (event == u"RowJudged:2")
            slowRowWhileOthersLanded = analysis.Rows()[0].Verdict();
    };
    CheckList({web.Address("/slow"), web.Address("/a"), web.Address("/a")});

    EXPECT_EQ(window.statuses,
              (QStringList{QStringLiteral("开始检测,需要的时间较长..."), "开始分析第 1/3 条网址..", kChecked}));
    const qsizetype firstJudged = window.events.indexOf("RowJudged:1");
    EXPECT_EQ(window.events.mid(firstJudged, 4),
              (QStringList{"RowJudged:1", "RowJudged:2", "RowJudged:0", "Status:" + kChecked}));
    EXPECT_EQ(slowRowWhileOthersLanded, QStringLiteral("检测中…"));
    EXPECT_EQ(window.Verdicts(), (QStringList{"有效", "无效", "无效"}));
    EXPECT_EQ(web.RequestsFor("/a "), 1);
}

TEST_F(Check, AnEmptyListFetchesNothingAndHidesThePanelAfterThePause)
{
    analysis.Settings().pause = 300ms;
    QElapsedTimer sinceChecked;
    window.onEvent = [&](const QString &event) {
        if (event == "Status:" + kChecked)
            sinceChecked.start();
    };
    CheckList({});

    EXPECT_EQ(web.server().requestCount(), 0);
    EXPECT_EQ(window.statuses.last(), kChecked);
    EXPECT_FALSE(window.panelVisible);
    EXPECT_GE(sinceChecked.elapsed(), 300) << "the panel goes only after the pause";
}

TEST_F(Check, AFailedFetchOrAnEmptyDomainIsNeverValid)
{
    // A page whose whole text reads like a failure message is still a page.
    web.SetPage("/a", GbkBytes(QStringLiteral("查看源码失败. 127.0.0.1")));
    const QString closed = QStringLiteral("127.0.0.1:%1/").arg(LoopbackServer::ClosedPort());

    // A domain found in any failure text (the HTTP client names the address it could not
    // reach) must not turn a failure into a link.
    CheckList({closed, QString(), web.Address("/a")}, QStringLiteral("127.0.0.1"));
    EXPECT_EQ(window.Verdicts(), (QStringList{"无效", "无效", "有效"}));

    analysis.CheckLinkValidity(QString());
    ASSERT_TRUE(window.WaitForEnd());
    EXPECT_EQ(window.Verdicts(), (QStringList{"无效", "无效", "无效"}));
}

// A page that fails for a passing reason is fetched again later, after the server's
// Retry-After when it asks for longer; the row is judged from the last try and says how many
// there were. No retries: one request. Esc while a retry waits: nothing more is asked.
TEST_F(Check, PassingFailuresAreTriedAgain)
{
    std::mutex mutex;
    std::vector<std::chrono::steady_clock::time_point> asked;
    int answers503 = 0;
    LoopbackServer flaky([&](LoopbackServer::Connection &connection) {
        std::lock_guard lock(mutex);
        asked.push_back(std::chrono::steady_clock::now());
        const int n = static_cast<int>(asked.size());
        if (n == 2)
            connection.respond(503, "busy", "Retry-After: 1\r\n");
        else if (n <= answers503)
            connection.respond(503, "busy");
        else
            connection.respond(200, "<a href=\"http://example.com/\">us</a>");
    });
    analysis.Settings().retry.delays = {50ms, 100ms};
    analysis.Settings().retry.jitter = 0;
    const auto run = [&](int retries, int failures) {
        std::lock_guard lock(mutex);
        asked.clear();
        answers503 = failures;
        analysis.Settings().retry.retries = retries;
    };

    run(2, 2);
    CheckList({flaky.hostAndPort() + "/p"});
    ASSERT_EQ(asked.size(), 3u);
    EXPECT_GE(asked[2] - asked[1], 1s) << "the server's Retry-After was not waited for";
    EXPECT_EQ(window.Verdicts(), QStringList{"有效"});
    EXPECT_EQ(analysis.Rows()[0].evidence->attempts, 3);
    EXPECT_EQ(Strength(*analysis.Rows()[0].evidence), VerdictStrength::PassesWeight);

    run(0, 100);
    CheckList({flaky.hostAndPort() + "/p"});
    EXPECT_EQ(asked.size(), 1u);
    EXPECT_EQ(Strength(*analysis.Rows()[0].evidence), VerdictStrength::Unreachable);

    run(2, 100);
    CheckList({flaky.hostAndPort() + "/p"});
    EXPECT_EQ(asked.size(), 3u);
    EXPECT_EQ(analysis.Rows()[0].evidence->attempts, 3);
    EXPECT_EQ(Strength(*analysis.Rows()[0].evidence), VerdictStrength::Unreachable);

    run(2, 100);
    analysis.Settings().retry.delays = {1500ms};
    analysis.CheckAddresses({flaky.url("/p")}, QStringLiteral("example.com"));
    ASSERT_TRUE(WaitFor([&] { return analysis.Rows()[0].state == RowState::WaitingToRetry; }));
    EXPECT_EQ(window.Verdicts(), QStringList{"等待重试（2 秒）"});
    QElapsedTimer stopping;
    stopping.start();
    EXPECT_TRUE(analysis.Stop());
    EXPECT_LT(stopping.elapsed(), 100);
    EXPECT_EQ(window.Verdicts(), QStringList{"等待检测"});
    QTest::qWait(1700);
    EXPECT_EQ(asked.size(), 1u) << "a retry was sent after Esc";
}

// A bot challenge stands between the check and the page: its row is unreachable, never removed.
// A page that sends the visitor on within 10 s is followed as a redirect is, to any host, under
// the same limit of 10, and its row shows where it ended; a retry asks for that address again.
// The refresh counts wherever it stands, but not inside <noscript>, which a browser skips.
TEST_F(Check, ChallengePagesAreUnreachableAndRefreshesAreFollowed)
{
    const std::string link = "<a href=\"http://example.com/\">us</a>";
    std::atomic<int> busyAnswers{0};
    LoopbackServer elsewhere(
        [&](LoopbackServer::Connection &connection) {
            if (connection.path() == "/busy" && busyAnswers++ == 0)
                connection.respond(503, "busy");
            else
                connection.respond(200, link);
        },
        "127.0.0.2");
    const auto refresh = [](const std::string &content) {
        return "<html><head><meta http-equiv=\"Refresh\" content=\"" + content + "\"></head><body>moved</body></html>";
    };
    const std::string utf8 = "Content-Type: text/html; charset=utf-8\r\n";
    const std::string cloudflare = "Server: cloudflare\r\n";
    using enum VerdictStrength;
    const struct {
        std::string path;
        LoopbackServer::Page page;
        VerdictStrength strength;
        const char16_t *cause = u"";
        QString finalUrl = {}; // when the row's own address is not where it ended
        long redirects = 0;
    } cases[] = {
        {"/cf-header", {200, "<title>Welcome</title>", "cf-mitigated: challenge\r\n"}, Unreachable,
         u"被网站的访问防护拦截（cf-mitigated: challenge）"},
        {"/cf-503", {503, "<title>Just a moment...</title>", cloudflare}, Unreachable,
         u"被网站的访问防护拦截（Cloudflare「Just a moment...」）"},
        {"/cf-403", {403, "<title>Attention Required! | Cloudflare</title>", cloudflare}, Unreachable,
         u"被网站的访问防护拦截（Cloudflare「Attention Required! | Cloudflare」）"},
        {"/cf-200", {200, "<title>Just a moment...</title>", cloudflare}, Removed},
        {"/verify", {200, "<title>百度安全验证</title><div id=captcha></div>", utf8}, Unreachable,
         u"被网站的访问防护拦截（验证页「安全验证」）"},
        {"/verify-long", {200, "<title>人机验证</title>" + std::string(40 * 1024, 'x'), utf8}, Removed},
        {"/plain", {200, "<title>新闻</title><p>nothing</p>", utf8}, Removed},
        {"/refresh", {200, refresh("3; url=" + elsewhere.url("/target").toStdString()), ""}, PassesWeight, u"",
         elsewhere.url("/target"), 1},
        {"/hop", {302, "", "Location: /refresh\r\n"}, PassesWeight, u"", elsewhere.url("/target"), 2},
        {"/refresh-busy", {200, refresh("0;URL='" + elsewhere.url("/busy").toStdString() + "'"), ""}, PassesWeight, u"",
         elsewhere.url("/busy"), 1},
        {"/refresh-late", {200, refresh("11; url=" + elsewhere.url("/target").toStdString()), ""}, Removed},
        {"/refresh-ftp", {200, refresh("0; url=ftp://127.0.0.2/target"), ""}, Removed},
        {"/loop", {200, refresh("0; url=/loop"), ""}, Unreachable, u"重定向过多", web.server().url("/loop"), 10},
        {"/refresh-body",
         {200, "<p>moved</p><div><meta http-equiv=refresh content=\"0; url=" + elsewhere.url("/target").toStdString() +
                   "\"></div>", ""},
         PassesWeight, u"", elsewhere.url("/target"), 1},
        {"/refresh-noscript",
         {200, "<head><noscript><meta http-equiv=refresh content=\"0; url=" + elsewhere.url("/target").toStdString() +
                   "\"></noscript></head><body>moved</body>", ""},
         Removed},
    };
    QStringList addresses;
    for (const auto &c : cases) {
        web.SetPage(c.path, c.page.body, c.page.status, c.page.extraHeaders);
        addresses << web.Address(c.path);
    }
    analysis.Settings().retry = {1, {50ms}, 0};
    CheckList(addresses);

    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const auto &c = cases[i];
        const RowEvidence &evidence = *analysis.Rows().at(i).evidence;
        EXPECT_EQ(Strength(evidence), c.strength) << c.path;
        EXPECT_EQ(evidence.failureCause, QString::fromUtf16(c.cause)) << c.path;
        EXPECT_EQ(evidence.finalUrl, c.finalUrl.isEmpty() ? web.server().url(c.path) : c.finalUrl) << c.path;
        EXPECT_EQ(evidence.redirects, c.redirects) << c.path;
    }
    EXPECT_EQ(web.RequestsFor("/loop "), 11) << "the first page and 10 refreshes";
    EXPECT_EQ(web.RequestsFor("/refresh-busy "), 1) << "the retry asks for where the page sent the visitor";
    EXPECT_EQ(analysis.Rows().at(9).evidence->attempts, 2);
    EXPECT_EQ(busyAnswers, 2);
}

// Esc or a closed window after the first verdict: it stays, the rows not judged wait again,
// and the run says nothing more.
TEST_F(Check, StopOrAbandonAfterAVerdictLeavesTheRestWaiting)
{
    web.SetPage("/a", "x");
    for (const bool abandon : {false, true}) {
        window.events.clear();
        QString firstJudged;
        window.onEvent = [&](const QString &event) {
            if (firstJudged.isEmpty() && event.startsWith(u"RowJudged:")) {
                firstJudged = event;
                abandon ? analysis.Abandon() : void(analysis.Stop());
            }
        };
        CheckList({web.Address("/a"), web.Address("/a?2"), web.Address("/a?3")});
        QStringList verdicts = window.Verdicts();
        EXPECT_EQ(verdicts.takeAt(firstJudged.section(u':', 1).toInt()), QStringLiteral("无效")) << abandon;
        EXPECT_EQ(verdicts, (QStringList{"等待检测", "等待检测"})) << abandon;
        EXPECT_EQ(window.events.last(), abandon ? firstJudged : "Finished") << abandon;
        QTest::qWait(100);
        EXPECT_EQ(window.events.last(), abandon ? firstJudged : "Finished") << "spoke after it ended";
    }
}

// A header click during the check sorts the rows at once; rows are keyed, so each verdict still
// lands on its own row. A new listing forgets the sort.
TEST(CheckInWindow, HeaderClickDuringTheCheckSortsAndVerdictsFindTheirRows)
{
    TestWeb web;
    web.SetPage("/c", "example.com");
    web.SetPage("/b", "nothing");
    web.SetPage("/a", "example.com");
    web.SetResultPage(SearchResultPage("3", {{web.Address("/c")}, {web.Address("/b")}, {web.Address("/a")}}));
    FormMain window(QuickSettings(web.server().hostAndPort()));
    Child<QLineEdit>(window, "Text1")->setText(QStringLiteral("example.com"));
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    auto *table = Child<QTableView>(window, "FlexGrid");
    QHeaderView *header = table->horizontalHeader();
    auto clickAddressHeader = [header] {
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                          QPoint(header->sectionViewportPosition(1) + 20, header->height() / 2));
    };
    // The user clicks the address header while the first row's page is on its way.
    web.OnRequest([&](const std::string &path) {
        if (path == "/c")
            QMetaObject::invokeMethod(&window, clickAddressHeader, Qt::QueuedConnection);
    });
    QTest::mouseClick(Child<QPushButton>(window, "Command1"), Qt::LeftButton);
    ASSERT_TRUE(WaitFor([&] { return !window.Analysis().Running(); }));

    for (const char *path : {"/a", "/b", "/c"})
        EXPECT_EQ(web.RequestsFor(std::string(path) + " "), 1) << path;
    EXPECT_TRUE(header->isSortIndicatorShown());
    const QStringList sorted[] = {{"3", web.Address("/a") + " ", "有效"},
                                  {"2", web.Address("/b") + " ", "无效"},
                                  {"1", web.Address("/c") + " ", "有效"}};
    for (int row = 0; row < 3; ++row)
        EXPECT_EQ((QStringList{GridText(window, row, 0), GridText(window, row, 1), GridText(window, row, 2)}), sorted[row]);
    // The arrow has room of its own beside the caption.
    EXPECT_GE(header->sectionSize(1), QFontMetrics(header->font()).horizontalAdvance(GridText(window, 0, 1)));

    window.Analysis().CheckAddresses({QStringLiteral("http://") + web.Address("/c")}, QStringLiteral("example.com"));
    EXPECT_FALSE(header->isSortIndicatorShown());
}

// The verdict cell shows the strength of a row in its colour and says why in its tool tip; the
// address cell's tool tip holds the whole address and, after a redirect, where it ended.
TEST(CheckInWindow, VerdictColoursAndToolTips)
{
    TestWeb web;
    web.SetPage("/link", "<a href=\"http://www.example.com/\">我的站</a>");
    web.SetPage("/nofollow", "<a href=\"http://example.com/\" rel=\"nofollow\">我的站</a>");
    web.SetPage("/moved", "", 301);
    web.SetPage("/none", "nothing here");
    web.SetPage("/busy", "", 503);
    web.SetResultPage(SearchResultPage("5", {{web.Address("/link")}, {web.Address("/nofollow")},
                                             {web.Address("/moved")}, {web.Address("/none")}, {web.Address("/busy")}}));
    FormMain window(QuickSettings(web.server().hostAndPort()));
    Child<QLineEdit>(window, "Text1")->setText(QStringLiteral("example.com"));
    QTest::mouseClick(Child<QPushButton>(window, "Command1"), Qt::LeftButton);
    ASSERT_TRUE(WaitFor([&] { return !window.Analysis().Running(); }));

    const QAbstractItemModel *model = Child<QTableView>(window, "FlexGrid")->model();
    const struct {
        const char *colour;
        const char16_t *toolTip;
    } rows[] = {
        {"#c8e6c9", u"HTTP 200 · 1 个链接：「我的站」"},
        {"#ffe082", u"HTTP 200 · 1 个链接：「我的站」(nofollow)"},
        {"#ffcdd2", u"外链已失效：页面不再提及该域名 · HTTP 301"},
        {"#ffcdd2", u"外链已失效：页面不再提及该域名 · HTTP 200"},
        {"#e0e0e0", u"未能检测：服务器错误（HTTP 503），不代表外链已失效"},
    };
    for (int row = 0; row < 5; ++row) {
        const QModelIndex verdict = model->index(row, 2);
        EXPECT_EQ(verdict.data(Qt::BackgroundRole).value<QBrush>().color().name(), rows[row].colour) << row;
        EXPECT_EQ(ShownText(verdict.data(Qt::ToolTipRole).toString()), QString::fromUtf16(rows[row].toolTip)) << row;
    }
    EXPECT_EQ(ShownText(model->index(0, 1).data(Qt::ToolTipRole).toString()), QStringLiteral("http://") + web.Address("/link"));
}

// An unreachable row is grey and is not a lost link; the verdict header explains the colours
// with the run's counts; "重新检测未能检测的行" fetches only those rows again, in place.
TEST(CheckInWindow, UnreachableRowsAreGreyCountedAndCheckedAgainAlone)
{
    TestWeb web;
    web.SetPage("/link", "<a href=\"http://example.com/\">我的站</a>");
    web.SetPage("/gone", "nothing", 404);
    std::atomic<int> busyAnswers{0};
    LoopbackServer busy([&](LoopbackServer::Connection &connection) {
        if (busyAnswers++ == 0)
            connection.respond(503, "busy");
        else
            connection.respond(200, "<a href=\"http://example.com/\">我的站</a>");
    });
    FormMain window(QuickSettings(web.server().hostAndPort()));
    window.Analysis().CheckAddresses({QStringLiteral("http://") + web.Address("/link"), QStringLiteral("http://") + web.Address("/gone"),
                                      busy.url("/later")},
                                     QStringLiteral("example.com"));
    ASSERT_TRUE(WaitFor([&] { return !window.Analysis().Running(); }));
    const QAbstractItemModel *model = Child<QTableView>(window, "FlexGrid")->model();
    EXPECT_EQ(model->index(2, 2).data(Qt::BackgroundRole).value<QBrush>().color(), VerdictColour(VerdictStrength::Unreachable));
    EXPECT_TRUE(ShownText(model->index(2, 2).data(Qt::ToolTipRole).toString()).contains(u"未能检测："));
    const QString legend = ShownText(model->headerData(2, Qt::Horizontal, Qt::ToolTipRole).toString());
    EXPECT_TRUE(legend.contains(u"灰色：未能检测，不代表外链已失效")) << legend.toStdString();
    EXPECT_TRUE(legend.endsWith(u"有效 1 条，已失效 1 条，未能检测 1 条")) << legend.toStdString();

    const std::unique_ptr<QMenu> menu = window.ResultActions().Menu(QPoint(5, 5));
    QAction *recheck = nullptr;
    for (QAction *action : menu->actions())
        if (action->text() == u"重新检测未能检测的行")
            recheck = action;
    ASSERT_NE(recheck, nullptr);
    ASSERT_TRUE(recheck->isEnabled());
    recheck->trigger();
    ASSERT_TRUE(WaitFor([&] { return !window.Analysis().Running(); }));
    EXPECT_EQ(busy.requestCount(), 2);
    EXPECT_EQ(web.RequestsFor("/link"), 1) << "a row that was had is not fetched again";
    EXPECT_EQ((QStringList{GridText(window, 0, 2), GridText(window, 1, 2), GridText(window, 2, 2)}),
              (QStringList{"有效", "无效", "有效"}));
    EXPECT_TRUE(ShownText(model->headerData(2, Qt::Horizontal, Qt::ToolTipRole).toString()).endsWith(u"有效 2 条，已失效 1 条，未能检测 0 条"));
}

// Ctrl+V on the grid checks the pasted addresses against the domain, without asking the engine;
// lines that are no address are named. During a run the menu offers neither paste nor import,
// and Ctrl+V says why in the status line.
TEST(CheckInWindow, PastedAddressesAreCheckedWithoutASearch)
{
    TestWeb web;
    web.SetPage("/a", "<a href=\"https://example.com/\">友链</a>");
    web.SetPage("/b", "nothing");
    FormMain window(QuickSettings(web.server().hostAndPort()));
    QStringList told;
    window.ResultActions().SetDialogs({nullptr, nullptr, [&](const QString &message) { told << message; }});
    auto *table = Child<QTableView>(window, "FlexGrid");
    auto *status = Child<QLabel>(window, "Label2");
    auto *domain = Child<QLineEdit>(window, "Text1");
    QStringList enabledDuringRun;
    QString statusAfterPasteDuringRun;
    web.OnRequest([&](const std::string &) {
        QMetaObject::invokeMethod(&window, [&] {
            const std::unique_ptr<QMenu> menu = window.ResultActions().Menu(QPoint(5, 5));
            for (QAction *action : menu->actions())
                if (action->isEnabled() && !action->isSeparator())
                    enabledDuringRun << action->text();
            if (statusAfterPasteDuringRun.isEmpty() && window.Analysis().Running()) {
                QTest::keyClick(table, Qt::Key_V, Qt::ControlModifier);
                statusAfterPasteDuringRun = status->text();
            }
        }, Qt::QueuedConnection);
    });

    QApplication::clipboard()->setText(QStringLiteral("# pasted\nhttp://") + web.Address("/a") + QStringLiteral("\nno address here\n") +
                                       web.Address("/b") + QStringLiteral("\n"));
    domain->setText(QStringLiteral(" "));
    QTest::keyClick(table, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(status->text(), QStringLiteral("正在读取地址列表...")) << "read on another thread";
    ASSERT_TRUE(WaitFor([&] { return status->text() == QStringLiteral("请输入要分析的网站地址..."); }));
    EXPECT_EQ(web.server().requestCount(), 0);

    domain->setText(QStringLiteral("Example.com"));
    told.clear();
    // What the list gave is on the tip line while its run goes on, up to its last status.
    QString tipWhenChecked;
    QObject::connect(&window.Analysis(), &BacklinkAnalysis::StatusChanged, &window, [&](const QString &said) {
        if (said == kChecked)
            tipWhenChecked = Child<QLabel>(window, "Label4")->text();
    });
    QTest::keyClick(table, Qt::Key_V, Qt::ControlModifier);
    ASSERT_TRUE(WaitFor([&] { return status->text() == kChecked; }));
    EXPECT_EQ(told, QStringList{QStringLiteral("以下行不是网址，已跳过：第 3 行。")});
    EXPECT_EQ(tipWhenChecked, QStringLiteral("读取 2 个地址（跳过 1 行）"));
    ASSERT_EQ(GridRows(window), 2);
    EXPECT_EQ(GridText(window, 0, 1), web.Address("/a"));
    EXPECT_EQ(GridText(window, 1, 0), QStringLiteral("2"));
    EXPECT_EQ(GridText(window, 0, 2), QStringLiteral("有效"));
    EXPECT_EQ(GridText(window, 1, 2), QStringLiteral("无效"));
    EXPECT_EQ(web.RequestsFor("/s?"), 0);
    EXPECT_FALSE(enabledDuringRun.contains(QStringLiteral("粘贴地址并检测")));
    EXPECT_FALSE(enabledDuringRun.contains(QStringLiteral("导入地址列表...")));
    EXPECT_TRUE(statusAfterPasteDuringRun.startsWith(QStringLiteral("正在检测，请先按 Esc"))) << statusAfterPasteDuringRun.toStdString();
}

// "导入地址列表..." reads the file on another thread: a search console export is checked by its
// page column, which the tip line names while it is checked, then how many addresses the grid
// holds; a table of sites and a file that cannot be read are told, and nothing is fetched.
TEST(CheckInWindow, ImportedExportsAreReadByTheirHeaders)
{
    TestWeb web;
    web.SetPage("/a", "<a href=\"https://example.com/\">友链</a>");
    FormMain window(QuickSettings(web.server().hostAndPort()));
    Child<QLineEdit>(window, "Text1")->setText(QStringLiteral("example.com"));
    QTemporaryDir dir;
    const auto write = [&dir](const char *name, const QByteArray &bytes) {
        QFile file(dir.filePath(QString::fromLatin1(name)));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
        return file.fileName();
    };
    const struct {
        QString path;
        QString tipLineWhileChecked;
        QString tipLine;
        QStringList told;
        int rows;
    } imports[] = {
        {write("latest.csv", "Linking page,Last crawled\r\nhttp://" + web.Address("/a").toUtf8() + ",\"May 1, 2024\"\r\n"),
         QStringLiteral("Search Console 导出：按表头「Linking page」读取 1 个地址"), QStringLiteral("地址列表：1 个网址"), {}, 1},
        {write("sites.csv", "Site,Linking pages,Target pages\r\n127.0.0.1,3,1\r\n"), {}, {},
         {QStringLiteral("这份表格只列出网站，没有网页地址；请导出「最新链接」")}, 0},
        {dir.filePath(QStringLiteral("missing.csv")), {}, {},
         {QStringLiteral("无法读取 %1：No such file or directory").arg(dir.filePath(QStringLiteral("missing.csv")))}, 0},
    };
    QString tipLineWhileChecked;
    QObject::connect(&window.Analysis(), &BacklinkAnalysis::RowsListed, &window,
                     [&] { tipLineWhileChecked = Child<QLabel>(window, "Label4")->text(); });
    for (const auto &import : imports) {
        tipLineWhileChecked.clear();
        QStringList told;
        window.ResultActions().SetDialogs(
            {nullptr, [&](PathChosen chosen) { chosen(import.path); }, [&](const QString &message) { told << message; }});
        auto *tipLine = Child<QLabel>(window, "Label4");
        tipLine->clear();
        const int requests = web.server().requestCount();
        window.ResultActions().ImportList();
        ASSERT_TRUE(WaitFor([&] { return !told.isEmpty() || (!tipLine->text().isEmpty() && !window.Analysis().Running()); }))
            << import.path.toStdString();
        EXPECT_EQ(told, import.told);
        EXPECT_EQ(tipLineWhileChecked, import.tipLineWhileChecked);
        EXPECT_EQ(tipLine->text(), import.tipLine);
        EXPECT_EQ(web.server().requestCount() - requests, import.rows);
    }
    EXPECT_EQ(GridText(window, 0, 2), QStringLiteral("有效"));

    // Another site's export: asked first, then checked for that site once the user agrees.
    const QString other = write("other.csv", "Referring page URL,Target URL,Anchor,Nofollow\nhttp://" + web.Address("/a").toUtf8() +
                                                 ",https://www.mysite.com/,x,false\n");
    QStringList asked;
    std::function<void()> agree;
    window.ResultActions().SetDialogs({nullptr, [&](PathChosen chosen) { chosen(other); }, [](const QString &) {},
                                       [&](const QString &question, std::function<void()> yes) {
                                           asked << question;
                                           agree = std::move(yes);
                                       }});
    const int requests = web.server().requestCount();
    window.ResultActions().ImportList();
    ASSERT_TRUE(WaitFor([&] { return bool(agree); }));
    EXPECT_EQ(asked, QStringList{QStringLiteral("这份导出的目标网站是 mysite.com，不是 example.com。\n改为检测 mysite.com 吗？")});
    EXPECT_EQ(web.server().requestCount(), requests);
    agree();
    EXPECT_EQ(Child<QLineEdit>(window, "Text1")->text(), QStringLiteral("mysite.com"));
    ASSERT_TRUE(WaitFor([&] { return web.server().requestCount() == requests + 1 && !window.Analysis().Running(); }));
    EXPECT_EQ(GridText(window, 0, 2), QStringLiteral("无效")) << "judged against mysite.com";
}

// The grid follows the check down while the user leaves it alone, and stays where the user
// scrolled to once they look elsewhere.
TEST(CheckInWindow, TheRowBeingJudgedStaysInViewUntilTheUserScrollsAway)
{
    TestWeb web;
    web.SetPage("/a", "example.com");
    FormMain window(QuickSettings(web.server().hostAndPort()));
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    auto *table = Child<QTableView>(window, "FlexGrid");
    QStringList urls;
    for (int i = 0; i < 40; ++i)
        urls << QStringLiteral("http://%1?%2").arg(web.Address("/a")).arg(i);

    int lastFollowed = -1;
    QObject::connect(&window.Analysis(), &BacklinkAnalysis::RowStarted, table, [&](int row) { lastFollowed = row; });
    window.Analysis().CheckAddresses(urls, QStringLiteral("example.com"));
    ASSERT_TRUE(WaitFor([&] { return !window.Analysis().Running(); }));
    // Followed once a frame: the last row the status named is in view by the next one.
    ASSERT_GT(lastFollowed, 20);
    EXPECT_TRUE(WaitFor([&] { return table->viewport()->rect().intersects(table->visualRect(table->model()->index(lastFollowed, 2))); }, 1000));
    EXPECT_GT(table->verticalScrollBar()->value(), 0);

    bool scrolledAway = false;
    QObject::connect(&window.Analysis(), &BacklinkAnalysis::RowJudged, table, [&](int row) {
        if (row == 20 && !scrolledAway) {
            scrolledAway = true;
            table->verticalScrollBar()->setValue(0);
        }
    });
    window.Analysis().CheckAddresses(urls, QStringLiteral("example.com"));
    ASSERT_TRUE(WaitFor([&] { return !window.Analysis().Running(); }));
    EXPECT_TRUE(scrolledAway);
    EXPECT_EQ(table->verticalScrollBar()->value(), 0);
}

// The grid's context menu, or a file dialog, open during a run: verdicts keep landing meanwhile.
TEST(CheckInWindow, VerdictsLandWhileAMenuOrADialogIsOpen)
{
    TestWeb web;
    web.SetPage("/a", "example.com");
    web.OnRequest([](const std::string &) { std::this_thread::sleep_for(300ms); });
    FormMain window(QuickSettings(web.server().hostAndPort()));
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    auto *table = Child<QTableView>(window, "FlexGrid");
    QStringList urls;
    for (int i = 0; i < 20; ++i)
        urls << QStringLiteral("http://%1?%2").arg(web.Address("/a")).arg(i);
    int judged = 0;
    QObject::connect(&window.Analysis(), &BacklinkAnalysis::RowJudged, table, [&] { ++judged; });

    // The menu as a right click opens it.
    window.Analysis().CheckAddresses(urls, QStringLiteral("example.com"));
    ASSERT_TRUE(WaitFor([&] { return judged >= 2; }));
    QTimer::singleShot(3000, table, [] {
        if (QWidget *menu = QApplication::activePopupWidget())
            menu->close(); // a safety net for a menu that would hold the test in its own loop
    });
    emit table->customContextMenuRequested(QPoint(5, 5));
    ASSERT_NE(QApplication::activePopupWidget(), nullptr);
    const int judgedWhenOpened = judged;
    QTest::qWait(1500);
    EXPECT_NE(QApplication::activePopupWidget(), nullptr);
    EXPECT_GE(judged - judgedWhenOpened, 6) << "verdicts stalled under the open menu";
    QApplication::activePopupWidget()->close();
    ASSERT_TRUE(WaitFor([&] { return !window.Analysis().Running(); }));

    // The export's own file dialog, window-modal, during the run; cancelled, it writes nothing.
    judged = 0;
    bool written = false;
    window.ResultActions().SetDialogs(
        {[&](const QString &suggested, PathChosen chosen) {
             AskCsvSavePath(&window, suggested, [&written, chosen](const QString &path) {
                 written = true;
                 chosen(path);
             });
         },
         nullptr, nullptr});
    window.Analysis().CheckAddresses(urls, QStringLiteral("example.com"));
    ASSERT_TRUE(WaitFor([&] { return judged >= 2; }));
    window.ResultActions().ExportCsv();
    auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr) << "the dialog is open when ExportCsv returns";
    const int judgedWhenAsked = judged;
    QTest::qWait(1500);
    EXPECT_GE(judged - judgedWhenAsked, 6) << "verdicts stalled under the open dialog";
    dialog->reject();
    EXPECT_FALSE(written);
    ASSERT_TRUE(WaitFor([&] { return !window.Analysis().Running(); }));
}

} // namespace
