#include "ResultExport.h"

#include "Domain.h"


namespace vantorel {

namespace {

QString Flattened(QString cell)
{
    for (QChar &c : cell)
        if (c == u'\t' || c == u'\n' || c == u'\r')
            c = u' ';
    return cell.trimmed();
}

QString Anchors(const PageEvidence &page)
{
    QStringList anchors;
    for (const LinkEvidence &link : page.links)
        anchors << link.anchor;
    return anchors.join(QStringLiteral(" | "));
}

QString Rels(const PageEvidence &page)
{
    QStringList rels;
    for (const LinkEvidence &link : page.links)
        rels << RelText(link);
    return rels.join(QStringLiteral(" | "));
}

// Each link's target failure, "" for one that is fine or not known, as Anchors lists the links.
QString TargetFailures(const PageEvidence &page)
{
    QStringList failures;
    bool any = false;
    for (const LinkEvidence &link : page.links) {
        failures << link.targetFailure.value_or(QString());
        any = any || !failures.back().isEmpty();
    }
    return any ? failures.join(QStringLiteral(" | ")) : QString();
}

// Spreadsheets run a cell that starts with one of these as a formula.
bool LooksLikeFormula(const QString &cell)
{
    return !cell.isEmpty() && QStringView(u"=+-@\t\r").contains(cell.front());
}

QString Guarded(QString cell)
{
    if (LooksLikeFormula(cell))
        cell.prepend(u'\'');
    return cell;
}

QByteArray CsvField(QString cell)
{
    cell = Guarded(std::move(cell));
    if (cell.contains(u',') || cell.contains(u'"') || cell.contains(u'\n') || cell.contains(u'\r'))
        cell = QStringLiteral("\"") + cell.replace(QStringLiteral("\""), QStringLiteral("\"\"")) + QStringLiteral("\"");
    return cell.toUtf8();
}

} // namespace

QStringList ResultColumns(bool withEvidence)
{
    QStringList columns{QStringLiteral("序号"), QStringLiteral("外链地址"), QStringLiteral("有效性"), QStringLiteral("结果")};
    if (withEvidence)
        columns << QStringLiteral("HTTP状态") << QStringLiteral("最终地址")
                << QStringLiteral("链接数") << QStringLiteral("锚文本") << QStringLiteral("rel")
                << QStringLiteral("页面robots") << QStringLiteral("原因") << QStringLiteral("检测时间")
                << QStringLiteral("rendered") << QStringLiteral("规范地址") << QStringLiteral("robots.txt屏蔽")
                << QStringLiteral("出站链接数") << QStringLiteral("目标页");
    return columns;
}

ResultRow ListedRow(int number, const QString &url)
{
    const QString whole = RowUrl(url);
    return {number, whole, GridAddress(whole), RowState::Waiting, std::nullopt};
}

QStringList RowCells(const ResultRow &row, bool withEvidence)
{
    QStringList cells{QString::number(row.number), row.address.trimmed(), row.Verdict(),
                      row.evidence ? StrengthWord(Strength(*row.evidence)) : QString()};
    if (!withEvidence)
        return cells;
    if (!row.evidence) {
        cells.resize(ResultColumns(true).size());
        return cells;
    }
    const RowEvidence &e = *row.evidence;
    return cells << (e.httpStatus > 0 ? QString::number(e.httpStatus) : QString())
                 << e.finalUrl << (e.pageHad ? QString::number(e.page.links.size()) : QString()) << Anchors(e.page)
                 << Rels(e.page) << RobotsText(e.page.robots) << e.failureCause
                 << e.checkedAt.toString(Qt::ISODate) << (e.rendered ? QStringLiteral("true") : QStringLiteral("false"))
                 << e.page.canonical << e.robotsTxt.value_or(QString())
                 << (e.page.outboundLinks ? QString::number(*e.page.outboundLinks) : QString()) << TargetFailures(e.page);
}

QString RowsAsText(const std::vector<ResultRow> &rows, bool withEvidence, FormulaGuard guard)
{
    std::vector<QStringList> lines;
    for (const ResultRow &row : rows)
        lines.push_back(RowCells(row, withEvidence));
    return CellsAsText(lines, guard);
}

QString CellsAsText(const std::vector<QStringList> &lines, FormulaGuard guard)
{
    QString text;
    for (QStringList cells : lines) {
        for (QString &cell : cells)
            cell = guard == FormulaGuard::Guarded ? Guarded(Flattened(cell)) : Flattened(cell);
        text += cells.join(u'\t') + u'\n';
    }
    return text;
}

QString RowsAsHtml(const std::vector<ResultRow> &rows, bool withEvidence)
{
    QString html = QStringLiteral("<table>");
    for (const ResultRow &row : rows) {
        html += QStringLiteral("<tr>");
        for (const QString &cell : RowCells(row, withEvidence))
            html += QStringLiteral("<td>") + Guarded(cell).toHtmlEscaped() + QStringLiteral("</td>");
        html += QStringLiteral("</tr>");
    }
    return html + QStringLiteral("</table>");
}

QByteArray CellsAsCsv(const QStringList &captions, const std::vector<QStringList> &rows, bool byteOrderMark)
{
    std::vector<QStringList> lines{captions};
    lines.insert(lines.end(), rows.begin(), rows.end());
    return CellsAsCsv(lines, byteOrderMark);
}

QByteArray CellsAsCsv(const std::vector<QStringList> &lines, bool byteOrderMark)
{
    QByteArray csv = byteOrderMark ? QByteArray("\xEF\xBB\xBF") : QByteArray();
    for (const QStringList &cells : lines) {
        for (qsizetype i = 0; i < cells.size(); ++i)
            csv += (i ? "," : "") + CsvField(cells[i]);
        csv += "\r\n";
    }
    return csv;
}

QByteArray RowsAsCsv(const std::vector<ResultRow> &rows, bool byteOrderMark)
{
    std::vector<QStringList> cells;
    cells.reserve(rows.size());
    for (const ResultRow &row : rows)
        cells.push_back(RowCells(row, true));
    return CellsAsCsv(ResultColumns(true), cells, byteOrderMark);
}

QString GridAddress(QStringView url)
{
    return HttpScheme(url) == kHttpScheme ? url.sliced(kHttpScheme.size()).toString() : url.toString();
}

} // namespace vantorel
