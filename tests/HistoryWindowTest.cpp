// The history window over a real history file, the verdicts' previous checks and 复查已知外链.

#include "HistorySamples.h"
#include "LoopbackServer.h"
#include "NotificationBus.h"
#include "PostgresServer.h"
#include "TestWeb.h"
#include "WidgetLookup.h"

#include <FormMain.h>
#include <GridActions.h>
#include <HistoryLocation.h>
#include <HistoryReader.h>
#include <HistoryWindow.h>
#include <HistoryWriter.h>
#include <MailDialog.h>
#include <ResultModel.h>
#include <RunChart.h>

#include <QScatterSeries>
#include <QValueAxis>
#include <RunNotices.h>
#include <WatchList.h>

#include <QAction>
#include <QCheckBox>
#include <QLineSeries>
#include <QSettings>
#include <QSpinBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>
#include <QScrollBar>
#include <QSettings>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

using namespace vantorel;

namespace {

const QString kDomain = QStringLiteral("example.com");
const QString kA = QStringLiteral("http://a.example.org/1"), kB = QStringLiteral("http://b.example.org/2"),
              kC = QStringLiteral("http://c.example.org/3"), kD = QStringLiteral("http://d.example.org/4");

void WriteRun(HistoryWriter &writer, const QString &domain, RunSource source,
              const std::vector<std::pair<QString, StoredOutcome>> &rows)
{
    const HistoryWriter::Ticket run = writer.BeginRun(domain, source, QDateTime::currentDateTime().addDays(-1));
    int number = 0;
    for (const auto &[address, outcome] : rows) {
        StoredRow row = SampleRow(++number, address, outcome);
        row.checkedAt = QDateTime::currentDateTime().addDays(-1);
        writer.SaveRow(run, row);
    }
    writer.EndRun(run, RunOutcome::Completed, std::nullopt);
}

class HistoryFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        HistoryWriter writer(path);
        WriteRun(writer, QStringLiteral("other.org"), RunSource::Search, {{kA, StoredOutcome::PassesWeight}});
        WriteRun(writer, kDomain, RunSource::Search,
                 {{kA, StoredOutcome::PassesWeight}, {kB, StoredOutcome::PassesWeight}, {kC, StoredOutcome::Removed}});
        WriteRun(writer, kDomain, RunSource::Search,
                 {{kA, StoredOutcome::PassesWeight}, {kB, StoredOutcome::Removed}, {kD, StoredOutcome::NoWeight}});
        writer.WaitUntilWritten();
        ASSERT_EQ(writer.FirstFailure(), QString());
    }

    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("history.sqlite3"));
};

QStringList Column(const QTableView &view, int column)
{
    QStringList cells;
    for (int row = 0; row < view.model()->rowCount(); ++row)
        cells << view.model()->index(row, column).data().toString();
    return cells;
}

TEST_F(HistoryFile, CtrlHOpensTheWindowWherePickingFilteringExportingAndDeletingWork)
{
    FormMain window({}, path);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    QTest::keyClick(&window, Qt::Key_H, Qt::ControlModifier);
    auto *history = Child<HistoryWindow>(window, "FormHistory");
    ASSERT_TRUE(history);
    EXPECT_TRUE(history->isVisible());
    EXPECT_FALSE(history->isModal());
    auto *domains = Child<QTableView>(*history, "GridDomains");
    auto *runs = Child<QTableView>(*history, "GridRuns");
    auto *changes = Child<QTableView>(*history, "GridChanges");
    for (QWidget *control : history->findChildren<QWidget *>())
        if (!control->objectName().isEmpty() && !control->objectName().startsWith(u"qt_")) {
            EXPECT_FALSE(control->accessibleName().isEmpty()) << control->objectName().toStdString();
        }

    // The latest checked domain comes first, and is chosen with its newest run.
    ASSERT_TRUE(WaitFor([&] { return Column(*domains, 0) == QStringList({kDomain, QStringLiteral("other.org")}); }));
    EXPECT_EQ(domains->model()->index(0, 2).data().toString(), QStringLiteral("2"));
    ASSERT_TRUE(WaitFor([&] { return runs->model()->rowCount() == 2 && changes->model()->rowCount() == 3; }));
    EXPECT_EQ(Column(*changes, 0), QStringList({QStringLiteral("丢失"), QStringLiteral("新增"), QStringLiteral("未再列出")}));
    EXPECT_EQ(Column(*changes, 2), QStringList({kB, kD, kC}));
    // 未再列出 shows the earlier run's evidence.
    EXPECT_TRUE(changes->model()->index(2, 2).data(Qt::ToolTipRole).toString().contains(OutcomeWord(StoredOutcome::Removed)));
    EXPECT_TRUE(changes->model()->index(1, 0).data(Qt::ToolTipRole).toString().contains(QStringLiteral("首页 3")));

    // Picking a domain with the keys lists its runs.
    domains->setFocus();
    QTest::keyClick(domains, Qt::Key_Down);
    ASSERT_TRUE(WaitFor([&] { return Column(*runs, 2) == QStringList({SourceWord(RunSource::Search)}); }));
    ASSERT_TRUE(WaitFor([&] { return changes->model()->rowCount() == 0; }));
    QTest::keyClick(domains, Qt::Key_Up);
    ASSERT_TRUE(WaitFor([&] { return runs->model()->rowCount() == 2 && changes->model()->rowCount() == 3; }));

    // The older run has nothing to compare with.
    runs->setCurrentIndex(runs->model()->index(1, 0));
    ASSERT_TRUE(WaitFor([&] { return changes->model()->rowCount() == 0; }));
    EXPECT_EQ(Child<QLabel>(*history, "LabelHistoryStatus")->text(), QStringLiteral("没有可比较的上一次检测。"));
    runs->setCurrentIndex(runs->model()->index(0, 0));
    ASSERT_TRUE(WaitFor([&] { return changes->model()->rowCount() == 3; }));

    auto *kinds = Child<QComboBox>(*history, "ComboKind");
    kinds->setCurrentText(QStringLiteral("丢失"));
    EXPECT_EQ(Column(*changes, 2), QStringList({kB}));

    // Every column of the domains in view at the window's first size.
    EXPECT_FALSE(domains->horizontalScrollBar()->isVisible());
    int columns = 0;
    for (int column = 0; column < domains->model()->columnCount(); ++column)
        columns += domains->columnWidth(column);
    EXPECT_LE(columns, domains->viewport()->width());

    QStringList asked;
    bool answer = false;
    const QString csvPath = dir.filePath(QStringLiteral("changes.csv"));
    QString suggested;
    history->SetDialogs({[&](const QString &path, PathChosen chosen) {
                             suggested = path;
                             chosen(csvPath);
                         },
                         [&](const QString &question, std::function<void()> yes) {
                             asked << question;
                             if (answer)
                                 yes();
                         },
                         [&](const QString &message) { ADD_FAILURE() << message.toStdString(); },
                         {},
                         {}});
    Child<QPushButton>(*history, "CommandExportChanges")->click();
    QFile csv(csvPath);
    ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
    const StoredRun latest = HistoryReader(path).Runs(kDomain).front().run;
    EXPECT_TRUE(suggested.endsWith(QStringLiteral("/vantorel-changes-example.com-%1.csv").arg(latest.id)))
        << suggested.toStdString();
    EXPECT_EQ(csv.readAll(), QByteArray("\xEF\xBB\xBF") +
                                 QStringLiteral("网站,检测编号,时间,变化,外链地址,上次,本次,依据\r\n"
                                                "example.com,%1,%2,丢失,%3,%4,%5,HTTP 200，链接 https://example.com/（锚文本“首页 2”）\r\n")
                                     .arg(latest.id)
                                     .arg(latest.startedAt.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm")), kB,
                                          OutcomeWord(StoredOutcome::PassesWeight) + QStringLiteral("；锚文本“首页 2”、“商店”、“a page of the shop”"),
                                          OutcomeWord(StoredOutcome::Removed))
                                     .toUtf8());

    // Deleting asks first; a no keeps the run.
    const struct {
        const char *button;
        bool answer;
        QStringList domainsLeft;
        int runsLeft;
    } deletes[] = {{"CommandDeleteRun", false, {kDomain, QStringLiteral("other.org")}, 2},
                   {"CommandDeleteRun", true, {kDomain, QStringLiteral("other.org")}, 1},
                   {"CommandDeleteDomain", true, {QStringLiteral("other.org")}, 0}};
    for (const auto &step : deletes) {
        SCOPED_TRACE(step.button);
        answer = step.answer;
        const qsizetype questions = asked.size();
        Child<QPushButton>(*history, step.button)->click();
        EXPECT_EQ(asked.size(), questions + 1);
        ASSERT_TRUE(WaitFor([&] {
            HistoryReader reader(path);
            return static_cast<int>(reader.Domains().size()) == step.domainsLeft.size() &&
                   static_cast<int>(reader.Runs(kDomain).size()) == step.runsLeft &&
                   Column(*domains, 0) == step.domainsLeft;
        }));
        if (step.runsLeft > 0) { // the domain stays chosen
            ASSERT_TRUE(WaitFor([&] { return Column(*runs, 0).size() == step.runsLeft; }));
        }
    }
    EXPECT_TRUE(asked.front().contains(kDomain));

    QTest::keyClick(Child<QTableView>(*history, "GridChanges"), Qt::Key_Escape);
    EXPECT_FALSE(history->isVisible());
    EXPECT_TRUE(window.isVisible());
}

// A judged row whose address an earlier run checked names that check in its verdict's tool tip,
// and 复查已知外链 checks what was ever 有效 without the engine.
TEST_F(HistoryFile, VerdictToolTipsNameThePreviousCheckAndRecheckTakesTheKnownValidAddresses)
{
    TestWeb web;
    web.SetPage("/page", "nothing here");
    const QString page = QStringLiteral("http://") + web.Address("/page");
    {
        HistoryWriter writer(path);
        WriteRun(writer, kDomain, RunSource::AddressList, {{page, StoredOutcome::PassesWeight}});
    }
    FormMain window(QuickSettings(web.Address("/s")), path);
    window.Analysis().CheckAddresses({page}, kDomain);
    const QAbstractItemModel &model = *Child<QTableView>(window, "FlexGrid")->model();
    ASSERT_TRUE(WaitFor([&] { return !window.Analysis().Running(); }));
    ASSERT_TRUE(WaitFor([&] { return model.index(0, ResultModel::kVerdictColumn).data(Qt::ToolTipRole).toString().contains(u"上次检测"); }));
    EXPECT_TRUE(model.index(0, ResultModel::kVerdictColumn).data(Qt::ToolTipRole).toString().contains(QStringLiteral("有效，传递权重 · 丢失")));
    // However narrow the tip, the previous check's date and time stay on one line.
    QTextDocument tip;
    tip.setHtml(model.index(0, ResultModel::kVerdictColumn).data(Qt::ToolTipRole).toString());
    const QTextBlock block = tip.findBlock(0);
    const qsizetype date = block.text().indexOf(QStringLiteral("上次检测（")) + 5;
    for (int width = 150; width <= 800; width += 3) {
        tip.setTextWidth(width);
        tip.size(); // laid out now
        const QTextLayout &lines = *block.layout();
        ASSERT_GT(lines.lineCount(), 1) << width;
        EXPECT_EQ(lines.lineForTextPosition(static_cast<int>(date)).lineNumber(),
                  lines.lineForTextPosition(static_cast<int>(date + 15)).lineNumber())
            << width << " px: " << block.text().mid(date, 16).toStdString();
    }
    // The evidence dialog shows the tip's text with the previous check.
    window.ResultActions().ShowEvidence(0);
    EXPECT_TRUE(Child<QPlainTextEdit>(window, "TextEvidence")->toPlainText().contains(QStringLiteral("上次检测（")));
    // The next run names the check just made, and no longer the one before it; the history
    // window, open meanwhile, lists the run once it has ended.
    window.OpenHistory();
    const auto *runs = Child<QTableView>(window, "GridRuns");
    ASSERT_TRUE(WaitFor([&] { return runs->model()->rowCount() == 4; }));
    window.Analysis().CheckAddresses({page}, kDomain);
    ASSERT_TRUE(WaitFor([&] { return !window.Analysis().Running(); }));
    ASSERT_TRUE(WaitFor([&] { return runs->model()->rowCount() == 5; }));
    EXPECT_EQ(runs->model()->index(0, 4).data().toString(), QStringLiteral("1")); // its one row
    ASSERT_TRUE(WaitFor([&] {
        const QString tip = model.index(0, ResultModel::kVerdictColumn).data(Qt::ToolTipRole).toString();
        return tip.contains(QStringLiteral("）：") + OutcomeWord(StoredOutcome::Removed)) && !tip.contains(u"丢失");
    }));

    std::unique_ptr<QMenu> menu = window.ResultActions().Menu({});
    QAction *recheck = nullptr;
    for (QAction *action : menu->actions())
        if (action->text() == QStringLiteral("复查已知外链"))
            recheck = action;
    ASSERT_TRUE(recheck);
    std::optional<RunKind> started;
    QObject::connect(&window.Analysis(), &BacklinkAnalysis::RunStarted, [&](RunKind kind, const QString &) { started = kind; });
    window.RecheckKnownLinks(QStringLiteral("nothing.example"));
    ASSERT_TRUE(WaitFor([&] {
        return Child<QLabel>(window, "Label2")->text() == QStringLiteral("该网站还没有有效的外链记录，无法复查...");
    }));
    EXPECT_FALSE(started);
    window.RecheckKnownLinks(QStringLiteral("http://example.com/"));
    ASSERT_TRUE(WaitFor([&] { return started.has_value(); }));
    EXPECT_EQ(*started, RunKind::Recheck);
    QStringList checked;
    for (const ResultRow &row : window.Analysis().Rows())
        checked << row.url;
    EXPECT_EQ(checked, QStringList({kA, kB, kD, page})); // in the order they were first found
    window.Analysis().Stop();
    EXPECT_EQ(Child<QLabel>(window, "Label4")->text(), QStringLiteral("地址列表：4 个网址"));
}

// A long site name widens the domains' list so that every column shows without a scroll bar.
// At 1,000 pixels wide, a long site name and ten runs show whole, without scrolling sideways.
TEST(HistoryDomains, EveryColumnAndTenRunsShowAtAThousandPixels)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("history.sqlite3"));
    const QString site = QStringLiteral("backlinks-of-a-long-site.example.com");
    HistoryWriter writer(path);
    for (int run = 0; run < 12; ++run)
        WriteRun(writer, site, RunSource::Search, {{kA, StoredOutcome::PassesWeight}});
    HistoryWindow history(path, writer);
    history.resize(1000, history.height());
    history.show();
    history.Reload();
    const auto *domains = Child<QTableView>(history, "GridDomains");
    const auto *runs = Child<QTableView>(history, "GridRuns");
    ASSERT_TRUE(WaitFor([&] { return Column(*domains, 0) == QStringList{site} && runs->model()->rowCount() == 12; }));
    QTest::qWait(50); // laid out
    EXPECT_FALSE(domains->horizontalScrollBar()->isVisible());
    EXPECT_FALSE(runs->horizontalScrollBar()->isVisible());
    const int lowest = runs->rowAt(runs->viewport()->height() - 1); // -1: below the last row
    EXPECT_GE(lowest < 0 ? runs->model()->rowCount() : lowest, 10) << "fewer than ten runs in view";
}

// A run still being written cannot be deleted, alone or with its site, and closing the window
// keeps it as stopped.
TEST_F(HistoryFile, ARunBeingWrittenIsKeptAndClosingTheWindowStopsIt)
{
    LoopbackServer stall([](LoopbackServer::Connection &connection) { connection.sleepFor(std::chrono::seconds(60)); });
    {
        FormMain window(QuickSettings(stall.hostAndPort()), path);
        window.show();
        window.Analysis().CheckAddresses({QStringLiteral("http://%1/x").arg(stall.hostAndPort())}, QStringLiteral("www.example.com"));
        window.OpenHistory();
        auto *history = Child<HistoryWindow>(window, "FormHistory");
        auto *runs = Child<QTableView>(*history, "GridRuns");
        ASSERT_TRUE(WaitFor([&] { return runs->model()->rowCount() == 3; })) << "one site, whatever its form";
        QStringList told;
        history->SetDialogs({[](const QString &, PathChosen) {},
                             [](const QString &question, std::function<void()> yes) {
                                 ADD_FAILURE() << "asked " << question.toStdString();
                                 yes();
                             },
                             [&](const QString &message) { told << message; },
                             {},
                             {}});
        Child<QPushButton>(*history, "CommandDeleteRun")->click();
        Child<QPushButton>(*history, "CommandDeleteDomain")->click();
        EXPECT_EQ(told, QStringList(2, QStringLiteral("检测进行中，结束后才能删除")));
        EXPECT_TRUE(window.Analysis().Running());
        window.close();
    }
    HistoryReader reader(path);
    const std::vector<RunSummary> runs = reader.Runs(kDomain);
    ASSERT_EQ(runs.size(), 3u);
    EXPECT_EQ(runs[0].run.outcome, RunOutcome::Stopped);
    EXPECT_EQ(RunOutcomeWord(runs[0].run), QStringLiteral("已停止"));
}

// 历史记录位置 refuses an address the store cannot take, and once a server's is accepted, keeps it
// and keeps the next runs there.
TEST_F(HistoryFile, TheHistoryLocationIsKeptAndTheNextRunsGoToTheServerChosen)
{
    QString skipReason;
    PostgresServer *server = PostgresServer::Shared(skipReason);
    if (!server)
        GTEST_SKIP() << skipReason.toStdString();
    ASSERT_EQ(server->Error(), QString());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.filePath(QStringLiteral("config")));
    const QString database = server->NewDatabase();
    TestWeb web;
    web.SetPage("/a", "<a href=\"http://example.com/\">我的站</a>");
    FormMain window(QuickSettings(web.server().hostAndPort()), path);
    window.show();

    std::unique_ptr<QMenu> menu = window.ResultActions().Menu({});
    for (QAction *action : menu->actions())
        if (action->text() == QStringLiteral("历史记录位置..."))
            action->trigger();
    auto *dialog = Child<HistoryLocationDialog>(window, "HistoryLocationDialog");
    ASSERT_TRUE(dialog);
    ASSERT_TRUE(dialog->isVisible());
    dialog->findChildren<QRadioButton *>().at(1)->click();
    auto *address = dialog->findChildren<QLineEdit *>().at(1);
    QPushButton *ok = dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok);
    address->setText(QStringLiteral("http://db.example/history"));
    ok->click();
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(Child<QLabel>(*dialog, "problem")->text(), QStringLiteral("PostgreSQL 服务器的地址应以 postgresql:// 开头"));
    // 测试连接 says whether the server answers, without closing the dialog or keeping anything.
    auto *tested = Child<QLabel>(*dialog, "testResult");
    const auto test = [&](const QString &typed) {
        address->setText(typed);
        Child<QPushButton>(*dialog, "testConnection")->click();
        EXPECT_TRUE(WaitFor([&] { return tested->text() != QStringLiteral("正在连接..."); }));
        return tested->text();
    };
    EXPECT_TRUE(test(server->Address(QStringLiteral("no_such_database"))).startsWith(QStringLiteral("无法连接 PostgreSQL 服务器")));
    EXPECT_EQ(test(database), QStringLiteral("连接成功"));
    EXPECT_FALSE(LoadHistoryLocation().onServer);
    ok->click();
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(window.HistoryPath(), database);
    const HistoryLocationSetting kept = LoadHistoryLocation();
    EXPECT_TRUE(kept.onServer);
    EXPECT_EQ(kept.Location(), database);

    window.Analysis().CheckAddresses({QStringLiteral("http://") + web.Address("/a")}, kDomain);
    ASSERT_TRUE(WaitFor([&] { return !window.Analysis().Running(); }));
    ASSERT_TRUE(WaitFor([&] { return HistoryReader(database).Runs(kDomain).size() == 1; }));
    EXPECT_EQ(HistoryReader(path).Runs(kDomain).size(), 2u);
}

} // namespace

namespace {

// A history file that cannot be written never stops a run: the run completes and shows, the
// status line then says why once, and the file is left exactly as it was.
TEST(HistoryFailure, ARunCompletesAndTheStatusLineSaysWhyTheHistoryWasNotSaved)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("history.sqlite3"));
    QFile junk(path);
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    const QByteArray bytes(8192, '\x5a');
    junk.write(bytes);
    junk.close();
    TestWeb web;
    web.SetPage("/a", "<a href=\"http://example.com/\">我的站</a>");
    FormMain window(QuickSettings(web.server().hostAndPort()), path);
    auto *status = Child<QLabel>(window, "Label2");
    QStringList statuses;
    QObject::connect(&window.Analysis(), &BacklinkAnalysis::Finished, status, [&] { statuses << status->text(); });

    window.Analysis().CheckAddresses({QStringLiteral("http://") + web.Address("/a")}, kDomain);
    ASSERT_TRUE(WaitFor([&] { return status->text().startsWith(u"历史记录无法保存："); }));
    EXPECT_EQ(GridText(window, 0, 2), QStringLiteral("有效"));
    EXPECT_EQ(window.Analysis().Outcome(), RunOutcome::Completed);
    QTest::qWait(200);
    EXPECT_TRUE(status->text().startsWith(u"历史记录无法保存：")) << "said once, and not taken back";
    ASSERT_TRUE(junk.open(QIODevice::ReadOnly));
    EXPECT_EQ(junk.readAll(), bytes);
}

} // namespace

namespace {

// The settings of these tests in a folder of their own, never the user's.
void UseTestSettings()
{
    static const QTemporaryDir settings;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
}

TEST_F(HistoryFile, TheChartTheWatchListAndTheWebhooksAreSetFromTheWindow)
{
    UseTestSettings();
    {
        HistoryWriter writer(path);
        const HistoryWriter::Ticket run = writer.BeginRun(kDomain, RunSource::Recheck, QDateTime::currentDateTime());
        writer.SaveRow(run, SampleRow(1, kA, StoredOutcome::Removed));
        writer.EndRun(run, RunOutcome::Completed, std::nullopt);
    }
    FormMain window({}, path);
    window.OpenHistory();
    auto *history = Child<HistoryWindow>(window, "FormHistory");
    auto *runs = Child<QTableView>(*history, "GridRuns");
    ASSERT_TRUE(WaitFor([&] { return runs->model()->rowCount() == 3; }));

    // One point per run and outcome, oldest first; a point names its run and a click picks it.
    auto *chart = Child<RunChart>(*history, "ChartRuns");
    QLineSeries *valid = chart->Series(0);
    ASSERT_EQ(valid->count(), 3);
    EXPECT_EQ(valid->at(2).y(), 0);
    EXPECT_EQ(chart->Series(1)->at(2).y(), 1);
    EXPECT_LE(valid->at(0).x(), valid->at(1).x());
    EXPECT_LT(valid->at(1).x(), valid->at(2).x());
    emit valid->hovered(valid->at(2), true);
    EXPECT_TRUE(chart->toolTip().startsWith(QStringLiteral("检测 %1（").arg(runs->model()->index(0, 0).data().toString())))
        << chart->toolTip().toStdString();
    EXPECT_TRUE(chart->toolTip().endsWith(QStringLiteral("复查）：有效 0，已失效 1，未能检测 0")));
    runs->setCurrentIndex(runs->model()->index(0, 0));
    emit chart->Series(2)->clicked(chart->Series(2)->at(0));
    EXPECT_EQ(runs->currentIndex().row(), 2);

    EXPECT_FALSE(chart->Unfinished()->isVisible()) << "every run completed";
    // Ticks at round values; a run that did not complete is a mark of its own, not a dip.
    for (const auto &[most, step] : {std::pair(1, 1), std::pair(5, 1), std::pair(6, 2), std::pair(7, 2), std::pair(11, 5),
                                     std::pair(26, 10), std::pair(1500, 500)})
        EXPECT_EQ(RoundTickStep(most), step) << most;
    std::vector<RunSummary> shown(3);
    for (std::size_t i = 0; i < shown.size(); ++i) {
        shown[i].run.id = static_cast<qint64>(i + 1);
        shown[i].run.startedAt = QDateTime::currentDateTime().addDays(static_cast<qint64>(i));
        shown[i].run.outcome = RunOutcome::Completed;
        shown[i].valid = 6;
    }
    shown[1].run.outcome = RunOutcome::Stopped;
    shown[1].valid = 0;
    chart->ShowRuns(shown);
    EXPECT_EQ(chart->Series(0)->count(), 2);
    EXPECT_EQ(chart->Series(0)->at(1).y(), 6) << "no dip for the stopped run";
    ASSERT_EQ(chart->Unfinished()->count(), 1);
    EXPECT_TRUE(chart->Unfinished()->isVisible());
    emit chart->Unfinished()->hovered(chart->Unfinished()->at(0), true);
    EXPECT_TRUE(chart->toolTip().startsWith(u"检测 2（")) << chart->toolTip().toStdString();
    EXPECT_TRUE(chart->toolTip().endsWith(u"）：已停止，不计入图表")) << chart->toolTip().toStdString();
    // A failed search names why.
    shown[1].run.outcome = RunOutcome::EngineUnreachable;
    shown[1].run.countText = QStringLiteral("当前网站无法访问...（搜索引擎：连接超时）");
    chart->ShowRuns(shown);
    emit chart->Unfinished()->hovered(chart->Unfinished()->at(0), true);
    EXPECT_TRUE(chart->toolTip().endsWith(u"）：当前网站无法访问...（搜索引擎：连接超时），不计入图表")) << chart->toolTip().toStdString();
    EXPECT_EQ(chart->CountAxis()->max(), 6);
    EXPECT_EQ(chart->CountAxis()->tickCount(), 4);
    chart->ShowRuns({});
    EXPECT_EQ(chart->chart()->title(), QStringLiteral("暂无检测记录"));
    EXPECT_FALSE(chart->CountAxis()->isVisible());

    // "每天自动复查" writes the watch list, and the window reads it back.
    auto *watch = Child<QCheckBox>(*history, "CheckWatch");
    auto *interval = Child<QSpinBox>(*history, "SpinInterval");
    const auto watched = [this] {
        WatchList list(path);
        return list.Watched().value_or(std::vector<WatchedDomain>{});
    };
    EXPECT_FALSE(watch->isChecked());
    watch->click();
    ASSERT_TRUE(WaitFor([&] { return watched().size() == 1 && watched()[0].domain == kDomain; }));
    EXPECT_EQ(watched()[0].intervalHours, 24);
    interval->setValue(6);
    emit interval->editingFinished();
    ASSERT_TRUE(WaitFor([&] { return watched().size() == 1 && watched()[0].intervalHours == 6; }));
    auto *watchConfirm = Child<QSpinBox>(*history, "SpinWatchConfirm");
    EXPECT_EQ(watchConfirm->value(), 1);
    watchConfirm->setValue(3);
    emit watchConfirm->editingFinished();
    ASSERT_TRUE(WaitFor([&] { return watched().size() == 1 && watched()[0].confirmChecks == 3; }));
    history->Reload();
    const auto *domains = Child<QTableView>(*history, "GridDomains");
    ASSERT_TRUE(WaitFor([&] { return domains->model()->index(0, 7).data().toString() == QStringLiteral("每 6 小时"); }));
    EXPECT_TRUE(watch->isChecked());
    EXPECT_EQ(interval->value(), 6);
    EXPECT_EQ(watchConfirm->value(), 3);
    watch->click();
    ASSERT_TRUE(WaitFor([&] { return watched().empty(); }));

    // The webhooks are kept in the settings, for the next start too.
    ASSERT_TRUE(WaitFor([&] { return window.Notices()->Webhooks().isEmpty(); }));
    history->SetDialogs({{}, {}, {}, [](const QStringList &, std::function<void(const QStringList &)> done) {
                             done({QStringLiteral("http://127.0.0.1:9/hook")});
                         }, {}});
    Child<QPushButton>(*history, "CommandWebhooks")->click();
    EXPECT_EQ(window.Notices()->Webhooks(), QStringList{QStringLiteral("http://127.0.0.1:9/hook")});
    ASSERT_TRUE(WaitFor([] {
        return QSettings(QStringLiteral("vantorel"), QStringLiteral("vantorel")).value(QStringLiteral("notify/webhooks")).toStringList().size() == 1;
    }));
    // 自动清理 is off until set, and kept in the settings.
    auto *keep = Child<QSpinBox>(*history, "SpinKeepDays");
    ASSERT_TRUE(WaitFor([&] { return keep->text() == QStringLiteral("自动清理：关闭（默认）"); }));
    keep->setValue(30);
    emit keep->editingFinished();
    EXPECT_EQ(window.Notices()->KeepDays(), 30);
    EXPECT_EQ(keep->text(), QStringLiteral("自动清理：30 天前的无变化检测"));
    ASSERT_TRUE(WaitFor([] {
        return QSettings(QStringLiteral("vantorel"), QStringLiteral("vantorel")).value(QStringLiteral("history/keepDays")).toInt() == 30;
    }));
    // So is how many checks in a row confirm a loss in the window's own runs.
    auto *confirm = Child<QSpinBox>(*history, "SpinConfirm");
    EXPECT_EQ(confirm->value(), 1);
    confirm->setValue(2);
    emit confirm->editingFinished();
    EXPECT_EQ(window.Notices()->ConfirmChecks(), 2);
    ASSERT_TRUE(WaitFor([] {
        return QSettings(QStringLiteral("vantorel"), QStringLiteral("vantorel")).value(QStringLiteral("history/confirmChecks")).toInt() == 2;
    }));
    // So is the e-mail; settings that cannot send are refused and change nothing.
    const MailSettings mail{QStringLiteral("smtps://mail.example.org:465"), QStringLiteral("seo@example.org"),
                            {QStringLiteral("a@example.org"), QStringLiteral("b@example.org")}};
    history->SetDialogs({{}, {}, {}, {}, [&mail](const MailSettings &, std::function<void(const MailSettings &)> done) {
                             done(mail);
                         }});
    Child<QPushButton>(*history, "CommandMail")->click();
    EXPECT_EQ(window.Notices()->Mail(), mail);
    ASSERT_TRUE(WaitFor([&mail] {
        return QSettings(QStringLiteral("vantorel"), QStringLiteral("vantorel")).value(QStringLiteral("notify/mailTo")).toStringList() == mail.to;
    })) << "kept before the next window reads it";
    FormMain next({}, path);
    EXPECT_TRUE(WaitFor([&] { return next.Notices()->Webhooks() == window.Notices()->Webhooks(); }));
    EXPECT_TRUE(WaitFor([&] { return next.Notices()->Mail() == mail; }));
    EXPECT_EQ(MailAddressesIn(QStringLiteral("a@example.org，b@example.org; c@example.org\n")),
              (QStringList{"a@example.org", "b@example.org", "c@example.org"}));
    EXPECT_TRUE(WaitFor([&] { return next.Notices()->KeepDays() == 30; }));
    EXPECT_TRUE(WaitFor([&] { return next.Notices()->ConfirmChecks() == 2; }));
    window.Notices()->SetConfirmChecks(1); // the windows of the tests that follow tell a loss at once
    ASSERT_TRUE(WaitFor([] {
        return QSettings(QStringLiteral("vantorel"), QStringLiteral("vantorel")).value(QStringLiteral("history/confirmChecks")).toInt() == 1;
    }));

    // "不再复查此地址" on a change: the site's re-checks pass the address by.
    runs->setCurrentIndex(runs->model()->index(1, 0));
    const auto *changes = Child<QTableView>(*history, "GridChanges");
    int addressColumn = 0;
    while (addressColumn < changes->model()->columnCount() &&
           changes->model()->headerData(addressColumn, Qt::Horizontal).toString() != QStringLiteral("外链地址"))
        ++addressColumn;
    ASSERT_TRUE(WaitFor([&] { return changes->model()->rowCount() > 0 && changes->model()->index(0, addressColumn).data().toString() != QString(); }));
    const QString address = changes->model()->index(0, addressColumn).data().toString();
    ASSERT_TRUE(HistoryReader(path).KnownValidAddresses(kDomain).contains(address));
    std::unique_ptr<QMenu> menu = history->ChangeMenu(0);
    ASSERT_EQ(menu->actions().size(), 1);
    EXPECT_FALSE(history->ChangeMenu(-1)->actions().front()->isEnabled()) << "not below the changes";
    menu->actions().front()->trigger();
    EXPECT_EQ(Child<QLabel>(*history, "LabelHistoryStatus")->text(),
              QStringLiteral("复查 example.com 时不再检测 %1，直到搜索引擎或地址列表再次列出它").arg(address));
    EXPECT_TRUE(WaitFor([&] { return !HistoryReader(path).KnownValidAddresses(kDomain).contains(address); }));
}

// 外链约定... on a row: the dialog shows the row's link until something is agreed, then the
// agreement; the next check that breaks it tells 目标页不符, an agreement the latest check
// already breaks says so at once, and 清除约定 clears it.
TEST(WindowAgreement, ALinkAgreedOnARowIsToldWhenACheckBreaksItAndCanBeCleared)
{
    UseTestSettings();
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("history.sqlite3"));
    TestWeb web;
    web.SetPage("/a", "<a href=\"http://example.com/buy.html\">买</a>");
    const QString page = QStringLiteral("http://") + web.Address("/a");
    FormMain window(QuickSettings(web.server().hostAndPort()), path);
    window.show();
    const auto check = [&] {
        window.Analysis().CheckAddresses({page}, kDomain);
        return WaitFor([&] { return !window.Analysis().Running(); });
    };
    ASSERT_TRUE(check());
    const auto action = [&](const QString &text) {
        std::unique_ptr<QMenu> menu = window.ResultActions().Menu(QPoint(5, 5));
        for (QAction *found : menu->actions())
            if (found->text() == text) {
                EXPECT_TRUE(found->isEnabled()) << text.toStdString();
                found->trigger();
                return;
            }
        ADD_FAILURE() << text.toStdString();
    };
    const auto openDialog = [&] {
        action(QStringLiteral("外链约定..."));
        QDialog *dialog = nullptr;
        EXPECT_TRUE(WaitFor([&] { return (dialog = window.findChild<QDialog *>(QStringLiteral("ExpectationDialog"))) != nullptr; }));
        return dialog;
    };
    QPointer<QDialog> dialog = openDialog();
    ASSERT_TRUE(dialog);
    EXPECT_EQ(Child<QLineEdit>(*dialog, "EditExpectedTarget")->text(), QStringLiteral("http://example.com/buy.html"));
    EXPECT_EQ(Child<QLineEdit>(*dialog, "EditExpectedAnchor")->text(), QStringLiteral("买"));
    EXPECT_TRUE(Child<QCheckBox>(*dialog, "CheckExpectedFollow")->isChecked());
    for (const char *elsewhere : {"ftp://example.com/", "https://example.org/buy.html"}) {
        Child<QLineEdit>(*dialog, "EditExpectedTarget")->setText(QString::fromLatin1(elsewhere));
        dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->click();
        ASSERT_TRUE(dialog->isVisible()) << elsewhere;
        auto *box = dialog->findChild<QMessageBox *>();
        ASSERT_TRUE(box);
        EXPECT_EQ(box->text(), QStringLiteral("目标页应是 example.com 的 http:// 或 https:// 网址"));
        delete box;
    }
    Child<QLineEdit>(*dialog, "EditExpectedTarget")->setText(QStringLiteral("http://example.com/buy.html"));
    dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->click();
    EXPECT_EQ(Child<QLabel>(window, "Label2")->text(),
              page + QStringLiteral(" 的外链约定：目标页 http://example.com/buy.html；锚文本“买”；follow"));
    ASSERT_TRUE(WaitFor([&] { return HistoryReader(path).Expectations(kDomain).contains(page); }));

    web.SetPage("/a", "<a href=\"http://example.com/other.html\">买</a>");
    ASSERT_TRUE(check());
    HistoryReader reader(path);
    const std::optional<RunChanges> changes = reader.Changes(reader.Runs(kDomain).front().run.id);
    ASSERT_TRUE(changes);
    std::vector<ChangeKind> kinds;
    for (const RowChange &change : changes->changes)
        kinds.push_back(change.kind);
    EXPECT_EQ(kinds, std::vector{ChangeKind::WrongTarget});

    ASSERT_TRUE(WaitFor([&] { return dialog.isNull(); })) << "closed once accepted";
    dialog = openDialog();
    ASSERT_TRUE(dialog);
    EXPECT_EQ(Child<QLineEdit>(*dialog, "EditExpectedTarget")->text(), QStringLiteral("http://example.com/buy.html"))
        << "what was agreed, not the link the page has now";
    dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->click();
    EXPECT_EQ(Child<QLabel>(window, "Label2")->text(),
              page + QStringLiteral(" 的外链约定：目标页 http://example.com/buy.html；锚文本“买”；follow（最近一次检测：目标页不符）"));
    ASSERT_TRUE(WaitFor([&] { return dialog.isNull(); }));
    dialog = openDialog();
    ASSERT_TRUE(dialog);
    Child<QPushButton>(*dialog, "ClearExpectation")->click();
    EXPECT_TRUE(WaitFor([&] { return HistoryReader(path).Expectations(kDomain).isEmpty(); }));

    // 检查外链指向的本站网页 is the window's setting, kept for the next window.
    const bool checking = window.Analysis().Settings().checkTargets;
    action(QStringLiteral("检查外链指向的本站网页"));
    EXPECT_EQ(window.Analysis().Settings().checkTargets, !checking);
    EXPECT_EQ(LoadTargetChecks(), !checking);
}

// A run that loses a link notifies the desktop while none of the program's windows is active,
// and posts to the webhooks whether or not one is.
TEST(WindowNotices, ALossIsToldWhenTheWindowIsInTheBackground)
{
    UseTestSettings();
    QTemporaryDir dir;
    TestWeb web;
    const std::string linked = "<a href=\"http://example.com/\">友链</a>";
    web.SetPage("/a", linked);
    web.SetPage("/b", linked);
    std::atomic<int> posts = 0;
    LoopbackServer hook([&posts](LoopbackServer::Connection &connection) {
        connection.readBody();
        ++posts;
        connection.respond(200, "{}");
    });
    NotificationBus bus;
    ASSERT_FALSE(bus.address().isEmpty()) << "dbus-daemon did not start";
    FormMain window(QuickSettings(web.server().hostAndPort()), dir.filePath(QStringLiteral("history.sqlite3")));
    window.Notices()->UseBus(bus.Client());
    window.Notices()->SetWebhooks({hook.url("/hook")});
    const QStringList pages{QStringLiteral("http://") + web.Address("/a"), QStringLiteral("http://") + web.Address("/b")};
    const auto check = [&] {
        window.Analysis().CheckAddresses(pages, kDomain);
        return WaitFor([&] { return !window.Analysis().Running(); });
    };

    ASSERT_TRUE(check());
    web.SetPage("/a", "nothing");
    ASSERT_TRUE(check());
    ASSERT_TRUE(WaitFor([&] { return bus.calls().size() == 1 && posts == 1; }));
    EXPECT_EQ(bus.calls()[0].summary, QStringLiteral("example.com：丢失 1 条外链"));

    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    web.SetPage("/b", "nothing");
    ASSERT_TRUE(check());
    ASSERT_TRUE(WaitFor([&] { return posts == 2; }));
    QTest::qWait(200);
    EXPECT_EQ(bus.calls().size(), 1u) << "the window was in front";
}

} // namespace
