// Servers that misbehave on purpose: whether one is a listed page or the engine itself, a run
// must give up on it within its time-outs and carry on (or end) the way it does for any
// failed fetch. Every hostile answer carries the domain, so a response taken as a page
// would show up as a valid row or a parsed result page.

#include "FakeWindow.h"
#include "Gzip.h"
#include "LoopbackServer.h"
#include "ResultPages.h"
#include "TestWeb.h"

#include "WidgetLookup.h"

#include <BacklinkAnalysis.h>
#include <FormMain.h>

#include <QElapsedTimer>
#include <QLabel>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>

using namespace vantorel;

namespace {

using namespace std::chrono_literals;
using Connection = LoopbackServer::Connection;

const QString kDomain = QStringLiteral("example.com");
const QString kFailed = QStringLiteral("当前网站无法访问...");
const QString kChecked = QStringLiteral("网站地址有效性检测完成...");
const std::string kBait = "<html><body><a href=\"http://example.com/\">example.com</a></body></html>\n";

constexpr auto kTotalTimeout = 1500ms;
// Well below the minute the stalling servers would hold out, well above the time-out.
constexpr auto kNoHang = 10s;

AnalysisSettings HostileSettings(const QString &searchHost)
{
    AnalysisSettings settings = QuickSettings(searchHost);
    settings.fetchLimits.connectTimeout = 1s;
    settings.fetchLimits.totalTimeout = kTotalTimeout;
    return settings;
}

bool SendHead(Connection &connection, std::string_view headers = "Content-Length: 1000\r\n")
{
    return connection.send("HTTP/1.1 200 OK\r\n" + std::string(headers) + "\r\n");
}

// Past the program's own body cap once inflated, some 16 KiB on the wire.
const std::string &GzipBomb()
{
    static const std::string bomb = Gzip(kBait + std::string(FetchLimits{}.maxBodyBytes, ' '));
    return bomb;
}

struct HostileCase {
    const char *name;
    const char16_t *cause; // why its row is invalid
    LoopbackServer::Handler handler;
};

const HostileCase kCases[] = {
    {"ResetMidBody", u"连接被重置",
     [](Connection &connection) {
         if (SendHead(connection) && connection.send(kBait))
             connection.sleepFor(100ms); // the head and first bytes reach the client first
         connection.reset();
     }},
    {"StallAfterHeaders", u"传输超时",
     [](Connection &connection) {
         if (SendHead(connection))
             connection.sleepFor(60s);
     }},
    {"OneByteASecond", u"传输超时",
     [](Connection &connection) {
         if (!SendHead(connection, "Content-Length: " + std::to_string(kBait.size()) + "\r\n"))
             return;
         for (const char byte : kBait)
             if (!connection.send(std::string_view(&byte, 1)) || !connection.sleepFor(1s))
                 return;
     }},
    {"RedirectLoop", u"重定向过多",
     [](Connection &connection) { connection.respond(302, kBait, "Location: " + connection.path() + "\r\n"); }},
    {"EndlessBody", u"页面超过 16 MiB",
     [](Connection &connection) {
         if (!SendHead(connection, "Connection: close\r\n"))
             return;
         std::string block;
         while (block.size() < 64 * 1024)
             block += kBait;
         while (connection.send(block)) {
         }
     }},
    {"CompressionBomb", u"页面超过 16 MiB",
     [](Connection &connection) { connection.respond(200, GzipBomb(), "Content-Encoding: gzip\r\n"); }},
    {"BrokenChunkedEncoding", u"连接被重置",
     [](Connection &connection) {
         if (SendHead(connection, "Transfer-Encoding: chunked\r\n"))
             connection.send("10\r\n" + kBait.substr(0, 16) + "\r\nzz\r\n" + kBait + "\r\n0\r\n\r\n");
     }},
    {"NoHttpAtAll", u"服务器的回复不是 HTTP",
     [](Connection &connection) { connection.send("SSH-2.0-OpenSSH_9.2p1 Debian-2\r\n" + kBait); }},
    // One line, or a thousand ordinary ones: the client's limits differ for the two.
    {"OneMebibyteHeader", u"响应头过大",
     [](Connection &connection) {
         connection.respond(200, kBait, "X-Filler: " + std::string(1024 * 1024, 'a') + "\r\n");
     }},
    {"OneMebibyteOfHeaderLines", u"响应头过大",
     [](Connection &connection) {
         std::string headers;
         for (int i = 0; headers.size() < 1024 * 1024; ++i)
             headers += "X-Filler-" + std::to_string(i) + ": " + std::string(1000, 'a') + "\r\n";
         connection.respond(200, kBait, headers);
     }},
};

void PrintTo(const HostileCase &hostile, std::ostream *out)
{
    *out << hostile.name;
}

class Hostile : public ::testing::TestWithParam<HostileCase> {
protected:
    LoopbackServer hostile{GetParam().handler};
    FakeWindow window;
    QElapsedTimer elapsed;
};

TEST_P(Hostile, AsAListedPageItsRowIsInvalidAndTheRunGoesOn)
{
    TestWeb web;
    web.SetPage("/next", kBait);
    web.SetResultPage(SearchResultPage("2", {{hostile.hostAndPort() + "/page"}, {web.Address("/next")}}));
    window.domain = kDomain;
    BacklinkAnalysis analysis(window, HostileSettings(web.server().hostAndPort()));

    elapsed.start();
    analysis.RunAnalysis();

    EXPECT_LT(elapsed.elapsed(), std::chrono::milliseconds(kNoHang).count());
    EXPECT_GE(hostile.requestCount(), 1);
    EXPECT_EQ(window.grid.Column(2), (QStringList{"无效", "有效"}));
    EXPECT_EQ(window.grid.evidence[1].failureCause, QString::fromUtf16(GetParam().cause));
    EXPECT_EQ(window.status, kChecked);
    EXPECT_FALSE(window.panelVisible);
}

TEST_P(Hostile, AsTheEngineTheRunEndsWithTheFailureText)
{
    window.domain = kDomain;
    BacklinkAnalysis analysis(window, HostileSettings(hostile.hostAndPort()));

    elapsed.start();
    analysis.RunAnalysis();

    EXPECT_LT(elapsed.elapsed(), std::chrono::milliseconds(kNoHang).count());
    EXPECT_GE(hostile.requestCount(), 1);
    EXPECT_EQ(window.statuses, (QStringList{QStringLiteral("开始分析网站外链地址..."), kFailed}));
}

INSTANTIATE_TEST_SUITE_P(Servers, Hostile, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<HostileCase> &info) { return info.param.name; });

// Tells what the window showed at the moment a widget was hidden.
class HideWatch : public QObject {
public:
    std::function<void()> onHide;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Hide)
            onHide();
        return false;
    }
};

// The user clicks the progress panel while a stalled page holds the run up: the click is
// handled at once, while the row still waits, and the run still ends.
TEST(HostileInWindow, AClickOnThePanelDuringASlowRowIsHandledAtOnce)
{
    QWidget *panel = nullptr;
    LoopbackServer slow([&panel](Connection &connection) {
        QMetaObject::invokeMethod(panel, [panel] { QTest::mouseClick(panel, Qt::LeftButton); }, Qt::QueuedConnection);
        if (SendHead(connection))
            connection.sleepFor(60s);
    });
    TestWeb web;
    web.SetPage("/next", kBait);
    web.SetResultPage(SearchResultPage("2", {{slow.hostAndPort() + "/slow"}, {web.Address("/next")}}));

    FormMain window(HostileSettings(web.server().hostAndPort()));
    window.Operations().SetDomainText(kDomain);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    panel = Child<QWidget>(window, "Frame3");
    auto *status = Child<QLabel>(window, "Label2");
    ResultGridOps &grid = window.Operations().Grid();

    QStringList seenAtHide;
    qint64 hiddenAfter = -1;
    HideWatch watch;
    QElapsedTimer elapsed;
    watch.onHide = [&] {
        hiddenAfter = elapsed.elapsed();
        seenAtHide << status->text() << grid.GetCellText(1, 2).value_or("-") << grid.GetCellText(2, 2).value_or("-");
    };
    panel->installEventFilter(&watch);

    elapsed.start();
    QTest::mouseClick(Child<QWidget>(window, "Command1"), Qt::LeftButton);

    EXPECT_LT(elapsed.elapsed(), std::chrono::milliseconds(kNoHang).count());
    EXPECT_GE(elapsed.elapsed(), std::chrono::milliseconds(kTotalTimeout).count()) << "the slow row was not slow";
    EXPECT_EQ(seenAtHide, (QStringList{QStringLiteral("开始分析第 1/2 条网址.."), "等待检测", "等待检测"}));
    EXPECT_LT(hiddenAfter, std::chrono::milliseconds(kTotalTimeout).count() / 2);
    EXPECT_EQ(grid.GetCellText(2, 2), QStringLiteral("有效"));
    EXPECT_EQ(status->text(), kChecked);
    EXPECT_TRUE(panel->isHidden());
}

} // namespace
