#include "BacklinkAnalysis.h"

#include <Network.h>

#include "Domain.h"
#include "SearchPage.h"

#include <DecodeBody.h>


#include <QDeadlineTimer>
#include <QFutureWatcher>
#include <QHash>
#include <QRandomGenerator>
#include <QSet>
#include <QThread>
#include <QThreadPool>
#include <QUrl>

#include <algorithm>
#include <memory>
#include <numeric>
#include <QtConcurrent/qtconcurrentrun.h>
#include <QtConcurrent/qtconcurrenttask.h>

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#endif

namespace vantorel {

namespace {

// A list longer than this has its rows made, and freed, on a pool thread.
constexpr qsizetype kListedAtOnce = 10'000;

constexpr QStringView kPageCharset = u"gb2312";
constexpr int kJudgedAtOncePerThread = 2; // bodies being judged or waiting for it

const QString kStatusStart = QStringLiteral("开始分析网站外链地址...");
const QString kStatusNoDomain = QStringLiteral("请输入要分析的网站地址...");
const QString kStatusNotAHost = QStringLiteral("请输入正确的网站地址...");
const QString kStatusSearchFailed = QStringLiteral("当前网站无法访问...");
const QString kStatusVerification = QStringLiteral("搜索引擎要求安全验证，请稍后再试...");
const QString kStatusUnrecognised = QStringLiteral("无法识别搜索引擎返回的页面...");
const QString kStatusParsed = QStringLiteral("网站外链地址分析完成！");
const QString kStatusChecking = QStringLiteral("开始检测,需要的时间较长...");
const QString kStatusChecked = QStringLiteral("网站地址有效性检测完成...");
const QString kStatusStopped = QStringLiteral("检测已停止...");
const QString kStatusKnownChecked = QStringLiteral("已复查已知外链，未能搜索新外链：%1");

QString RowStatus(int row, int rows)
{
    return QStringLiteral("开始分析第 %1/%2 条网址..").arg(row).arg(rows);
}

std::optional<QString> PageText(const FetchResult &result)
{
    if (!result.ok())
        return std::nullopt;
    return DecodePage(result.body, result.contentType, kPageCharset);
}

} // namespace

QString FitDescriptorBudget(AnalysisSettings &settings)
{
    const DescriptorBudget budget = RaiseDescriptorLimit(std::max(settings.jobs, settings.listJobs));
    settings.jobs = std::min(settings.jobs, budget.jobs);
    settings.listJobs = std::min(settings.listJobs, budget.jobs);
    return budget.warning;
}

BacklinkAnalysis::BacklinkAnalysis(AnalysisSettings settings, QObject *parent)
    : QObject(parent), settings_(std::move(settings)), engine_(settings_.fetchLimits, settings_.jobs),
      browser_(settings_.browserProgram, settings_.renderLimits)
{
    judges_.setMaxThreadCount(std::max(1, QThread::idealThreadCount()));
    pause_.setSingleShot(true);
    pause_.setTimerType(Qt::PreciseTimer); // a coarse timer may end a pause early
    connect(&pause_, &QTimer::timeout, this, [this] {
        if (std::function<void()> then = std::exchange(afterPause_, {}))
            then();
    });
    connect(&engine_, &FetchEngine::Finished, this, &BacklinkAnalysis::OnFetched);
    connect(&browser_, &HeadlessBrowser::Rendered, this, &BacklinkAnalysis::OnRendered);
    connect(&browser_, &HeadlessBrowser::BrowserFailed, this, &BacklinkAnalysis::BrowserFailed);
}

BacklinkAnalysis::~BacklinkAnalysis()
{
    DropWork();
}

std::vector<int> BacklinkAnalysis::DropWork()
{
    ++generation_;
    engine_.AbortAll();
    judges_.clear(); // judgements not started yet; those running are ignored when they end
    for (const auto &[watcher, bytes] : std::exchange(watchers_, {}))
        watcher->deleteLater(); // one of them may be the caller
    judgingBytes_ = 0;
    engine_.HoldBodies(false);
    engine_.CountBodiesHeldByCaller(0);
    pause_.stop();
    afterPause_ = {};
    for (QTimer *retry : std::exchange(retryTimers_, {})) {
        retry->stop(); // waiting retries end with the run, before their timer could fire for the next one
        retry->deleteLater();
    }
    failedAttempts_.clear();
    refreshedRows_.clear();
    searchTicket_.reset();
    rowOfTicket_.clear();
    sameAddressRows_.clear();
    firstRowOf_ = {};
    browser_.Close();
    renders_.clear();
    std::vector<int> waiting;
    for (int row = 0; row < static_cast<int>(rows_.size()); ++row)
        if (RowState &state = rows_[static_cast<std::size_t>(row)].state;
            state == RowState::Fetching || state == RowState::WaitingToRetry || state == RowState::Rendering) {
            state = RowState::Waiting;
            waiting.push_back(row);
        }
    return waiting;
}

void BacklinkAnalysis::AnnounceWaiting(const std::vector<int> &rows)
{
    for (const int row : rows)
        emit RowStateChanged(row);
}

void BacklinkAnalysis::SetRowState(int row, RowState state)
{
    rows_[static_cast<std::size_t>(row)].state = state;
    emit RowStateChanged(row);
}

void BacklinkAnalysis::BeginRun(int jobs)
{
    const bool superseding = Running();
    const std::vector<int> waiting = DropWork();
    if (superseding) {
        AnnounceWaiting(waiting);
        outcome_ = RunOutcome::Stopped;
        emit Finished(outcome_);
    }
    engine_.SetLimits(settings_.fetchLimits);
    engine_.SetMaxInFlight(jobs);
    outcome_ = RunOutcome::Running;
    countText_.reset();
    monitored_.reset();
    engineProblem_.clear();
}

void BacklinkAnalysis::EndRun(RunOutcome outcome)
{
    if (!Running())
        return;
    AnnounceWaiting(DropWork());
    outcome_ = outcome;
    emit Finished(outcome);
}

bool BacklinkAnalysis::Stop()
{
    if (!Running())
        return false;
    AnnounceWaiting(DropWork());
    outcome_ = RunOutcome::Stopped;
    emit StatusChanged(kStatusStopped);
    emit PanelShown(true);
    emit Finished(outcome_);
    return true;
}

void BacklinkAnalysis::Abandon()
{
    DropWork();
    if (Running())
        outcome_ = RunOutcome::Stopped;
}

void BacklinkAnalysis::After(std::chrono::milliseconds delay, std::function<void()> then)
{
    afterPause_ = std::move(then);
    pause_.start(delay);
}

bool BacklinkAnalysis::StartRun(RunKind kind, const QString &firstStatus, const QString &typedDomain)
{
    emit PanelShown(true);
    emit StatusChanged(firstStatus);
    // The whole run judges against the host as it stood at the start, whatever the box says later.
    domain_ = ReduceToHost(typedDomain);
    emit DomainChanged(domain_);
    if (domain_.isEmpty() || !IsCheckableHost(domain_)) {
        emit StatusChanged(domain_.isEmpty() ? kStatusNoDomain : kStatusNotAHost);
        EndRun(RunOutcome::NoDomain);
        return false;
    }
    emit RunStarted(kind, domain_);
    return true;
}

void BacklinkAnalysis::RunAnalysis(const QString &typedDomain)
{
    BeginRun(settings_.jobs);
    if (!StartRun(RunKind::Search, kStatusStart, typedDomain))
        return;
    AskEngine();
}

void BacklinkAnalysis::MonitorSite(const QString &typedDomain, const QStringList &known)
{
    BeginRun(settings_.listJobs);
    monitored_ = known;
    if (StartRun(RunKind::Monitor, kStatusStart, typedDomain))
        AskEngine();
}

void BacklinkAnalysis::AskEngine()
{
    // The engine is asked once in a while only, however often a run starts and however many runs
    // share the settings: a newer run replaces one that waits for its turn, and a run whose turn
    // came looks again, since another may have taken it.
    const qint64 now = QDeadlineTimer::current().deadline();
    qint64 last = settings_.lastSearch->load();
    const qint64 waitMs = last == 0 ? 0 : last + settings_.searchGap.count() - now;
    if (waitMs > 0 || !settings_.lastSearch->compare_exchange_strong(last, now)) {
        After(std::chrono::milliseconds(std::max<qint64>(waitMs, 1)), [this] { AskEngine(); });
        return;
    }
    searchTicket_ = engine_.Start(SearchQueryUrl(settings_.searchHost, domain_));
}

void BacklinkAnalysis::CheckAddresses(const QStringList &urls, const QString &typedDomain, RunKind kind)
{
    BeginRun(settings_.listJobs);
    if (!StartRun(kind, kStatusChecking, typedDomain))
        return;
    const auto listed = [urls] {
        std::vector<ResultRow> rows;
        rows.reserve(static_cast<std::size_t>(urls.size()));
        for (const QString &url : urls)
            rows.push_back(ListedRow(static_cast<int>(rows.size()) + 1, url));
        return rows;
    };
    if (urls.size() <= kListedAtOnce) {
        ReplaceRows(listed());
        CheckLinkValidity(domain_);
        return;
    }
    // The rows of 100,000 addresses take a tenth of a second to make, their listing in the grid
    // and asking for their pages as long again: the rows are made on a pool thread, then listed
    // and asked for in turns of the event loop of their own.
    auto *made = new QFutureWatcher<std::vector<ResultRow>>(this);
    connect(made, &QFutureWatcherBase::finished, this, [this, made, generation = generation_] {
        made->deleteLater();
        if (generation != generation_)
            return; // stopped, or another run began meanwhile
        ReplaceRows(made->future().takeResult());
        QMetaObject::invokeMethod(
            this,
            [this, generation] {
                if (generation == generation_)
                    CheckLinkValidity(domain_);
            },
            Qt::QueuedConnection);
    });
    made->setFuture(QtConcurrent::run(listed));
}

void BacklinkAnalysis::FetchRow(int row)
{
    const auto refreshed = refreshedRows_.find(row);
    rowOfTicket_[engine_.Start(refreshed != refreshedRows_.end() ? refreshed->second.target
                                                                 : rows_[static_cast<std::size_t>(row)].url)] = row;
}

void BacklinkAnalysis::FollowRefresh(int row, QString target, long redirects)
{
    refreshedRows_[row] = {std::move(target), redirects + 1};
    FetchRow(row);
}

void BacklinkAnalysis::OnFetched(FetchEngine::Ticket ticket)
{
    if (searchTicket_ == ticket) {
        searchTicket_.reset();
        if (std::optional<FetchResult> answer = engine_.Take(ticket))
            OnSearchAnswer(*answer);
        return;
    }
    const auto row = rowOfTicket_.find(ticket);
    if (row == rowOfTicket_.end())
        return;
    const int index = row->second;
    rowOfTicket_.erase(row);
    std::optional<FetchResult> result = engine_.Take(ticket);
    if (!result)
        return;
    // A passing failure is tried again later; meanwhile its slot serves other rows.
    std::vector<QString> &failed = failedAttempts_[index];
    const int attempts = static_cast<int>(failed.size()) + 1;
    if (const auto delay = RetryDelay(*result, attempts, settings_.retry, QDateTime::currentDateTime(),
                                      *QRandomGenerator::global())) {
        failed.push_back(AttemptCause(*result));
        auto *timer = new QTimer(this);
        timer->setSingleShot(true);
        timer->setTimerType(Qt::PreciseTimer); // never sooner than the server asked
        retryTimers_.insert(timer);
        connect(timer, &QTimer::timeout, this, [this, timer, index, generation = generation_] {
            timer->deleteLater();
            if (generation != generation_)
                return;
            retryTimers_.erase(timer);
            FetchRow(index);
            SetRowState(index, RowState::Fetching);
        });
        timer->start(*delay);
        rows_[static_cast<std::size_t>(index)].retryWait = *delay;
        SetRowState(index, RowState::WaitingToRetry);
        return;
    }
    if (const auto refreshed = refreshedRows_.find(index); refreshed != refreshedRows_.end())
        result->redirects += refreshed->second.redirects;
    StartJudging(index, std::move(*result));
}

void BacklinkAnalysis::SearchFailed(const QString &status, RunOutcome outcome)
{
    emit StatusChanged(status);
    engineProblem_ = status;
    if (!monitored_ || monitored_->isEmpty()) {
        EndRun(outcome);
        return;
    }
    ReplaceRows({});
    ListKnownAddresses();
    emit StatusChanged(kStatusChecking);
    CheckLinkValidity(domain_);
}

void BacklinkAnalysis::ListKnownAddresses()
{
    std::vector<ResultRow> rows = rows_;
    QSet<QString> listed;
    for (const ResultRow &row : rows)
        listed.insert(row.url);
    for (const QString &url : *monitored_)
        if (!listed.contains(RowUrl(url)))
            rows.push_back(ListedRow(static_cast<int>(rows.size()) + 1, url));
    ReplaceRows(std::move(rows));
}

void BacklinkAnalysis::OnSearchAnswer(const FetchResult &answer)
{
    // The engine's trouble, not the user's site: named after the status, with its reason.
    const QString cause = QStringLiteral("（搜索引擎：%1）").arg(AttemptCause(answer));
    const std::optional<QString> page = PageText(answer);
    if (!page) {
        SearchFailed(kStatusSearchFailed + cause, RunOutcome::EngineUnreachable);
        return;
    }
    switch (ClassifyEngineAnswer(*page, QUrl(answer.finalUrl).host(), PageTitle(*page))) {
    case EngineAnswer::Results:
        break;
    case EngineAnswer::Verification:
        SearchFailed(kStatusVerification, RunOutcome::EngineRefused);
        return;
    case EngineAnswer::Unrecognised:
        SearchFailed(kStatusUnrecognised + (answer.httpStatus / 100 == 2 ? QString() : cause), RunOutcome::PageUnrecognised);
        return;
    }
    ParseSearchResults(*page, domain_);
    if (monitored_)
        ListKnownAddresses();
    emit StatusChanged(kStatusParsed);
    After(settings_.pause, [this] {
        emit StatusChanged(kStatusChecking);
        CheckLinkValidity(domain_);
    });
}

void BacklinkAnalysis::ParseSearchResults(const QString &page, const QString &domain)
{
    countText_ = LinkCountText(page);
    if (std::optional<QString> line = LinkCountLine(page, domain))
        emit TipLineChanged(*line);

    std::vector<ResultRow> rows;
    for (const qint32 position : ResultLinkPositions(page)) {
        if (rows.size() == kMaxResultRows)
            break;
        if (std::optional<QString> address = ResultAddress(page, position)) {
            const int number = static_cast<int>(rows.size()) + 1;
            rows.push_back({number, RowUrl(*address), *address, RowState::Waiting, std::nullopt});
        }
    }
    ReplaceRows(std::move(rows));
}

void BacklinkAnalysis::ReplaceRows(std::vector<ResultRow> rows)
{
    emit RowsAboutToBeListed();
    std::swap(rows_, rows);
    emit RowsListed();
    // Freeing 100,000 rows takes about as long as making them.
    if (rows.size() > static_cast<std::size_t>(kListedAtOnce))
        QThreadPool::globalInstance()->start([old = std::move(rows)] {});
}

void BacklinkAnalysis::CheckLinkValidity(const QString &domain)
{
    std::vector<int> all(rows_.size());
    std::iota(all.begin(), all.end(), 0);
    CheckRows(domain, std::move(all));
}

bool BacklinkAnalysis::RecheckRows(std::vector<int> rows)
{
    if (Running() || domain_.isEmpty())
        return false;
    std::sort(rows.begin(), rows.end());
    rows.erase(std::remove_if(rows.begin(), rows.end(),
                              [this](int row) { return row < 0 || row >= static_cast<int>(rows_.size()); }),
               rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    if (rows.empty())
        return false;
    BeginRun(settings_.listJobs);
    emit PanelShown(true);
    emit StatusChanged(kStatusChecking);
    emit RunStarted(RunKind::Recheck, domain_);
    CheckRows(domain_, std::move(rows));
    return true;
}

void BacklinkAnalysis::CheckRows(const QString &domain, std::vector<int> rows)
{
    if (!Running())
        BeginRun(settings_.listJobs);
    domain_ = domain;
    checkOrder_ = std::move(rows);
    lowestUnjudged_ = 0;
    // Every page is asked for soon: the engine keeps as many in flight as its limits allow,
    // whatever the order of hosts in the list.
    for (const int row : checkOrder_) {
        ResultRow &listed = rows_[static_cast<std::size_t>(row)];
        listed.evidence.reset();
        listed.state = RowState::Fetching;
    }
    firstRowOf_.clear();
    rowsAsked_ = 0;
    AskForNextRows();
    const quint64 generation = generation_;
    for (const int row : checkOrder_) {
        emit RowStateChanged(row);
        if (generation != generation_)
            return;
    }
    if (!checkOrder_.empty())
        AnnounceRow(0);
    else
        AdvancePastJudgedRows();
}

void BacklinkAnalysis::AskForNextRows()
{
    // Asking for a page, and looking whether its address was listed before, takes a microsecond
    // or two: a list of 100,000 asked for at once would hold the window's thread too long.
    constexpr std::size_t kRowsAskedAtOnce = 2000;
    const std::size_t end = std::min(checkOrder_.size(), rowsAsked_ + kRowsAskedAtOnce);
    const quint64 generation = generation_;
    bool landedAgain = false;
    for (; rowsAsked_ < end; ++rowsAsked_) {
        // An address listed again is fetched once, its verdict landing on every row listing it.
        const int row = checkOrder_[rowsAsked_];
        const auto first = firstRowOf_.constFind(rows_[static_cast<std::size_t>(row)].url);
        if (first == firstRowOf_.cend()) {
            firstRowOf_.insert(rows_[static_cast<std::size_t>(row)].url, row);
            FetchRow(row);
        } else if (const ResultRow &fetched = rows_[static_cast<std::size_t>(*first)]; fetched.state == RowState::Judged) {
            ResultRow &again = rows_[static_cast<std::size_t>(row)];
            again.evidence = fetched.evidence;
            again.state = RowState::Judged;
            emit RowJudged(row);
            if (generation != generation_)
                return;
            landedAgain = true;
        } else {
            sameAddressRows_[*first].push_back(row);
        }
    }
    if (rowsAsked_ < checkOrder_.size())
        QTimer::singleShot(0, this, [this, generation] {
            if (generation == generation_)
                AskForNextRows();
        });
    else
        firstRowOf_ = {};
    if (landedAgain)
        AdvancePastJudgedRows();
}

namespace {

// Work on its way to the pool and back. Qt hands it over under a futex of its own, which
// ThreadSanitizer cannot see; the job says so itself.
struct PoolJob {
    void HandOver()
    {
#if defined(__SANITIZE_THREAD__)
        __tsan_release(this);
#endif
    }
    void TakeOver()
    {
#if defined(__SANITIZE_THREAD__)
        __tsan_acquire(this);
#endif
    }
};

// One page on its way to be judged and its evidence on the way back.
struct JudgeJob : PoolJob {
    FetchResult result;
    QString domain;
    QStringList failedAttempts;
    long maxRedirects;
    RenderMode render;
    RowEvidence evidence;
    QString refreshTo;
    bool wantsRendering = false;
};

// A rendered page on its way to be read for links, and the row's evidence on the way back.
struct RenderedJob : PoolJob {
    RowEvidence evidence;
    RenderedPage page;
    QString domain;
    QByteArray robotsTag;
};

} // namespace

void BacklinkAnalysis::StartJudging(int row, FetchResult result)
{
    // Parsing a large page takes a while: it runs on the pool, earlier rows first.
    QStringList failed;
    if (const auto earlier = failedAttempts_.find(row); earlier != failedAttempts_.end())
        failed = QStringList(earlier->second.begin(), earlier->second.end());
    const qsizetype bodyBytes = result.body.size();
    auto job = std::make_shared<JudgeJob>(
        JudgeJob{{}, std::move(result), domain_, std::move(failed), settings_.fetchLimits.maxRedirects, settings_.render, {}, {}});
    job->HandOver();
    auto *watcher = new QFutureWatcher<void>(this);
    watchers_.emplace(watcher, bodyBytes);
    judgingBytes_ += bodyBytes;
    HoldBodiesWhileJudgingIsBehind();
    const quint64 generation = generation_;
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, row, generation, job] {
        watcher->deleteLater();
        // A dropped watcher may still have had its ending queued.
        const auto found = watchers_.find(watcher);
        if (found == watchers_.end())
            return;
        judgingBytes_ -= found->second;
        watchers_.erase(found);
        if (generation == generation_) {
            HoldBodiesWhileJudgingIsBehind();
            job->TakeOver();
            if (job->wantsRendering)
                StartRendering(row, std::move(job->evidence), std::move(job->result.robotsTag));
            else if (job->refreshTo.isEmpty())
                Judged(row, std::move(job->evidence));
            else
                FollowRefresh(row, std::move(job->refreshTo), job->evidence.redirects);
        }
    });
    watcher->setFuture(QtConcurrent::task([job] {
                           job->TakeOver();
                           JudgedPage judged = JudgePage(job->result, job->domain, kPageCharset, job->failedAttempts,
                                                         job->maxRedirects);
                           job->wantsRendering = WantsRendering(job->render, job->result, judged);
                           job->evidence = std::move(judged.evidence);
                           job->refreshTo = std::move(judged.refreshTo);
                           // The page's bytes go as soon as they are judged; its robots header
                           // counts for the rendered page too.
                           QByteArray robotsTag = std::move(job->result.robotsTag);
                           job->result = {};
                           job->result.robotsTag = std::move(robotsTag);
                           job->HandOver();
                       })
                           .onThreadPool(judges_)
                           .withPriority(-row)
                           .spawn());
}

// A few pages per judging thread wait their turn; past that the engine stops reading bodies,
// so that pages fetched faster than they are judged do not pile up in memory. Their bytes count
// against the room large bodies share too: a few large pages are many bytes.
void BacklinkAnalysis::HoldBodiesWhileJudgingIsBehind()
{
    engine_.CountBodiesHeldByCaller(judgingBytes_);
    engine_.HoldBodies(static_cast<int>(watchers_.size()) >= kJudgedAtOncePerThread * judges_.maxThreadCount());
}

void BacklinkAnalysis::StartRendering(int row, RowEvidence evidence, QByteArray robotsTag)
{
    const QString url = evidence.finalUrl.isEmpty() ? rows_[static_cast<std::size_t>(row)].url : evidence.finalUrl;
    renders_[browser_.Render(url)] = {row, std::move(evidence), std::move(robotsTag)};
    SetRowState(row, RowState::Rendering);
}

void BacklinkAnalysis::OnRendered(HeadlessBrowser::Ticket ticket, const RenderedPage &page)
{
    const auto found = renders_.find(ticket);
    if (found == renders_.end())
        return;
    const Rendering rendering = std::move(found->second);
    renders_.erase(found);
    if (!page.ok) {
        Judged(rendering.row, WithRenderedPage(rendering.fetched, page, domain_, rendering.robotsTag));
        return;
    }
    // The rendered document is read on the pool, as a fetched page is.
    auto job = std::make_shared<RenderedJob>();
    job->evidence = rendering.fetched;
    job->page = page;
    job->domain = domain_;
    job->robotsTag = rendering.robotsTag;
    job->HandOver();
    auto *watcher = new QFutureWatcher<void>(this);
    watchers_.emplace(watcher, 0);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, row = rendering.row, job] {
        watcher->deleteLater();
        if (watchers_.erase(watcher) == 0)
            return; // dropped with its run
        HoldBodiesWhileJudgingIsBehind();
        job->TakeOver();
        Judged(row, std::move(job->evidence));
    });
    watcher->setFuture(QtConcurrent::task([job] {
                           job->TakeOver();
                           job->evidence = WithRenderedPage(std::move(job->evidence), job->page, job->domain, job->robotsTag);
                           job->page = {};
                           job->HandOver();
                       })
                           .onThreadPool(judges_)
                           .spawn());
}

void BacklinkAnalysis::Judged(int row, RowEvidence evidence)
{
    evidence.checkedAt = QDateTime::currentDateTime();
    std::vector<int> landing{row};
    if (const auto again = sameAddressRows_.find(row); again != sameAddressRows_.end())
        landing.insert(landing.end(), again->second.begin(), again->second.end());
    // A watcher of a signal may stop the run or start another: after each, look again.
    const quint64 generation = generation_;
    for (const int each : landing) {
        ResultRow &landed = rows_[static_cast<std::size_t>(each)];
        landed.evidence = evidence;
        landed.state = RowState::Judged;
        emit RowJudged(each);
        if (generation != generation_)
            return;
    }
    AdvancePastJudgedRows();
}

void BacklinkAnalysis::AnnounceRow(int place)
{
    emit StatusChanged(RowStatus(place + 1, static_cast<int>(checkOrder_.size())));
    emit RowStarted(checkOrder_[static_cast<std::size_t>(place)]);
}

void BacklinkAnalysis::AdvancePastJudgedRows()
{
    const int places = static_cast<int>(checkOrder_.size());
    const int before = lowestUnjudged_;
    while (lowestUnjudged_ < places &&
           rows_[static_cast<std::size_t>(checkOrder_[static_cast<std::size_t>(lowestUnjudged_)])].state == RowState::Judged)
        ++lowestUnjudged_;
    if (lowestUnjudged_ < places) {
        if (lowestUnjudged_ != before)
            AnnounceRow(lowestUnjudged_);
        return;
    }
    emit StatusChanged(engineProblem_.isEmpty() ? kStatusChecked : kStatusKnownChecked.arg(engineProblem_));
    After(settings_.pause, [this] {
        emit PanelShown(false);
        EndRun(RunOutcome::Completed);
    });
}

} // namespace vantorel
