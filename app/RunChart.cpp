#include "RunChart.h"

#include <QDateTimeAxis>
#include <QLineSeries>
#include <QScatterSeries>
#include <QToolTip>
#include <QValueAxis>

#include <algorithm>

namespace vantorel {

namespace {

struct OutcomeLine {
    const char16_t *name;
    QColor colour;
    int RowCounts::*count;
};
// The grid's colours for the same outcomes.
const OutcomeLine kLines[RunChart::kOutcomes] = {
    {u"有效", QColor(0x2e, 0x9d, 0x4a), &RowCounts::valid},
    {u"已失效", QColor(0xd0, 0x3b, 0x3b), &RowCounts::removed},
    {u"未能检测", QColor(0x8c, 0x8c, 0x8c), &RowCounts::unreachable},
};

qreal TimeOf(const RunSummary &run)
{
    return static_cast<qreal>(run.run.startedAt.toMSecsSinceEpoch());
}

bool Completed(const RunSummary &run)
{
    return run.run.outcome == RunOutcome::Completed;
}

} // namespace

RunChart::RunChart(QWidget *parent) : QChartView(parent)
{
    setObjectName(QStringLiteral("ChartRuns"));
    setRenderHint(QPainter::Antialiasing);
    setMouseTracking(true); // hover reaches the points without a button held
    // The view's own chart: one set in its place would leave this one to leak.
    QChart *chart = this->chart();
    chart->setMargins(QMargins(4, 4, 4, 4));
    chart->legend()->setAlignment(Qt::AlignRight);
    timeAxis_ = new QDateTimeAxis(chart);
    timeAxis_->setFormat(QStringLiteral("MM-dd"));
    countAxis_ = new QValueAxis(chart);
    countAxis_->setLabelFormat(QStringLiteral("%d"));
    chart->addAxis(timeAxis_, Qt::AlignBottom);
    chart->addAxis(countAxis_, Qt::AlignLeft);
    for (int i = 0; i < kOutcomes; ++i) {
        auto *series = new QLineSeries(chart);
        series->setName(QString::fromUtf16(kLines[i].name));
        series->setColor(kLines[i].colour);
        series->setPointsVisible(true);
        chart->addSeries(series);
        series->attachAxis(timeAxis_);
        series->attachAxis(countAxis_);
        ConnectPoints(series, completed_);
        series_[static_cast<std::size_t>(i)] = series;
    }
    unfinished_ = new QScatterSeries(chart);
    unfinished_->setName(QStringLiteral("未完成"));
    unfinished_->setMarkerShape(QScatterSeries::MarkerShapeRectangle);
    unfinished_->setMarkerSize(8);
    unfinished_->setColor(QColor(0xb0, 0xb0, 0xb0));
    chart->addSeries(unfinished_);
    unfinished_->attachAxis(timeAxis_);
    unfinished_->attachAxis(countAxis_);
    ConnectPoints(unfinished_, others_);
    ShowRuns({});
}

void RunChart::ConnectPoints(QXYSeries *series, const std::vector<RunSummary> &runs)
{
    connect(series, &QXYSeries::hovered, this, [this, &runs](const QPointF &point, bool entered) {
        const RunSummary *run = entered ? RunAt(runs, point) : nullptr;
        setToolTip(run ? RunPointLabel(*run) : QString());
        if (run)
            QToolTip::showText(QCursor::pos(), toolTip(), this);
    });
    connect(series, &QXYSeries::clicked, this, [this, &runs](const QPointF &point) {
        if (const RunSummary *run = RunAt(runs, point))
            emit RunClicked(run->run.id);
    });
}

void RunChart::ShowRuns(const std::vector<RunSummary> &runs)
{
    completed_.clear();
    others_.clear();
    for (const RunSummary &run : runs)
        (Completed(run) ? completed_ : others_).push_back(run);
    const auto byTime = [](const RunSummary &a, const RunSummary &b) {
        return std::pair(a.run.startedAt, a.run.id) < std::pair(b.run.startedAt, b.run.id);
    };
    std::sort(completed_.begin(), completed_.end(), byTime);
    std::sort(others_.begin(), others_.end(), byTime);
    int most = 1;
    for (int i = 0; i < kOutcomes; ++i) {
        QList<QPointF> points;
        points.reserve(static_cast<qsizetype>(completed_.size()));
        for (const RunSummary &run : completed_) {
            points.append({TimeOf(run), static_cast<qreal>(run.*kLines[i].count)});
            most = std::max(most, run.*kLines[i].count);
        }
        series_[static_cast<std::size_t>(i)]->replace(points);
    }
    QList<QPointF> marks;
    for (const RunSummary &run : others_)
        marks.append({TimeOf(run), 0});
    unfinished_->replace(marks);
    unfinished_->setVisible(!marks.isEmpty()); // no legend entry for what is not there
    const bool empty = runs.empty();
    chart()->setTitle(empty ? QStringLiteral("暂无检测记录") : QString());
    timeAxis_->setVisible(!empty);
    countAxis_->setVisible(!empty);
    chart()->legend()->setVisible(!empty);
    if (empty)
        return;
    // A single run, or runs within a minute, still get a span to be drawn over.
    const auto [earliest, latest] = std::minmax_element(runs.begin(), runs.end(), [](const RunSummary &a, const RunSummary &b) {
        return a.run.startedAt < b.run.startedAt;
    });
    const QDateTime first = earliest->run.startedAt, last = latest->run.startedAt;
    timeAxis_->setRange(first.addSecs(-60), std::max(last, first.addSecs(60)));
    timeAxis_->setFormat(first.daysTo(last) > 2 ? QStringLiteral("MM-dd") : QStringLiteral("MM-dd HH:mm"));
    const int step = RoundTickStep(most);
    const int top = (most + step - 1) / step * step;
    countAxis_->setRange(0, top);
    countAxis_->setTickCount(top / step + 1);
}

const RunSummary *RunChart::RunAt(const std::vector<RunSummary> &runs, const QPointF &point)
{
    if (runs.empty())
        return nullptr;
    const auto after = std::lower_bound(runs.begin(), runs.end(), point.x(),
                                        [](const RunSummary &run, qreal x) { return TimeOf(run) < x; });
    if (after == runs.begin())
        return &*after;
    if (after == runs.end())
        return &runs.back();
    const auto before = after - 1;
    return point.x() - TimeOf(*before) <= TimeOf(*after) - point.x() ? &*before : &*after;
}

} // namespace vantorel
