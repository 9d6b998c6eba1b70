#include "RunChart.h"

#include <QDateTimeAxis>
#include <QLineSeries>
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

} // namespace

QString RunPointLabel(const RunSummary &run)
{
    return QStringLiteral("检测 %1（%2，%3）：有效 %4，已失效 %5，未能检测 %6")
        .arg(run.run.id)
        .arg(run.run.startedAt.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm")), SourceWord(run.run.source))
        .arg(run.valid)
        .arg(run.removed)
        .arg(run.unreachable);
}

RunChart::RunChart(QWidget *parent) : QChartView(parent)
{
    setObjectName(QStringLiteral("ChartRuns"));
    setRenderHint(QPainter::Antialiasing);
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
        connect(series, &QXYSeries::hovered, this, [this](const QPointF &point, bool entered) {
            const RunSummary *run = entered ? RunAt(point) : nullptr;
            setToolTip(run ? RunPointLabel(*run) : QString());
            if (run)
                QToolTip::showText(QCursor::pos(), toolTip(), this);
        });
        connect(series, &QXYSeries::clicked, this, [this](const QPointF &point) {
            if (const RunSummary *run = RunAt(point))
                emit RunClicked(run->run.id);
        });
        series_[static_cast<std::size_t>(i)] = series;
    }
}

void RunChart::ShowRuns(const std::vector<RunSummary> &runs)
{
    runs_ = runs;
    std::sort(runs_.begin(), runs_.end(), [](const RunSummary &a, const RunSummary &b) {
        return std::pair(a.run.startedAt, a.run.id) < std::pair(b.run.startedAt, b.run.id);
    });
    int most = 1;
    for (int i = 0; i < kOutcomes; ++i) {
        QList<QPointF> points;
        points.reserve(static_cast<qsizetype>(runs_.size()));
        for (const RunSummary &run : runs_) {
            points.append({TimeOf(run), static_cast<qreal>(run.*kLines[i].count)});
            most = std::max(most, run.*kLines[i].count);
        }
        series_[static_cast<std::size_t>(i)]->replace(points);
    }
    if (!runs_.empty()) {
        // A single run, or runs within a minute, still get a span to be drawn over.
        const QDateTime first = runs_.front().run.startedAt, last = runs_.back().run.startedAt;
        timeAxis_->setRange(first.addSecs(-60), std::max(last, first.addSecs(60)));
        timeAxis_->setFormat(first.daysTo(last) > 2 ? QStringLiteral("MM-dd") : QStringLiteral("MM-dd HH:mm"));
    }
    countAxis_->setRange(0, most);
}

const RunSummary *RunChart::RunAt(const QPointF &point) const
{
    if (runs_.empty())
        return nullptr;
    const auto after = std::lower_bound(runs_.begin(), runs_.end(), point.x(),
                                        [](const RunSummary &run, qreal x) { return TimeOf(run) < x; });
    if (after == runs_.begin())
        return &*after;
    if (after == runs_.end())
        return &runs_.back();
    const auto before = after - 1;
    return point.x() - TimeOf(*before) <= TimeOf(*after) - point.x() ? &*before : &*after;
}

} // namespace vantorel
