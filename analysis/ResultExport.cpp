#include "ResultExport.h"

#include "Domain.h"
#include "TextOps.h"

#include <QUrl>

#include <algorithm>

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

// Spreadsheets run a cell that starts with one of these as a formula.
bool LooksLikeFormula(const QString &cell)
{
    return !cell.isEmpty() && QStringView(u"=+-@\t\r").contains(cell.front());
}

QByteArray CsvField(QString cell)
{
    if (LooksLikeFormula(cell))
        cell.prepend(u'\'');
    if (cell.contains(u',') || cell.contains(u'"') || cell.contains(u'\n') || cell.contains(u'\r'))
        cell = QStringLiteral("\"") + cell.replace(QStringLiteral("\""), QStringLiteral("\"\"")) + QStringLiteral("\"");
    return cell.toUtf8();
}

// A line without a scheme: a checkable host, a port perhaps, and whatever path, query or
// fragment follows. "mailto:a@b.c" is none: what stands before its path is no host and port.
bool IsBareHostAndPath(QStringView line)
{
    const auto hostEnd = std::find_if(line.begin(), line.end(),
                                      [](QChar c) { return c == u'/' || c == u'?' || c == u'#'; });
    QStringView host = line.first(hostEnd - line.begin());
    // The colons of a bracketed IPv6 address are no port's.
    if (const qsizetype colon = host.lastIndexOf(u':'); colon >= 0 && colon > host.lastIndexOf(u']')) {
        const QStringView port = host.sliced(colon + 1);
        if (port.isEmpty() || !std::all_of(port.begin(), port.end(), [](QChar c) { return IsAsciiDigit(c.unicode()); }))
            return false;
        host = host.first(colon);
    }
    return IsCheckableHost(host);
}

// An http or https address with a checkable host, or a bare one (IsBareHostAndPath).
bool IsListedAddress(QStringView line)
{
    if (line.contains(u' ') || line.contains(u'\t'))
        return false;
    if (HttpScheme(line).isEmpty() ? !IsBareHostAndPath(line) : !IsCheckableHost(ReduceToHost(line)))
        return false;
    const QUrl parsed(RowUrl(line), QUrl::StrictMode);
    return parsed.isValid() && !parsed.host().isEmpty();
}

} // namespace

QStringList ResultColumns(bool withEvidence)
{
    QStringList columns{QStringLiteral("序号"), QStringLiteral("外链地址"), QStringLiteral("有效性")};
    if (withEvidence)
        columns << QStringLiteral("结果") << QStringLiteral("HTTP状态") << QStringLiteral("最终地址")
                << QStringLiteral("链接数") << QStringLiteral("锚文本") << QStringLiteral("rel") << QStringLiteral("页面robots")
                << QStringLiteral("原因") << QStringLiteral("检测时间");
    return columns;
}

QStringList RowCells(const ResultRow &row, bool withEvidence)
{
    QStringList cells{row.number.trimmed(), row.address.trimmed(), row.verdict.trimmed()};
    if (!withEvidence)
        return cells;
    if (!row.evidence)
        return cells << QString() << QString() << QString() << QString() << QString() << QString() << QString()
                     << QString() << QString();
    const RowEvidence &e = *row.evidence;
    return cells << StrengthWord(Strength(e)) << (e.httpStatus > 0 ? QString::number(e.httpStatus) : QString())
                 << e.finalUrl << (e.pageHad ? QString::number(e.page.links.size()) : QString()) << Anchors(e.page)
                 << Rels(e.page) << RobotsText(e.page.robots) << e.failureCause
                 << e.checkedAt.toString(Qt::ISODate);
}

QString RowsAsText(const std::vector<ResultRow> &rows, bool withEvidence)
{
    QString text;
    for (const ResultRow &row : rows) {
        QStringList cells = RowCells(row, withEvidence);
        for (QString &cell : cells)
            cell = Flattened(cell);
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
            html += QStringLiteral("<td>") + cell.toHtmlEscaped() + QStringLiteral("</td>");
        html += QStringLiteral("</tr>");
    }
    return html + QStringLiteral("</table>");
}

QByteArray RowsAsCsv(const std::vector<ResultRow> &rows, bool byteOrderMark)
{
    QByteArray csv = byteOrderMark ? QByteArray("\xEF\xBB\xBF") : QByteArray();
    const auto addLine = [&csv](const QStringList &cells) {
        for (qsizetype i = 0; i < cells.size(); ++i)
            csv += (i ? "," : "") + CsvField(cells[i]);
        csv += "\r\n";
    };
    addLine(ResultColumns(true));
    for (const ResultRow &row : rows)
        addLine(RowCells(row, true));
    return csv;
}

AddressList ReadAddressList(QStringView text)
{
    AddressList list;
    const QList<QStringView> lines = text.split(u'\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QStringView line = lines[i].trimmed();
        if (line.isEmpty() || line.startsWith(u'#'))
            continue;
        if (!IsListedAddress(line)) {
            list.rejectedLines.push_back(static_cast<int>(i + 1));
            continue;
        }
        if (list.addresses.size() == kMaxListedAddresses) {
            list.truncated = true;
            break;
        }
        list.addresses << RowUrl(line);
    }
    return list;
}

QString GridAddress(QStringView url)
{
    return HttpScheme(url) == kHttpScheme ? url.sliced(kHttpScheme.size()).toString() : url.toString();
}

} // namespace vantorel
