#pragma once

#include <HistoryReader.h>

#include <QChartView>

#include <vector>

class QDateTimeAxis;
class QLineSeries;
class QValueAxis;

namespace vantorel {

// A site's runs over time: how many rows of each outcome (有效, 已失效, 未能检测) each run had.
// Hovering a point names its run; clicking it chooses the run.
class RunChart final : public QChartView {
    Q_OBJECT

public:
    explicit RunChart(QWidget *parent = nullptr);

    // The runs in any order; none clears the chart.
    void ShowRuns(const std::vector<RunSummary> &runs);
    QLineSeries *Series(int outcome) const { return series_[static_cast<std::size_t>(outcome)]; }
    static constexpr int kOutcomes = 3;

signals:
    void RunClicked(qint64 runId);

private:
    // The run drawn nearest to a point's time.
    const RunSummary *RunAt(const QPointF &point) const;

    std::array<QLineSeries *, kOutcomes> series_{};
    QDateTimeAxis *timeAxis_ = nullptr;
    QValueAxis *countAxis_ = nullptr;
    std::vector<RunSummary> runs_; // oldest first
};

// "检测 12（2026-12-08 07:45，复查）：有效 3，已失效 1，未能检测 0"
QString RunPointLabel(const RunSummary &run);

} // namespace vantorel
