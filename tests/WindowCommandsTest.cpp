// The window's own commands (exit, the forum links, opening a result row, hiding the progress
// panel) and its fixed layout.

#include <FormMain.h>

#include <QFontDatabase>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTableWidget>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>

namespace {

class ShownWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        window.SetUrlOpener([this](const QString &address) { opened.append(address); });
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    }
    template <typename T = QWidget> T *Child(const char *name)
    {
        auto *child = window.findChild<T *>(QString::fromLatin1(name));
        EXPECT_NE(child, nullptr) << name;
        return child;
    }

    FormMain window;
    QStringList opened;
};

// --- Buttons ---

TEST_F(ShownWindow, ForumButtonsOpenTheirPages)
{
    QTest::mouseClick(Child<QPushButton>("Command3"), Qt::LeftButton);
    QTest::mouseClick(Child<QPushButton>("Command4"), Qt::LeftButton);
    QTest::mouseClick(Child<QPushButton>("Command5"), Qt::LeftButton);
    EXPECT_EQ(opened, QStringList({QStringLiteral("http://bbs.quillmere.com/"),
                                   QStringLiteral("http://bbs.quillmere.com/read.php?tid=5370"),
                                   QStringLiteral("http://bbs.quillmere.com/thread.php?fid=2")}));
    EXPECT_TRUE(window.isVisible());
}

TEST_F(ShownWindow, ExitClosesTheWindowAndOpensNothing)
{
    ASSERT_FALSE(window.WindowClosed());
    QTest::mouseClick(Child<QPushButton>("Command2"), Qt::LeftButton);
    EXPECT_TRUE(window.WindowClosed());
    EXPECT_FALSE(window.isVisible());
    EXPECT_TRUE(opened.isEmpty());
}

// --- Opening a result row ---

class FilledGrid : public ShownWindow {
protected:
    void SetUp() override
    {
        ShownWindow::SetUp();
        table = Child<QTableWidget>("FlexGrid");
        ResultGridOps &grid = window.Grid();
        grid.SetCellText(1, 0, QStringLiteral("1"));
        grid.SetCellText(1, 1, QStringLiteral("first.example/a"));
        grid.SetCellText(2, 0, QStringLiteral("2"));
        grid.SetCellText(2, 1, QStringLiteral("  second.example/b\t "));
        grid.SetCellText(2, 2, QStringLiteral("有效"));
    }
    // Grid row r > 0 is table row r - 1.
    QPoint CellCentre(int gridRow, int column) const
    {
        return table->visualRect(table->model()->index(gridRow - 1, column)).center();
    }

    // What a real double click delivers: press, release, double click, release.
    void DoubleClick(QPoint at)
    {
        QTest::mousePress(table->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseRelease(table->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseRelease(table->viewport(), Qt::LeftButton, {}, at);
    }

    QTableWidget *table = nullptr;
};

TEST_F(FilledGrid, DoubleClickAnywhereOnARowOpensItsAddressWithoutOuterSpaces)
{
    DoubleClick(CellCentre(2, 0));
    DoubleClick(CellCentre(1, 2));
    EXPECT_EQ(opened, QStringList({QStringLiteral("http://second.example/b\t"),
                                   QStringLiteral("http://first.example/a")}));
}

TEST_F(FilledGrid, EnterOpensTheCurrentRow)
{
    table->setCurrentCell(1, 2);
    table->setFocus();
    QTest::keyClick(table, Qt::Key_Return);
    table->setCurrentCell(0, 0);
    QTest::keyClick(table, Qt::Key_Enter);
    EXPECT_EQ(opened, QStringList({QStringLiteral("http://second.example/b\t"),
                                   QStringLiteral("http://first.example/a")}));
}

TEST_F(FilledGrid, ARowWithoutAddressOpensTheBareScheme)
{
    table->setCurrentCell(5, 0);
    table->setFocus();
    QTest::keyClick(table, Qt::Key_Return);
    EXPECT_EQ(opened, QStringList({QStringLiteral("http://")}));
}

TEST_F(FilledGrid, NothingOpensWithoutACurrentRow)
{
    table->setCurrentCell(-1, -1);
    table->setFocus();
    QTest::keyClick(table, Qt::Key_Return);

    window.Grid().ClearGrid();
    ASSERT_TRUE(window.Grid().SetRowCount(1));
    QTest::keyClick(table, Qt::Key_Return);
    DoubleClick(QPoint(40, 10));
    EXPECT_TRUE(opened.isEmpty()) << opened.join(u' ').toStdString();
}

// --- Progress panel ---

TEST_F(ShownWindow, AClickOnThePanelOrItsStatusHidesOnlyThePanel)
{
    auto *panel = Child("Frame3");
    auto *status = Child<QLabel>("Label2");
    for (QWidget *target : {panel, static_cast<QWidget *>(status)}) {
        window.ShowProgressPanel();
        window.SetStatus(QStringLiteral("开始检测,需要的时间较长..."));
        ASSERT_TRUE(panel->isVisible());
        QTest::mouseClick(target, Qt::LeftButton, {}, QPoint(3, 3));
        EXPECT_FALSE(panel->isVisible()) << target->objectName().toStdString();
        EXPECT_TRUE(window.isVisible());
        EXPECT_FALSE(window.WindowClosed());
    }
    EXPECT_TRUE(opened.isEmpty());

    window.ShowProgressPanel();
    EXPECT_TRUE(panel->isVisible());
    EXPECT_EQ(status->text(), QStringLiteral("开始检测,需要的时间较长..."));
}

TEST_F(ShownWindow, TooWideTextsStayOnOneLineAndAreCutAtTheirContainer)
{
    const QString wide = QString(80, QChar(u'宽'));
    const QSize panelSize = Child("Frame3")->size();
    const QSize frameSize = Child("Frame2")->size();
    window.ShowProgressPanel();
    window.SetStatus(wide);
    window.SetTipLine(wide);
    for (const char *name : {"Label2", "Label4"}) {
        auto *label = Child<QLabel>(name);
        auto *container = label->parentWidget();
        EXPECT_EQ(label->text(), wide) << name;
        EXPECT_FALSE(label->wordWrap()) << name;
        EXPECT_EQ(label->height(), label->fontMetrics().height()) << name;
        EXPECT_GT(label->geometry().right(), container->width()) << name;
        EXPECT_EQ(label->visibleRegion().boundingRect().right(), container->width() - 1 - label->x()) << name;
    }
    EXPECT_EQ(Child("Frame3")->size(), panelSize);
    EXPECT_EQ(Child("Frame2")->size(), frameSize);
}

// --- Look and layout ---

struct Placement {
    const char *name;
    const char *container;
    QRect twips; // an empty size: a label, as wide as its text and one line high
};

constexpr int kTwipsPerPixel = 15; // at 96 dpi

TEST_F(ShownWindow, EveryControlSitsWhereTheLayoutPutsItAt96Dpi)
{
    if (window.logicalDpiX() != 96 || window.logicalDpiY() != 96)
        GTEST_SKIP() << "positions are checked at 96 dpi; this screen has " << window.logicalDpiX();

    EXPECT_EQ(window.size(), QSize(10860, 6570) / kTwipsPerPixel);
    EXPECT_EQ(window.minimumSize(), window.maximumSize()) << "the window has a fixed size";

    const Placement placements[] = {
        {"Frame1", "FormMain", {0, 0, 10815, 855}},
        {"Frame2", "FormMain", {0, 840, 10815, 5655}},
        {"Label3", "Frame1", {240, 360, 0, 0}},
        {"Label1", "Frame2", {120, 360, 0, 0}},
        {"Text1", "Frame2", {1200, 240, 2895, 375}},
        {"Command1", "Frame2", {4320, 240, 1095, 375}},
        {"Command4", "Frame2", {5520, 240, 1095, 375}},
        {"Command5", "Frame2", {6720, 240, 1095, 375}},
        {"Command3", "Frame2", {7920, 240, 975, 375}},
        {"Command2", "Frame2", {9000, 240, 975, 375}},
        {"FlexGrid", "Frame2", {120, 840, 10455, 4095}},
        {"Label4", "Frame2", {120, 5160, 0, 0}},
        {"Frame3", "FlexGrid", {3840, 1560, 2655, 615}},
        {"Label2", "Frame3", {240, 240, 0, 0}},
    };
    window.ShowProgressPanel();
    for (const Placement &placement : placements) {
        QWidget *widget = Child(placement.name);
        ASSERT_NE(widget, nullptr);
        EXPECT_EQ(widget->parentWidget()->objectName(), QString::fromLatin1(placement.container)) << placement.name;
        const QRect &t = placement.twips;
        QRect expected(t.x() / kTwipsPerPixel, t.y() / kTwipsPerPixel, t.width() / kTwipsPerPixel,
                       t.height() / kTwipsPerPixel);
        if (auto *label = qobject_cast<QLabel *>(widget))
            expected.setSize({label->fontMetrics().horizontalAdvance(label->text()), label->fontMetrics().height()});
        EXPECT_EQ(widget->geometry(), expected) << placement.name;
        EXPECT_TRUE(widget->isVisible()) << placement.name;
    }
}

TEST_F(ShownWindow, TabVisitsTheControlsInOrderAndWrapsAround)
{
    const char *const order[] = {"Text1", "Command1", "Command2", "FlexGrid", "Command3", "Command4", "Command5",
                                 "Text1"};
    Child("Text1")->setFocus();
    ASSERT_EQ(QApplication::focusWidget(), Child("Text1"));
    for (std::size_t step = 1; step < std::size(order); ++step) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        ASSERT_EQ(QApplication::focusWidget(), Child(order[step]))
            << "after " << order[step - 1] << " came "
            << (QApplication::focusWidget() ? QApplication::focusWidget()->objectName().toStdString() : "nothing");
    }
}

TEST_F(ShownWindow, CaptionIconFontsAndColours)
{
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Vantorel  Ver 1.5   -Quillmere（www.quillmere.com）出品  "));

    const QIcon icon = window.windowIcon();
    ASSERT_FALSE(icon.isNull());
    EXPECT_TRUE(icon.availableSizes().contains(QSize(32, 32)));
    const QImage image = icon.pixmap(QSize(32, 32)).toImage();
    EXPECT_EQ(image.pixelColor(0, 0).alpha(), 0) << "the icon's corners are transparent";
    int opaque = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            opaque += image.pixelColor(x, y).alpha() == 255;
    EXPECT_GT(opaque, 100) << "the picture itself is opaque";

    const QFont gridFont = Child("FlexGrid")->font();
    EXPECT_EQ(gridFont.pointSize(), 9);
    const QStringList families = gridFont.families();
    ASSERT_FALSE(families.isEmpty());
    EXPECT_EQ(families.first(), QStringLiteral("宋体"));
    EXPECT_TRUE(std::any_of(families.begin() + 1, families.end(), [](const QString &family) {
        return QFontDatabase::hasFamily(family) &&
               QFontDatabase::writingSystems(family).contains(QFontDatabase::SimplifiedChinese);
    })) << "an installed Chinese font backs up 宋体: " << families.join(u',').toStdString();

    EXPECT_EQ(Child("Label2")->palette().color(QPalette::WindowText), QColor(192, 0, 0));
    for (QPushButton *button : window.findChildren<QPushButton *>())
        EXPECT_FALSE(button->isDefault() || button->autoDefault()) << button->objectName().toStdString();
}

TEST_F(ShownWindow, FirstShownCentredOnTheScreen)
{
    const QRect screen = window.screen()->availableGeometry();
    const QPoint offset = window.frameGeometry().center() - screen.center();
    EXPECT_LE(offset.manhattanLength(), 2) << offset.x() << "," << offset.y();
}

} // namespace
