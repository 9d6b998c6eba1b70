#include "HistoryWindow.h"

#include "Background.h"
#include "GridActions.h"
#include "Layout.h"
#include "MailDialog.h"
#include "RunChart.h"
#include "RunNotices.h"

#include <ChangeNotice.h>
#include <HistoryPrune.h>
#include <HistoryReport.h>
#include <HistoryWriter.h>
#include <ServerAddress.h>
#include <Webhook.h>

#include <Domain.h>
#include <PlainText.h>
#include <ResultExport.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QHBoxLayout>
#include <QFileInfo>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QScrollBar>
#include <QShortcut>
#include <QSpinBox>
#include <QSplitter>
#include <QStandardItemModel>
#include <QStandardPaths>
#include <QTableView>
#include <QVBoxLayout>

namespace vantorel {

namespace {

const QString kReading = QStringLiteral("正在读取...");
const QString kStillWriting = QStringLiteral("检测进行中，结束后才能删除");
QString ShownTime(const QDateTime &time)
{
    return time.isValid() ? time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm")) : QString();
}

// The evidence a stored row keeps, in the words of the grid's verdict tool tip.
QString EvidenceText(const StoredRow &row)
{
    QString text = row.address + u'\n' + OutcomeWord(row.outcome) + QStringLiteral("（") + ShownTime(row.checkedAt) +
                   QStringLiteral("）\n") + VerdictToolTip(*FromStoredRow(row).evidence);
    if (!row.finalUrl.isEmpty() && row.finalUrl != row.address)
        text += QStringLiteral("\n最终地址：") + row.finalUrl;
    return text;
}

void Fill(QStandardItemModel &model, const CellTable &table)
{
    model.clear();
    model.setHorizontalHeaderLabels(table.captions);
    for (const QStringList &cells : table.rows) {
        QList<QStandardItem *> items;
        for (const QString &cell : cells) {
            auto *item = new QStandardItem(cell);
            item->setEditable(false);
            items << item;
        }
        model.appendRow(items);
    }
}

// One row that says the table is being read.
void ShowReading(QStandardItemModel &model)
{
    model.removeRows(0, model.rowCount());
    auto *item = new QStandardItem(kReading);
    item->setEditable(false);
    item->setEnabled(false);
    model.appendRow(item);
}

QTableView *MakeTable(QWidget *parent, const char *name, QStandardItemModel *model)
{
    auto *view = new QTableView(parent);
    view->setObjectName(QString::fromLatin1(name));
    view->setModel(model);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setTabKeyNavigation(false); // Tab leaves the table, arrows move in it
    view->verticalHeader()->hide();
    // Rows a line of text high, so that a run's worth of them shows at once.
    view->verticalHeader()->setDefaultSectionSize(view->fontMetrics().height() + 8);
    view->horizontalHeader()->setStretchLastSection(true);
    view->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    view->horizontalHeader()->setResizeContentsPrecision(50); // a domain may have thousands of runs
    return view;
}

HistoryDialogs StandardDialogs(QWidget *parent)
{
    return {
        [parent](const QString &suggested, PathChosen chosen) { AskCsvSavePath(parent, suggested, std::move(chosen)); },
        [parent](const QString &question, std::function<void()> yes) {
            AskUser(parent, QStringLiteral("历史记录"), question, std::move(yes));
        },
        [parent](const QString &message) { TellUser(parent, message); },
        [parent](const QStringList &current, std::function<void(const QStringList &)> done) {
            auto *dialog = new QInputDialog(parent);
            dialog->setAttribute(Qt::WA_DeleteOnClose);
            dialog->setWindowTitle(QStringLiteral("通知网址"));
            dialog->setLabelText(QStringLiteral("检测有变化（仍无法访问除外）时，把变化 POST 到这些网址，每行一个。\n"
                                                "企业微信、钉钉、飞书/Lark 和 Slack 的机器人网址（只能用 https://）收到文本消息。"));
            dialog->setOption(QInputDialog::UsePlainTextEditForTextInput);
            dialog->setTextValue(current.join(u'\n'));
            QObject::connect(dialog, &QInputDialog::textValueSelected, parent, [parent, done](const QString &text) {
                const QStringList urls = WebhookAddressesIn(text);
                for (const QString &url : urls)
                    if (const QString problem = WebhookAddressProblem(url); !problem.isEmpty()) {
                        TellUser(parent, problem + QStringLiteral("\n通知网址没有改变。"));
                        return;
                    }
                done(urls);
            });
            dialog->open();
        },
        [parent](const MailSettings &current, std::function<void(const MailSettings &)> done) {
            AskMailSettings(parent, current, std::move(done));
        },
    };
}

QString IntervalText(const WatchedDomain &watch)
{
    return QStringLiteral("每 %1 小时").arg(watch.intervalHours);
}

} // namespace

struct HistoryWindow::Listing {
    std::vector<DomainSummary> domains;
    std::vector<WatchedDomain> watched;
    std::vector<RunSummary> runs;
    QString error;
};

struct HistoryWindow::Changes {
    std::optional<RunChanges> changes;
    QHash<QString, QString> evidence;
    QString error;
};

HistoryWindow::HistoryWindow(QString path, HistoryWriter &writer, QWidget *parent)
    : QWidget(parent, Qt::Window), path_(std::move(path)), writer_(writer), dialogs_(StandardDialogs(this))
{
    pool_.setMaxThreadCount(1); // reads in order, and never more than one connection at a time
    BuildControls();
}

HistoryWindow::~HistoryWindow()
{
    pool_.waitForDone();
}

void HistoryWindow::BuildControls()
{
    setObjectName(QStringLiteral("FormHistory"));
    setWindowTitle(QStringLiteral("历史记录"));
    setAccessibleName(QStringLiteral("历史记录"));
    resize(1000, 760);

    statusLine_ = new QLabel(this);
    statusLine_->setObjectName(QStringLiteral("LabelHistoryStatus"));
    statusLine_->setTextFormat(Qt::PlainText);
    domainsModel_ = new QStandardItemModel(this);
    runsModel_ = new QStandardItemModel(this);
    changesModel_ = new QStandardItemModel(this);
    domainsView_ = MakeTable(this, "GridDomains", domainsModel_);
    runsView_ = MakeTable(this, "GridRuns", runsModel_);
    changesView_ = MakeTable(this, "GridChanges", changesModel_);
    kindBox_ = new QComboBox(this);
    kindBox_->setObjectName(QStringLiteral("ComboKind"));
    kindBox_->addItem(QStringLiteral("全部变化"), -1);
    for (const ChangeKindNames &kind : ChangeKinds())
        kindBox_->addItem(QString::fromUtf16(kind.word), static_cast<int>(kind.kind));
    exportButton_ = MakeButton(this, "CommandExportChanges", QStringLiteral("导出 CSV..."));
    deleteRunButton_ = MakeButton(this, "CommandDeleteRun", QStringLiteral("删除此次记录"));
    deleteDomainButton_ = MakeButton(this, "CommandDeleteDomain", QStringLiteral("删除该网站的全部记录"));
    recheckButton_ = MakeButton(this, "CommandRecheck", QStringLiteral("复查已知外链"));
    webhooksButton_ = MakeButton(this, "CommandWebhooks", QStringLiteral("通知网址..."));
    mailButton_ = MakeButton(this, "CommandMail", QStringLiteral("邮件..."));
    watchBox_ = new QCheckBox(QStringLiteral("每天自动复查(&A)"), this);
    watchBox_->setObjectName(QStringLiteral("CheckWatch"));
    intervalBox_ = new QSpinBox(this);
    intervalBox_->setObjectName(QStringLiteral("SpinInterval"));
    intervalBox_->setRange(1, 24 * 366);
    intervalBox_->setValue(24);
    intervalBox_->setPrefix(QStringLiteral("每 "));
    intervalBox_->setSuffix(QStringLiteral(" 小时"));
    // Checks in a row that confirm a loss: the watched site's, and the window's own runs'.
    const auto confirmSpin = [this](const char *name, const QString &prefix) {
        auto *box = new QSpinBox(this);
        box->setObjectName(QLatin1String(name));
        box->setRange(1, kMostConfirmChecks);
        box->setPrefix(prefix);
        box->setSuffix(QStringLiteral(" 次确认丢失"));
        return box;
    };
    watchConfirmBox_ = confirmSpin("SpinWatchConfirm", QStringLiteral("连续 "));
    confirmBox_ = confirmSpin("SpinConfirm", QStringLiteral("本窗口的检测：连续 "));
    keepBox_ = new QSpinBox(this);
    keepBox_->setObjectName(QStringLiteral("SpinKeepDays"));
    keepBox_->setRange(0, 36500);
    keepBox_->setSpecialValueText(QStringLiteral("自动清理：关闭（默认）"));
    keepBox_->setPrefix(QStringLiteral("自动清理："));
    keepBox_->setSuffix(QStringLiteral(" 天前的无变化检测"));
    chart_ = new RunChart(this);
    chart_->setMinimumSize(360, 160);
    closeButton_ = MakeButton(this, "CommandCloseHistory", QStringLiteral("关闭"));

    const auto captioned = [this](QWidget *view, const QString &caption, std::initializer_list<QWidget *> beside = {}) {
        auto *box = new QWidget(this);
        auto *layout = new QVBoxLayout(box);
        layout->setContentsMargins(0, 0, 0, 0);
        auto *label = new QLabel(caption, box);
        label->setBuddy(view);
        auto *line = new QHBoxLayout;
        line->addWidget(label);
        for (QWidget *widget : beside)
            line->addWidget(widget);
        line->addStretch();
        layout->addLayout(line);
        layout->addWidget(view);
        return box;
    };
    // The runs have the window's whole width, so that each of their columns shows; the chart and
    // the changes share the lowest part.
    auto *lower = new QSplitter(Qt::Horizontal);
    lower->addWidget(chart_);
    lower->addWidget(captioned(changesView_, QStringLiteral("与上一次相比的变化(&C)："), {kindBox_}));
    lower->setChildrenCollapsible(false);
    lower->setSizes({420, 580});
    auto *split = new QSplitter(Qt::Vertical);
    split->addWidget(captioned(domainsView_, QStringLiteral("网站(&W)：")));
    split->addWidget(captioned(runsView_, QStringLiteral("检测记录(&R)："), {watchBox_, intervalBox_, watchConfirmBox_}));
    split->addWidget(lower);
    split->setChildrenCollapsible(false);
    split->setStretchFactor(1, 1);
    const int row = runsView_->verticalHeader()->defaultSectionSize();
    split->setSizes({4 * row, 12 * row, 10 * row});

    auto *buttons = new QHBoxLayout;
    for (QPushButton *button :
         {exportButton_, deleteRunButton_, deleteDomainButton_, recheckButton_, webhooksButton_, mailButton_})
        buttons->addWidget(button);
    buttons->addWidget(keepBox_);
    buttons->addWidget(confirmBox_);
    buttons->addStretch();
    buttons->addWidget(closeButton_);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(split, 1);
    layout->addWidget(statusLine_);
    layout->addLayout(buttons);

    DescribeControls({
        {domainsView_, u"网站", u"历史记录中的网站，及其最近一次检测和次数"},
        {runsView_, u"检测记录", u"所选网站的每次检测：时间、来源、行数、有效、已失效、未能检测和丢失"},
        {changesView_, u"变化", u"所选检测与上一次检测相比的变化，悬停查看证据"},
        {kindBox_, u"变化类型", u"只显示这一类变化"},
        {exportButton_, u"导出 CSV", u"把显示的变化保存为 CSV 文件"},
        {deleteRunButton_, u"删除此次记录", u"从历史记录中删除所选的这次检测"},
        {deleteDomainButton_, u"删除该网站的全部记录", u"从历史记录中删除所选网站的全部检测"},
        {recheckButton_, u"复查已知外链", u"重新检测该网站曾经有效的全部外链地址"},
        {webhooksButton_, u"通知网址", u"检测有变化时把变化发送到的网址"},
        {keepBox_, u"自动清理",
         u"每次检测后，删除早于这么多天、没有变化的检测（有变化的检测和每个地址最近的一次检测都保留）；0 为关闭，默认关闭"},
        {mailButton_, u"邮件", u"检测有变化时把变化以邮件发送：邮件服务器、发件人和收件人"},
        {watchBox_, u"每天自动复查", u"由 vantorel --recheck-due 按间隔自动复查所选网站"},
        {intervalBox_, u"复查间隔", u"自动复查的间隔小时数"},
        {watchConfirmBox_, u"自动复查的确认次数",
         u"自动复查时，连续这么多次检测都发现外链已失效才算丢失，之前为疑似丢失；有疑似丢失时一小时后即再复查"},
        {confirmBox_, u"确认丢失",
         u"本窗口的检测中，连续这么多次检测都发现外链已失效才算丢失，之前为疑似丢失，不发通知；默认 1"},
        {chart_, u"结果走势", u"所选网站每次检测中有效、已失效和未能检测的行数，悬停查看是哪次检测，点击选中它"},
        {closeButton_, u"关闭", u"关闭历史记录窗口"},
        {statusLine_, u"状态", u"读取历史记录的状态"},
    });
    setTabOrder(domainsView_, watchBox_);
    setTabOrder(watchBox_, intervalBox_);
    setTabOrder(intervalBox_, watchConfirmBox_);
    setTabOrder(watchConfirmBox_, runsView_);
    setTabOrder(runsView_, kindBox_);
    setTabOrder(kindBox_, changesView_);
    setTabOrder(changesView_, exportButton_);

    connect(domainsView_->selectionModel(), &QItemSelectionModel::currentRowChanged, this, [this] {
        if (const QString domain = ChosenDomain(); !domain.isEmpty())
            wantedDomain_ = domain;
        LoadRuns();
    });
    connect(runsView_->selectionModel(), &QItemSelectionModel::currentRowChanged, this, [this] {
        if (const RunSummary *run = ChosenRun())
            wantedRun_ = run->run.id;
        LoadChanges();
    });
    connect(kindBox_, &QComboBox::currentIndexChanged, this, &HistoryWindow::ShowChanges);
    connect(exportButton_, &QPushButton::clicked, this, &HistoryWindow::ExportChanges);
    connect(deleteRunButton_, &QPushButton::clicked, this, &HistoryWindow::DeleteRun);
    connect(deleteDomainButton_, &QPushButton::clicked, this, &HistoryWindow::DeleteDomain);
    connect(recheckButton_, &QPushButton::clicked, this, [this] { emit RecheckRequested(SiteShown(ChosenDomain())); });
    connect(closeButton_, &QPushButton::clicked, this, &QWidget::close);
    connect(webhooksButton_, &QPushButton::clicked, this, &HistoryWindow::EditWebhooks);
    connect(mailButton_, &QPushButton::clicked, this, &HistoryWindow::EditMail);
    connect(watchBox_, &QCheckBox::toggled, this,
            [this](bool on) { SetWatched(on, intervalBox_->value(), watchConfirmBox_->value()); });
    for (QSpinBox *box : {intervalBox_, watchConfirmBox_})
        connect(box, &QSpinBox::editingFinished, this, [this] {
            if (watchBox_->isChecked())
                SetWatched(true, intervalBox_->value(), watchConfirmBox_->value());
        });
    connect(confirmBox_, &QSpinBox::editingFinished, this, [this] {
        if (notices_)
            notices_->SetConfirmChecks(confirmBox_->value());
    });
    connect(keepBox_, &QSpinBox::editingFinished, this, [this] {
        if (notices_)
            notices_->SetKeepDays(keepBox_->value());
    });
    changesView_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(changesView_, &QWidget::customContextMenuRequested, this, [this](const QPoint &at) {
        // Shown without a loop of its own: reads go on while the menu is open.
        QMenu *menu = ChangeMenu(changesView_->rowAt(at.y())).release();
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(changesView_->viewport()->mapToGlobal(at));
    });
    connect(chart_, &RunChart::RunClicked, this, [this](qint64 runId) {
        const auto found = std::find_if(runs_.begin(), runs_.end(), [runId](const RunSummary &run) { return run.run.id == runId; });
        if (found != runs_.end())
            runsView_->setCurrentIndex(runsModel_->index(static_cast<int>(found - runs_.begin()), 0));
    });
    connect(new QShortcut(QKeySequence(Qt::Key_Escape), this), &QShortcut::activated, this, &QWidget::close);
    EnableButtons();
}

void HistoryWindow::Reload()
{
    domains_.clear(); // the rows that go now choose no domain
    ShowReading(*domainsModel_);
    statusLine_->setText(kReading);
    ReadIfCurrent(this, &pool_, domainsRead_, [path = path_, writer = &writer_] {
        // What was queued before, a delete or a run's end, is in the file before it is read.
        writer->WaitUntilWritten();
        HistoryReader reader(path);
        Listing listing;
        listing.domains = reader.Domains();
        listing.error = reader.Error();
        if (listing.error.isEmpty() && (IsServerLocation(path) || QFileInfo::exists(path))) { // reading makes no file
            WatchList list(path);
            listing.watched = list.Watched().value_or(std::vector<WatchedDomain>{});
            listing.error = list.Error();
        }
        return listing;
    }, [this](const Listing &listing) { ShowDomains(listing); });
}

void HistoryWindow::ShowDomains(const Listing &listing)
{
    statusLine_->setText(listing.error);
    domains_ = listing.domains;
    watched_.clear();
    for (const WatchedDomain &watch : listing.watched)
        watched_.insert(watch.domain, watch);
    CellTable table{{QStringLiteral("网站"), QStringLiteral("最近检测"), QStringLiteral("次数"), QStringLiteral("行数"),
                     QStringLiteral("有效"), QStringLiteral("已失效"), QStringLiteral("未能检测"), QStringLiteral("自动复查")},
                    {}, {}};
    int wanted = 0;
    for (const DomainSummary &domain : domains_) {
        if (domain.domain == wantedDomain_)
            wanted = static_cast<int>(table.rows.size());
        const RunSummary &last = domain.last;
        table.rows.push_back({SiteShown(domain.domain), ShownTime(last.run.startedAt), QString::number(domain.runs),
                              QString::number(last.rows), QString::number(last.valid), QString::number(last.removed),
                              QString::number(last.unreachable),
                              watched_.contains(domain.domain) ? IntervalText(watched_.value(domain.domain)) : QString()});
    }
    Fill(*domainsModel_, table);
    if (domains_.empty()) {
        wantedDomain_.clear();
        LoadRuns();
    } else {
        domainsView_->setCurrentIndex(domainsModel_->index(wanted, 0));
    }
}

void HistoryWindow::LoadRuns()
{
    runs_.clear();
    changes_.reset();
    ShowChanges();
    ShowWatch();
    chart_->ShowRuns(runs_);
    const QString domain = ChosenDomain();
    if (domain.isEmpty()) {
        runsModel_->clear();
        EnableButtons();
        return;
    }
    ShowReading(*runsModel_);
    ReadIfCurrent(this, &pool_, runsRead_, [path = path_, domain] {
        HistoryReader reader(path);
        Listing listing;
        listing.runs = reader.Runs(domain);
        listing.error = reader.Error();
        return listing;
    }, [this](const Listing &listing) { ShowRuns(listing); });
}

void HistoryWindow::ShowRuns(const Listing &listing)
{
    statusLine_->setText(listing.error);
    runs_ = listing.runs;
    Fill(*runsModel_, RunsTable(runs_));
    // Why a search failed is its row's tool tip: a column would widen the table for a few rows.
    runsView_->setColumnHidden(kRunReasonColumn, true);
    for (int row = 0; row < runsModel_->rowCount(); ++row)
        if (const QString reason = runsModel_->item(row, kRunReasonColumn)->text(); !reason.isEmpty())
            for (int column = 0; column < kRunReasonColumn; ++column)
                runsModel_->item(row, column)->setToolTip(reason);
    chart_->ShowRuns(runs_);
    const auto wanted = std::find_if(runs_.begin(), runs_.end(), [this](const RunSummary &run) {
        return run.run.id == wantedRun_;
    });
    if (!runs_.empty())
        runsView_->setCurrentIndex(runsModel_->index(wanted == runs_.end() ? 0 : static_cast<int>(wanted - runs_.begin()), 0));
    EnableButtons();
}

void HistoryWindow::LoadChanges()
{
    changes_.reset();
    const RunSummary *run = ChosenRun();
    if (!run) {
        ShowChanges();
        return;
    }
    ShowReading(*changesModel_);
    EnableButtons();
    ReadIfCurrent(this, &pool_, changesRead_, [path = path_, runId = run->run.id] {
        HistoryReader reader(path);
        Changes read;
        read.changes = reader.Changes(runId);
        if (read.changes) {
            // A change's evidence is the run's row, or the earlier run's for an address no longer listed.
            std::vector<StoredRow> rows = read.changes->previous ? reader.Rows(read.changes->previous->id)
                                                                 : std::vector<StoredRow>{};
            for (StoredRow &row : reader.Rows(runId))
                rows.push_back(std::move(row));
            for (const StoredRow &row : rows)
                read.evidence.insert(row.address, EvidenceText(row));
        }
        read.error = reader.Error();
        return read;
    }, [this](const Changes &read) {
        statusLine_->setText(read.error);
        changes_ = read.changes;
        evidence_ = read.evidence;
        ShowChanges();
    });
}

RunChanges HistoryWindow::ShownChanges() const
{
    const int kind = kindBox_->currentData().toInt();
    RunChanges shown;
    if (changes_) {
        shown.run = changes_->run;
        for (const RowChange &change : changes_->changes)
            if (kind < 0 || static_cast<int>(change.kind) == kind)
                shown.changes.push_back(change);
    }
    return shown;
}

void HistoryWindow::ShowChanges()
{
    const RunChanges shown = ShownChanges();
    Fill(*changesModel_, ChangesTable(shown));
    for (int row = 0; row < changesModel_->rowCount(); ++row) {
        const QString tip = ToolTipMarkup(evidence_.value(shown.changes[static_cast<std::size_t>(row)].address));
        for (int column = 0; column < changesModel_->columnCount(); ++column)
            changesModel_->item(row, column)->setToolTip(tip);
    }
    if (changes_ && !changes_->previous)
        statusLine_->setText(QStringLiteral("没有可比较的上一次检测。"));
    EnableButtons();
}

void HistoryWindow::EnableButtons()
{
    const bool hasDomain = !ChosenDomain().isEmpty();
    exportButton_->setEnabled(changes_ && changesModel_->rowCount() > 0);
    deleteRunButton_->setEnabled(ChosenRun() != nullptr);
    deleteDomainButton_->setEnabled(hasDomain);
    recheckButton_->setEnabled(hasDomain);
    watchBox_->setEnabled(hasDomain);
    intervalBox_->setEnabled(hasDomain);
    watchConfirmBox_->setEnabled(hasDomain);
    webhooksButton_->setEnabled(notices_ != nullptr);
    keepBox_->setEnabled(notices_ != nullptr);
    confirmBox_->setEnabled(notices_ != nullptr);
    mailButton_->setEnabled(notices_ != nullptr);
}

void HistoryWindow::SetRunNotices(RunNotices *notices)
{
    notices_ = notices;
    if (notices_) {
        const auto show = [this] {
            const QSignalBlocker block(keepBox_), blockConfirm(confirmBox_);
            keepBox_->setValue(notices_->KeepDays());
            confirmBox_->setValue(notices_->ConfirmChecks());
        };
        show();
        connect(notices_, &RunNotices::KeepDaysRead, keepBox_, show);
    }
    EnableButtons();
}

std::unique_ptr<QMenu> HistoryWindow::ChangeMenu(int changeRow)
{
    auto menu = std::make_unique<QMenu>(changesView_);
    const bool onChange = changeRow >= 0 && changeRow < changesModel_->rowCount() && changes_;
    menu->addAction(QStringLiteral("不再复查此地址"), this, [this, changeRow] { ForgetAddressOf(changeRow); })
        ->setEnabled(onChange);
    return menu;
}

void HistoryWindow::ForgetAddressOf(int changeRow)
{
    const RunChanges shown = ShownChanges();
    if (changeRow < 0 || changeRow >= static_cast<int>(shown.changes.size()))
        return;
    const QString &address = shown.changes[static_cast<std::size_t>(changeRow)].address;
    writer_.Forget(shown.run.domain, address);
    statusLine_->setText(ForgottenText(shown.run.domain, address));
}

// The chosen domain's place on the watch list, without writing it back.
void HistoryWindow::ShowWatch()
{
    const auto found = watched_.constFind(ChosenDomain());
    const QSignalBlocker blockCheck(watchBox_), blockInterval(intervalBox_), blockConfirm(watchConfirmBox_);
    watchBox_->setChecked(found != watched_.cend());
    intervalBox_->setValue(found != watched_.cend() ? found->intervalHours : 24);
    watchConfirmBox_->setValue(found != watched_.cend() ? found->confirmChecks : 1);
}

void HistoryWindow::SetWatched(bool watched, int intervalHours, int confirmChecks)
{
    const QString domain = ChosenDomain();
    if (domain.isEmpty())
        return;
    WatchedDomain watch{domain, intervalHours, QDateTime::currentDateTime(), {}, {}, {}, confirmChecks};
    if (watched)
        watched_.insert(domain, watch);
    else
        watched_.remove(domain);
    const int row = domainsView_->currentIndex().row();
    if (QStandardItem *cell = domainsModel_->item(row, domainsModel_->columnCount() - 1))
        cell->setText(watched ? IntervalText(watch) : QString());
    ReadIfCurrent(this, &pool_, watchWritten_, [path = path_, watch, watched] {
        WatchList list(path);
        if (watched)
            list.Watch(watch.domain, watch.intervalHours, watch.addedAt, watch.confirmChecks);
        else
            list.Unwatch(watch.domain);
        return list.Error();
    }, [this](const QString &error) {
        if (!error.isEmpty())
            statusLine_->setText(HistoryFailureText(error));
    });
}

void HistoryWindow::EditWebhooks()
{
    if (notices_)
        dialogs_.editWebhooks(notices_->Webhooks(), [this](const QStringList &urls) { notices_->SetWebhooks(urls); });
}

void HistoryWindow::EditMail()
{
    if (notices_)
        dialogs_.editMail(notices_->Mail(), [this](const MailSettings &mail) { notices_->SetMail(mail); });
}

QString HistoryWindow::ChosenDomain() const
{
    const int row = domainsView_->currentIndex().row();
    return row >= 0 && row < static_cast<int>(domains_.size()) ? domains_[static_cast<std::size_t>(row)].domain
                                                               : QString();
}

const RunSummary *HistoryWindow::ChosenRun() const
{
    const int row = runsView_->currentIndex().row();
    return row >= 0 && row < static_cast<int>(runs_.size()) ? &runs_[static_cast<std::size_t>(row)] : nullptr;
}

void HistoryWindow::ExportChanges()
{
    if (!changes_)
        return;
    const StoredRun &run = changes_->run;
    // Named apart from the grid's export, which starts "vantorel-<domain>-<date>".
    const QString name = QStringLiteral("vantorel-changes-%1-%2.csv").arg(run.domain).arg(run.id);
    // Each line stands on its own: a sheet of several runs' changes still says whose they are.
    const QStringList captions{QStringLiteral("网站"), QStringLiteral("检测编号"), QStringLiteral("时间"),
                               QStringLiteral("变化"), QStringLiteral("外链地址"), QStringLiteral("上次"),
                               QStringLiteral("本次"), QStringLiteral("依据")};
    std::vector<QStringList> rows;
    for (const RowChange &change : ShownChanges().changes)
        rows.push_back({SiteShown(run.domain), QString::number(run.id), ShownTime(run.startedAt), ChangeLabel(change),
                        change.address, CheckDescription(change.before, change.after), CheckDescription(change.after, change.before),
                        change.Told().evidence});
    dialogs_.askSavePath(QDir(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation)).filePath(name),
                         [this, csv = CellsAsCsv(captions, rows, true)](const QString &path) {
                             if (const QString failure = SaveWhole(path, csv); !failure.isEmpty())
                                 dialogs_.tell(failure);
                         });
}

void HistoryWindow::DeleteRun()
{
    const RunSummary *chosen = ChosenRun();
    if (!chosen)
        return;
    // What is chosen now: a run ending meanwhile replaces the list.
    const StoredRun run = chosen->run;
    if (writer_.Writing(run.id)) {
        dialogs_.tell(kStillWriting);
        return;
    }
    dialogs_.confirm(QStringLiteral("删除 %1 在 %2 的这次检测记录？删除后无法恢复。").arg(SiteShown(run.domain), ShownTime(run.startedAt)),
                     [this, id = run.id] {
                         writer_.DeleteRun(id);
                         Reload();
                     });
}

void HistoryWindow::DeleteDomain()
{
    const int row = domainsView_->currentIndex().row();
    if (row < 0 || row >= static_cast<int>(domains_.size()))
        return;
    const DomainSummary domain = domains_[static_cast<std::size_t>(row)];
    if (writer_.WritingSite(domain.domain)) {
        dialogs_.tell(kStillWriting);
        return;
    }
    dialogs_.confirm(QStringLiteral("删除 %1 的全部 %2 次检测记录？删除后无法恢复。").arg(SiteShown(domain.domain)).arg(domain.runs),
                     [this, site = domain.domain] {
                         // A run of the site may have begun while the question was open.
                         if (writer_.WritingSite(site)) {
                             dialogs_.tell(kStillWriting);
                             return;
                         }
                         writer_.DeleteDomain(site);
                         Reload();
                     });
}

} // namespace vantorel
