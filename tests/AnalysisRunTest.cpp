// One analysis run end to end against an engine and pages served on 127.0.0.1.

#include "BrowserProcesses.h"
#include "LoopbackServer.h"
#include "ResultPages.h"
#include "RunRecorder.h"
#include "TestWeb.h"
#include "WidgetLookup.h"

#include <BacklinkAnalysis.h>
#include <FormMain.h>
#include <ResultModel.h>

#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <thread>

#include <unistd.h>

using namespace vantorel;

namespace {

using namespace std::chrono_literals;

const QString kStart = QStringLiteral("开始分析网站外链地址...");
const QString kFailed = QStringLiteral("当前网站无法访问...");
const QString kParsed = QStringLiteral("网站外链地址分析完成！");
const QString kChecking = QStringLiteral("开始检测,需要的时间较长...");
const QString kChecked = QStringLiteral("网站地址有效性检测完成...");

const std::string kQueryTail = "&q2=&q3=&q4=&rn=50&lm=0&ct=0&ft=&q5=&q6=&tn=baiduadv";

TEST(AnalysisRun, SendsTheHostReducedFromWhatWasTyped)
{
    TestWeb web;
    web.SetResultPage(SearchResultPage("0", {}));
    BacklinkAnalysis analysis(QuickSettings(web.server().hostAndPort()));
    RunRecorder window(analysis);

    // Only the host goes out, non-ASCII as percent-encoded UTF-8; the box shows it.
    analysis.RunAnalysis(QStringLiteral(" \tHTTP://例子.COM:8080/x?y\n"));
    ASSERT_TRUE(window.WaitForEnd());
    EXPECT_EQ(window.domain, QStringLiteral("例子.com"));
    ASSERT_EQ(web.server().requestCount(), 1);
    const std::string request = web.server().requests().at(0);
    EXPECT_EQ(request.substr(0, request.find("\r\n")),
              "GET /s?q1=domain:%E4%BE%8B%E5%AD%90.com" + kQueryTail + " HTTP/1.1");

    // Nothing left of it: no request, and the status line asks for a domain.
    analysis.RunAnalysis(QStringLiteral(" http:// \t"));
    EXPECT_FALSE(analysis.Running());
    EXPECT_EQ(analysis.Outcome(), RunOutcome::NoDomain);
    EXPECT_EQ(web.server().requestCount(), 1);
    EXPECT_EQ(window.domain, QString());
    EXPECT_EQ(window.status, QStringLiteral("请输入要分析的网站地址..."));
    EXPECT_TRUE(window.panelVisible);
}

TEST(AnalysisRun, StatusTextsInOrderOnSuccess)
{
    TestWeb web;
    web.SetPage("/a", "<a href=\"http://example.com/\">friend</a>");
    web.SetPage("/b", "nothing here");
    web.SetResultPage(SearchResultPage("约2", {{web.Address("/a")}, {web.Address("/b")}}));
    web.OnRequest([](const std::string &path) {
        if (path == "/b")
            std::this_thread::sleep_for(200ms); // judged after /a
    });

    BacklinkAnalysis analysis(QuickSettings(web.server().hostAndPort()));
    RunRecorder window(analysis);
    analysis.RunAnalysis(QStringLiteral(" example.com "));
    EXPECT_EQ(window.events, (QStringList{"PanelShown", "Status:" + kStart, "Domain:example.com"}))
        << "the run answers at once and waits for nothing";
    ASSERT_TRUE(window.WaitForEnd());

    EXPECT_EQ(window.statuses, (QStringList{kStart, kParsed, kChecking, QStringLiteral("开始分析第 1/2 条网址.."),
                                            QStringLiteral("开始分析第 2/2 条网址.."), kChecked}));
    EXPECT_EQ(window.events.mid(3),
              (QStringList{"TipLine:" + QStringLiteral("提示：当前站点 example.com 的外链数为：  约2 条"), "RowsListed",
                           "Status:" + kParsed, "Status:" + kChecking, QStringLiteral("Status:开始分析第 1/2 条网址.."),
                           "RowStarted:0", "RowJudged:0", QStringLiteral("Status:开始分析第 2/2 条网址.."),
                           "RowStarted:1", "RowJudged:1", "Status:" + kChecked, "PanelHidden", "Finished"}));
    EXPECT_EQ(window.finished, RunOutcome::Completed);
    EXPECT_EQ(window.Verdicts(), (QStringList{"有效", "无效"}));
}

// When the engine cannot be reached, refuses, or answers with something else than a result
// page, the run says so and ends: grid and tip line stay, nothing is checked.
TEST(AnalysisRun, AnEngineThatGivesNoResultPageLeavesGridAndTipAlone)
{
    LoopbackServer unrecognised([](LoopbackServer::Connection &connection) {
        connection.respond(500, GbkBytes(QStringLiteral("<html>查看源码失败. example.com</html>")));
    });
    // The engine's check for humans carries result markers too, but its title gives it away.
    LoopbackServer verification([](LoopbackServer::Connection &connection) {
        connection.respond(200, "<html><head><meta charset=utf-8><title>\xE7\x99\xBE\xE5\xBA\xA6\xE5\xAE\x89"
                                "\xE5\x85\xA8\xE9\xAA\x8C\xE8\xAF\x81</title></head><body>"
                                "<a x({'F':'1'})\" href=\"http://a.com/ \">a</a></body></html>");
    });
    const struct {
        const char *name;
        QString searchHost;
        QString status;
    } cases[] = {
        {"unreachable", QStringLiteral("127.0.0.1:%1").arg(LoopbackServer::ClosedPort()), kFailed + QStringLiteral("（搜索引擎：连接被拒绝）")},
        {"not a result page", unrecognised.hostAndPort(), QStringLiteral("无法识别搜索引擎返回的页面...（搜索引擎：HTTP 500）")},
        {"verification", verification.hostAndPort(), QStringLiteral("搜索引擎要求安全验证，请稍后再试...")},
    };
    for (const auto &c : cases) {
        BacklinkAnalysis analysis(QuickSettings(c.searchHost));
        analysis.CheckAddresses({QStringLiteral("http://127.0.0.1:1/kept")}, QStringLiteral("example.com"));
        analysis.Stop();
        RunRecorder window(analysis);
        analysis.RunAnalysis(QStringLiteral("example.com"));
        ASSERT_TRUE(window.WaitForEnd()) << c.name;

        EXPECT_EQ(window.statuses, (QStringList{kStart, c.status})) << c.name;
        EXPECT_TRUE(window.panelVisible) << c.name;
        EXPECT_EQ(window.tipLine, QStringLiteral("initial tip")) << c.name;
        EXPECT_EQ(window.Addresses(), QStringList{"127.0.0.1:1/kept"}) << c.name;
        EXPECT_FALSE(window.events.contains("RowsListed")) << c.name;
    }
}

// A new run started while one is going (here from inside one of its signals, as a click
// would be handled between two of them) supersedes it at once: the old run says nothing more.
TEST(AnalysisRun, ANewRunSupersedesTheOneGoing)
{
    TestWeb web;
    for (const char *path : {"/a", "/b", "/c"})
        web.SetPage(path, "example.com");
    web.SetResultPage(SearchResultPage("约3", {{web.Address("/a")}, {web.Address("/b")}, {web.Address("/c")}}));

    BacklinkAnalysis analysis(QuickSettings(web.server().hostAndPort()));
    RunRecorder window(analysis);
    int newRuns = 0;
    qsizetype eventsWhenSuperseded = -1;
    window.onEvent = [&](const QString &event) {
        if (newRuns == 0 && event.startsWith(u"RowJudged:")) {
            ++newRuns;
            eventsWhenSuperseded = window.events.size();
            analysis.RunAnalysis(QStringLiteral("example.com"));
        }
    };
    analysis.RunAnalysis(QStringLiteral("example.com"));
    ASSERT_TRUE(window.WaitForEnd());

    ASSERT_EQ(newRuns, 1);
    // The first run ended (stopped) before the second said anything, and said nothing after.
    EXPECT_EQ(window.events.mid(eventsWhenSuperseded, 2), (QStringList{"Finished", "PanelShown"}));
    EXPECT_EQ(window.events.mid(eventsWhenSuperseded).filter(QStringLiteral("RowJudged:")).size(), 3);
    EXPECT_EQ(window.finished, RunOutcome::Completed);
    EXPECT_EQ(window.status, kChecked);
    EXPECT_EQ(window.Verdicts(), (QStringList{"有效", "有效", "有效"}));
    EXPECT_EQ(web.RequestsFor("/s?"), 2);
}

// A new list replaces the rows only once the grid's model has begun its reset, and a row that
// was waiting to be tried again goes with its run: its timer never fetches for the next one.
TEST(AnalysisRun, ANewListReplacesTheRowsAndTheRetriesOfTheRunBefore)
{
    TestWeb web;
    web.SetPage("/busy", "busy", 503);
    for (const char *path : {"/a", "/c"})
        web.SetPage(path, "example.com");
    AnalysisSettings settings = QuickSettings(web.server().hostAndPort());
    settings.retry.retries = 2;
    settings.retry.delays = {500ms};
    BacklinkAnalysis analysis(settings);
    RunRecorder window(analysis);
    ResultModel model(analysis, QBrush());
    std::vector<std::size_t> rowsWhenResetBegan;
    QObject::connect(&model, &QAbstractItemModel::modelAboutToBeReset,
                     [&] { rowsWhenResetBegan.push_back(analysis.Rows().size()); });
    const auto url = [&web](const char *path) { return QStringLiteral("http://") + web.Address(path); };

    analysis.CheckAddresses({url("/busy"), url("/a")}, QStringLiteral("example.com"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return analysis.Rows().at(0).state == RowState::WaitingToRetry; }, 5000));
    analysis.CheckAddresses({url("/c")}, QStringLiteral("example.com"));
    ASSERT_TRUE(window.WaitForEnd());
    QTest::qWait(1000); // past the busy page's wait

    EXPECT_EQ(rowsWhenResetBegan, (std::vector<std::size_t>{0, 2}));
    EXPECT_EQ(window.Verdicts(), QStringList{"有效"});
    EXPECT_EQ(web.RequestsFor("/busy"), 1);
    EXPECT_EQ(web.RequestsFor("/c"), 1);
}

// The real window, offscreen.
class WindowRun : public ::testing::Test {
protected:
    void Open(const QString &searchHost)
    {
        window = std::make_unique<FormMain>(QuickSettings(searchHost));
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }
    std::unique_ptr<FormMain> window;
};

TEST_F(WindowRun, EnterInTheDomainBoxRunsWithTheFocusOnTheButton)
{
    TestWeb web;
    web.SetPage("/a", "example.org");
    web.SetResultPage(SearchResultPage("1", {{web.Address("/a")}}));
    Open(web.server().hostAndPort());
    auto *domain = Child<QLineEdit>(*window, "Text1");
    domain->setText(QStringLiteral("   example.org  "));
    domain->setFocus();
    QTest::keyClick(domain, Qt::Key_Return);

    EXPECT_EQ(QApplication::focusWidget(), Child<QPushButton>(*window, "Command1"));
    EXPECT_EQ(domain->text(), QStringLiteral("example.org"));
    ASSERT_TRUE(WaitFor([&] { return !window->Analysis().Running(); }));
    EXPECT_EQ(web.RequestsFor("/s?q1=domain:example.org&"), 1);
    EXPECT_EQ(GridText(*window, 0, 2), QStringLiteral("有效"));
    EXPECT_TRUE(Child<QWidget>(*window, "Frame3")->isHidden());
    EXPECT_EQ(Child<QLabel>(*window, "Label2")->text(), kChecked);
}

TEST_F(WindowRun, ShowsTheCountAndOneRowPerOrganicResult)
{
    TestWeb web;
    web.SetPage("/a", "example.org");
    web.SetResultPage(SearchResultPage(QStringLiteral("约12,300"),
                                       {{web.Address("/a")}, {"ad.example.net", true}, {web.Address("/b/")}}));
    Open(web.server().hostAndPort());
    Child<QLineEdit>(*window, "Text1")->setText(QStringLiteral("example.org"));
    QTest::mouseClick(Child<QPushButton>(*window, "Command1"), Qt::LeftButton);
    ASSERT_TRUE(WaitFor([&] { return !window->Analysis().Running(); }));

    EXPECT_EQ(Child<QLabel>(*window, "Label4")->text(), QStringLiteral("提示：当前站点 example.org 的外链数为：  约12,300 条"));
    ASSERT_EQ(GridRows(*window), 2);
    EXPECT_EQ(GridText(*window, 0, 0), QStringLiteral("1"));
    EXPECT_EQ(GridText(*window, 1, 0), QStringLiteral("2"));
    EXPECT_EQ(GridText(*window, 1, 1), web.Address("/b/") + " ");
    EXPECT_EQ(GridText(*window, 0, 2), QStringLiteral("有效"));
    EXPECT_EQ(GridText(*window, 1, 2), QStringLiteral("无效"));
    EXPECT_EQ(web.RequestsFor("/b/ HTTP"), 1);
}

TEST_F(WindowRun, ClosingDuringAWaitEndsTheProgramAndWritesNothingMore)
{
    std::atomic<int> stalled{0};
    LoopbackServer stall([&stalled](LoopbackServer::Connection &connection) {
        ++stalled;
        connection.sleepFor(60s);
    });
    TestWeb web;
    web.SetResultPage(SearchResultPage("1", {{stall.hostAndPort() + "/never"}}));
    Open(web.server().hostAndPort());
    window->Analysis().Settings().fetchLimits.totalTimeout = 30s;

    auto *status = Child<QLabel>(*window, "Label2");
    QString statusAtClose;
    QTimer::singleShot(0, window.get(), [this] { QTest::mouseClick(Child<QPushButton>(*window, "Command1"), Qt::LeftButton); });
    QTimer::singleShot(500, window.get(), [&] {
        statusAtClose = status->text();
        window->close();
    });
    QTimer::singleShot(10'000, qApp, [] { QCoreApplication::exit(99); }); // a safety net only
    QElapsedTimer timer;
    timer.start();
    const int exitCode = QApplication::exec();

    EXPECT_EQ(exitCode, 0);
    EXPECT_LT(timer.elapsed(), 1500) << "the program waited for the stalled page";
    EXPECT_EQ(stalled.load(), 1);
    EXPECT_EQ(statusAtClose, QStringLiteral("开始分析第 1/1 条网址.."));
    EXPECT_EQ(status->text(), statusAtClose);
    EXPECT_EQ(GridText(*window, 0, 2), QStringLiteral("等待检测"));
}

// One page that takes 12 s holds up no other row: each verdict lands as its page is judged,
// the slow row says it is being checked, and the status names the lowest row still being
// checked, its number only ever rising.
TEST_F(WindowRun, VerdictsLandAsSoonAsTheirPagesAreJudged)
{
    LoopbackServer slow([](LoopbackServer::Connection &connection) {
        if (connection.sleepFor(12s))
            connection.respond(200, "example.com");
    });
    TestWeb web;
    for (const char *path : {"/a", "/c", "/d", "/e", "/f"})
        web.SetPage(path, "example.com");
    web.SetResultPage(SearchResultPage("6", {{web.Address("/a")}, {slow.hostAndPort() + "/slow"}, {web.Address("/c")},
                                             {web.Address("/d")}, {web.Address("/e")}, {web.Address("/f")}}));
    Open(web.server().hostAndPort());
    window->Analysis().Settings().fetchLimits.totalTimeout = 30s;
    QStringList statuses;
    QObject::connect(&window->Analysis(), &BacklinkAnalysis::StatusChanged, window.get(),
                     [&](const QString &text) { statuses << text; });
    Child<QLineEdit>(*window, "Text1")->setText(QStringLiteral("example.com"));
    QTest::mouseClick(Child<QPushButton>(*window, "Command1"), Qt::LeftButton);

    const auto laterRowsJudged = [&] {
        for (int row = 2; row < 6; ++row)
            if (GridText(*window, row, 2) != QStringLiteral("有效"))
                return false;
        return GridRows(*window) == 6;
    };
    ASSERT_TRUE(WaitFor(laterRowsJudged, 3000));
    EXPECT_EQ(GridText(*window, 0, 2), QStringLiteral("有效"));
    EXPECT_EQ(GridText(*window, 1, 2), QStringLiteral("检测中…"));
    EXPECT_EQ(Child<QLabel>(*window, "Label2")->text(), QStringLiteral("开始分析第 2/6 条网址.."));

    ASSERT_TRUE(WaitFor([&] { return !window->Analysis().Running(); }, 20'000));
    EXPECT_EQ(GridText(*window, 1, 2), QStringLiteral("有效"));
    EXPECT_EQ(statuses.last(), kChecked);
    int lastNumber = 0;
    for (const QString &status : statuses) {
        static const QRegularExpression rowStatus(QStringLiteral("^开始分析第 (\\d+)/6 条网址..$"));
        if (const QRegularExpressionMatch match = rowStatus.match(status); match.hasMatch()) {
            EXPECT_GT(match.captured(1).toInt(), lastNumber) << statuses.join(u'|').toStdString();
            lastNumber = match.captured(1).toInt();
        }
    }
    EXPECT_EQ(lastNumber, 2);
}

// A page waiting for the browser says so in its row, and Esc ends the browser with the run
// instead of leaving it to the page's time limit.
TEST_F(WindowRun, EscMidRenderingEndsTheBrowser)
{
    if (!HaveChromium())
        GTEST_SKIP() << "no Chromium to render with";
    TestWeb web;
    web.SetPage("/loop", "<html><body><div id=\"root\"></div><script>for (;;) {}</script></body></html>");
    web.SetResultPage(SearchResultPage("1", {{web.Address("/loop")}}));
    Open(web.server().hostAndPort());
    window->Analysis().Settings().renderLimits.pageTimeout = 60s;
    Child<QLineEdit>(*window, "Text1")->setText(QStringLiteral("example.com"));
    QTest::mouseClick(Child<QPushButton>(*window, "Command1"), Qt::LeftButton);
    ASSERT_TRUE(WaitFor([&] { return GridText(*window, 0, 2) == QStringLiteral("渲染中…"); }, 10'000));
    ASSERT_FALSE(ChildProcesses().isEmpty());

    QTest::keyClick(window.get(), Qt::Key_Escape);
    EXPECT_FALSE(window->Analysis().Running());
    EXPECT_EQ(GridText(*window, 0, 2), QStringLiteral("等待检测"));
    EXPECT_EQ(Child<QLabel>(*window, "Label2")->text(), QStringLiteral("检测已停止..."));
    EXPECT_TRUE(WaitFor([] { return ChildProcesses().isEmpty(); }, 10'000)) << ChildProcesses().join(u' ').toStdString();
}

// Esc during a wait stops the run at once: what was judged stays, the rest keeps waiting, and
// the panel says so until clicked. A new run during a wait starts at once instead.
TEST_F(WindowRun, EscStopsARunAndANewRunSupersedesIt)
{
    LoopbackServer stall([](LoopbackServer::Connection &connection) { connection.sleepFor(60s); });
    TestWeb web;
    web.SetPage("/a", "example.com");
    web.SetResultPage(SearchResultPage("2", {{web.Address("/a")}, {stall.hostAndPort() + "/never"}}));
    Open(web.server().hostAndPort());
    window->Analysis().Settings().fetchLimits.totalTimeout = 30s;
    window->Analysis().Settings().jobs = 1;
    auto *domain = Child<QLineEdit>(*window, "Text1");
    domain->setText(QStringLiteral("example.com"));
    auto *status = Child<QLabel>(*window, "Label2");
    const auto ended = [&] { return !window->Analysis().Running(); };

    QTest::keyClick(window.get(), Qt::Key_Escape);
    EXPECT_FALSE(status->isVisible()) << "Esc with no run does nothing";

    QTest::mouseClick(Child<QPushButton>(*window, "Command1"), Qt::LeftButton);
    ASSERT_TRUE(WaitFor([&] { return status->text() == QStringLiteral("开始分析第 2/2 条网址.."); }));
    QElapsedTimer elapsed;
    elapsed.start();
    QTest::keyClick(window.get(), Qt::Key_Escape);
    EXPECT_LT(elapsed.elapsed(), 100);
    EXPECT_TRUE(ended());
    EXPECT_EQ(status->text(), QStringLiteral("检测已停止..."));
    EXPECT_TRUE(Child<QWidget>(*window, "Frame3")->isVisible());
    EXPECT_EQ(GridText(*window, 0, 2), QStringLiteral("有效"));
    EXPECT_EQ(GridText(*window, 1, 2), QStringLiteral("等待检测"));
    QTest::qWait(100);
    EXPECT_EQ(status->text(), QStringLiteral("检测已停止...")) << "the stopped run said something later";

    // The same wait again, left by a new run on another domain: the old run writes nothing more.
    QTest::mouseClick(Child<QPushButton>(*window, "Command1"), Qt::LeftButton);
    ASSERT_TRUE(WaitFor([&] { return status->text() == QStringLiteral("开始分析第 2/2 条网址.."); }));
    web.SetPage("/b", "example.org");
    web.SetResultPage(SearchResultPage("1", {{web.Address("/b")}}));
    domain->setText(QStringLiteral("example.org"));
    QTest::mouseClick(Child<QPushButton>(*window, "Command1"), Qt::LeftButton);
    ASSERT_TRUE(WaitFor(ended));
    ASSERT_EQ(GridRows(*window), 1);
    EXPECT_EQ(GridText(*window, 0, 1), web.Address("/b") + " ");
    EXPECT_EQ(GridText(*window, 0, 2), QStringLiteral("有效"));
    EXPECT_EQ(status->text(), kChecked);
    EXPECT_EQ(web.RequestsFor("/s?q1=domain:example.org&"), 1);
}

// Enter pressed again and again: the engine is asked once, then once more after the gap, for
// the newest run; the runs in between show their first status at once and ask nothing.
TEST_F(WindowRun, TheEngineIsAskedOnceInAWhileHoweverOftenEnterIsPressed)
{
    TestWeb web;
    web.SetPage("/a", "example.com");
    web.SetResultPage(SearchResultPage("1", {{web.Address("/a")}}));
    Open(web.server().hostAndPort());
    window->Analysis().Settings().searchGap = 1s;
    auto *domain = Child<QLineEdit>(*window, "Text1");
    auto *status = Child<QLabel>(*window, "Label2");
    for (int press = 0; press < 30; ++press) {
        domain->setText(QStringLiteral("example.com"));
        domain->setFocus();
        QTest::keyClick(domain, Qt::Key_Return);
        EXPECT_EQ(status->text(), kStart) << press;
        QTest::qWait(20);
    }
    ASSERT_TRUE(WaitFor([&] { return !window->Analysis().Running(); }));
    EXPECT_EQ(web.RequestsFor("/s?"), 2);
    EXPECT_EQ(status->text(), kChecked);
}

long ResidentBytes()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    return statm.readAll().split(' ').value(1).toLong() * sysconf(_SC_PAGESIZE);
}

// Enter pressed again and again while runs go: each new run replaces the last at once, so the
// stack under a verdict is as deep as in a single run, and nothing piles up.
TEST_F(WindowRun, RepeatedEnterDuringRunsNeverDeepensTheStack)
{
    TestWeb web;
    std::vector<SearchResult> results;
    for (int i = 0; i < 5; ++i) {
        web.SetPage("/p" + std::to_string(i), "example.com");
        results.push_back({web.Address("/p" + std::to_string(i))});
    }
    web.SetResultPage(SearchResultPage("5", results));
    web.OnRequest([](const std::string &) { std::this_thread::sleep_for(20ms); });
    Open(web.server().hostAndPort());
    auto *domain = Child<QLineEdit>(*window, "Text1");
    domain->setText(QStringLiteral("example.com"));
    std::uintptr_t stackAtVerdict = 0;
    QObject::connect(&window->Analysis(), &BacklinkAnalysis::RowJudged, window.get(),
                     [&] { stackAtVerdict = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0)); });
    const auto pressEnter = [&] {
        domain->setFocus();
        QTest::keyClick(domain, Qt::Key_Return);
    };

    pressEnter();
    ASSERT_TRUE(WaitFor([&] { return !window->Analysis().Running(); }));
    const std::uintptr_t singleRun = stackAtVerdict;
    const long residentAfterFirst = ResidentBytes();
    for (int press = 0; press < 30; ++press) {
        pressEnter();
        QTest::qWait(10);
    }
    ASSERT_TRUE(WaitFor([&] { return !window->Analysis().Running(); }));

    EXPECT_EQ(stackAtVerdict, singleRun);
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__) // their shadow memory grows on its own
    EXPECT_LT(ResidentBytes() - residentAfterFirst, 5L * 1024 * 1024);
#endif
    EXPECT_EQ(Child<QLabel>(*window, "Label2")->text(), kChecked);
    EXPECT_EQ(GridText(*window, 4, 2), QStringLiteral("有效"));
}

} // namespace
