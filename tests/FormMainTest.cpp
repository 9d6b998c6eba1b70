// The window right after start.

#include "WidgetLookup.h"

#include <FormMain.h>

#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTableWidget>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>

using namespace vantorel;

namespace {

class FreshWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        window.activateWindow();
    }
    FormMain window;
};

TEST_F(FreshWindow, StartsWithHiddenPanelEmptyGridAndFocusInTheDomainBox)
{
    EXPECT_TRUE(Child<QWidget>(window, "Frame3")->isHidden());
    EXPECT_EQ(Child<QLabel>(window, "Label2")->text(), QStringLiteral("正在执行你的请求..."));
    EXPECT_EQ(Child<QLineEdit>(window, "Text1")->text(), QStringLiteral("www.quillmere.com"));
    EXPECT_EQ(QApplication::focusWidget(), Child<QLineEdit>(window, "Text1"));
    EXPECT_TRUE(Child<QLabel>(window, "Label4")->text().startsWith(QStringLiteral("提示：以上表格中的网站")));

    ResultGridOps &grid = window.Operations().Grid();
    ASSERT_EQ(grid.GetRowCount(), 17);
    EXPECT_EQ(grid.GetCellText(0, 0), QStringLiteral("ID编号"));
    EXPECT_EQ(grid.GetCellText(0, 1), QStringLiteral("            外链地址") + QString(71, u' '));
    EXPECT_EQ(grid.GetCellText(0, 2), QStringLiteral(" 有效性 "));
    for (int row = 1; row < 17; ++row)
        for (int column = 0; column < 3; ++column)
            EXPECT_EQ(grid.GetCellText(row, column), QString()) << row << "," << column;
}

TEST_F(FreshWindow, GridReportsReadsAndWritesOutsideIt)
{
    ResultGridOps &grid = window.Operations().Grid();
    EXPECT_FALSE(grid.GetCellText(17, 0).has_value());
    EXPECT_FALSE(grid.GetCellText(1, 3).has_value());
    EXPECT_FALSE(grid.GetCellText(-1, 0).has_value());
    EXPECT_FALSE(grid.SetCellText(17, 1, "x"));
    EXPECT_FALSE(grid.SetCellText(1, -1, "x"));
    EXPECT_FALSE(grid.SetRowCount(0));
    EXPECT_EQ(grid.GetRowCount(), 17);

    grid.ClearGrid();
    ASSERT_TRUE(grid.SetRowCount(1));
    grid.SetHeaderFormat(kResultGridHeader);
    EXPECT_EQ(grid.GetRowCount(), 1);
    EXPECT_FALSE(grid.GetCellText(1, 0).has_value());
}

TEST_F(FreshWindow, HeaderFormatCentresTheFirstColumnAndSizesColumnsToCaptions)
{
    auto *table = Child<QTableWidget>(window, "FlexGrid");
    EXPECT_EQ(table->horizontalHeaderItem(0)->textAlignment() & Qt::AlignHCenter, Qt::AlignHCenter);
    EXPECT_EQ(table->horizontalHeaderItem(1)->textAlignment() & Qt::AlignHCenter, 0);
    const QFontMetrics metrics(table->font());
    for (int column = 0; column < 3; ++column) {
        const int caption = metrics.horizontalAdvance(table->horizontalHeaderItem(column)->text());
        EXPECT_GE(table->columnWidth(column), caption) << column;
        EXPECT_LE(table->columnWidth(column), caption + 12) << column;
    }
    EXPECT_GT(table->columnWidth(1), 4 * table->columnWidth(0));
}

// What reached the screen: the platform's picture of the window, not a fresh paint of it.
QImage OnScreen(QWidget &window)
{
    return window.screen()->grabWindow(window.winId()).toImage();
}

TEST_F(FreshWindow, RepaintOperationsDrawBeforeTheyReturnAndWritesAloneDoNot)
{
    AnalysisWindow &operations = window.Operations();
    const struct {
        const char *name;
        std::function<void()> write;
        std::function<void()> repaint;
    } cases[] = {
        {"status line", [&] { operations.SetStatus(QStringLiteral("开始分析第 1/50 条网址..")); },
         [&] { operations.RepaintProgressPanel(); }},
        {"tip line", [&] { operations.SetTipLine(QStringLiteral("提示：当前站点 example.com 的外链数为：  12 条")); },
         [&] { operations.RepaintTipLine(); }},
        {"grid", [&] { operations.Grid().SetCellText(1, 1, QStringLiteral("www.example.com/page")); },
         [&] { operations.Grid().RepaintGrid(); }},
    };
    operations.ShowProgressPanel();
    QApplication::processEvents();
    for (const auto &step : cases) {
        const QImage before = OnScreen(window);
        step.write();
        EXPECT_EQ(OnScreen(window), before) << step.name << ": drawn before its repaint";
        step.repaint();
        EXPECT_NE(OnScreen(window), before) << step.name << ": not drawn by its repaint";
    }
}

TEST_F(FreshWindow, AHugeTipLineShowsOnlyWhatCanBeSeen)
{
    const QString huge = QStringLiteral("提示：") + QString(3'000'000, u'9');
    window.Operations().SetTipLine(huge);
    auto *tip = Child<QLabel>(window, "Label4");
    EXPECT_TRUE(huge.startsWith(tip->text()));
    EXPECT_GT(tip->width(), tip->parentWidget()->width()) << "still wider than its frame, so clipped";
    EXPECT_LT(tip->text().size(), 10'000);
}

} // namespace
