// The window right after start.

#include "WidgetLookup.h"

#include <FormMain.h>

#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTableView>
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

    const QAbstractItemModel *grid = Child<QTableView>(window, "FlexGrid")->model();
    ASSERT_EQ(grid->rowCount(), 16);
    EXPECT_EQ(grid->headerData(0, Qt::Horizontal), QStringLiteral("ID编号"));
    EXPECT_EQ(grid->headerData(1, Qt::Horizontal), QStringLiteral("            外链地址") + QString(71, u' '));
    EXPECT_EQ(grid->headerData(2, Qt::Horizontal), QStringLiteral(" 有效性 "));
    for (int row = 0; row < 16; ++row)
        for (int column = 0; column < 3; ++column)
            EXPECT_EQ(GridText(window, row, column), QString()) << row << "," << column;
}

TEST_F(FreshWindow, HeaderFormatCentresTheFirstColumnAndSizesColumnsToWhatTheyShow)
{
    auto *table = Child<QTableView>(window, "FlexGrid");
    const QAbstractItemModel *model = table->model();
    EXPECT_EQ(model->headerData(0, Qt::Horizontal, Qt::TextAlignmentRole).toInt() & Qt::AlignHCenter, Qt::AlignHCenter);
    EXPECT_EQ(model->headerData(1, Qt::Horizontal, Qt::TextAlignmentRole).toInt() & Qt::AlignHCenter, 0);
    const QFontMetrics metrics(table->font());
    // The verdict column fits the longest thing a waiting row says, not only its caption.
    const int longestVerdict = metrics.horizontalAdvance(QStringLiteral("等待重试（60 秒）"));
    for (int column = 0; column < 3; ++column) {
        // The address caption's spaces give way to the other columns.
        const QString text = model->headerData(column, Qt::Horizontal).toString();
        const int caption = metrics.horizontalAdvance(column == 1 ? text.trimmed() : text);
        const int widest = column == 2 ? std::max(caption, longestVerdict) : caption;
        EXPECT_GE(table->columnWidth(column), widest) << column;
        if (column != 1) { // the address column takes what the grid has beyond the captions
            EXPECT_LE(table->columnWidth(column), widest + 12) << column;
        }
    }
    EXPECT_GT(table->columnWidth(1), 4 * table->columnWidth(0));
    // The three columns fill the grid, and follow it when the window grows.
    const auto filled = [table] { return table->columnWidth(0) + table->columnWidth(1) + table->columnWidth(2); };
    EXPECT_EQ(filled(), table->viewport()->width());
    window.resize(window.size() + QSize(200, 0));
    EXPECT_EQ(filled(), table->viewport()->width());
}

// What reached the screen: the platform's picture of the window, not a fresh paint of it.
QImage OnScreen(QWidget &window)
{
    return window.screen()->grabWindow(window.winId()).toImage();
}

// What a run says reaches the screen before the run goes on: a row's status is drawn before its
// verdict is written.
TEST_F(FreshWindow, TheRunsStatusAndTipLineAreDrawnBeforeItGoesOn)
{
    BacklinkAnalysis &run = window.Analysis();
    const struct {
        const char *name;
        std::function<void()> say;
    } cases[] = {
        {"status line", [&] { emit run.StatusChanged(QStringLiteral("开始分析第 1/50 条网址..")); }},
        {"tip line", [&] { emit run.TipLineChanged(QStringLiteral("提示：当前站点 example.com 的外链数为：  12 条")); }},
    };
    emit run.PanelShown(true);
    QApplication::processEvents();
    for (const auto &step : cases) {
        const QImage before = OnScreen(window);
        step.say();
        EXPECT_NE(OnScreen(window), before) << step.name << ": not drawn before the run went on";
    }
}

TEST_F(FreshWindow, AHugeTipLineShowsOnlyWhatCanBeSeen)
{
    const QString huge = QStringLiteral("提示：") + QString(3'000'000, u'9');
    emit window.Analysis().TipLineChanged(huge);
    auto *tip = Child<QLabel>(window, "Label4");
    EXPECT_TRUE(huge.startsWith(tip->text()));
    EXPECT_GT(tip->width(), tip->parentWidget()->width()) << "still wider than its frame, so clipped";
    EXPECT_LT(tip->text().size(), 10'000);
}

} // namespace
