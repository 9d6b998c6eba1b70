// Pages whose links scripts build: which pages get a second look in the browser, and what the
// run makes of them, against pages on 127.0.0.1. The tests that start Chromium skip without it.

#include "BrowserProcesses.h"
#include "HistorySamples.h"
#include "RunRecorder.h"
#include "TestWeb.h"

#include <PageRendering.h>

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QUrl>
#include <QStandardPaths>
#include <QTest>

#include <unistd.h>

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using namespace vantorel;

namespace {

// Page shells as script frameworks and static sites write them, and whether the rule renders them.
TEST(ScriptBuiltRule, RendersShellsThatScriptsFillAndLeavesTextPagesAlone)
{
    const QString text(600, u'文');
    const struct {
        const char *name;
        QString html;
        bool rendered;
    } cases[] = {
        {"a bundle filling #root, asking for JavaScript",
         "<html><head><script defer src=/static/js/main.js></script></head><body><noscript>You need to enable "
         "JavaScript to run this app.</noscript><div id=root></div></body></html>", true},
        {"a module filling <app-root>", "<body><app-root></app-root><script type=module src=main.js></script></body>", true},
        {"an empty #app under a long header", "<body><header>" + text + "</header><div id=app></div><script src=a.js></script></body>", true},
        {"a short intro, its posts fetched by script",
         "<body><h1>我的博客</h1><p>最新文章</p><div id=posts></div><script>fetch('/posts.json')</script></body>", true},
        {"a long page asking for JavaScript", "<body><p>" + text + "</p><noscript>请启用 JavaScript</noscript><script>x()</script></body>", true},
        {"a short page without scripts", "<body><p>友情链接</p></body>", false},
        {"a long article with an analytics script", "<body><article>" + text + "</article><script src=/ga.js></script></body>", false},
        {"a root rendered on the server", "<body><div id=__next><p>" + text + "</p></div><script src=/_next/main.js></script></body>", false},
        {"little text and only data in scripts",
         "<body><p>联系我们</p><script type=application/ld+json>{\"@type\":\"Organization\"}</script></body>", false},
        {"text inside <noscript> is not the page's own",
         "<body><noscript><p>" + text + "</p></noscript><script>render()</script></body>", true},
    };
    for (const auto &c : cases)
        EXPECT_EQ(LooksScriptBuilt(ReadScriptSigns(c.html)), c.rendered) << c.name;
}

// Where the browser's pages come from and the links their scripts write. The domain is spelled
// in pieces, so that the fetched page never names it.
constexpr char kDomain[] = "example.com";
constexpr char kWriteLink[] = "document.getElementById('links').innerHTML = '<a href=\"http://' + 'exa' + 'mple.com/\">示例</a>';";

std::string Page(const std::string &script)
{
    return "<html><body><h1>友情链接</h1><div id=\"links\"></div><script>" + script + "</script></body></html>";
}

struct Rendered {
    TestWeb web;
    AnalysisSettings settings = QuickSettings(QStringLiteral("127.0.0.1:1"));
    QStringList failures; // what the run said of its browser

    Rendered() { settings.renderLimits.pageTimeout = 8s; } // long enough on a loaded machine

    std::vector<ResultRow> Check(const std::vector<std::string> &paths)
    {
        BacklinkAnalysis analysis(settings);
        QObject::connect(&analysis, &BacklinkAnalysis::BrowserFailed, [this](const QString &line) { failures << line; });
        RunRecorder recorder(analysis);
        QStringList urls;
        for (const std::string &path : paths)
            urls << "http://" + web.Address(path);
        analysis.CheckAddresses(urls, QString::fromLatin1(kDomain));
        EXPECT_TRUE(recorder.WaitForEnd(60s));
        return analysis.Rows();
    }
};

TEST(Rendering, LinksThatScriptsWriteAreFoundAndAPageThatNeverSettlesKeepsItsVerdict)
{
    if (!HaveChromium())
        GTEST_SKIP() << "no Chromium (" << BrowserProgram().toStdString() << ") to render with";
    Rendered run;
    run.web.SetPage("/inline", Page(kWriteLink));
    run.web.SetPage("/fetched", Page("fetch('/links.json').then(r => r.json()).then(l => {"
                                     " document.getElementById('links').innerHTML = '<a href=\"' + l.url + '\">' + l.text + '</a>'; });"));
    run.web.SetPage("/links.json", R"({"url": "https://blog.example.com/", "text": "博客"})", 200,
                    "Content-Type: application/json\r\n");
    run.web.SetPage("/timer", Page(std::string("setTimeout(() => { ") + kWriteLink + " }, 1000);"));
    run.web.SetPage("/static", "<html><body><p>" + std::string(2000, 'x') + "</p></body></html>");
    run.web.SetPage("/loop", Page("for (;;) {}"));
    run.web.SetPage("/popups", Page("for (let i = 0; i < 50; ++i) { window.open('/opened'); alert(i); confirm(i); }"
                                    " const w = document.createElement('iframe'); document.body.append(w);"
                                    " w.contentWindow.open('/opened'); w.contentWindow.alert('x'); " + std::string(kWriteLink)));
    const auto rows = run.Check({"/inline", "/fetched", "/timer", "/static", "/loop", "/popups"});
    ASSERT_EQ(rows.size(), 6u);
    const struct {
        const char *valid;
        bool rendered;
        const char *link;
    } expected[] = {{"有效", true, "http://example.com/"}, {"有效", true, "https://blog.example.com/"},
                    {"有效", true, "http://example.com/"}, {"无效", false, nullptr},
                    {"无效", false, nullptr},               {"有效", true, "http://example.com/"}};
    for (std::size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(rows[i].url.toStdString());
        ASSERT_TRUE(rows[i].evidence);
        const RowEvidence &e = *rows[i].evidence;
        EXPECT_EQ(rows[i].Verdict(), QString::fromUtf8(expected[i].valid));
        EXPECT_EQ(e.rendered, expected[i].rendered) << e.renderFailure.toStdString();
        if (expected[i].link) {
            ASSERT_EQ(e.page.links.size(), 1u);
            EXPECT_EQ(e.page.links[0].url, QString::fromLatin1(expected[i].link));
            EXPECT_TRUE(VerdictToolTip(e).contains(QStringLiteral("脚本生成的链接（渲染后找到）")));
        }
    }
    EXPECT_EQ(rows[4].evidence->renderFailure, QStringLiteral("渲染超时（8 秒）"));
    EXPECT_EQ(run.web.RequestsFor("/static"), 1) << "a static page is not rendered under auto";
    EXPECT_EQ(run.web.RequestsFor("/opened"), 0) << "no pop-up opened";
    EXPECT_EQ(run.failures, QStringList());
    // The browser ends with the run, its helpers with it.
    EXPECT_TRUE(QTest::qWaitFor([] { return ChildProcesses().isEmpty(); }, 10'000)) << ChildProcesses().join(u' ').toStdString();
}

// A browser that is not there or does not speak: one line, and every row keeps its fetch's verdict.
TEST(Rendering, AMissingOrBrokenBrowserIsOneLineAndTheRowsKeepTheirVerdicts)
{
    const struct {
        const char *program;
        const char *line;
    } cases[] = {{"/nonexistent/chromium", "未找到 Chromium，跳过渲染：/nonexistent/chromium 不存在或不能执行"}, {"/bin/true", "渲染失败："}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.program);
        Rendered run;
        run.settings.browserProgram = QString::fromLatin1(c.program);
        run.web.SetPage("/a", Page(kWriteLink));
        run.web.SetPage("/b", Page(kWriteLink));
        run.web.SetPage("/c", Page("document.write('<a href=\"http://example.com/\">x</a>')"));
        const auto rows = run.Check({"/a", "/b", "/c"});
        ASSERT_EQ(run.failures.size(), 1);
        EXPECT_TRUE(run.failures[0].startsWith(QString::fromUtf8(c.line))) << run.failures[0].toStdString();
        ASSERT_EQ(rows.size(), 3u);
        EXPECT_EQ(QStringList({rows[0].Verdict(), rows[1].Verdict(), rows[2].Verdict()}), QStringList({"无效", "无效", "有效"}));
        EXPECT_EQ(rows[0].evidence->renderFailure, run.failures[0]);
    }
}

// vantorel --report --format html on ten days of two sites: one self-contained file that the
// browser shows with the sites' table, example.com's changes and a chart a site.
TEST(ReportPage, OpensInTheBrowserWithItsTablesAndCharts)
{
    if (!HaveChromium())
        GTEST_SKIP() << "no Chromium (" << BrowserProgram().toStdString() << ") to render with";
    const QTemporaryDir folder;
    const QString history = folder.filePath(QStringLiteral("history.sqlite3"));
    ASSERT_EQ(WriteTenDaysOfTwoSites(history), QString());
    const QString page = folder.filePath(QStringLiteral("report.html"));
    QProcess report;
    report.setStandardOutputFile(page);
    report.start(QStringLiteral(VANTOREL_BINARY),
                 {"--report", "--since", "7d", "--format", "html", "--db", history});
    ASSERT_TRUE(report.waitForFinished(20'000));
    ASSERT_EQ(report.exitCode(), 0) << report.readAllStandardError().toStdString();

    QStringList arguments{"--headless", "--disable-gpu", "--disable-dev-shm-usage", "--hide-scrollbars",
                          "--window-size=900,1050", "--user-data-dir=" + folder.filePath("profile")};
    if (::geteuid() == 0) // the browser refuses to run as root inside its sandbox
        arguments << QStringLiteral("--no-sandbox");
    const QString shot = folder.filePath(QStringLiteral("report.png"));
    QProcess browser;
    browser.start(BrowserProgram(), arguments + QStringList{"--screenshot=" + shot, QUrl::fromLocalFile(page).toString()});
    ASSERT_TRUE(browser.waitForFinished(60'000));
    EXPECT_GT(QFileInfo(shot).size(), 20'000) << "tables and charts, not a blank page";
    browser.start(BrowserProgram(), arguments + QStringList{"--dump-dom", QUrl::fromLocalFile(page).toString()});
    ASSERT_TRUE(browser.waitForFinished(60'000));
    const QString dom = QString::fromUtf8(browser.readAllStandardOutput());
    EXPECT_EQ(dom.count(QStringLiteral("<table")), 2) << dom.toStdString();
    EXPECT_TRUE(dom.contains(QStringLiteral("<td>丢失</td>")));
    EXPECT_EQ(dom.count(QStringLiteral("<svg")), 2);
    EXPECT_EQ(dom.count(QStringLiteral("<polyline")), 6) << "three outcomes a site";
    EXPECT_FALSE(dom.contains(QStringLiteral(" src=")) || dom.contains(QStringLiteral("<link"))) << "self-contained";
    // Where the documentation's picture comes from.
    if (const QString keep = qEnvironmentVariable("VANTOREL_REPORT_SCREENSHOT"); !keep.isEmpty())
        QFile::copy(shot, keep);
}

} // namespace
