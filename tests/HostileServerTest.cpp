// Servers that misbehave on purpose: whether one is a listed page or the engine itself, a run
// must give up on it within its time-outs and carry on (or end) the way it does for any
// failed fetch. Every hostile answer carries the domain, so a response taken as a page
// would show up as a valid row or a parsed result page.

#include "Gzip.h"
#include "LoopbackServer.h"
#include "ResultPages.h"
#include "RunRecorder.h"
#include "TestWeb.h"

#include "WidgetLookup.h"

#include <BacklinkAnalysis.h>
#include <FormMain.h>

#include <GridActions.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QScreen>
#include <QTemporaryDir>
#include <QTextDocument>
#include <QTimer>
#include <QToolTip>
#include <QAbstractItemView>
#include <QLabel>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>

#include <sys/inotify.h>
#include <unistd.h>

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
    QElapsedTimer elapsed;
};

TEST_P(Hostile, AsAListedPageItsRowIsInvalidAndTheRunGoesOn)
{
    TestWeb web;
    web.SetPage("/next", kBait);
    web.SetResultPage(SearchResultPage("2", {{hostile.hostAndPort() + "/page"}, {web.Address("/next")}}));
    BacklinkAnalysis analysis(HostileSettings(web.server().hostAndPort()));
    RunRecorder window(analysis);

    elapsed.start();
    analysis.RunAnalysis(kDomain);
    ASSERT_TRUE(window.WaitForEnd(kNoHang));

    EXPECT_LT(elapsed.elapsed(), std::chrono::milliseconds(kNoHang).count());
    EXPECT_GE(hostile.requestCount(), 1);
    EXPECT_EQ(window.Verdicts(), (QStringList{"无效", "有效"}));
    EXPECT_EQ(analysis.Rows().at(0).evidence->failureCause, QString::fromUtf16(GetParam().cause));
    EXPECT_EQ(window.status, kChecked);
    EXPECT_FALSE(window.panelVisible);
}

TEST_P(Hostile, AsTheEngineTheRunEndsWithTheFailureText)
{
    BacklinkAnalysis analysis(HostileSettings(hostile.hostAndPort()));
    RunRecorder window(analysis);

    elapsed.start();
    analysis.RunAnalysis(kDomain);
    ASSERT_TRUE(window.WaitForEnd(kNoHang));

    EXPECT_LT(elapsed.elapsed(), std::chrono::milliseconds(kNoHang).count());
    EXPECT_GE(hostile.requestCount(), 1);
    // The engine's trouble, named as a row's would be.
    EXPECT_EQ(window.statuses, (QStringList{QStringLiteral("开始分析网站外链地址..."),
                                            kFailed + QStringLiteral("（搜索引擎：%1）").arg(QString::fromUtf16(GetParam().cause))}));
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
    Child<QLineEdit>(window, "Text1")->setText(kDomain);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    panel = Child<QWidget>(window, "Frame3");
    auto *status = Child<QLabel>(window, "Label2");

    QStringList seenAtHide;
    qint64 hiddenAfter = -1;
    HideWatch watch;
    QElapsedTimer elapsed;
    watch.onHide = [&] {
        hiddenAfter = elapsed.elapsed();
        seenAtHide << status->text() << GridText(window, 0, 2) << GridText(window, 1, 2);
    };
    panel->installEventFilter(&watch);

    elapsed.start();
    QTest::mouseClick(Child<QWidget>(window, "Command1"), Qt::LeftButton);
    ASSERT_TRUE(WaitFor([&] { return !window.Analysis().Running(); }));

    EXPECT_LT(elapsed.elapsed(), std::chrono::milliseconds(kNoHang).count());
    EXPECT_GE(elapsed.elapsed(), std::chrono::milliseconds(kTotalTimeout).count()) << "the slow row was not slow";
    ASSERT_EQ(seenAtHide.size(), 3);
    EXPECT_EQ(seenAtHide.mid(0, 2), (QStringList{QStringLiteral("开始分析第 1/2 条网址.."), QStringLiteral("检测中…")}));
    EXPECT_TRUE(seenAtHide[2] == u"检测中…" || seenAtHide[2] == u"有效") << seenAtHide[2].toStdString();
    EXPECT_LT(hiddenAfter, std::chrono::milliseconds(kTotalTimeout).count() / 2);
    EXPECT_EQ(GridText(window, 1, 2), QStringLiteral("有效"));
    EXPECT_EQ(status->text(), kChecked);
    EXPECT_TRUE(panel->isHidden());
}

// Watches one file for being opened, through inotify.
class OpenWatch {
public:
    explicit OpenWatch(const QString &path) : fd_(inotify_init1(IN_NONBLOCK))
    {
        inotify_add_watch(fd_, QFile::encodeName(path).constData(), IN_OPEN | IN_ACCESS);
    }
    ~OpenWatch() { ::close(fd_); }
    bool Opened() const
    {
        alignas(inotify_event) char events[4096];
        return ::read(fd_, events, sizeof events) > 0;
    }

private:
    int fd_;
};

// Anchors, titles and addresses come from other people's pages: the window shows them as the
// characters they are, and never lets them load a picture from the user's disk.
TEST(HostileInWindow, PageTextReachesToolTipsAndMessagesAsText)
{
    QTemporaryDir dir;
    const QString picture = dir.filePath(QStringLiteral("watched.png"));
    QImage(8, 8, QImage::Format_RGB32).save(picture);
    const std::string img = "<img src=\"" + picture.toStdString() + "\" width=900 height=600>";
    const std::string anchors[] = {
        "&lt;h1 style=\"color:red\"&gt;大标题&lt;/h1&gt;" + std::string("&lt;img src=\"") + picture.toStdString() + "\"&gt;",
        "&lt;table&gt;&lt;tr&gt;&lt;td&gt;x&lt;/td&gt;&lt;/tr&gt;&lt;/table&gt;",
        "&lt;a href=\"http://evil.test/\"&gt;点我&lt;/a&gt;",
        "&amp;lt;already escaped&amp;gt;",
        "\xE2\x80\xAE" "moc.elpmaxe",
        std::string(10'000, 'w'),
    };
    TestWeb web;
    QStringList urls;
    for (std::size_t i = 0; i < std::size(anchors); ++i) {
        const std::string path = "/p" + std::to_string(i) + "?<b>" + std::to_string(i) + "</b>";
        web.SetPage(path, "<html><body><a href=\"http://example.com/\">" + anchors[i] + "</a></body></html>");
        urls << QStringLiteral("http://") + web.Address(path);
    }
    FormMain window(QuickSettings(web.server().hostAndPort()));
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    const OpenWatch watch(picture);
    window.Analysis().CheckAddresses(urls, kDomain);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window.Analysis().Running(); }, 10'000));

    auto *grid = Child<QAbstractItemView>(window, "FlexGrid");
    const auto rendered = [](const QString &toolTip) {
        QTextDocument document;
        document.setHtml(toolTip);
        return document.toPlainText();
    };
    const QString shownAnchors[] = {
        QStringLiteral("<h1 style=\"color:red\">大标题</h1><img src=\"") + picture + u'"' + u'>',
        QStringLiteral("<table><tr><td>x</td></tr></table>"),
        QStringLiteral("<a href=\"http://evil.test/\">点我</a>"),
        QStringLiteral("&lt;already escaped&gt;"),
        QStringLiteral("[U+202E]moc.elpmaxe"),
        QString(100, u'w'),
    };
    for (int row = 0; row < static_cast<int>(std::size(anchors)); ++row) {
        const QString verdictTip = grid->model()->index(row, 2).data(Qt::ToolTipRole).toString();
        const QString addressTip = grid->model()->index(row, 1).data(Qt::ToolTipRole).toString();
        EXPECT_TRUE(rendered(verdictTip).contains(QStringLiteral("「") + shownAnchors[row] + QStringLiteral("」")))
            << row << ": " << rendered(verdictTip).toStdString();
        EXPECT_TRUE(rendered(addressTip).contains(QStringLiteral("?<b>%1</b>").arg(row))) << rendered(addressTip).toStdString();
        QToolTip::showText(grid->mapToGlobal(QPoint(5, 5)), verdictTip, grid);
        QTest::qWait(20);
    }
    QToolTip::hideText();
    EXPECT_FALSE(watch.Opened()) << "a page's markup loaded a local picture";
    // The watch sees what it should: the same picture as markup is loaded.
    QToolTip::showText(grid->mapToGlobal(QPoint(5, 5)), QString::fromStdString(img), grid);
    QTest::qWait(20);
    QToolTip::hideText();
    EXPECT_TRUE(watch.Opened());

    // A message with outside text and thousands of lines: plain, and inside the screen.
    QString message = QString::fromStdString(img) + QStringLiteral("\n");
    for (int line = 0; line < 3000; ++line)
        message += QStringLiteral("第 %1 行：%2\n").arg(line).arg(QString(300, u'垃'));
    TellUser(&window, message); // returns at once: the box is window-modal, with no loop of its own
    QPointer box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(box));
    EXPECT_EQ(box->textFormat(), Qt::PlainText);
    EXPECT_TRUE(box->text().startsWith(QString::fromStdString(img).left(40)));
    const QRect boxFrame = box->frameGeometry();
    EXPECT_TRUE(window.screen()->availableGeometry().contains(boxFrame)) << boxFrame.width() << "x" << boxFrame.height();
    box->accept();
    EXPECT_TRUE(QTest::qWaitFor([&] { return box.isNull(); })) << "a closed box is deleted";
    EXPECT_FALSE(watch.Opened());

    // The evidence dialog shows the anchors as the plain text they are.
    window.ResultActions().ShowEvidence(0);
    EXPECT_TRUE(Child<QPlainTextEdit>(window, "TextEvidence")->toPlainText().contains(QStringLiteral("「") + shownAnchors[0] + QStringLiteral("」")));
    QTest::qWait(20);
    EXPECT_FALSE(watch.Opened());
}

} // namespace
