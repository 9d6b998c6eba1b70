#include "FormMain.h"

#include "Background.h"
#include "ExpectationDialog.h"
#include "GridActions.h"
#include "HistoryLocation.h"
#include "HistoryWindow.h"
#include "Layout.h"
#include "ResultGrid.h"
#include "ResultModel.h"
#include "RunNotices.h"

#include <HistoryPrune.h>
#include <HistoryReader.h>
#include <HistoryWriter.h>
#include <RunHistory.h>

#include <Domain.h>
#include <TextOps.h>

#include <QCloseEvent>
#include <QDesktopServices>
#include <QFrame>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QShowEvent>
#include <QTimer>
#include <QUrl>

#include <limits>

// The resources live in a static library; Qt's initialiser must be named outside any namespace.
static void InitResources()
{
    Q_INIT_RESOURCE(vantorel);
}

namespace vantorel {

namespace {

const QString kMakerDomain = QStringLiteral("www.quillmere.com");
const QString kForumHome = QStringLiteral("http://bbs.quillmere.com/");
const QString kForumInstructions = QStringLiteral("http://bbs.quillmere.com/read.php?tid=5370");
const QString kForumLatestVersion = QStringLiteral("http://bbs.quillmere.com/thread.php?fid=2");

const QString kCaption =
    QStringLiteral("Vantorel  Ver 1.5   -Quillmere（") + kMakerDomain + QStringLiteral("）出品  ");
const QString kNoteText = QStringLiteral(
    "说明：网站外链的质量和数量直接影响到你网站的收录和权重，因此外链地址的有效性变得非常重要，"
    "此版本只分析前50条地址。");
const QString kTipText = QStringLiteral(
    "提示：以上表格中的网站可能含有你网站的链接，这对你网站的宣传和百度收录、以及增加网站权重将起到"
    "积极的作用。");
const QString kInitialStatus = QStringLiteral("正在执行你的请求...");

// The designed layout, in twips. Labels have only a position: they take the size of their text.
struct TwipRect {
    int left, top, width, height;
};
struct TwipPoint {
    int left, top;
};
constexpr TwipRect kClientArea{0, 0, 10860, 6570};
constexpr TwipRect kFrame1{0, 0, 10815, 855};
constexpr TwipRect kFrame2{0, 840, 10815, 5655};
constexpr TwipPoint kLabel3{240, 360};
constexpr TwipPoint kLabel1{120, 360};
constexpr TwipRect kText1{1200, 240, 2895, 375};
constexpr TwipRect kCommand1{4320, 240, 1095, 375};
constexpr TwipRect kCommand4{5520, 240, 1095, 375};
constexpr TwipRect kCommand5{6720, 240, 1095, 375};
constexpr TwipRect kCommand3{7920, 240, 975, 375};
constexpr TwipRect kCommand2{9000, 240, 975, 375};
constexpr TwipRect kFlexGrid{120, 840, 10455, 4095};
constexpr TwipPoint kLabel4{120, 5160};
constexpr TwipRect kFrame3{3840, 1560, 2655, 615};
constexpr TwipPoint kLabel2{240, 240};
constexpr TwipRect kCommand6{0, 120, 810, 375}; // left edge follows the status line

// Where SimSun is missing, a CJK font whose Latin letters and spaces are half as wide as a
// Chinese character comes first, since the grid's column widths come from space-padded captions.
QFont WindowFont()
{
    QFont font;
    font.setFamilies({QStringLiteral("宋体"), QStringLiteral("SimSun"), QStringLiteral("NSimSun"),
                      QStringLiteral("Noto Sans Mono CJK SC"), QStringLiteral("Noto Sans CJK SC"),
                      QStringLiteral("Noto Serif CJK SC"), QStringLiteral("WenQuanYi Zen Hei")});
    font.setPointSize(9);
    font.setWeight(QFont::Normal);
    return font;
}

QLabel *MakeLabel(QWidget *parent, const char *name, const QString &text)
{
    auto *label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setTextFormat(Qt::PlainText); // page text is never markup
    label->setWordWrap(false);
    SetLabelText(label, text);
    return label;
}

QFrame *MakeFrame(QWidget *parent, const char *name)
{
    auto *frame = new QFrame(parent);
    frame->setObjectName(QString::fromLatin1(name));
    frame->setFrameShape(QFrame::Box);
    frame->setFrameShadow(QFrame::Sunken);
    frame->setFocusPolicy(Qt::NoFocus);
    return frame;
}

} // namespace

FormMain::FormMain(AnalysisSettings settings, QString historyPath, QWidget *parent)
    : QWidget(parent),
      openUrl_([](const QString &address) { QDesktopServices::openUrl(QUrl(address)); }),
      analysis_(std::move(settings)), historyPath_(std::move(historyPath))
{
    if (!historyPath_.isEmpty()) {
        historyWriter_ = std::make_unique<HistoryWriter>(historyPath_);
        runHistory_ = new RunHistory(analysis_, *historyWriter_, this);
        runNotices_ = new RunNotices(*runHistory_, *historyWriter_, historyPath_, this);
    }
    BuildControls();
    model_ = new ResultModel(analysis_, grid_->palette().button(), this);
    grid_->SetResultModel(model_);
    gridActions_ = new GridActions(*grid_, analysis_, [this] { return domainEdit_->text(); },
                                   [this](const QString &address) { openUrl_(address); }, this);
    connect(gridActions_, &GridActions::StatusNote, this, [this](const QString &note) {
        ShowPanel(true);
        ShowStatus(note);
    });
    // What a list gave stays on the tip line while its run goes on, as a search's count does.
    connect(gridActions_, &GridActions::ListRead, this, [this](const QString &summary) {
        ShowPanel(true);
        ShowStatus(summary);
        SetLabelText(tipLine_, summary);
        listSummaryShown_ = true;
    });
    connect(gridActions_, &GridActions::DomainChosen, domainEdit_, &QLineEdit::setText);
    if (runHistory_) {
        gridActions_->SetHistoryActions({[this] { OpenHistory(); }, [this] { RecheckKnownLinks(domainEdit_->text()); },
                                         [this](const QString &address) { ForgetAddress(address); },
                                         [this](const QString &address, const std::optional<LinkEvidence> &firstLink) {
                                             EditAgreement(address, firstLink);
                                         },
                                         [this] { ChooseHistoryLocation(); }});
        gridActions_->SetExportKeeper([this](const QString &domain, const std::vector<ExportedPage> &pages) {
            runHistory_->KeepExported(domain, pages);
        });
    }
    DescribeForScreenReaders();
    WireEvents();
    WatchRuns();
    Load();
}

void FormMain::ChooseHistoryLocation()
{
    auto *dialog = new HistoryLocationDialog(LoadHistoryLocation(), this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QDialog::accepted, this, [this, dialog] {
        SaveHistoryLocation(dialog->Chosen());
        UseHistoryLocation(dialog->Chosen().Location());
    });
    dialog->open();
}

void FormMain::UseHistoryLocation(const QString &location)
{
    if (location == historyPath_ || gridActions_->RefusedDuringRun())
        return;
    delete historyWindow_;
    historyWindow_ = nullptr;
    retiredWriters_.push_back(std::move(historyWriter_));
    historyPath_ = location;
    historyWriter_ = std::make_unique<HistoryWriter>(historyPath_);
    runHistory_->UseWriter(*historyWriter_);
    runNotices_->UseHistory(*historyWriter_, historyPath_);
}

FormMain::~FormMain()
{
    // The run goes first: its last signals still reach the history, which then writes what is queued.
    Abandon();
    delete historyWindow_; // its reads use the writer
    historyWindow_ = nullptr;
    delete runHistory_;
    runHistory_ = nullptr;
    delete runNotices_; // its reads use the writer
    runNotices_ = nullptr;
    // The grid and its model read the run's rows: they go before the run does.
    delete workFrame_;
    delete model_;
}


int FormMain::Pixels(int twips) const
{
    return TwipsToPixels(twips, logicalDpiX());
}

void FormMain::BuildControls()
{
    setObjectName(QStringLiteral("FormMain"));
    setWindowTitle(kCaption);
    InitResources();
    setWindowIcon(QIcon(QStringLiteral(":/vantorel.png")));
    setFont(WindowFont());

    auto place = [this](QWidget *widget, const TwipRect &rect) {
        widget->setGeometry(Pixels(rect.left), Pixels(rect.top), Pixels(rect.width), Pixels(rect.height));
    };
    auto placeLabel = [this](QLabel *label, const TwipPoint &at) { label->move(Pixels(at.left), Pixels(at.top)); };
    const QSize designed(Pixels(kClientArea.width), Pixels(kClientArea.height));
    setMinimumSize(designed);
    resize(designed);

    noteFrame_ = MakeFrame(this, "Frame1");
    place(noteFrame_, kFrame1);
    noteLabel_ = MakeLabel(noteFrame_, "Label3", kNoteText);
    placeLabel(noteLabel_, kLabel3);

    workFrame_ = MakeFrame(this, "Frame2");
    place(workFrame_, kFrame2);
    promptLabel_ = MakeLabel(workFrame_, "Label1", QStringLiteral("输入网址："));
    placeLabel(promptLabel_, kLabel1);

    domainEdit_ = new QLineEdit(kMakerDomain, workFrame_);
    domainEdit_->setObjectName(QStringLiteral("Text1"));
    domainEdit_->setMaxLength(std::numeric_limits<int>::max());
    place(domainEdit_, kText1);

    analyzeButton_ = MakeButton(workFrame_, "Command1", QStringLiteral("分  析"));
    place(analyzeButton_, kCommand1);
    instructionsButton_ = MakeButton(workFrame_, "Command4", QStringLiteral("操作说明"));
    place(instructionsButton_, kCommand4);
    latestVersionButton_ = MakeButton(workFrame_, "Command5", QStringLiteral("最新版本"));
    place(latestVersionButton_, kCommand5);
    forumButton_ = MakeButton(workFrame_, "Command3", QStringLiteral("访问论坛"));
    place(forumButton_, kCommand3);
    exitButton_ = MakeButton(workFrame_, "Command2", QStringLiteral("退 出"));
    place(exitButton_, kCommand2);

    grid_ = new ResultGrid(workFrame_);
    grid_->setObjectName(QStringLiteral("FlexGrid"));
    place(grid_, kFlexGrid);

    tipLine_ = MakeLabel(workFrame_, "Label4", kTipText);
    placeLabel(tipLine_, kLabel4);

    // The progress panel lies on top of the grid's cells.
    progressPanel_ = MakeFrame(grid_, "Frame3");
    progressPanel_->setAutoFillBackground(true);
    place(progressPanel_, kFrame3);
    statusLine_ = MakeLabel(progressPanel_, "Label2", kInitialStatus);
    placeLabel(statusLine_, kLabel2);
    QPalette statusPalette = statusLine_->palette();
    statusPalette.setColor(QPalette::WindowText, QColor(192, 0, 0));
    statusLine_->setPalette(statusPalette);
    stopButton_ = MakeButton(progressPanel_, "Command6", QStringLiteral("停  止"));
    stopButton_->resize(Pixels(kCommand6.width), Pixels(kCommand6.height));
    stopButton_->setFocusPolicy(Qt::NoFocus); // Esc stops from anywhere; the button is for the mouse

    setTabOrder(domainEdit_, analyzeButton_);
    setTabOrder(analyzeButton_, exitButton_);
    setTabOrder(exitButton_, grid_);
    setTabOrder(grid_, forumButton_);
    setTabOrder(forumButton_, instructionsButton_);
    setTabOrder(instructionsButton_, latestVersionButton_);
    domainEdit_->setFocus();
}

void FormMain::DescribeForScreenReaders()
{
    DescribeControls({
        {noteFrame_, u"说明", u"外链的重要性与分析范围"},
        {noteLabel_, u"说明", u"此版本只分析前50条外链地址"},
        {workFrame_, u"外链分析", u"输入网址、分析外链并查看结果"},
        {promptLabel_, u"输入网址", u"在右侧的输入框中填写要分析的网址"},
        {domainEdit_, u"要分析的网址", u"输入网站的网址，按回车开始分析"},
        {analyzeButton_, u"分析", u"查找链接到该网址的网页并逐条检测"},
        {instructionsButton_, u"操作说明", u"在浏览器中打开操作说明"},
        {latestVersionButton_, u"最新版本", u"在浏览器中打开最新版本的页面"},
        {forumButton_, u"访问论坛", u"在浏览器中打开论坛首页"},
        {exitButton_, u"退出", u"关闭程序"},
        {grid_, u"外链地址列表", u"链接到该网址的网页及其有效性，回车或双击在浏览器中打开"},
        {tipLine_, u"外链数", u"搜索引擎报告的外链数量"},
        {progressPanel_, u"进度", u"分析进度，单击可隐藏"},
        {statusLine_, u"进度状态", u"当前的分析进度，单击可隐藏"},
        {stopButton_, u"停止", u"停止正在进行的分析，与 Esc 键相同"},
    });
}

void FormMain::WireEvents()
{
    connect(analyzeButton_, &QPushButton::clicked, this, &FormMain::Analyze);
    connect(domainEdit_, &QLineEdit::returnPressed, this, [this] {
        analyzeButton_->setFocus();
        Analyze();
    });
    connect(stopButton_, &QPushButton::clicked, &analysis_, &BacklinkAnalysis::Stop);
    connect(exitButton_, &QPushButton::clicked, this, &QWidget::close);
    connect(forumButton_, &QPushButton::clicked, this, [this] { openUrl_(kForumHome); });
    connect(instructionsButton_, &QPushButton::clicked, this, [this] { openUrl_(kForumInstructions); });
    connect(latestVersionButton_, &QPushButton::clicked, this, [this] { openUrl_(kForumLatestVersion); });
    connect(grid_, &ResultGrid::RowActivated, this, &FormMain::OpenRow);
    auto *history = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_H), this);
    connect(history, &QShortcut::activated, this, &FormMain::OpenHistory);
    auto *stop = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(stop, &QShortcut::activated, &analysis_, &BacklinkAnalysis::Stop);
    progressPanel_->installEventFilter(this);
    statusLine_->installEventFilter(this);
    for (QPushButton *button : findChildren<QPushButton *>())
        button->installEventFilter(this);
}

void FormMain::WatchRuns()
{
    // Each change reaches the screen before the run goes on: a row's status is drawn before
    // its verdict.
    connect(&analysis_, &BacklinkAnalysis::PanelShown, this, &FormMain::ShowPanel);
    connect(&analysis_, &BacklinkAnalysis::StatusChanged, this, &FormMain::ShowStatus);
    connect(&analysis_, &BacklinkAnalysis::TipLineChanged, this, [this](const QString &text) {
        SetLabelText(tipLine_, text);
        tipLine_->repaint();
    });
    connect(&analysis_, &BacklinkAnalysis::DomainChanged, domainEdit_, &QLineEdit::setText);
    // The row details say it again, for each row the browser did not look at.
    connect(&analysis_, &BacklinkAnalysis::BrowserFailed, this, &FormMain::ShowStatus);
    connect(&analysis_, &BacklinkAnalysis::RowsListed, grid_, qOverload<>(&QWidget::repaint));
    connect(&analysis_, &BacklinkAnalysis::RowStarted, grid_, &ResultGrid::FollowRow);
    WatchPanelAndTipLine();
    if (!runHistory_)
        return;
    const auto showFailure = [this](const QString &text) {
        ShowPanel(true);
        ShowStatus(text);
    };
    connect(runHistory_, &RunHistory::FailureToShow, this, showFailure);
    connect(runNotices_, &RunNotices::FailureToShow, this, showFailure);
    connect(&analysis_, &BacklinkAnalysis::RunStarted, this, [this](RunKind kind, const QString &domain) {
        runDomain_ = domain;
        runStartedAt_ = QDateTime::currentDateTime();
        if (kind == RunKind::Recheck && !analysis_.Rows().empty()) // re-checked rows are not listed again
            ReadPreviousChecks();
    });
    connect(&analysis_, &BacklinkAnalysis::RowsListed, this, &FormMain::ReadPreviousChecks);
    connect(&analysis_, &BacklinkAnalysis::Finished, this, [this] {
        if (historyWindow_ && historyWindow_->isVisible())
            historyWindow_->Reload();
    });
}

void FormMain::WatchPanelAndTipLine()
{
    // "停  止" is there for a run going on only.
    stopButton_->setEnabled(false);
    connect(&analysis_, &BacklinkAnalysis::RunStarted, this, [this](RunKind kind) {
        stopButton_->setEnabled(true);
        runKind_ = kind;
        engineCountShown_ = false;
    });
    connect(&analysis_, &BacklinkAnalysis::TipLineChanged, this, [this] { engineCountShown_ = true; });
    // The tip line says what the grid holds: the engine's count for a search; for a list, what
    // was read while it is checked, then how many addresses it holds.
    connect(&analysis_, &BacklinkAnalysis::RowsListed, this, [this] {
        if (runKind_ == RunKind::Search && !engineCountShown_)
            SetLabelText(tipLine_, kTipText);
        else if (runKind_ != RunKind::Search && !listSummaryShown_)
            ShowListSize();
        listSummaryShown_ = false;
    });
    connect(&analysis_, &BacklinkAnalysis::Finished, this, [this](RunOutcome outcome) {
        stopButton_->setEnabled(false);
        listSummaryShown_ = false;
        if (runKind_ != RunKind::Search)
            ShowListSize();
        // A stopped run's panel goes as a completed one's does, after the same pause: it must not
        // hide the rows judged. A status said since (a failure of the store) stays.
        if (outcome == RunOutcome::Stopped)
            QTimer::singleShot(analysis_.Settings().pause, this, [this, said = statusLine_->text()] {
                if (!analysis_.Running() && statusLine_->text() == said)
                    ShowPanel(false);
            });
    });
}

void FormMain::ShowListSize()
{
    SetLabelText(tipLine_, QStringLiteral("地址列表：%1 个网址").arg(analysis_.Rows().size()));
}

void FormMain::ReadPreviousChecks()
{
    QStringList addresses;
    for (const ResultRow &row : analysis_.Rows())
        addresses << row.url;
    if (addresses.isEmpty() || runDomain_.isEmpty())
        return;
    ReadIfCurrent(
        this, nullptr, checksRead_,
        [path = historyPath_, domain = runDomain_, addresses, beforeRun = runHistory_->CurrentRunId(), since = runStartedAt_] {
            // Until the store names this run, its own rows may already be written: they are not "before".
            return HistoryReader(path).LastChecks(domain, addresses, beforeRun, since);
        },
        [this, confirmChecks = runHistory_->ConfirmChecks()](QHash<QString, AddressPast> checks) {
            model_->SetPreviousChecks(std::move(checks), confirmChecks);
        });
}

void FormMain::OpenHistory()
{
    if (!historyWriter_)
        return;
    if (!historyWindow_) {
        historyWindow_ = new HistoryWindow(historyPath_, *historyWriter_, this);
        connect(historyWindow_, &HistoryWindow::RecheckRequested, this, &FormMain::RecheckKnownLinks);
        historyWindow_->SetRunNotices(runNotices_);
    }
    historyWindow_->Reload();
    historyWindow_->show();
    historyWindow_->raise();
    historyWindow_->activateWindow();
}

void FormMain::ForgetAddress(const QString &address)
{
    const QString domain = ReduceToHost(runDomain_.isEmpty() ? domainEdit_->text() : runDomain_);
    if (!historyWriter_ || domain.isEmpty())
        return;
    historyWriter_->Forget(domain, address);
    ShowStatus(ForgottenText(domain, address));
}

void FormMain::EditAgreement(const QString &address, const std::optional<LinkEvidence> &firstLink)
{
    const QString domain = ReduceToHost(runDomain_.isEmpty() ? domainEdit_->text() : runDomain_);
    if (!historyWriter_ || domain.isEmpty())
        return;
    struct Agreed {
        LinkExpectation agreed;
        std::optional<AddressCheck> latest; // the address's latest check that could be had
        QString error;
    };
    const auto readAgreed = [path = historyPath_, domain, address] {
        HistoryReader reader(path);
        Agreed current{reader.Expectations(domain).value(address), {}, {}};
        current.latest = reader.LastChecks(domain, {address}).value(address).lastReachable;
        current.error = reader.Error();
        return current;
    };
    RunThen(this, nullptr, readAgreed, [this, domain, address, firstLink](const Agreed &current) {
        if (!current.error.isEmpty()) {
            ShowStatus(current.error);
            return;
        }
        // Nothing agreed yet: the link the page has now is the likely agreement.
        const LinkExpectation shown = current.agreed.Empty() && firstLink ? ExpectationOf(*firstLink) : current.agreed;
        AskLinkExpectation(this, domain, address, shown, [this, domain, address, latest = current.latest](const LinkExpectation &agreed) {
            if (!historyWriter_)
                return;
            historyWriter_->Agree(domain, address, agreed);
            ShowStatus(AgreedText(address, agreed, latest));
        });
    });
}

void FormMain::RecheckKnownLinks(const QString &typedDomain)
{
    if (!runHistory_ || gridActions_->RefusedDuringRun())
        return;
    const QString domain = ReduceToHost(typedDomain);
    struct Known {
        QStringList urls;
        QString error;
    };
    const auto readKnown = [path = historyPath_, domain] {
        if (domain.isEmpty())
            return Known{};
        HistoryReader reader(path);
        Known known{reader.KnownValidAddresses(domain), {}};
        known.error = reader.Error();
        return known;
    };
    RunThen(this, nullptr, readKnown, [this, typedDomain](const Known &known) {
        if (known.urls.isEmpty()) {
            ShowPanel(true);
            ShowStatus(known.error.isEmpty() ? QStringLiteral("该网站还没有有效的外链记录，无法复查...") : known.error);
        } else if (!gridActions_->RefusedDuringRun()) {
            analysis_.CheckAddresses(known.urls, typedDomain, RunKind::Recheck);
        }
    });
}

void FormMain::Analyze()
{
    analysis_.RunAnalysis(domainEdit_->text());
}

void FormMain::ShowPanel(bool shown)
{
    progressPanel_->setVisible(shown);
    if (shown) {
        progressPanel_->raise();
        progressPanel_->repaint();
    }
}

void FormMain::ShowStatus(const QString &text)
{
    SetLabelText(statusLine_, text);
    PlacePanel();
    // Drawn before the run goes on, so that no frame shows a row's verdict without its status;
    // statuses that follow faster than the screen refreshes share one frame instead.
    constexpr qint64 kFrameMs = 16;
    if (!sinceStatusDrawn_.isValid() || sinceStatusDrawn_.elapsed() >= kFrameMs) {
        progressPanel_->repaint();
        sinceStatusDrawn_.start();
    } else {
        progressPanel_->update();
    }
}

void FormMain::PlacePanel()
{
    const int designedWidth = Pixels(kFrame3.width);
    const int gap = Pixels(kLabel2.left);
    const int textWidth = QFontMetrics(statusLine_->font()).horizontalAdvance(statusLine_->text());
    const int needed = statusLine_->x() + textWidth + gap + stopButton_->width() + gap / 2;
    const int panelWidth = std::min(std::max(designedWidth, needed), grid_->width());
    const int growth = width() - Pixels(kClientArea.width);
    const int centre = Pixels(kFrame3.left) + designedWidth / 2 + growth / 2;
    const int left = std::clamp(centre - panelWidth / 2, 0, std::max(0, grid_->width() - panelWidth));
    progressPanel_->setGeometry(left, progressPanel_->y(), panelWidth, Pixels(kFrame3.height));
    stopButton_->move(panelWidth - stopButton_->width() - gap / 2, Pixels(kCommand6.top));
    // Only when even the grid is too narrow is the status line cut, at the button.
    statusLine_->resize(std::min(textWidth, stopButton_->x() - statusLine_->x()), statusLine_->height());
}

void FormMain::Load()
{
    ShowPanel(false);
    grid_->SetHeaderFormat(kResultGridHeader);
    PlacePanel();
}

void FormMain::OpenRow(int row)
{
    // An empty row opens nothing.
    if (const ResultRow *listed = model_->Row(row); listed && !TrimSpaces(listed->address).isEmpty())
        openUrl_(listed->url);
}

bool FormMain::eventFilter(QObject *watched, QEvent *event)
{
    if ((watched == progressPanel_ || watched == statusLine_) && event->type() == QEvent::MouseButtonRelease) {
        ShowPanel(false);
        return true;
    }
    // Enter on a focused button presses it, as Space does.
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (auto *button = qobject_cast<QPushButton *>(watched); button && (key == Qt::Key_Return || key == Qt::Key_Enter)) {
            button->click();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void FormMain::showEvent(QShowEvent *event)
{
    // Placed once, when the frame is known; after that the window stays where the user puts it.
    if (!placed_ && !event->spontaneous()) {
        placed_ = true;
        const QRect frame = frameGeometry();
        const QMargins margins(x() - frame.x(), y() - frame.y(), frame.right() - geometry().right(),
                               frame.bottom() - geometry().bottom());
        const QRect client = InitialClientGeometry(size(), margins, screen()->availableGeometry());
        setMinimumSize(minimumSize().boundedTo(client.size()));
        setGeometry(client);
    }
    QWidget::showEvent(event);
}

void FormMain::resizeEvent(QResizeEvent *event)
{
    // What the window has beyond its designed size goes to the frames and the grid; the
    // tip line stays under the grid and the progress panel about in its middle.
    const QSize growth = size() - QSize(Pixels(kClientArea.width), Pixels(kClientArea.height));
    noteFrame_->resize(Pixels(kFrame1.width) + growth.width(), Pixels(kFrame1.height));
    workFrame_->resize(Pixels(kFrame2.width) + growth.width(), Pixels(kFrame2.height) + growth.height());
    grid_->resize(Pixels(kFlexGrid.width) + growth.width(), Pixels(kFlexGrid.height) + growth.height());
    tipLine_->move(Pixels(kLabel4.left), Pixels(kLabel4.top) + growth.height());
    progressPanel_->move(progressPanel_->x(), Pixels(kFrame3.top) + growth.height() / 2);
    PlacePanel();
    QWidget::resizeEvent(event);
}

void FormMain::closeEvent(QCloseEvent *event)
{
    Abandon();
    event->accept();
}

void FormMain::Abandon()
{
    analysis_.Abandon();
    if (runHistory_)
        runHistory_->RunAbandoned();
}

} // namespace vantorel
