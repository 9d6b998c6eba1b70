#include "BacklinkAnalysis.h"

#include "Domain.h"
#include "ResultExport.h"
#include "SearchPage.h"
#include "Verdict.h"

#include <DecodeBody.h>

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFutureWatcher>
#include <QPromise>
#include <QThreadPool>
#include <QTimer>
#include <QUrl>

#include <map>

namespace vantorel {

namespace {

constexpr QStringView kPageCharset = u"gb2312";

// Repainting a huge grid once per row would freeze the window; rows still show as written.
constexpr qint64 kGridRepaintIntervalMs = 30;

const QString kStatusStart = QStringLiteral("开始分析网站外链地址...");
const QString kStatusNoDomain = QStringLiteral("请输入要分析的网站地址...");
const QString kStatusSearchFailed = QStringLiteral("当前网站无法访问...");
const QString kStatusVerification = QStringLiteral("搜索引擎要求安全验证，请稍后再试...");
const QString kStatusUnrecognised = QStringLiteral("无法识别搜索引擎返回的页面...");
const QString kStatusParsed = QStringLiteral("网站外链地址分析完成！");
const QString kStatusChecking = QStringLiteral("开始检测,需要的时间较长...");
const QString kStatusChecked = QStringLiteral("网站地址有效性检测完成...");
const QString kStatusStopped = QStringLiteral("检测已停止...");
const QString kPendingCheck = QStringLiteral("等待检测");

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

BacklinkAnalysis::BacklinkAnalysis(AnalysisWindow &window, AnalysisSettings settings)
    : window_(window), settings_(std::move(settings)), engine_(settings_.fetchLimits, settings_.jobs)
{
}

bool BacklinkAnalysis::StillCurrent(RunId run) const
{
    return run == latestRun_ && !window_.WindowClosed();
}

BacklinkAnalysis::RunId BacklinkAnalysis::BeginRun()
{
    // A newer run supersedes the one that may be waiting below it on the stack.
    engine_.AbortAll();
    engine_.SetLimits(settings_.fetchLimits);
    engine_.SetMaxInFlight(settings_.jobs);
    activeRun_ = ++latestRun_;
    outcome_ = RunOutcome::Running;
    countText_.reset();
    emit Interrupted();
    return activeRun_;
}

void BacklinkAnalysis::EndRun(RunId run, RunOutcome outcome)
{
    if (activeRun_ != run)
        return;
    activeRun_ = 0;
    outcome_ = outcome;
}

bool BacklinkAnalysis::Stop()
{
    if (!Running())
        return false;
    EndRun(latestRun_++, RunOutcome::Stopped);
    engine_.AbortAll();
    emit Interrupted();
    window_.SetStatus(kStatusStopped);
    window_.ShowProgressPanel();
    window_.RepaintProgressPanel();
    return true;
}

void BacklinkAnalysis::Abandon()
{
    EndRun(latestRun_++, RunOutcome::Stopped);
    engine_.AbortAll();
    emit Interrupted();
}

std::optional<FetchResult> BacklinkAnalysis::Await(RunId run, FetchEngine::Ticket ticket)
{
    QEventLoop loop;
    connect(&engine_, &FetchEngine::Finished, &loop, [&loop, ticket](FetchEngine::Ticket done) {
        if (done == ticket)
            loop.quit();
    });
    connect(this, &BacklinkAnalysis::Interrupted, &loop, &QEventLoop::quit);
    while (StillCurrent(run) && !engine_.IsDone(ticket))
        loop.exec();
    if (!StillCurrent(run))
        return std::nullopt;
    return engine_.Take(ticket);
}

std::optional<JudgedPage> BacklinkAnalysis::Judge(RunId run, FetchResult result, const QString &domain)
{
    auto promise = std::make_shared<QPromise<JudgedPage>>();
    QFuture<JudgedPage> judged = promise->future();
    promise->start();
    QThreadPool::globalInstance()->start([promise, result = std::move(result), domain] {
        promise->addResult(JudgePage(result, domain, kPageCharset));
        promise->finish();
    });

    QEventLoop loop;
    QFutureWatcher<JudgedPage> watcher;
    connect(&watcher, &QFutureWatcherBase::finished, &loop, &QEventLoop::quit);
    connect(this, &BacklinkAnalysis::Interrupted, &loop, &QEventLoop::quit);
    watcher.setFuture(judged);
    while (StillCurrent(run) && !judged.isFinished())
        loop.exec();
    if (!StillCurrent(run))
        return std::nullopt;
    return judged.takeResult();
}

bool BacklinkAnalysis::Pause(RunId run)
{
    if (settings_.pause.count() > 0 && StillCurrent(run)) {
        QEventLoop loop;
        QTimer::singleShot(settings_.pause, &loop, &QEventLoop::quit);
        connect(this, &BacklinkAnalysis::Interrupted, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return StillCurrent(run);
}

QString BacklinkAnalysis::StartRun(RunId run, const QString &firstStatus)
{
    window_.ShowProgressPanel();
    window_.RepaintProgressPanel();
    window_.SetStatus(firstStatus);
    window_.RepaintProgressPanel();

    // The whole run judges against the host as it stood at the start, whatever the box says later.
    const QString domain = ReduceToHost(window_.GetDomainText());
    window_.SetDomainText(domain);
    if (domain.isEmpty()) {
        window_.SetStatus(kStatusNoDomain);
        EndRun(run, RunOutcome::NoDomain);
    }
    return domain;
}

void BacklinkAnalysis::CheckAddresses(const QStringList &urls)
{
    const RunId run = BeginRun();
    const QString domain = StartRun(run, kStatusChecking);
    if (domain.isEmpty())
        return;

    ResultGridOps &grid = window_.Grid();
    grid.ClearGrid();
    grid.SetRowCount(1 + static_cast<int>(urls.size()));
    grid.SetHeaderFormat(kResultGridHeader);
    for (int row = 1; row <= urls.size(); ++row) {
        grid.SetCellText(row, 0, QString::number(row));
        grid.SetCellText(row, 1, GridAddress(urls[row - 1]));
        grid.SetCellText(row, 2, kPendingCheck);
    }
    grid.RepaintGrid();
    CheckLinkValidity(domain);
}

void BacklinkAnalysis::RunAnalysis()
{
    const RunId run = BeginRun();
    const QString domain = StartRun(run, kStatusStart);
    if (domain.isEmpty())
        return;

    const std::optional<FetchResult> answer =
        Await(run, engine_.Start(SearchQueryUrl(settings_.searchHost, domain)));
    if (!answer)
        return;
    std::optional<QString> page = PageText(*answer);
    if (!page) {
        window_.SetStatus(kStatusSearchFailed);
        EndRun(run, RunOutcome::EngineUnreachable);
        return;
    }
    switch (ClassifyEngineAnswer(*page, QUrl(answer->finalUrl).host(), PageTitle(*page))) {
    case EngineAnswer::Results:
        break;
    case EngineAnswer::Verification:
        window_.SetStatus(kStatusVerification);
        EndRun(run, RunOutcome::EngineRefused);
        return;
    case EngineAnswer::Unrecognised:
        window_.SetStatus(kStatusUnrecognised);
        EndRun(run, RunOutcome::PageUnrecognised);
        return;
    }
    window_.PageSource() = std::move(*page);

    ParseSearchResults(domain);
    window_.SetStatus(kStatusParsed);
    window_.ProcessPendingEvents();
    if (!Pause(run))
        return;
    window_.SetStatus(kStatusChecking);
    window_.RepaintProgressPanel();
    CheckLinkValidity(domain);
}

void BacklinkAnalysis::ParseSearchResults(const QString &domain)
{
    const QString &page = window_.PageSource();
    ResultGridOps &grid = window_.Grid();

    countText_ = LinkCountText(page);
    if (std::optional<QString> line = LinkCountLine(page, domain))
        window_.SetTipLine(*line);
    window_.RepaintTipLine();

    const std::vector<qint32> positions = ResultLinkPositions(page);
    grid.ClearGrid();
    grid.SetRowCount(1);
    grid.SetHeaderFormat(kResultGridHeader);

    int runningNumber = 1;
    QElapsedTimer sinceRepaint;
    sinceRepaint.start();
    for (std::size_t k = 0; k < positions.size() && runningNumber <= kMaxResultRows; ++k) {
        if (std::optional<QString> address = ResultAddress(page, positions[k])) {
            grid.SetRowCount(grid.GetRowCount() + 1);
            const int row = grid.GetRowCount() - 1;
            grid.SetCellText(row, 0, QString::number(runningNumber));
            grid.SetCellText(row, 1, *address);
            grid.SetCellText(row, 2, kPendingCheck);
            ++runningNumber;
        }
        if (sinceRepaint.elapsed() >= kGridRepaintIntervalMs || k + 1 == positions.size() ||
            runningNumber > kMaxResultRows) {
            grid.RepaintGrid();
            sinceRepaint.restart();
        }
    }
}

void BacklinkAnalysis::CheckLinkValidity(const QString &domain)
{
    const RunId run = latestRun_;
    ResultGridOps &grid = window_.Grid();

    // Rows are judged by index: a header click must not move them meanwhile.
    grid.SetHeaderSortingEnabled(false);
    struct SortingRestorer {
        ResultGridOps &grid;
        ~SortingRestorer() { grid.SetHeaderSortingEnabled(true); }
    } restoreSorting{grid};

    // Pages are requested ahead of the row being judged, in row order; verdicts are written
    // in row order. Twice the transfers in flight keeps them busy behind one slow row.
    const int rows = grid.GetRowCount() - 1;
    const int lookAhead = 2 * std::max(1, settings_.jobs);
    std::map<int, FetchEngine::Ticket> requested;
    int nextToRequest = 1;
    auto requestUpTo = [&](int lastRow) {
        for (; nextToRequest <= std::min(lastRow, rows); ++nextToRequest)
            if (std::optional<QString> address = grid.GetCellText(nextToRequest, 1))
                requested[nextToRequest] = engine_.Start(RowUrl(*address));
    };

    for (int row = 1; row <= rows; ++row) {
        requestUpTo(row + lookAhead - 1);
        window_.SetStatus(RowStatus(row, grid.GetRowCount() - 1));
        window_.RepaintProgressPanel();
        grid.ShowRow(row);
        if (const auto ticket = requested.find(row); ticket != requested.end()) {
            std::optional<FetchResult> result = Await(run, ticket->second);
            requested.erase(ticket);
            std::optional<JudgedPage> judged = result ? Judge(run, std::move(*result), domain) : std::nullopt;
            if (!judged)
                return;
            window_.PageSource() = std::move(judged->text);
            grid.SetCellText(row, 2, VerdictWord(judged->evidence));
            grid.SetRowEvidence(row, judged->evidence);
            grid.RepaintGrid();
            window_.PageSource().clear();
        }
        window_.ProcessPendingEvents();
        if (!StillCurrent(run))
            return;
    }

    window_.SetStatus(kStatusChecked);
    window_.RepaintProgressPanel();
    window_.ProcessPendingEvents();
    if (!Pause(run))
        return;
    window_.HideProgressPanel();
    EndRun(run, RunOutcome::Completed);
}

} // namespace vantorel
