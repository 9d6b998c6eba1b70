#pragma once

#include <HistoryReader.h>
#include <RunPoints.h>

#include <QChartView>
#include <QXYSeries>

#include <vector>

class QDateTimeAxis;
class QLineSeries;
class QScatterSeries;
class QValueAxis;

namespace vantorel {

// A site's completed runs over time: how many rows of each outcome (有效, 已失效, 未能检测) each
// had; a run that did not complete (stopped, interrupted, failed) is a mark of its own on the
// time axis, never a dip of the lines. The counts' ticks fall on round values. Hovering a point
// names its run; clicking it chooses the run.
class RunChart final : public QChartView {
    Q_OBJECT

public:
    explicit RunChart(QWidget *parent = nullptr);

    // The runs in any order; none clears the chart.
    void ShowRuns(const std::vector<RunSummary> &runs);
    QLineSeries *Series(int outcome) const { return series_[static_cast<std::size_t>(outcome)]; }
    QScatterSeries *Unfinished() const { return unfinished_; }
    QValueAxis *CountAxis() const { return countAxis_; }
    static constexpr int kOutcomes = 3;

signals:
    void RunClicked(qint64 runId);

private:
    // The run of runs nearest to a point's time.
    static const RunSummary *RunAt(const std::vector<RunSummary> &runs, const QPointF &point);
    void ConnectPoints(QXYSeries *series, const std::vector<RunSummary> &runs);

    std::array<QLineSeries *, kOutcomes> series_{};
    QScatterSeries *unfinished_ = nullptr;
    QDateTimeAxis *timeAxis_ = nullptr;
    QValueAxis *countAxis_ = nullptr;
    std::vector<RunSummary> completed_, others_; // oldest first
};

} // namespace vantorel
