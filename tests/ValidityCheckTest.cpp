// The validity check: every listed page fetched and judged, row by row.

#include "FakeWindow.h"
#include "ResultPages.h"
#include "TestWeb.h"

#include "WidgetLookup.h"

#include <BacklinkAnalysis.h>
#include <FormMain.h>
#include <GridActions.h>

#include <QAction>
#include <QClipboard>
#include <QElapsedTimer>
#include <QMenu>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QTableWidget>
#include <QTest>
#include <QTextDocument>

#include <gtest/gtest.h>

using namespace vantorel;

namespace {

using namespace std::chrono_literals;

const QString kChecked = QStringLiteral("网站地址有效性检测完成...");

// A grid holding the given addresses in column 1, as parsing leaves it.
void FillGrid(FakeGrid &grid, const QStringList &addresses)
{
    grid.SetRowCount(1 + static_cast<int>(addresses.size()));
    for (int row = 1; row <= addresses.size(); ++row) {
        grid.SetCellText(row, 0, QString::number(row));
        grid.SetCellText(row, 1, addresses[row - 1]);
        grid.SetCellText(row, 2, QStringLiteral("等待检测"));
    }
}

// What a rich-text tool tip shows.
QString ShownText(const QString &toolTip)
{
    QTextDocument document;
    document.setHtml(toolTip);
    return document.toPlainText();
}

class Check : public ::testing::Test {
protected:
    FakeWindow window;
    TestWeb web;
    BacklinkAnalysis analysis{window, QuickSettings(web.server().hostAndPort())};
};

TEST_F(Check, JudgesEachPageByASearchThatIgnoresCase)
{
    web.SetPage("/has", "<a href=\"http://example.com/\">us</a>");
    web.SetPage("/upper", "<a href=\"http://EXAMPLE.COM/\">us</a>");
    web.SetPage("/longer", "see www.myexample.com.cn");
    web.SetPage("/missing", "<html>about something else</html>");
    web.SetPage("/gone", "example.com was here", 404);
    const QString closed = QStringLiteral("127.0.0.1:%1/x").arg(LoopbackServer::ClosedPort());
    FillGrid(window.grid, {web.Address("/has") + " ", web.Address("/upper"), web.Address("/longer"),
                           web.Address("/missing"), web.Address("/gone"), closed});
    window.domain = QStringLiteral("example.com");

    analysis.CheckLinkValidity(window.domain);

    EXPECT_EQ(window.grid.Column(2), (QStringList{"有效", "有效", "有效", "无效", "有效", "无效"}));
    EXPECT_EQ(web.RequestsFor("/has HTTP/1.1"), 1) << "the trailing space is not sent";
    EXPECT_TRUE(window.pageSource.isEmpty());
    EXPECT_FALSE(window.panelVisible);
}

TEST_F(Check, StatusTextsRepaintsAndEventsPerRow)
{
    web.SetPage("/a", "a");
    FillGrid(window.grid, {web.Address("/a"), web.Address("/a")});
    analysis.CheckLinkValidity(window.domain);

    EXPECT_EQ(window.statuses,
              (QStringList{"开始分析第 1/2 条网址..", "开始分析第 2/2 条网址..", kChecked}));
    // A row's status reaches the screen before its verdict, even when its page came in early.
    for (const QString row : {"开始分析第 1/2 条网址..", "开始分析第 2/2 条网址.."})
        EXPECT_EQ(window.operations.value(window.operations.indexOf("SetStatus:" + row) + 1), "RepaintProgressPanel");
    EXPECT_EQ(window.grid.repaints, 2);
    EXPECT_EQ(web.RequestsFor("/a"), 2) << "an address listed twice is fetched twice";
    EXPECT_EQ(window.operations.mid(window.operations.indexOf("SetStatus:" + kChecked)),
              (QStringList{"SetStatus:" + kChecked, "RepaintProgressPanel", "ProcessPendingEvents", "HideProgressPanel"}));
    EXPECT_EQ(window.operations.count("ProcessPendingEvents"), 3);
}

TEST_F(Check, HeaderOnlyGridFetchesNothingAndHidesThePanelAfterThePause)
{
    analysis.Settings().pause = 300ms;
    window.panelVisible = true;
    QElapsedTimer sinceEvents;
    window.onProcessEvents = [&] { sinceEvents.start(); };

    analysis.CheckLinkValidity(window.domain);

    EXPECT_EQ(web.server().requestCount(), 0);
    EXPECT_EQ(window.statuses, QStringList{kChecked});
    EXPECT_FALSE(window.panelVisible);
    EXPECT_GE(sinceEvents.elapsed(), 300) << "the panel goes only after the pause";
}

TEST_F(Check, AFailedFetchOrAnEmptyDomainIsNeverValid)
{
    // A page whose whole text reads like a failure message is still a page.
    web.SetPage("/a", GbkBytes(QStringLiteral("查看源码失败.")));
    const QString closed = QStringLiteral("127.0.0.1:%1/").arg(LoopbackServer::ClosedPort());
    FillGrid(window.grid, {closed, QString(), web.Address("/a")});

    // A domain found in any failure text must not turn a failure into a link.
    window.domain = QStringLiteral("失败");
    analysis.CheckLinkValidity(window.domain);
    EXPECT_EQ(window.grid.Column(2), (QStringList{"无效", "无效", "有效"}));

    window.domain = QString();
    analysis.CheckLinkValidity(window.domain);
    EXPECT_EQ(window.grid.Column(2), (QStringList{"无效", "无效", "无效"}));
}

TEST_F(Check, EditingTheDomainDuringARunChangesNothingItJudges)
{
    web.SetPage("/a", "first.cn");
    web.SetPage("/b", "first.cn");
    web.SetResultPage(SearchResultPage("2", {{web.Address("/a")}, {web.Address("/b")}}));
    window.domain = QStringLiteral("first.cn");
    window.onProcessEvents = [&] { window.domain = QStringLiteral("second.cn"); };

    analysis.RunAnalysis();

    EXPECT_EQ(window.grid.Column(2), (QStringList{"有效", "有效"}));
}

TEST_F(Check, SortingIsOffWhileRowsAreJudgedAndBackAfterwards)
{
    web.SetPage("/a", "x");
    FillGrid(window.grid, {web.Address("/a")});
    std::vector<bool> duringRows;
    window.onProcessEvents = [&] { duringRows.push_back(window.grid.sortingEnabled); };
    analysis.CheckLinkValidity(window.domain);

    EXPECT_EQ(duringRows.front(), false);
    EXPECT_TRUE(window.grid.sortingEnabled);
}

TEST_F(Check, StopsWhenTheWindowClosesBetweenRows)
{
    web.SetPage("/a", "x");
    FillGrid(window.grid, {web.Address("/a"), web.Address("/a"), web.Address("/a")});
    window.onProcessEvents = [&] { window.closed = true; };
    window.panelVisible = true;
    analysis.CheckLinkValidity(window.domain);

    EXPECT_EQ(window.grid.Column(2), (QStringList{"无效", "等待检测", "等待检测"}));
    EXPECT_EQ(window.statuses.size(), 1);
    EXPECT_TRUE(window.grid.sortingEnabled);
}

// In the real window, a header click between two rows must not reorder the rows being judged.
TEST(CheckInWindow, HeaderClickDuringTheCheckSortsNothingUntilItEnds)
{
    TestWeb web;
    web.SetPage("/c", "example.com");
    web.SetPage("/b", "nothing");
    web.SetPage("/a", "example.com");
    web.SetResultPage(SearchResultPage("3", {{web.Address("/c")}, {web.Address("/b")}, {web.Address("/a")}}));
    FormMain window(QuickSettings(web.server().hostAndPort()));
    window.Operations().SetDomainText(QStringLiteral("example.com"));
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    auto *table = Child<QTableWidget>(window, "FlexGrid");
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

    for (const char *path : {"/a", "/b", "/c"})
        EXPECT_EQ(web.RequestsFor(std::string(path) + " "), 1) << path;
    ResultGridOps &grid = window.Operations().Grid();
    EXPECT_EQ(grid.GetCellText(1, 1), web.Address("/c") + " ");
    EXPECT_EQ(grid.GetCellText(1, 2), QStringLiteral("有效"));
    EXPECT_EQ(grid.GetCellText(2, 2), QStringLiteral("无效"));
    EXPECT_EQ(grid.GetCellText(3, 2), QStringLiteral("有效"));

    clickAddressHeader();
    EXPECT_EQ(grid.GetCellText(1, 1), web.Address("/a") + " ");
    EXPECT_EQ(grid.GetCellText(3, 1), web.Address("/c") + " ");
    EXPECT_EQ(grid.GetCellText(1, 0), QStringLiteral("3"));
    EXPECT_TRUE(header->isSortIndicatorShown());
    grid.ClearGrid();
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
    web.SetResultPage(SearchResultPage("4", {{web.Address("/link")}, {web.Address("/nofollow")},
                                             {web.Address("/moved")}, {web.Address("/none")}}));
    FormMain window(QuickSettings(web.server().hostAndPort()));
    window.Operations().SetDomainText(QStringLiteral("example.com"));
    QTest::mouseClick(Child<QPushButton>(window, "Command1"), Qt::LeftButton);

    auto *table = Child<QTableWidget>(window, "FlexGrid");
    const struct {
        const char *colour;
        const char16_t *toolTip;
    } rows[] = {
        {"#c8e6c9", u"HTTP 200 · 1 个链接：「我的站」"},
        {"#ffe082", u"HTTP 200 · 1 个链接：「我的站」(nofollow)"},
        {"#ffcdd2", u"HTTP 301 · 页面没有提到域名"},
        {"#ffcdd2", u"HTTP 200 · 页面没有提到域名"},
    };
    for (int row = 0; row < 4; ++row) {
        EXPECT_EQ(table->item(row, 2)->background().color().name(), rows[row].colour) << row;
        EXPECT_EQ(ShownText(table->item(row, 2)->toolTip()), QString::fromUtf16(rows[row].toolTip)) << row;
    }
    EXPECT_EQ(ShownText(table->item(0, 1)->toolTip()), QStringLiteral("http://") + web.Address("/link"));
}

// Ctrl+V on the grid checks the pasted addresses against the domain, without asking the engine;
// lines that are no address are named, and nothing can be pasted or imported while it runs.
TEST(CheckInWindow, PastedAddressesAreCheckedWithoutASearch)
{
    TestWeb web;
    web.SetPage("/a", "<a href=\"https://example.com/\">友链</a>");
    web.SetPage("/b", "nothing");
    FormMain window(QuickSettings(web.server().hostAndPort()));
    QStringList told;
    window.ResultActions().SetDialogs({nullptr, nullptr, [&](const QString &message) { told << message; }});
    auto *table = Child<QTableWidget>(window, "FlexGrid");
    auto *status = Child<QLabel>(window, "Label2");
    QStringList enabledDuringRun;
    web.OnRequest([&](const std::string &) {
        QMetaObject::invokeMethod(&window, [&] {
            const std::unique_ptr<QMenu> menu = window.ResultActions().Menu(QPoint(5, 5));
            for (QAction *action : menu->actions())
                if (action->isEnabled() && !action->isSeparator())
                    enabledDuringRun << action->text();
        }, Qt::QueuedConnection);
    });

    QApplication::clipboard()->setText(QStringLiteral("# pasted\nhttp://") + web.Address("/a") + QStringLiteral("\nno address here\n") +
                                       web.Address("/b") + QStringLiteral("\n"));
    window.Operations().SetDomainText(QStringLiteral(" "));
    QTest::keyClick(table, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(status->text(), QStringLiteral("请输入要分析的网站地址..."));
    EXPECT_EQ(web.server().requestCount(), 0);

    window.Operations().SetDomainText(QStringLiteral("Example.com"));
    told.clear();
    QTest::keyClick(table, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(told, QStringList{QStringLiteral("以下行不是网址，已跳过：第 3 行。")});
    ResultGridOps &grid = window.Operations().Grid();
    ASSERT_EQ(grid.GetRowCount(), 3);
    EXPECT_EQ(grid.GetCellText(1, 1), web.Address("/a"));
    EXPECT_EQ(grid.GetCellText(2, 0), QStringLiteral("2"));
    EXPECT_EQ(grid.GetCellText(1, 2), QStringLiteral("有效"));
    EXPECT_EQ(grid.GetCellText(2, 2), QStringLiteral("无效"));
    EXPECT_EQ(status->text(), kChecked);
    EXPECT_EQ(web.RequestsFor("/s?"), 0);
    EXPECT_FALSE(enabledDuringRun.contains(QStringLiteral("粘贴地址并检测")));
    EXPECT_FALSE(enabledDuringRun.contains(QStringLiteral("导入地址列表...")));
}

// The grid follows the check down, so the row being judged is always in view.
TEST(CheckInWindow, TheRowBeingJudgedStaysInView)
{
    TestWeb web;
    web.SetPage("/a", "example.com");
    FormMain window(QuickSettings(web.server().hostAndPort()));
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    window.Operations().SetDomainText(QStringLiteral("example.com"));
    window.Analysis().CheckAddresses(QStringList(40, QStringLiteral("http://") + web.Address("/a")));

    auto *table = Child<QTableWidget>(window, "FlexGrid");
    EXPECT_GT(table->verticalScrollBar()->value(), 0);
    EXPECT_TRUE(table->viewport()->rect().intersects(table->visualItemRect(table->item(39, 2))));
}

} // namespace
