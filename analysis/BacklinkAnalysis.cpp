#include "BacklinkAnalysis.h"

#include "SearchPage.h"
#include "TextOps.h"

#include <QElapsedTimer>

#include <thread>

namespace vantorel {

namespace {

constexpr QStringView kPageCharset = u"gb2312";

// Repainting a huge grid once per row would freeze the window; rows still show as written.
constexpr qint64 kGridRepaintIntervalMs = 30;

const QString kStatusStart = QStringLiteral("开始分析网站外链地址...");
const QString kStatusSearchFailed = QStringLiteral("当前网站无法访问...");
const QString kStatusParsed = QStringLiteral("网站外链地址分析完成！");
const QString kStatusChecking = QStringLiteral("开始检测,需要的时间较长...");
const QString kStatusChecked = QStringLiteral("网站地址有效性检测完成...");
const QString kPendingCheck = QStringLiteral("等待检测");
const QString kValid = QStringLiteral("有效");
const QString kInvalid = QStringLiteral("无效");

QString RowStatus(int row, int rows)
{
    return QStringLiteral("开始分析第 %1/%2 条网址..").arg(row).arg(rows);
}

} // namespace

BacklinkAnalysis::BacklinkAnalysis(AnalysisWindow &window, AnalysisSettings settings)
    : window_(window), settings_(std::move(settings))
{
}

bool BacklinkAnalysis::StillCurrent(RunId run) const
{
    return run == latestRun_ && !window_.WindowClosed();
}

void BacklinkAnalysis::Pause() const
{
    std::this_thread::sleep_for(settings_.pause);
}

void BacklinkAnalysis::RunAnalysis()
{
    const RunId run = ++latestRun_;

    window_.ShowProgressPanel();
    window_.RepaintProgressPanel();
    window_.SetStatus(kStatusStart);
    window_.RepaintProgressPanel();

    const QString domain = TrimSpaces(window_.GetDomainText()).toString();
    window_.SetDomainText(domain);

    std::optional<QString> page =
        FetchPage(SearchQueryUrl(settings_.searchHost, domain), kPageCharset, settings_.fetchLimits);
    if (!page) {
        window_.SetStatus(kStatusSearchFailed);
        return;
    }
    window_.PageSource() = std::move(*page);

    ParseSearchResults();
    window_.SetStatus(kStatusParsed);
    window_.ProcessPendingEvents();
    if (!StillCurrent(run))
        return;

    Pause();
    window_.SetStatus(kStatusChecking);
    window_.RepaintProgressPanel();
    CheckLinkValidity();
}

void BacklinkAnalysis::ParseSearchResults()
{
    const QString &page = window_.PageSource();
    ResultGridOps &grid = window_.Grid();

    if (std::optional<QString> line = LinkCountLine(page, TrimSpaces(window_.GetDomainText())))
        window_.SetTipLine(*line);
    window_.RepaintTipLine();

    const std::vector<qint32> positions = ResultLinkPositions(page);
    grid.ClearGrid();
    grid.SetRowCount(1);
    grid.SetHeaderFormat(kResultGridHeader);

    int runningNumber = 1;
    QElapsedTimer sinceRepaint;
    sinceRepaint.start();
    for (std::size_t k = 0; k < positions.size(); ++k) {
        if (std::optional<QString> address = ResultAddress(page, positions[k])) {
            grid.SetRowCount(grid.GetRowCount() + 1);
            const int row = grid.GetRowCount() - 1;
            grid.SetCellText(row, 0, QString::number(runningNumber));
            grid.SetCellText(row, 1, *address);
            grid.SetCellText(row, 2, kPendingCheck);
            ++runningNumber;
        }
        if (sinceRepaint.elapsed() >= kGridRepaintIntervalMs || k + 1 == positions.size()) {
            grid.RepaintGrid();
            sinceRepaint.restart();
        }
    }
}

void BacklinkAnalysis::CheckLinkValidity()
{
    const RunId run = latestRun_;
    ResultGridOps &grid = window_.Grid();

    // Rows are judged by index: a header click must not move them meanwhile.
    grid.SetHeaderSortingEnabled(false);
    struct SortingRestorer {
        ResultGridOps &grid;
        ~SortingRestorer() { grid.SetHeaderSortingEnabled(true); }
    } restoreSorting{grid};

    const int rows = grid.GetRowCount() - 1;
    for (int row = 1; row <= rows; ++row) {
        window_.SetStatus(RowStatus(row, grid.GetRowCount() - 1));
        if (std::optional<QString> address = grid.GetCellText(row, 1)) {
            const QString url = QStringLiteral("http://") + TrimSpaces(*address).toString();
            std::optional<QString> page = FetchPage(url, kPageCharset, settings_.fetchLimits);
            window_.PageSource() = page.value_or(QString());

            // A failed fetch, or an empty domain, never counts as a link.
            const QString domain = TrimSpaces(window_.GetDomainText()).toString();
            const bool linked = page && !domain.isEmpty() && Find(*page, domain) > 0;
            grid.SetCellText(row, 2, linked ? kValid : kInvalid);
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
    if (!StillCurrent(run))
        return;
    Pause();
    window_.HideProgressPanel();
}

} // namespace vantorel
