// The window's own commands (exit, the forum links, opening a result row, hiding the progress
// panel) and its fixed layout.

#include "LoopbackServer.h"
#include "QtPrinters.h"
#include "ResultPages.h"
#include "TestWeb.h"
#include "WidgetLookup.h"

#include <BacklinkAnalysis.h>
#include <FormMain.h>
#include <GridActions.h>
#include <HistoryLocation.h>
#include <Layout.h>

#include <QAction>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDialog>
#include <QFile>
#include <QFontDatabase>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QSettings>
#include <QTableView>
#include <QThreadPool>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <map>
#include <string>
#include <iterator>

using namespace vantorel;

namespace {

class ShownWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        window.SetUrlOpener([this](const QString &address) { opened.append(address); });
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    }

    FormMain window;
    QStringList opened;
};

// --- Buttons ---

TEST_F(ShownWindow, ForumButtonsOpenTheirPagesOnAClickEnterKeypadEnterOrSpace)
{
    const struct {
        const char *button;
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        const char *opens;
    } cases[] = {
        {"Command3", Qt::Key_Return, Qt::NoModifier, "http://bbs.quillmere.com/"},
        {"Command4", Qt::Key_Enter, Qt::KeypadModifier, "http://bbs.quillmere.com/read.php?tid=5370"},
        {"Command5", Qt::Key_Space, Qt::NoModifier, "http://bbs.quillmere.com/thread.php?fid=2"},
    };
    for (const auto &c : cases) {
        opened.clear();
        auto *button = Child<QPushButton>(window, c.button);
        QTest::mouseClick(button, Qt::LeftButton);
        button->setFocus();
        QTest::keyClick(button, c.key, c.modifiers);
        EXPECT_EQ(opened, QStringList(2, QString::fromLatin1(c.opens))) << c.button;
    }
    EXPECT_TRUE(window.isVisible());
}

TEST_F(ShownWindow, ExitClosesTheWindowAndOpensNothing)
{
    QTest::mouseClick(Child<QPushButton>(window, "Command2"), Qt::LeftButton);
    EXPECT_FALSE(window.isVisible());
    EXPECT_TRUE(opened.isEmpty());
}

// --- Opening a result row ---

// Three judged rows: one that names the domain, one that does not, one whose page failed.
class FilledGrid : public ShownWindow {
protected:
    void SetUp() override
    {
        ShownWindow::SetUp();
        table = Child<QTableView>(window, "FlexGrid");
        window.Analysis().Settings().pause = std::chrono::milliseconds(0);
        web.SetPage("/a", "example.com");
        web.SetPage("/b", "nothing");
        third = QStringLiteral("https://127.0.0.1:%1/c").arg(LoopbackServer::ClosedPort());
        window.Analysis().CheckAddresses({QStringLiteral("http://") + web.Address("/a"), web.Address("/b") + QStringLiteral(" "), third},
                                         QStringLiteral("example.com"));
        ASSERT_TRUE(WaitFor([this] { return !window.Analysis().Running(); }));
        first = QStringLiteral("http://") + web.Address("/a");
        second = QStringLiteral("http://") + web.Address("/b");
    }
    QPoint CellCentre(int row, int column) const
    {
        return table->visualRect(table->model()->index(row, column)).center();
    }
    void SetCurrentRow(int row) { table->setCurrentIndex(table->model()->index(row, 0)); }

    // What a real double click delivers: press, release, double click, release.
    void DoubleClick(QPoint at)
    {
        QTest::mousePress(table->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseRelease(table->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseRelease(table->viewport(), Qt::LeftButton, {}, at);
    }

    TestWeb web;
    QTableView *table = nullptr;
    QString first, second, third;
};

TEST_F(FilledGrid, DoubleClickAnywhereOnARowOrEnterOpensItsWholeAddress)
{
    DoubleClick(CellCentre(1, 0));
    DoubleClick(CellCentre(0, 2));
    SetCurrentRow(1);
    table->setFocus();
    QTest::keyClick(table, Qt::Key_Return);
    SetCurrentRow(0);
    QTest::keyClick(table, Qt::Key_Enter);
    // An https row keeps its scheme in the grid and opens as it stands.
    DoubleClick(CellCentre(2, 1));
    EXPECT_EQ(opened, (QStringList{second, first, second, first, third}));
}

TEST_F(FilledGrid, TabIntoTheGridShowsItsCurrentRowSelected)
{
    auto *exit = Child<QPushButton>(window, "Command2");
    exit->setFocus();
    QTest::keyClick(exit, Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), table);
    EXPECT_EQ(table->currentIndex().row(), 0);
    EXPECT_TRUE(table->selectionModel()->isRowSelected(0, {}));

    SetCurrentRow(1);
    table->clearSelection();
    QTest::keyClick(table, Qt::Key_Tab);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
    ASSERT_EQ(QApplication::focusWidget(), table);
    EXPECT_TRUE(table->selectionModel()->isRowSelected(1, {}));
}

TEST_F(ShownWindow, TheNumberColumnSortsAsNumbersTheOthersAsText)
{
    std::vector<SearchResult> results;
    for (int i = 1; i <= 12; ++i)
        results.push_back({QStringLiteral("h%1.cn").arg(i)});
    window.Analysis().ParseSearchResults(SearchResultPage(QStringLiteral("12"), results), QStringLiteral("example.com"));
    auto *table = Child<QTableView>(window, "FlexGrid");
    const auto clickHeader = [table](int column) {
        QTest::mouseClick(table->horizontalHeader()->viewport(), Qt::LeftButton, {},
                          QPoint(table->horizontalHeader()->sectionViewportPosition(column) + 5, 5));
    };
    const auto column = [this](int column) {
        QStringList cells;
        for (int row = 0; row < GridRows(window); ++row)
            cells << GridText(window, row, column).trimmed();
        return cells;
    };
    clickHeader(0);
    clickHeader(0);
    EXPECT_EQ(column(0), (QStringList{"12", "11", "10", "9", "8", "7", "6", "5", "4", "3", "2", "1"}));
    clickHeader(1);
    EXPECT_EQ(column(1).mid(0, 4), (QStringList{"h1.cn", "h10.cn", "h11.cn", "h12.cn"}));
}

TEST_F(FilledGrid, SelectedRowsGoToTheClipboardAsTextAndAsATable)
{
    table->setFocus();
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, CellCentre(1, 1));
    QTest::mouseClick(table->viewport(), Qt::LeftButton, Qt::ShiftModifier, CellCentre(0, 1));
    QTest::keyClick(table, Qt::Key_C, Qt::ControlModifier);
    // The outcome tells a removed row from one that could not be checked.
    EXPECT_EQ(QApplication::clipboard()->text(),
              QStringLiteral("1\t%1\t有效\t不传递权重\n2\t%2\t无效\t已失效\n").arg(web.Address("/a"), web.Address("/b")));
    EXPECT_EQ(QApplication::clipboard()->mimeData()->html(),
              QStringLiteral("<table><tr><td>1</td><td>%1</td><td>有效</td><td>不传递权重</td></tr>"
                             "<tr><td>2</td><td>%2</td><td>无效</td><td>已失效</td></tr></table>")
                  .arg(web.Address("/a"), web.Address("/b")));

    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, CellCentre(0, 1));
    QTest::keyClick(table, Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(QApplication::clipboard()->text().section(u'\t', 0, 4),
              QStringLiteral("1\t%1\t有效\t不传递权重\t200").arg(web.Address("/a")));
    EXPECT_EQ(QApplication::clipboard()->text().count(u'\t'), 16) << "one row, seventeen columns";

    QTest::keyClick(table, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(table, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text().count(u'\n'), 3);
    EXPECT_TRUE(QApplication::clipboard()->text().endsWith(QStringLiteral("\t无效\t未能检测\n")));
}

// A long list keeps the grid true while it is judged: sorted by verdict during the run, its rows
// stand in that order as soon as it ends; sorted by number, and copied, every row is there.
TEST_F(ShownWindow, ALongListStaysSortedWhileJudgedAndCopiesWhole)
{
    constexpr int kRows = 20'000;
    TestWeb web;
    QStringList urls;
    // Twenty pages served, half of them linking, the first of those listed again last, well
    // after it was asked for; the rest on a host that refuses connections, whose pages fail
    // together without a transfer each.
    const int closedPort = LoopbackServer::ClosedPort();
    for (int i = 0; i < kRows - 1; ++i) {
        const std::string path = "/p" + std::to_string(i);
        if (i % 1000 == 0)
            web.SetPage(path, i % 2000 ? "<a href=\"http://example.com/\">x</a>" : "nothing");
        urls << (i % 1000 == 0 ? QStringLiteral("http://") + web.Address(path)
                               : QStringLiteral("http://127.0.0.1:%1/p%2").arg(closedPort).arg(i));
    }
    urls << QStringLiteral("http://") + web.Address("/p1000");
    auto *table = Child<QTableView>(window, "FlexGrid");
    const auto clickHeader = [table](int column) {
        QTest::mouseClick(table->horizontalHeader()->viewport(), Qt::LeftButton, {},
                          QPoint(table->horizontalHeader()->sectionViewportPosition(column) + 5, 5));
    };
    // A long list's rows are made off the window's thread: a list started meanwhile replaces it
    // for good.
    window.Analysis().CheckAddresses(urls, QStringLiteral("example.com"));
    window.Analysis().CheckAddresses({urls.back()}, QStringLiteral("example.com"));
    ASSERT_TRUE(WaitFor([this] { return !window.Analysis().Running(); }));
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::processEvents();
    EXPECT_EQ(GridRows(window), 1);

    window.Analysis().CheckAddresses(urls, QStringLiteral("example.com"));
    ASSERT_TRUE(WaitFor([this] { return GridRows(window) == kRows; }));
    clickHeader(2);
    ASSERT_TRUE(WaitFor([this] { return !window.Analysis().Running(); }, 60'000));
    QStringList verdicts;
    for (int row = 0; row < kRows; ++row)
        verdicts << GridText(window, row, 2).trimmed();
    EXPECT_EQ(verdicts.count(QStringLiteral("无效")), kRows - 11);
    EXPECT_EQ(verdicts.mid(kRows - 11), QStringList(11, QStringLiteral("有效"))) << verdicts.mid(kRows - 12).join(u' ').toStdString();

    clickHeader(0);
    clickHeader(0);
    EXPECT_EQ(GridText(window, 0, 0).trimmed(), QString::number(kRows));
    EXPECT_EQ(GridText(window, kRows - 1, 0).trimmed(), QStringLiteral("1"));

    table->setFocus();
    QTest::keyClick(table, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(table, Qt::Key_C, Qt::ControlModifier);
    const QString copied = QApplication::clipboard()->text();
    EXPECT_EQ(copied.count(u'\n'), kRows);
    EXPECT_TRUE(copied.startsWith(QStringLiteral("1\t%1\t无效").arg(web.Address("/p0")))) << copied.left(80).toStdString();
    QApplication::clipboard()->clear();
    window.ResultActions().CopyAll();
    EXPECT_EQ(QApplication::clipboard()->text(), copied);
}

// The evidence by keyboard: Space on the current row, or "查看依据..." for the row under the
// mouse, shows it as plain text in one dialog that keeps its text when a run replaces the rows.
TEST_F(FilledGrid, SpaceOrTheMenuShowsTheRowsEvidenceInADialogThatOutlivesTheRun)
{
    SetCurrentRow(0);
    table->setFocus();
    QTest::keyClick(table, Qt::Key_Space);
    auto *dialog = window.findChild<QDialog *>(QStringLiteral("FormEvidence"));
    ASSERT_TRUE(dialog);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_FALSE(dialog->isModal());
    auto *text = Child<QPlainTextEdit>(*dialog, "TextEvidence");
    EXPECT_TRUE(text->textInteractionFlags().testFlag(Qt::TextSelectableByKeyboard));
    const QString shown = text->toPlainText();
    const RowEvidence &evidence = *window.Analysis().Rows().front().evidence;
    EXPECT_TRUE(shown.startsWith(first + u'\n' + VerdictToolTip(evidence) + u'\n' + QStringLiteral("最终地址：") + first))
        << shown.toStdString();
    EXPECT_TRUE(shown.contains(QStringLiteral("检测时间："))) << shown.toStdString();

    Child<QPushButton>(*dialog, "CommandCopyEvidence")->click();
    EXPECT_EQ(QApplication::clipboard()->text(), shown);
    Child<QPushButton>(*dialog, "CommandOpenPage")->click();
    EXPECT_EQ(opened, QStringList{first});

    window.Analysis().CheckAddresses({second}, QStringLiteral("example.com"));
    ASSERT_TRUE(WaitFor([this] { return !window.Analysis().Running(); }));
    EXPECT_EQ(text->toPlainText(), shown);
    Child<QPushButton>(*dialog, "CommandOpenPage")->click();
    EXPECT_EQ(opened, (QStringList{first, first}));

    const std::unique_ptr<QMenu> menu = window.ResultActions().Menu(CellCentre(0, 1));
    for (QAction *action : menu->actions())
        if (action->text() == QStringLiteral("查看依据..."))
            action->trigger();
    EXPECT_TRUE(text->toPlainText().startsWith(second + u'\n')) << text->toPlainText().toStdString();
    EXPECT_EQ(window.findChildren<QDialog *>(QStringLiteral("FormEvidence")).size(), 1);
}

// Shift+F10, and the Menu key (which the platform turns into a context menu event at the
// mouse), open the grid's menu under the current row.
TEST_F(FilledGrid, ShiftF10AndTheMenuKeyOpenTheMenuAtTheCurrentRow)
{
    SetCurrentRow(1);
    table->setFocus();
    const QRect cell = table->visualRect(table->currentIndex());
    const QPoint underTheRow = table->viewport()->mapToGlobal(QPoint(cell.left(), cell.bottom()));
    const auto openedMenu = [] {
        auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        EXPECT_TRUE(menu);
        return menu;
    };

    QKeyEvent shiftF10(QEvent::KeyPress, Qt::Key_F10, Qt::ShiftModifier);
    QApplication::sendEvent(table, &shiftF10);
    QMenu *menu = openedMenu();
    ASSERT_TRUE(menu);
    EXPECT_EQ(menu->pos(), underTheRow);
    EXPECT_TRUE(menu->actions().front()->isEnabled()) << "打开链接, for the current row";
    // Esc without Shift closes it, so that Shift is not held for the tests after this one.
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(menu, &escape);
    EXPECT_FALSE(menu->isVisible());

    const QPoint mouse(2, 2); // over the number column's header, no row
    QContextMenuEvent menuKey(QContextMenuEvent::Keyboard, mouse, table->mapToGlobal(mouse));
    QApplication::sendEvent(table, &menuKey);
    menu = openedMenu();
    ASSERT_TRUE(menu);
    EXPECT_EQ(menu->pos(), underTheRow);
    menu->close();
}

TEST_F(FilledGrid, ExportWritesTheCsvWhereTheUserSaysAndReportsWhatFails)
{
    QTemporaryDir dir;
    QString suggested;
    QStringList told;
    QString answer = dir.filePath(QStringLiteral("out.csv"));
    window.ResultActions().SetDialogs({[&](const QString &path, PathChosen chosen) {
                                           suggested = path;
                                           chosen(answer);
                                       },
                                       [](PathChosen) {}, [&](const QString &message) { told << message; }});
    window.ResultActions().ExportCsv();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("/vantorel-example\\.com-\\d{8}-\\d{4}\\.csv$")).match(suggested).hasMatch())
        << suggested.toStdString();
    QFile written(answer);
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    const QByteArray csv = written.readAll();
    EXPECT_TRUE(csv.startsWith("\xEF\xBB\xBF序号,外链地址,有效性,结果,HTTP状态"));
    EXPECT_EQ(csv.count("\r\n"), 4);
    EXPECT_TRUE(told.isEmpty());

    answer = dir.filePath(QStringLiteral("missing/out.csv"));
    window.ResultActions().ExportCsv();
    ASSERT_EQ(told.size(), 1);
    EXPECT_TRUE(told.front().startsWith(u"无法保存")) << told.front().toStdString();
}

// The selected rows' addresses, in a file only its user may read, whatever the process's umask.
TEST_F(FilledGrid, ADisavowFileOfTheSelectedRowsIsSavedForItsUserAlone)
{
    QTemporaryDir dir;
    QString suggested;
    QStringList told;
    const QString answer = dir.filePath(QStringLiteral("disavow.txt"));
    GridDialogs dialogs{{}, [](PathChosen) {}, [&](const QString &message) { told << message; }};
    dialogs.askDisavowPath = [&](const QString &path, PathChosen chosen) {
        suggested = path;
        chosen(answer);
    };
    window.ResultActions().SetDialogs(dialogs);
    table->selectRow(0);
    table->selectionModel()->select(table->model()->index(2, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    const mode_t umask = ::umask(022);
    window.ResultActions().ExportDisavow();
    ::umask(umask);
    EXPECT_TRUE(suggested.endsWith(QStringLiteral("/disavow-example.com.txt"))) << suggested.toStdString();
    QFile written(answer);
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(written.readAll()).split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3);
    EXPECT_TRUE(lines[0].startsWith(QStringLiteral("# example.com 的拒绝链接文件：2 条"))) << lines[0].toStdString();
    EXPECT_EQ(lines.mid(1), (QStringList{first, third}));
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(answer).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_TRUE(told.isEmpty()) << told.join(u'\n').toStdString();
}

TEST_F(FilledGrid, TheMenuOffersOnlyWhatApplies)
{
    const auto enabled = [this](QPoint at) {
        QStringList names;
        const std::unique_ptr<QMenu> menu = window.ResultActions().Menu(at);
        for (QAction *action : menu->actions())
            if (action->isEnabled() && !action->isSeparator())
                names << action->text();
        return names;
    };
    table->selectRow(0);
    EXPECT_EQ(enabled(CellCentre(0, 1)),
              (QStringList{"打开链接", "查看依据...", "复制", "复制全部", "导出为 CSV...", "导出拒绝链接文件...",
                           "重新检测未能检测的行", "导入地址列表...", "粘贴地址并检测", "渲染脚本生成的网页",
                           "检查外链指向的本站网页"}))
        << "the failed https row could not be checked";
    table->clearSelection();
    window.Analysis().ParseSearchResults(QString(), QStringLiteral("example.com"));
    EXPECT_EQ(enabled(CellCentre(0, 1)), (QStringList{"导入地址列表...", "粘贴地址并检测", "渲染脚本生成的网页", "检查外链指向的本站网页"}));

    // The rendering setting holds for the runs that follow, and is kept (here, in a folder of the test's).
    const QTemporaryDir config;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, config.path());
    const std::unique_ptr<QMenu> menu = window.ResultActions().Menu(CellCentre(0, 1));
    const QList<QAction *> items = menu->actions();
    const auto rendering = std::find_if(items.begin(), items.end(),
                                        [](QAction *action) { return action->text() == u"渲染脚本生成的网页"; });
    ASSERT_NE(rendering, items.end());
    QList<QAction *> modes = (*rendering)->menu()->actions();
    ASSERT_EQ(modes.size(), 3);
    EXPECT_TRUE(modes[0]->isChecked());
    modes[1]->trigger();
    EXPECT_EQ(window.Analysis().Settings().render, RenderMode::Never);
    EXPECT_EQ(LoadRenderMode(), RenderMode::Never);
}

// Disabled items look disabled under the program's look.
TEST_F(ShownWindow, DisabledMenuItemsLookDisabled)
{
    const QPalette palette = QApplication::palette();
    EXPECT_NE(palette.color(QPalette::Disabled, QPalette::Text), palette.color(QPalette::Active, QPalette::Text));
    EXPECT_NE(palette.color(QPalette::Disabled, QPalette::ButtonText), palette.color(QPalette::Active, QPalette::ButtonText));
}

TEST_F(ShownWindow, NothingOpensWithoutACurrentRowOrAnAddress)
{
    auto *table = Child<QTableView>(window, "FlexGrid");
    // The empty rows before any run.
    table->setCurrentIndex(table->model()->index(5, 0));
    table->setFocus();
    QTest::keyClick(table, Qt::Key_Return);
    QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, table->visualRect(table->model()->index(6, 1)).center());

    table->setCurrentIndex({});
    QTest::keyClick(table, Qt::Key_Return);

    window.Analysis().ParseSearchResults(QString(), QStringLiteral("example.com"));
    QTest::keyClick(table, Qt::Key_Return);
    QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, QPoint(40, 10));
    EXPECT_TRUE(opened.isEmpty()) << opened.join(u' ').toStdString();
}

// --- Progress panel ---

TEST_F(ShownWindow, AClickOnThePanelOrItsStatusHidesOnlyThePanel)
{
    auto *panel = Child(window, "Frame3");
    auto *status = Child<QLabel>(window, "Label2");
    BacklinkAnalysis &run = window.Analysis();
    for (QWidget *target : {panel, static_cast<QWidget *>(status)}) {
        emit run.PanelShown(true);
        emit run.StatusChanged(QStringLiteral("开始检测,需要的时间较长..."));
        ASSERT_TRUE(panel->isVisible());
        QTest::mouseClick(target, Qt::LeftButton, {}, QPoint(3, 3));
        EXPECT_FALSE(panel->isVisible()) << target->objectName().toStdString();
        EXPECT_TRUE(window.isVisible());
    }
    EXPECT_TRUE(opened.isEmpty());

    emit run.PanelShown(true);
    EXPECT_TRUE(panel->isVisible());
    EXPECT_EQ(status->text(), QStringLiteral("开始检测,需要的时间较长..."));
}

// The panel widens to show its whole status, about the middle of the grid and never beyond
// it; only a text wider than the grid is cut, at the stop button.
TEST_F(ShownWindow, ThePanelWidensForItsStatusWithinTheGrid)
{
    auto *panel = Child(window, "Frame3");
    auto *status = Child<QLabel>(window, "Label2");
    auto *stop = Child<QPushButton>(window, "Command6");
    auto *grid = Child(window, "FlexGrid");
    BacklinkAnalysis &run = window.Analysis();
    emit run.PanelShown(true);
    const QRect designed = panel->geometry();
    for (const QString &text : {QStringLiteral("搜索引擎要求安全验证，请稍后再试..."), QStringLiteral("无法识别搜索引擎返回的页面..."),
                                QStringLiteral("当前网站无法访问...（搜索引擎：连接被拒绝）"),
                                QStringLiteral("开始分析第 368/1000 条网址..")}) {
        emit run.StatusChanged(text);
        EXPECT_EQ(status->width(), status->fontMetrics().horizontalAdvance(text)) << text.toStdString();
        EXPECT_LE(status->geometry().right(), stop->x()) << text.toStdString();
        EXPECT_LE(stop->geometry().right(), panel->width()) << text.toStdString();
        EXPECT_LE(std::abs(panel->geometry().center().x() - designed.center().x()), 1) << text.toStdString();
        EXPECT_EQ(panel->y(), designed.y());
    }
    const QString wide = QString(200, QChar(u'宽'));
    emit run.StatusChanged(wide);
    EXPECT_EQ(panel->width(), grid->width());
    EXPECT_LE(status->geometry().right(), stop->x());
    EXPECT_EQ(status->text(), wide);
}

TEST_F(ShownWindow, TheStopButtonStopsARunLikeEsc)
{
    LoopbackServer stall([](LoopbackServer::Connection &connection) { connection.sleepFor(std::chrono::seconds(60)); });
    window.Analysis().CheckAddresses({stall.url("/never")}, QStringLiteral("example.com"));
    ASSERT_TRUE(window.Analysis().Running());
    auto *stop = Child<QPushButton>(window, "Command6");
    ASSERT_TRUE(stop->isVisible());
    QTest::mouseClick(stop, Qt::LeftButton);
    EXPECT_FALSE(window.Analysis().Running());
    EXPECT_EQ(Child<QLabel>(window, "Label2")->text(), QStringLiteral("检测已停止..."));
    EXPECT_EQ(GridText(window, 0, 2), QStringLiteral("等待检测"));
    EXPECT_FALSE(stop->isEnabled()) << "nothing left to stop";
    EXPECT_EQ(Child<QLabel>(window, "Label4")->text(), QStringLiteral("地址列表：1 个网址"));
    EXPECT_TRUE(WaitFor([&] { return !Child<QWidget>(window, "Frame3")->isVisible(); })) << "the panel stays over the rows";

    window.Analysis().CheckAddresses({stall.url("/never"), stall.url("/again")}, QStringLiteral("example.com"));
    EXPECT_TRUE(stop->isEnabled());
    QTest::keyClick(&window, Qt::Key_Escape);
    EXPECT_FALSE(stop->isEnabled());
    EXPECT_EQ(Child<QLabel>(window, "Label4")->text(), QStringLiteral("地址列表：2 个网址"));
}

// The tip line says what the grid holds, whatever ran before: the engine's count after a
// search, the number of addresses after a list or a re-check of rows.
TEST(TipLine, SaysWhatTheGridHolds)
{
    TestWeb web;
    web.SetPage("/a", "example.com");
    web.SetResultPage(SearchResultPage(QStringLiteral("约2"), {{web.Address("/a")}, {web.Address("/a")}}));
    FormMain window(QuickSettings(web.server().hostAndPort()));
    BacklinkAnalysis &analysis = window.Analysis();
    const auto *tip = Child<QLabel>(window, "Label4");
    const auto ended = [&] { return WaitFor([&] { return !analysis.Running(); }); };
    const QString count = QStringLiteral("提示：当前站点 example.com 的外链数为：  约2 条");

    analysis.RunAnalysis(QStringLiteral("example.com"));
    ASSERT_TRUE(ended());
    EXPECT_EQ(tip->text(), count);
    analysis.CheckAddresses({web.Address("/a"), web.Address("/b"), web.Address("/c")}, QStringLiteral("example.com"));
    ASSERT_TRUE(ended());
    EXPECT_EQ(tip->text(), QStringLiteral("地址列表：3 个网址"));
    analysis.RunAnalysis(QStringLiteral("example.com"));
    ASSERT_TRUE(ended());
    EXPECT_EQ(tip->text(), count);
    ASSERT_TRUE(analysis.RecheckRows({1}));
    ASSERT_TRUE(ended());
    EXPECT_EQ(tip->text(), QStringLiteral("地址列表：2 个网址"));

    // A list read from the clipboard says what was read while it is checked.
    QStringList tips;
    QObject::connect(&analysis, &BacklinkAnalysis::RowsListed, &window, [&] { tips << tip->text(); });
    QApplication::clipboard()->setText(QStringLiteral("http://") + web.Address("/a"));
    window.ResultActions().PasteAndCheck();
    ASSERT_TRUE(WaitFor([&] { return !tips.isEmpty(); }));
    ASSERT_TRUE(ended());
    EXPECT_EQ(tips, QStringList{QStringLiteral("读取 1 个地址")});
    EXPECT_EQ(tip->text(), QStringLiteral("地址列表：1 个网址"));
}

TEST_F(ShownWindow, TooWideTextsStayOnOneLineAndAreCutAtTheirContainer)
{
    const QString wide = QString(80, QChar(u'宽'));
    const QSize frameSize = Child(window, "Frame2")->size();
    auto *tip = Child<QLabel>(window, "Label4");
    emit window.Analysis().TipLineChanged(wide);
    EXPECT_EQ(tip->text(), wide);
    EXPECT_EQ(tip->textFormat(), Qt::PlainText);
    EXPECT_FALSE(tip->wordWrap());
    EXPECT_EQ(tip->height(), tip->fontMetrics().height());
    EXPECT_GT(tip->geometry().right(), tip->parentWidget()->width());
    EXPECT_EQ(tip->visibleRegion().boundingRect().right(), tip->parentWidget()->width() - 1 - tip->x());
    EXPECT_EQ(Child<QLabel>(window, "Label2")->textFormat(), Qt::PlainText);
    EXPECT_EQ(Child(window, "Frame2")->size(), frameSize);
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
    EXPECT_EQ(window.minimumSize(), window.size()) << "the designed size is the smallest";

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
    emit window.Analysis().PanelShown(true);
    for (const Placement &placement : placements) {
        QWidget *widget = Child(window, placement.name);
        ASSERT_NE(widget, nullptr);
        EXPECT_EQ(widget->parentWidget()->objectName(), QString::fromLatin1(placement.container)) << placement.name;
        const QRect &t = placement.twips;
        QRect expected(t.x() / kTwipsPerPixel, t.y() / kTwipsPerPixel, t.width() / kTwipsPerPixel,
                       t.height() / kTwipsPerPixel);
        if (auto *label = qobject_cast<QLabel *>(widget))
            expected.setSize({label->fontMetrics().horizontalAdvance(label->text()), label->fontMetrics().height()});
        if (widget->objectName() == u"Frame3") {
            // The panel widens for its status and its stop button, about the same middle.
            EXPECT_GE(widget->width(), expected.width());
            EXPECT_LE(std::abs(widget->geometry().center().x() - expected.center().x()), 1);
            expected.setLeft(widget->x());
            expected.setWidth(widget->width());
        }
        EXPECT_EQ(widget->geometry(), expected) << placement.name;
        EXPECT_TRUE(widget->isVisible()) << placement.name;
    }
}

TEST_F(ShownWindow, GridAndFramesGrowWithTheWindowTheRestStaysPut)
{
    const QSize designed = window.size();
    const char *const names[] = {"Frame1", "Frame2", "Label3", "Label1", "Text1", "Command1", "Command2",
                                 "FlexGrid", "Label4", "Frame3"};
    std::map<std::string, QRect> before;
    for (const char *name : names)
        before[name] = Child(window, name)->geometry();

    const QSize growth(200, 300);
    window.resize(designed + growth);
    for (const char *name : names) {
        QRect expected = before[name];
        if (name == std::string("Frame1"))
            expected.setWidth(expected.width() + growth.width());
        if (name == std::string("Frame2") || name == std::string("FlexGrid"))
            expected.setSize(expected.size() + growth);
        if (name == std::string("Label4"))
            expected.translate(0, growth.height());
        if (name == std::string("Frame3"))
            expected.translate(growth.width() / 2, growth.height() / 2);
        EXPECT_EQ(Child(window, name)->geometry(), expected) << name;
    }

    window.resize(designed - QSize(100, 100));
    EXPECT_EQ(window.size(), designed);
    for (const char *name : names)
        EXPECT_EQ(Child(window, name)->geometry(), before[name]) << name;
}

TEST(InitialPlacement, CentredInTheAvailableAreaAndShrunkToFitIt)
{
    const QSize designed(724, 438);
    const QMargins frame(4, 30, 4, 4);
    const struct {
        const char *screen;
        QRect available;
        QRect expected;
    } cases[] = {
        {"1920x1080", {0, 0, 1920, 1040}, {598, 314, 724, 438}},
        {"second screen", {1920, 0, 1280, 1024}, {2198, 306, 724, 438}},
        {"1366x768 at 2x", {0, 0, 683, 364}, {4, 30, 675, 330}},
        {"exactly the window", {10, 20, 732, 472}, {14, 50, 724, 438}},
    };
    for (const auto &c : cases) {
        const QRect placed = InitialClientGeometry(designed, frame, c.available);
        EXPECT_EQ(placed, c.expected) << c.screen;
        EXPECT_TRUE(c.available.contains(placed.marginsAdded(frame))) << c.screen;
    }
}

TEST_F(ShownWindow, ScreenReadersHearANameAndADescriptionForEveryControl)
{
    for (QWidget *control : window.findChildren<QWidget *>()) {
        if (control->objectName().isEmpty() || control->parentWidget() == nullptr ||
            control->objectName().startsWith(u"qt_"))
            continue; // Qt's own parts of the grid
        EXPECT_FALSE(control->accessibleName().isEmpty()) << control->objectName().toStdString();
        EXPECT_FALSE(control->accessibleDescription().isEmpty()) << control->objectName().toStdString();
    }
    EXPECT_TRUE(Child(window, "Text1")->accessibleName().contains(u"网址"));
    EXPECT_TRUE(Child(window, "FlexGrid")->accessibleName().contains(u"外链地址"));
    for (QPushButton *button : window.findChildren<QPushButton *>())
        EXPECT_EQ(button->accessibleName(), QString(button->text()).remove(u' ')) << button->objectName().toStdString();
}

TEST_F(ShownWindow, TabVisitsTheControlsInOrderAndWrapsAround)
{
    const char *const order[] = {"Text1", "Command1", "Command2", "FlexGrid", "Command3", "Command4", "Command5",
                                 "Text1"};
    Child(window, "Text1")->setFocus();
    ASSERT_EQ(QApplication::focusWidget(), Child(window, "Text1"));
    for (std::size_t step = 1; step < std::size(order); ++step) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        ASSERT_EQ(QApplication::focusWidget(), Child(window, order[step]))
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

    const QFont gridFont = Child(window, "FlexGrid")->font();
    EXPECT_EQ(gridFont.pointSize(), 9);
    const QStringList families = gridFont.families();
    ASSERT_FALSE(families.isEmpty());
    EXPECT_EQ(families.first(), QStringLiteral("宋体"));
    EXPECT_TRUE(std::any_of(families.begin() + 1, families.end(), [](const QString &family) {
        return QFontDatabase::hasFamily(family) &&
               QFontDatabase::writingSystems(family).contains(QFontDatabase::SimplifiedChinese);
    })) << "an installed Chinese font backs up 宋体: " << families.join(u',').toStdString();

    EXPECT_EQ(Child(window, "Label2")->palette().color(QPalette::WindowText), QColor(192, 0, 0));
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
