// One analysis run end to end against an engine and pages served on 127.0.0.1.

#include "FakeWindow.h"
#include "LoopbackServer.h"
#include "ResultPages.h"
#include "TestWeb.h"
#include "WidgetLookup.h"

#include <BacklinkAnalysis.h>
#include <FormMain.h>

#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>

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
    FakeWindow window;
    BacklinkAnalysis analysis(window, QuickSettings(web.server().hostAndPort()));

    // Only the host goes out, non-ASCII as percent-encoded UTF-8; the box shows it.
    window.domain = QStringLiteral(" \tHTTP://例子.COM:8080/x?y\n");
    analysis.RunAnalysis();
    EXPECT_EQ(window.domain, QStringLiteral("例子.com"));
    ASSERT_EQ(web.server().requestCount(), 1);
    const std::string request = web.server().requests().at(0);
    EXPECT_EQ(request.substr(0, request.find("\r\n")),
              "GET /s?q1=domain:%E4%BE%8B%E5%AD%90.com" + kQueryTail + " HTTP/1.1");

    // Nothing left of it: no request, and the status line asks for a domain.
    window.domain = QStringLiteral(" http:// \t");
    analysis.RunAnalysis();
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

    FakeWindow window;
    window.domain = QStringLiteral(" example.com ");
    BacklinkAnalysis analysis(window, QuickSettings(web.server().hostAndPort()));
    analysis.RunAnalysis();

    EXPECT_EQ(window.statuses, (QStringList{kStart, kParsed, kChecking, QStringLiteral("开始分析第 1/2 条网址.."),
                                            QStringLiteral("开始分析第 2/2 条网址.."), kChecked}));
    EXPECT_EQ(window.operations.mid(0, 5),
              (QStringList{"ShowProgressPanel", "RepaintProgressPanel", "SetStatus:" + kStart,
                           "RepaintProgressPanel", "SetDomainText:example.com"}));
    EXPECT_EQ(window.operations.last(), "HideProgressPanel");
    EXPECT_FALSE(window.panelVisible);
    EXPECT_EQ(window.grid.Column(2), (QStringList{"有效", "无效"}));
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
        {"unreachable", QStringLiteral("127.0.0.1:%1").arg(LoopbackServer::ClosedPort()), kFailed},
        {"not a result page", unrecognised.hostAndPort(), QStringLiteral("无法识别搜索引擎返回的页面...")},
        {"verification", verification.hostAndPort(), QStringLiteral("搜索引擎要求安全验证，请稍后再试...")},
    };
    for (const auto &c : cases) {
        FakeWindow window;
        window.domain = QStringLiteral("example.com");
        window.grid.SetRowCount(3);
        window.grid.SetCellText(1, 1, "kept");
        BacklinkAnalysis analysis(window, QuickSettings(c.searchHost));
        analysis.RunAnalysis();

        EXPECT_EQ(window.statuses, (QStringList{kStart, c.status})) << c.name;
        EXPECT_TRUE(window.panelVisible) << c.name;
        EXPECT_EQ(window.tipLine, QStringLiteral("initial tip")) << c.name;
        EXPECT_EQ(window.grid.GetRowCount(), 3) << c.name;
        EXPECT_EQ(window.grid.GetCellText(1, 1), QStringLiteral("kept")) << c.name;
        EXPECT_FALSE(window.operations.contains("ProcessPendingEvents")) << c.name;
        EXPECT_FALSE(analysis.Running()) << c.name;
    }
}

TEST(AnalysisRun, ANestedRunSupersedesTheOuterOne)
{
    TestWeb web;
    for (const char *path : {"/a", "/b", "/c"})
        web.SetPage(path, "example.com");
    web.SetResultPage(SearchResultPage("约3", {{web.Address("/a")}, {web.Address("/b")}, {web.Address("/c")}}));

    FakeWindow window;
    window.domain = QStringLiteral("example.com");
    BacklinkAnalysis analysis(window, QuickSettings(web.server().hostAndPort()));
    int nestedRuns = 0;
    qsizetype operationsWhenNestedReturned = -1;
    int requestsWhenNestedReturned = -1;
    window.onProcessEvents = [&] {
        // The user presses the button again after the first checked row.
        if (nestedRuns == 0 && window.statuses.contains(QStringLiteral("开始分析第 1/3 条网址.."))) {
            ++nestedRuns;
            analysis.RunAnalysis();
            operationsWhenNestedReturned = window.operations.size();
            requestsWhenNestedReturned = web.server().requestCount();
        }
    };
    analysis.RunAnalysis();

    ASSERT_EQ(nestedRuns, 1);
    EXPECT_EQ(window.operations.size(), operationsWhenNestedReturned) << window.operations.join('\n').toStdString();
    EXPECT_EQ(web.server().requestCount(), requestsWhenNestedReturned);
    EXPECT_EQ(window.status, kChecked);
    EXPECT_EQ(window.grid.Column(2), (QStringList{"有效", "有效", "有效"}));
    EXPECT_EQ(web.RequestsFor("/s?"), 2);
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
    EXPECT_EQ(web.RequestsFor("/s?q1=domain:example.org&"), 1);
    EXPECT_EQ(window->Operations().Grid().GetCellText(1, 2), QStringLiteral("有效"));
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
    window->Operations().SetDomainText(QStringLiteral("example.org"));
    QTest::mouseClick(Child<QPushButton>(*window, "Command1"), Qt::LeftButton);

    EXPECT_EQ(Child<QLabel>(*window, "Label4")->text(), QStringLiteral("提示：当前站点 example.org 的外链数为：  约12,300 条"));
    ResultGridOps &grid = window->Operations().Grid();
    ASSERT_EQ(grid.GetRowCount(), 3);
    EXPECT_EQ(grid.GetCellText(1, 0), QStringLiteral("1"));
    EXPECT_EQ(grid.GetCellText(2, 0), QStringLiteral("2"));
    EXPECT_EQ(grid.GetCellText(2, 1), web.Address("/b/") + " ");
    EXPECT_EQ(grid.GetCellText(1, 2), QStringLiteral("有效"));
    EXPECT_EQ(grid.GetCellText(2, 2), QStringLiteral("无效"));
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
    EXPECT_EQ(window->Operations().Grid().GetCellText(1, 2), QStringLiteral("等待检测"));
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
    window->Operations().SetDomainText(QStringLiteral("example.com"));
    auto *status = Child<QLabel>(*window, "Label2");
    ResultGridOps &grid = window->Operations().Grid();

    QTest::keyClick(window.get(), Qt::Key_Escape);
    EXPECT_FALSE(status->isVisible()) << "Esc with no run does nothing";

    QElapsedTimer elapsed;
    QString statusWhenStopped;
    QTimer::singleShot(300, window.get(), [&] {
        statusWhenStopped = status->text();
        QTest::keyClick(window.get(), Qt::Key_Escape);
    });
    elapsed.start();
    QTest::mouseClick(Child<QPushButton>(*window, "Command1"), Qt::LeftButton);
    EXPECT_LT(elapsed.elapsed(), 2000);
    EXPECT_EQ(statusWhenStopped, QStringLiteral("开始分析第 2/2 条网址.."));
    EXPECT_EQ(status->text(), QStringLiteral("检测已停止..."));
    EXPECT_TRUE(Child<QWidget>(*window, "Frame3")->isVisible());
    EXPECT_EQ(grid.GetCellText(1, 2), QStringLiteral("有效"));
    EXPECT_EQ(grid.GetCellText(2, 2), QStringLiteral("等待检测"));
    EXPECT_FALSE(window->Analysis().Running());

    // The same wait again, left by a new run on another domain: the old run writes nothing more.
    web.SetPage("/b", "example.org");
    QTimer::singleShot(300, window.get(), [&] {
        web.SetResultPage(SearchResultPage("1", {{web.Address("/b")}}));
        window->Operations().SetDomainText(QStringLiteral("example.org"));
        QTest::mouseClick(Child<QPushButton>(*window, "Command1"), Qt::LeftButton);
    });
    elapsed.restart();
    window->Operations().SetDomainText(QStringLiteral("example.com"));
    QTest::mouseClick(Child<QPushButton>(*window, "Command1"), Qt::LeftButton);
    EXPECT_LT(elapsed.elapsed(), 2000);
    ASSERT_EQ(grid.GetRowCount(), 2);
    EXPECT_EQ(grid.GetCellText(1, 1), web.Address("/b") + " ");
    EXPECT_EQ(grid.GetCellText(1, 2), QStringLiteral("有效"));
    EXPECT_EQ(status->text(), kChecked);
    EXPECT_EQ(web.RequestsFor("/s?q1=domain:example.org&"), 1);
}

} // namespace
