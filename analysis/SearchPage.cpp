#include "SearchPage.h"

#include "TextOps.h"

#include <HtmlParse.h>

#include <QUrl>

#include <cstring>

namespace vantorel {

namespace {

constexpr QStringView kNoResultsMarker = u"抱歉，没有找到与";
constexpr QStringView kCountStartMarker = u"找到相关网页";
constexpr QStringView kCountEndMarker = u"篇，用时";
constexpr QStringView kResultLinkMarker = u"})\" href=\"";
constexpr QStringView kPaidResultMarker = u"推广";

// The no-results sentence only counts past the page's first characters.
constexpr qint32 kNoResultsMinPosition = 10;
constexpr QStringView kSecureScheme = u"https://";
constexpr QStringView kVerificationHost = u"wappass.baidu.com";
constexpr QStringView kVerificationTitle = u"百度安全验证";

// Marker plus the seven characters of "http://", skipped unread.
constexpr qint32 kLinkOffset = 17;
constexpr qint32 kLinkExcerptLength = 300;

} // namespace

qint32 FindAllOccurrences(QStringView text, QStringView pattern, std::vector<qint32> *positions)
{
    const qint32 length = static_cast<qint32>(text.size());
    if (length < 1)
        return 0;
    qint32 count = 0;
    qint32 position = 1;
    for (qint32 round = 0; round < length; ++round) {
        position = Find(text, pattern, position + 1);
        if (position == 0)
            return count;
        if (positions)
            positions->push_back(position);
        ++count;
    }
    return count;
}

namespace {

bool SaysNoResults(QStringView page)
{
    return Find(page, kNoResultsMarker) > kNoResultsMinPosition;
}

// The count text as the page writes it between its two markers.
std::optional<QString> CountBetweenMarkers(QStringView page)
{
    const qint32 startMarker = Find(page, kCountStartMarker);
    if (startMarker == 0)
        return std::nullopt;
    const qint32 countStart = startMarker + static_cast<qint32>(kCountStartMarker.size());
    const qint32 countEnd = Find(page, kCountEndMarker, countStart);
    if (countEnd == 0)
        return std::nullopt;
    return Excerpt(page, countStart, countEnd - countStart).toString();
}

} // namespace

std::optional<QString> LinkCountText(QStringView page)
{
    return SaysNoResults(page) ? QStringLiteral("0") : CountBetweenMarkers(page);
}

std::optional<QString> LinkCountLine(QStringView page, QStringView domain)
{
    const QString prefix = QStringLiteral("提示：当前站点 ") + domain.toString();
    if (SaysNoResults(page))
        return prefix + QStringLiteral(" 的外链数为：0 条");
    const std::optional<QString> count = CountBetweenMarkers(page);
    if (!count)
        return std::nullopt;
    return prefix + QStringLiteral(" 的外链数为：  ") + *count + QStringLiteral(" 条");
}

std::vector<qint32> ResultLinkPositions(QStringView page)
{
    std::vector<qint32> positions;
    FindAllOccurrences(page, kResultLinkMarker, &positions);
    return positions;
}

std::optional<QString> ResultAddress(QStringView page, qint32 markerPosition)
{
    const qint32 linkStart = markerPosition + static_cast<qint32>(kResultLinkMarker.size());
    const bool secure = Excerpt(page, linkStart, static_cast<qint32>(kSecureScheme.size()))
                            .compare(kSecureScheme, Qt::CaseInsensitive) == 0;
    const qint32 excerptStart = secure ? linkStart + static_cast<qint32>(kSecureScheme.size())
                                       : markerPosition + kLinkOffset;
    const QStringView excerpt = Excerpt(page, excerptStart, kLinkExcerptLength);
    if (excerpt.contains(kPaidResultMarker))
        return std::nullopt;

    const qsizetype space = excerpt.indexOf(u' ');
    QStringView address = space < 0 ? QStringView() : excerpt.first(space + 1);
    // "…/ " loses its slash and the space after it.
    if (TrimSpaces(address).endsWith(u'/'))
        address.chop(2);
    QString cell = address.toString();
    cell.remove(u'"');
    if (secure)
        cell.prepend(kSecureScheme);
    return cell;
}

QString SearchQueryUrl(QStringView searchHost, QStringView domain)
{
    return QStringLiteral("http://") + searchHost.toString() + QStringLiteral("/s?q1=domain:")
           + QString::fromLatin1(QUrl::toPercentEncoding(domain.toString()))
           + QStringLiteral("&q2=&q3=&q4=&rn=50&lm=0&ct=0&ft=&q5=&q6=&tn=baiduadv");
}

QString PageTitle(QStringView page)
{
    struct Title {
        int depth = 0; // inside <title> when above zero
        bool done = false;
        QByteArray text;
    } title;
    htmlSAXHandler handler{};
    handler.startElement = [](void *context, const xmlChar *tag, const xmlChar **) {
        auto *t = static_cast<Title *>(context);
        t->depth += !t->done && std::strcmp(reinterpret_cast<const char *>(tag), "title") == 0;
    };
    handler.endElement = [](void *context, const xmlChar *tag) {
        auto *t = static_cast<Title *>(context);
        if (t->depth > 0 && std::strcmp(reinterpret_cast<const char *>(tag), "title") == 0) {
            t->depth = 0;
            t->done = true;
        }
    };
    handler.characters = [](void *context, const xmlChar *characters, int length) {
        auto *t = static_cast<Title *>(context);
        if (t->depth > 0)
            t->text.append(reinterpret_cast<const char *>(characters), length);
    };
    // The title stands in the head: the start of a page is enough, however long the page.
    constexpr qsizetype kHeadChars = 64 * 1024;
    ParseHtml(page.first(std::min(page.size(), kHeadChars)).toUtf8(), "UTF-8", handler, &title);
    return QString::fromUtf8(title.text);
}

EngineAnswer ClassifyEngineAnswer(QStringView page, QStringView finalHost, QStringView title)
{
    if (finalHost.compare(kVerificationHost, Qt::CaseInsensitive) == 0 || title.contains(kVerificationTitle))
        return EngineAnswer::Verification;
    for (const QStringView marker : {kNoResultsMarker, kCountStartMarker, kResultLinkMarker})
        if (page.contains(marker))
            return EngineAnswer::Results;
    return EngineAnswer::Unrecognised;
}

} // namespace vantorel
