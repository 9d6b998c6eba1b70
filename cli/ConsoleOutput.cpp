#include "ConsoleOutput.h"

#include <Domain.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

namespace vantorel {

namespace {

bool IsWide(char32_t c)
{
    return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF) || (c >= 0xAC00 && c <= 0xD7A3) ||
           (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
           (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x20000 && c <= 0x3FFFD);
}

const char *StrengthName(const RowEvidence &evidence)
{
    switch (Strength(evidence)) {
    case VerdictStrength::PassesWeight: return "passes-weight";
    case VerdictStrength::NoWeight: return "no-weight";
    case VerdictStrength::Invalid: break;
    }
    return "invalid";
}

QJsonObject RowObject(const ResultRow &row)
{
    QJsonObject object{{QStringLiteral("number"), row.number.toInt()},
                       {QStringLiteral("address"), RowUrl(row.address)},
                       {QStringLiteral("verdict"), row.verdict}};
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
    object.insert(QStringLiteral("links"), links);
    object.insert(QStringLiteral("robots"), QJsonObject{{QStringLiteral("noindex"), e.page.robots.noindex},
                                                        {QStringLiteral("nofollow"), e.page.robots.nofollow}});
    object.insert(QStringLiteral("checkedAt"), e.checkedAt.toString(Qt::ISODate));
    return object;
}

QByteArray Table(const std::vector<ResultRow> &rows)
{
    // The address goes last: it is the one column whose width varies a lot.
    const QStringList captions = ResultColumns(true);
    const std::vector<int> shown = {0, 2, 3, 5, 8, 9, 1};
    std::vector<QStringList> lines;
    QStringList header;
    for (const int column : shown)
        header << captions[column];
    lines.push_back(header);
    for (const ResultRow &row : rows) {
        const QStringList cells = RowCells(row, true);
        QStringList line;
        for (const int column : shown)
            line << cells[column];
        lines.push_back(line);
    }
    std::vector<int> widths(shown.size(), 0);
    for (const QStringList &line : lines)
        for (std::size_t i = 0; i < shown.size(); ++i)
            widths[i] = std::max(widths[i], DisplayWidth(line[static_cast<qsizetype>(i)]));
    QString text;
    for (const QStringList &line : lines) {
        QString out;
        for (std::size_t i = 0; i < shown.size(); ++i) {
            const QString &cell = line[static_cast<qsizetype>(i)];
            out += cell;
            if (i + 1 < shown.size())
                out += QString(widths[i] - DisplayWidth(cell) + 2, u' ');
        }
        text += out.trimmed() + u'\n';
    }
    return text.toUtf8();
}

} // namespace

int DisplayWidth(QStringView text)
{
    int width = 0;
    for (const char32_t c : text.toUcs4())
        width += IsWide(c) ? 2 : 1;
    return width;
}

QByteArray FormatResults(OutputFormat format, const QString &domain, const std::optional<QString> &countText,
                         const std::vector<ResultRow> &rows)
{
    switch (format) {
    case OutputFormat::Table:
        return Table(rows);
    case OutputFormat::Tsv:
        return (ResultColumns(true).join(u'\t') + u'\n' + RowsAsText(rows, true, FormulaGuard::Raw)).toUtf8();
    case OutputFormat::Csv:
        return RowsAsCsv(rows, false);
    case OutputFormat::Json:
        break;
    }
    QJsonArray array;
    for (const ResultRow &row : rows)
        array.append(RowObject(row));
    const QJsonObject object{{QStringLiteral("domain"), domain},
                             {QStringLiteral("count"), countText ? QJsonValue(*countText) : QJsonValue()},
                             {QStringLiteral("rows"), array}};
    return QJsonDocument(object).toJson(QJsonDocument::Indented);
}

} // namespace vantorel
