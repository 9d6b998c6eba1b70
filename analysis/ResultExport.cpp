#include "ResultExport.h"

#include "Domain.h"
#include "TextOps.h"

#include <DecodeBody.h>

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

// The cells of one CSV record that starts at text[at], RFC 4180 quoting; at is left at the
// start of the next record, lines counts the line breaks the record took.
QStringList CsvRecord(QStringView text, qsizetype &at, int &lines)
{
    QStringList cells{QString()};
    bool quoted = false;
    for (; at < text.size(); ++at) {
        const QChar c = text[at];
        if (quoted) {
            if (c == u'"' && at + 1 < text.size() && text[at + 1] == u'"')
                cells.last() += text[++at];
            else if (c == u'"')
                quoted = false;
            else
                cells.last() += c;
            lines += c == u'\n';
        } else if (c == u'"') {
            quoted = true;
        } else if (c == u',') {
            cells << QString();
        } else if (c == u'\n') {
            ++at;
            ++lines;
            break;
        } else if (c != u'\r') {
            cells.last() += c;
        }
    }
    return cells;
}

// A cell as the user typed it: the ' that guards a formula-like cell is dropped again.
QString Unguarded(const QString &cell)
{
    return cell.size() > 1 && cell.front() == u'\'' && LooksLikeFormula(cell.mid(1)) ? cell.mid(1) : cell;
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

QStringList AddressCells(QStringView text)
{
    if (text.startsWith(u'\xFEFF'))
        text = text.sliced(1);
    const QString addressCaption = ResultColumns(false).at(1);
    const QString csvHeader = ResultColumns(true).join(u',');
    QStringList lines;
    for (const QStringView line : text.split(u'\n'))
        lines << line.toString();
    const auto firstFilled = std::find_if(lines.begin(), lines.end(), [](const QString &line) { return !line.trimmed().isEmpty(); });
    if (firstFilled != lines.end() && firstFilled->trimmed() == csvHeader) {
        // A CSV export: its records may span lines; each gives its address at its first line.
        const qsizetype headerLine = firstFilled - lines.begin();
        QStringList cells(lines.size());
        qsizetype at = 0;
        for (int line = 0; line <= headerLine; ++line)
            at = text.indexOf(u'\n', at) + 1;
        int line = static_cast<int>(headerLine) + 1;
        while (at > 0 && at < text.size()) {
            int took = 0;
            const QStringList record = CsvRecord(text, at, took);
            if (line < cells.size())
                cells[line] = Unguarded(record.value(1));
            line += std::max(took, 1);
        }
        return cells;
    }
    // Rows copied from the grid: number, address, verdict and more, tab-separated; the command
    // line's TSV adds a header.
    for (QString &line : lines) {
        const QStringList cells = line.split(u'\t');
        bool numbered = false;
        cells.first().trimmed().toInt(&numbered);
        if (cells.size() >= 3 && numbered)
            line = Unguarded(cells[1]);
        else if (cells.size() >= 3 && cells[1].trimmed() == addressCaption)
            line.clear();
    }
    return lines;
}

QStringList ResultColumns(bool withEvidence)
{
    QStringList columns{QStringLiteral("序号"), QStringLiteral("外链地址"), QStringLiteral("有效性")};
    if (withEvidence)
        columns << QStringLiteral("结果") << QStringLiteral("HTTP状态") << QStringLiteral("最终地址")
                << QStringLiteral("链接数") << QStringLiteral("锚文本") << QStringLiteral("rel")
                << QStringLiteral("页面robots") << QStringLiteral("原因") << QStringLiteral("检测时间");
    return columns;
}

ResultRow ListedRow(int number, const QString &url)
{
    const QString whole = RowUrl(url);
    return {number, whole, GridAddress(whole), RowState::Waiting, std::nullopt};
}

QStringList RowCells(const ResultRow &row, bool withEvidence)
{
    QStringList cells{QString::number(row.number), row.address.trimmed(), row.Verdict()};
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

AddressList ReadAddressList(QStringView text)
{
    AddressList list;
    const QStringList lines = AddressCells(text);
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString line = lines[i].trimmed();
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

AddressList ReadAddressList(QByteArrayView bytes)
{
    return ReadAddressList(DecodePage(bytes, {}, u"gb2312"));
}

QStringList AddressListNotes(const AddressList &list)
{
    constexpr std::size_t kLinesNamed = 10;
    QStringList notes;
    if (!list.rejectedLines.empty()) {
        QStringList numbers;
        for (std::size_t i = 0; i < list.rejectedLines.size() && i < kLinesNamed; ++i)
            numbers << QString::number(list.rejectedLines[i]);
        QString named = numbers.join(u'、');
        if (list.rejectedLines.size() > kLinesNamed)
            named += QStringLiteral(" 等 %1").arg(list.rejectedLines.size());
        notes << QStringLiteral("以下行不是网址，已跳过：第 %1 行。").arg(named);
    }
    if (list.truncated)
        notes << QStringLiteral("地址超过 %1 个，只检测前 %1 个。").arg(kMaxListedAddresses);
    if (list.addresses.isEmpty())
        notes << QStringLiteral("没有可以检测的网址。");
    return notes;
}

QString GridAddress(QStringView url)
{
    return HttpScheme(url) == kHttpScheme ? url.sliced(kHttpScheme.size()).toString() : url.toString();
}

} // namespace vantorel
