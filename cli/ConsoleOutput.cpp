#include "ConsoleOutput.h"

#include <Domain.h>

#include <unicode/uchar.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <QTextBoundaryFinder>

#include <algorithm>

namespace vantorel {

namespace {

bool IsWide(char32_t c)
{
    const int width = u_getIntPropertyValue(static_cast<UChar32>(c), UCHAR_EAST_ASIAN_WIDTH);
    return width == U_EA_WIDE || width == U_EA_FULLWIDTH;
}

const char *StrengthName(const RowEvidence &evidence)
{
    switch (Strength(evidence)) {
    case VerdictStrength::PassesWeight: return "passes-weight";
    case VerdictStrength::NoWeight: return "no-weight";
    case VerdictStrength::Removed: return "removed";
    case VerdictStrength::Unreachable: break;
    }
    return "unreachable";
}

QJsonObject RowObject(const ResultRow &row)
{
    QJsonObject object{{QStringLiteral("number"), row.number},
                       {QStringLiteral("address"), row.url},
                       {QStringLiteral("verdict"), row.Verdict()}};
    if (!row.evidence)
        return object;
    const RowEvidence &e = *row.evidence;
    QJsonArray links;
    for (const LinkEvidence &link : e.page.links)
        links.append(QJsonObject{{QStringLiteral("url"), link.url},
                                 {QStringLiteral("anchor"), link.anchor},
                                 {QStringLiteral("nofollow"), link.nofollow},
                                 {QStringLiteral("ugc"), link.ugc},
                                 {QStringLiteral("sponsored"), link.sponsored}});
    object.insert(QStringLiteral("strength"), QString::fromLatin1(StrengthName(e)));
    object.insert(QStringLiteral("pageFetched"), e.pageHad);
    object.insert(QStringLiteral("httpStatus"), static_cast<qint64>(e.httpStatus));
    object.insert(QStringLiteral("finalUrl"), e.finalUrl);
    object.insert(QStringLiteral("redirects"), static_cast<qint64>(e.redirects));
    object.insert(QStringLiteral("charset"), e.charset);
    object.insert(QStringLiteral("bodyBytes"), static_cast<qint64>(e.bodyBytes));
    object.insert(QStringLiteral("elapsedMs"), static_cast<qint64>(e.elapsed.count()));
    object.insert(QStringLiteral("failureCause"), e.failureCause);
    object.insert(QStringLiteral("attempts"), e.attempts);
    object.insert(QStringLiteral("failedAttempts"), QJsonArray::fromStringList(e.failedAttempts));
    object.insert(QStringLiteral("links"), links);
    object.insert(QStringLiteral("robots"), QJsonObject{{QStringLiteral("noindex"), e.page.robots.noindex},
                                                        {QStringLiteral("nofollow"), e.page.robots.nofollow}});
    object.insert(QStringLiteral("checkedAt"), e.checkedAt.toString(Qt::ISODate));
    object.insert(QStringLiteral("rendered"), e.rendered);
    if (!e.renderFailure.isEmpty())
        object.insert(QStringLiteral("renderFailure"), e.renderFailure);
    return object;
}

// The address goes last in a table: it is the one column whose width varies a lot.
QStringList TableCells(const QStringList &cells)
{
    static const std::vector<qsizetype> shown = [] {
        const QStringList captions = ResultColumns(true);
        std::vector<qsizetype> columns;
        for (const char16_t *name : {u"序号", u"有效性", u"结果", u"HTTP状态", u"链接数", u"页面robots", u"原因", u"外链地址"})
            columns.push_back(captions.indexOf(QString::fromUtf16(name)));
        return columns;
    }();
    QStringList line;
    for (const qsizetype column : shown)
        line << cells[column];
    return line;
}

// An aligned table's lines: the widths are measured on every line before any is written.
class TableLines {
public:
    explicit TableLines(const CellTable &table)
        : TableLines(table.captions, table.alignedColumns.value_or(table.captions.size()))
    {
        std::for_each(table.rows.begin(), table.rows.end(), [this](const QStringList &row) { Measure(row); });
    }
    TableLines(QStringList captions, qsizetype aligned)
        : captions_(std::move(captions)), aligned_(aligned), widths_(static_cast<std::size_t>(aligned), 0)
    {
        Measure(captions_);
    }

    void Measure(const QStringList &line)
    {
        for (std::size_t i = 0; i < widths_.size(); ++i)
            widths_[i] = std::max(widths_[i], DisplayWidth(line[static_cast<qsizetype>(i)]));
    }

    QString Captions() const { return Aligned(captions_); }

    // The row's line, then its columns past the aligned ones that are not empty, a line each.
    QString Row(const QStringList &row) const
    {
        QString text = Aligned(row);
        for (qsizetype i = aligned_; i < row.size(); ++i)
            if (!row[i].isEmpty())
                text += QStringLiteral("    %1：%2\n").arg(captions_[i], row[i]);
        return text;
    }

private:
    QString Aligned(const QStringList &line) const
    {
        QString out;
        for (std::size_t i = 0; i < widths_.size(); ++i) {
            const QString &cell = line[static_cast<qsizetype>(i)];
            out += cell;
            if (i + 1 < widths_.size())
                out += QString(widths_[i] - DisplayWidth(cell) + 2, u' ');
        }
        return out.trimmed() + u'\n';
    }

    QStringList captions_;
    qsizetype aligned_;
    std::vector<int> widths_;
};

QByteArray Table(const CellTable &table)
{
    const TableLines lines(table);
    QString text = lines.Captions();
    for (const QStringList &row : table.rows)
        text += lines.Row(row);
    return text.toUtf8();
}

// One element of the rows array of an indented JSON document, as QJsonDocument indents it there.
QByteArray RowElement(const ResultRow &row)
{
    constexpr QByteArrayView kDepth = "        ";
    const QByteArray object = QJsonDocument(RowObject(row)).toJson(QJsonDocument::Indented).chopped(1);
    QByteArray element = kDepth.toByteArray();
    element.reserve(object.size() + object.count('\n') * kDepth.size() + kDepth.size());
    for (const char c : object) {
        element += c;
        if (c == '\n')
            element += kDepth;
    }
    return element;
}

} // namespace

int DisplayWidth(QStringView text)
{
    int width = 0;
    for (const char32_t c : text.toUcs4())
        width += IsWide(c) ? 2 : 1;
    return width;
}

QStringList WrapToColumns(const QString &text, int width)
{
    // Unicode keeps a hyphen to what stands before it, which would make "、--check、--recheck"
    // one word: an option may also start a line after Chinese punctuation.
    std::vector<qsizetype> breaks;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Line, text);
    for (qsizetype at = finder.toNextBoundary(); at != -1; at = finder.toNextBoundary())
        if (at == text.size() || text[at - 1] != u'-')
            breaks.push_back(at);
    for (qsizetype at = 1; at + 1 < text.size(); ++at)
        if (text[at] == u'-' && text[at + 1] == u'-' && IsWide(text[at - 1].unicode()))
            breaks.push_back(at);
    std::sort(breaks.begin(), breaks.end());

    QStringList lines;
    qsizetype start = 0, fits = -1; // the line being filled, and its furthest break that fits
    const auto line = [&](qsizetype end) { return text.mid(start, end - start).trimmed(); };
    for (const qsizetype at : breaks) {
        if (DisplayWidth(line(at)) <= width) {
            fits = at;
            continue;
        }
        if (fits > start) {
            lines << line(fits);
            start = fits;
        }
        fits = at;
        if (DisplayWidth(line(at)) > width) { // a word wider than a line
            lines << line(at);
            start = at;
        }
    }
    if (const QString rest = line(text.size()); !rest.isEmpty())
        lines << rest;
    return lines;
}

bool WriteResults(OutputFormat format, const QString &domain, const std::optional<QString> &countText,
                  std::span<const ResultRow> rows, const std::function<bool(QByteArrayView)> &write)
{
    // Rows are formatted and written a slice at a time: the whole text of 100,000 rows, and the
    // cells it is made of, would outweigh the rows themselves.
    static constexpr std::size_t kSlice = 1000;
    const auto slices = [&rows](const auto &each) {
        for (std::size_t first = 0; first < rows.size(); first += kSlice)
            if (!each(rows.subspan(first, std::min(kSlice, rows.size() - first))))
                return false;
        return true;
    };
    switch (format) {
    case OutputFormat::Table: {
        const QStringList captions = TableCells(ResultColumns(true));
        TableLines lines(captions, captions.size());
        for (const ResultRow &row : rows)
            lines.Measure(TableCells(RowCells(row, true)));
        return write(lines.Captions().toUtf8()) && slices([&](std::span<const ResultRow> slice) {
                   QString text;
                   for (const ResultRow &row : slice)
                       text += lines.Row(TableCells(RowCells(row, true)));
                   return write(text.toUtf8());
               });
    }
    case OutputFormat::Tsv:
    case OutputFormat::Csv: {
        const auto cells = [format](const std::vector<QStringList> &lines) {
            return format == OutputFormat::Tsv ? CellsAsText(lines, FormulaGuard::Raw).toUtf8() : CellsAsCsv(lines, false);
        };
        return write(cells({ResultColumns(true)})) && slices([&](std::span<const ResultRow> slice) {
                   std::vector<QStringList> lines;
                   lines.reserve(slice.size());
                   for (const ResultRow &row : slice)
                       lines.push_back(RowCells(row, true));
                   return write(cells(lines));
               });
    }
    case OutputFormat::Json:
        break;
    }
    // The keys come in order, "rows" last: the document without rows is split where they go.
    const QByteArray bare = QJsonDocument(QJsonObject{{QStringLiteral("domain"), domain},
                                                      {QStringLiteral("count"), countText ? QJsonValue(*countText) : QJsonValue()},
                                                      {QStringLiteral("rows"), QJsonArray()}})
                                .toJson(QJsonDocument::Indented);
    if (rows.empty())
        return write(bare);
    constexpr QByteArrayView kEnd = "    ]\n}\n";
    bool first = true;
    return write(bare.chopped(kEnd.size())) && slices([&](std::span<const ResultRow> slice) {
               QByteArray text;
               for (const ResultRow &row : slice)
                   text += (std::exchange(first, false) ? "" : ",\n") + RowElement(row);
               return write(text);
           }) && write("\n" + kEnd.toByteArray());
}

QByteArray FormatSitesResults(OutputFormat format, const std::vector<SiteResults> &sites)
{
    // The table shows fewer columns than the exports.
    const auto cellsOf = [format](const std::vector<ResultRow> &rows) {
        const auto shown = [format](const QStringList &cells) { return format == OutputFormat::Table ? TableCells(cells) : cells; };
        CellTable all{shown(ResultColumns(true)), {}, {}};
        for (const ResultRow &row : rows)
            all.rows.push_back(shown(RowCells(row, true)));
        return all;
    };
    const QString siteCaption = QStringLiteral("网站");
    CellTable table{QStringList{siteCaption} + cellsOf({}).captions, {}, {}};
    QJsonArray rows, counts;
    for (const SiteResults &site : sites) {
        const QString shown = SiteShown(SiteKey(site.domain));
        for (const QStringList &cells : cellsOf(site.rows).rows)
            table.rows.push_back(QStringList{shown} + cells);
        for (const ResultRow &row : site.rows) {
            QJsonObject object = RowObject(row);
            object.insert(QStringLiteral("domain"), shown);
            rows.append(object);
        }
        counts.append(QJsonObject{{QStringLiteral("domain"), shown},
                                  {QStringLiteral("count"), site.countText ? QJsonValue(*site.countText) : QJsonValue()}});
    }
    return FormatCells(format, table, {{QStringLiteral("sites"), counts}, {QStringLiteral("rows"), rows}});
}

QByteArray FormatCells(OutputFormat format, const CellTable &table, const QJsonObject &json)
{
    std::vector<QStringList> lines{table.captions};
    lines.insert(lines.end(), table.rows.begin(), table.rows.end());
    switch (format) {
    case OutputFormat::Table:
        return Table(table);
    case OutputFormat::Tsv:
        return CellsAsText(lines, FormulaGuard::Raw).toUtf8();
    case OutputFormat::Csv:
        return CellsAsCsv(lines, false);
    case OutputFormat::Json:
        break;
    }
    return QJsonDocument(json).toJson(QJsonDocument::Indented);
}

} // namespace vantorel
