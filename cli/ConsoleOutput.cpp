#include "ConsoleOutput.h"

#include <Domain.h>

#include <unicode/uchar.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

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
    return object;
}

QByteArray Table(const std::vector<ResultRow> &rows)
{
    // The address goes last: it is the one column whose width varies a lot.
    const QStringList captions = ResultColumns(true);
    std::vector<int> shown;
    for (const char16_t *name : {u"序号", u"有效性", u"结果", u"HTTP状态", u"链接数", u"页面robots", u"原因", u"外链地址"})
        shown.push_back(static_cast<int>(captions.indexOf(QString::fromUtf16(name))));
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
