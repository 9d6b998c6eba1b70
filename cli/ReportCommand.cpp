#include "ReportCommand.h"

#include "CheckCommand.h"
#include "ConsoleOutput.h"
#include "HistoryCommand.h"

#include <Domain.h>
#include <RunPoints.h>

#include <algorithm>

namespace vantorel {

namespace {

struct Outcome {
    const char16_t *name;
    const char *colour;
    int RowCounts::*count;
};
// The window's colours for the same outcomes.
constexpr Outcome kOutcomes[] = {
    {u"有效", "#2e9d4a", &RowCounts::valid},
    {u"已失效", "#d03b3b", &RowCounts::removed},
    {u"未能检测", "#8c8c8c", &RowCounts::unreachable},
};

constexpr int kWidth = 720, kHeight = 260;
constexpr int kLeft = 48, kRight = 16, kTop = 32, kBottom = 36;

QString Period(const PeriodReport &report)
{
    const QString format = QStringLiteral("yyyy-MM-dd HH:mm");
    return QStringLiteral("%1 至 %2").arg(report.since.toLocalTime().toString(format),
                                         report.until.toLocalTime().toString(format));
}

QString Title(const PeriodReport &report)
{
    const int lost = report.Lost();
    return QStringLiteral("外链报告：%1 个网站，%2").arg(report.sites.size()).arg(
        lost > 0 ? QStringLiteral("丢失 %1 条外链").arg(lost) : QStringLiteral("没有丢失外链"));
}

QString HtmlTable(const CellTable &table)
{
    QString html = QStringLiteral("<table>\n<tr>");
    for (const QString &caption : table.captions)
        html += QStringLiteral("<th>%1</th>").arg(caption.toHtmlEscaped());
    html += QStringLiteral("</tr>\n");
    for (const QStringList &row : table.rows) {
        html += QStringLiteral("<tr>");
        for (const QString &cell : row)
            html += QStringLiteral("<td>%1</td>").arg(cell.toHtmlEscaped());
        html += QStringLiteral("</tr>\n");
    }
    return html + QStringLiteral("</table>\n");
}

QString TimeLabel(const QDateTime &time, qint64 spanSeconds)
{
    return time.toLocalTime().toString(spanSeconds > 3 * 24 * 3600 ? QStringLiteral("MM-dd") : QStringLiteral("MM-dd HH:mm"));
}

// Where the time axis is marked: each local midnight (every few days over a long period, at most
// eight marks), or every few hours over a period of three days or less.
std::vector<QDateTime> TimeTicks(const QDateTime &since, const QDateTime &until)
{
    constexpr int kMostTicks = 8;
    const qint64 span = since.secsTo(until);
    std::vector<QDateTime> ticks;
    if (span > 3 * 24 * 3600) {
        const qint64 everyDays = (span / (24 * 3600) + kMostTicks - 1) / kMostTicks;
        const QDate first = since.toLocalTime().date().addDays(1);
        for (QDate day = first; day.startOfDay() <= until; day = day.addDays(everyDays))
            ticks.push_back(day.startOfDay());
        return ticks;
    }
    constexpr int kHourSteps[] = {1, 2, 3, 6, 12, 24};
    const int everyHours = *std::find_if(std::begin(kHourSteps), std::end(kHourSteps) - 1,
                                         [span](int hours) { return span / (hours * 3600) <= kMostTicks; });
    const QDateTime local = since.toLocalTime();
    QDateTime tick(local.date(), QTime(local.time().hour(), 0));
    for (tick = tick.addSecs(3600); tick <= until; tick = tick.addSecs(3600))
        if (tick.time().hour() % everyHours == 0)
            ticks.push_back(tick);
    return ticks;
}

} // namespace

QString ReportChart(const SiteReport &site, const QDateTime &since, const QDateTime &until)
{
    const double plotWidth = kWidth - kLeft - kRight, plotHeight = kHeight - kTop - kBottom;
    const qint64 span = std::max<qint64>(1, since.secsTo(until));
    int most = 1;
    for (const RunSummary &run : site.completed)
        for (const Outcome &outcome : kOutcomes)
            most = std::max(most, run.*outcome.count);
    const int step = RoundTickStep(most);
    const int top = (most + step - 1) / step * step;
    const auto x = [&](const QDateTime &time) { return kLeft + plotWidth * static_cast<double>(since.secsTo(time)) / span; };
    const auto y = [&](int count) { return kTop + plotHeight * (1.0 - static_cast<double>(count) / top); };

    QString svg = QStringLiteral("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%1\" height=\"%2\" viewBox=\"0 0 %1 %2\" "
                                 "role=\"img\" aria-label=\"%3\">\n")
                      .arg(kWidth)
                      .arg(kHeight)
                      .arg(QStringLiteral("%1 的检测结果").arg(SiteShown(site.domain)).toHtmlEscaped());
    for (int tick = 0; tick <= top; tick += step)
        svg += QStringLiteral("<line x1=\"%1\" x2=\"%2\" y1=\"%3\" y2=\"%3\" stroke=\"#e4e4e4\"/>"
                              "<text x=\"%4\" y=\"%5\" text-anchor=\"end\" class=\"tick\">%6</text>\n")
                   .arg(kLeft)
                   .arg(kWidth - kRight)
                   .arg(y(tick), 0, 'f', 1)
                   .arg(kLeft - 6)
                   .arg(y(tick) + 4, 0, 'f', 1)
                   .arg(tick);
    for (const QDateTime &time : TimeTicks(since, until))
        svg += QStringLiteral("<line x1=\"%1\" x2=\"%1\" y1=\"%2\" y2=\"%3\" stroke=\"#bbb\"/>"
                              "<text x=\"%1\" y=\"%4\" text-anchor=\"middle\" class=\"tick\">%5</text>\n")
                   .arg(x(time), 0, 'f', 1)
                   .arg(kHeight - kBottom)
                   .arg(kHeight - kBottom + 4)
                   .arg(kHeight - kBottom + 18)
                   .arg(TimeLabel(time, span));
    int legendX = kLeft;
    for (const Outcome &outcome : kOutcomes) {
        svg += QStringLiteral("<rect x=\"%1\" y=\"10\" width=\"12\" height=\"12\" fill=\"%2\"/>"
                              "<text x=\"%3\" y=\"21\">%4</text>\n")
                   .arg(legendX)
                   .arg(QLatin1String(outcome.colour))
                   .arg(legendX + 16)
                   .arg(QString::fromUtf16(outcome.name));
        legendX += 90;
    }
    if (site.completed.empty())
        svg += QStringLiteral("<text x=\"%1\" y=\"%2\" text-anchor=\"middle\" fill=\"#777\">期间没有完成的检测</text>\n")
                   .arg(kLeft + plotWidth / 2, 0, 'f', 1)
                   .arg(kTop + plotHeight / 2, 0, 'f', 1);
    for (const Outcome &outcome : kOutcomes) {
        QStringList points;
        QString marks;
        for (const RunSummary &run : site.completed) {
            const QString at = QStringLiteral("%1,%2").arg(x(run.run.endedAt), 0, 'f', 1).arg(y(run.*outcome.count), 0, 'f', 1);
            points << at;
            marks += QStringLiteral("<circle cx=\"%1\" cy=\"%2\" r=\"3.5\" fill=\"%3\"><title>%4</title></circle>\n")
                         .arg(at.section(u',', 0, 0), at.section(u',', 1), QLatin1String(outcome.colour),
                              RunPointLabel(run).toHtmlEscaped());
        }
        if (points.size() > 1)
            svg += QStringLiteral("<polyline fill=\"none\" stroke-width=\"2\" stroke=\"%1\" points=\"%2\"/>\n")
                       .arg(QLatin1String(outcome.colour), points.join(u' '));
        svg += marks;
    }
    return svg + QStringLiteral("</svg>\n");
}

QString ReportHtml(const PeriodReport &report)
{
    QString html = QStringLiteral(
                       "<!DOCTYPE html>\n<html lang=\"zh-CN\">\n<head>\n<meta charset=\"utf-8\">\n<title>%1</title>\n<style>\n"
                       "body{font-family:\"Noto Sans CJK SC\",\"Microsoft YaHei\",sans-serif;margin:24px;color:#222}\n"
                       "table{border-collapse:collapse;margin:8px 0 16px}\n"
                       "th,td{border:1px solid #ccc;padding:4px 8px;text-align:left;font-size:14px}\n"
                       "th{background:#f2f2f2}\nsvg{font-size:12px;display:block;margin:8px 0}\n.tick{fill:#555}\n"
                       "</style>\n</head>\n<body>\n<h1>%1</h1>\n<p>%2</p>\n")
                       .arg(Title(report).toHtmlEscaped(), Period(report).toHtmlEscaped());
    html += HtmlTable(ReportSitesTable(report));
    for (const SiteReport &site : report.sites) {
        html += QStringLiteral("<h2>%1</h2>\n").arg(SiteShown(site.domain).toHtmlEscaped());
        html += ReportChart(site, report.since, report.until);
        PeriodReport one{report.since, report.until, {site}};
        const CellTable changes = ReportChangesTable(one);
        html += changes.rows.empty() ? QStringLiteral("<p>期间没有变化。</p>\n") : HtmlTable(changes);
    }
    return html + QStringLiteral("</body>\n</html>\n");
}

MailMessage ReportMail(const PeriodReport &report)
{
    const QString text = Title(report) + u'\n' + Period(report) + QStringLiteral("\n\n") +
                         QString::fromUtf8(FormatCells(OutputFormat::Table, ReportSitesTable(report), {})) + u'\n' +
                         QString::fromUtf8(FormatCells(OutputFormat::Table, ReportChangesTable(report), {}));
    return {Title(report), text, ReportHtml(report)};
}

int RunReport(const CommandLine &line, const QString &historyFile, ConsoleStreams &streams)
{
    const QDateTime until = QDateTime::currentDateTimeUtc();
    HistoryReader reader(historyFile);
    const std::optional<PeriodReport> report =
        ReadPeriodReport(reader, line.reportDomains, until.addSecs(-line.sinceSeconds), until);
    if (!report) {
        streams.Say(HistoryReadFailureText(reader.Error()));
        return kExitOutputFailed;
    }
    QByteArray output;
    if (line.html) {
        output = ReportHtml(*report).toUtf8();
    } else if (line.format == OutputFormat::Json) {
        output = FormatCells(line.format, {}, ReportJson(*report));
    } else {
        if (line.format == OutputFormat::Table)
            output = (Title(*report) + u'\n' + Period(*report) + QStringLiteral("\n\n")).toUtf8();
        output += FormatCells(line.format, ReportSitesTable(*report), {}) + '\n' +
                  FormatCells(line.format, ReportChangesTable(*report), {});
    }
    const bool written = streams.Out(output);
    if (!line.mail.to.isEmpty())
        if (const QString failure = SendMail(line.mail, ReportMail(*report)); !failure.isEmpty())
            streams.Say(failure);
    if (!written) {
        streams.ReportFailure();
        return kExitOutputFailed;
    }
    return kExitCompleted;
}

} // namespace vantorel
