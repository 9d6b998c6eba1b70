#include "SearchPage.h"

#include "Domain.h"
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
constexpr QStringView kVerificationHost = u"wappass.baidu.com";
constexpr QStringView kVerificationTitle = u"百度安全验证";

constexpr qint32 kLinkExcerptLength = 300;
// An address with no space in its excerpt is read up to its closing quote, this far at most.
constexpr qint32 kLongLinkLength = 2048;

int DigitValue(QChar digit) // of an ASCII decimal or hexadecimal digit
{
    const char16_t c = digit.unicode();
    return c <= u'9' ? c - u'0' : (c | 0x20) - u'a' + 10;
}

// The character reference that starts with the "&" at position at, as browsers read one in an
// attribute value: numeric ones with or without their semicolon, named ones from libxml2's
// table (HTML 4's and &apos;) with it, or without it unless "=" follows. Sets end past it.
std::optional<char32_t> CharacterReference(QStringView text, qsizetype at, qsizetype &end)
{
    qsizetype i = at + 1;
    if (i < text.size() && text[i] == u'#') {
        const bool hex = i + 1 < text.size() && (text[i + 1] == u'x' || text[i + 1] == u'X');
        i += hex ? 2 : 1;
        const qsizetype digits = i;
        char32_t value = 0;
        const auto isDigit = hex ? IsAsciiHexDigit : IsAsciiDigit;
        for (; i < text.size() && isDigit(text[i].unicode()); ++i) // held just past the largest code point
            value = std::min<char32_t>(value * (hex ? 16 : 10) + DigitValue(text[i]), QChar::LastValidCodePoint + 1);
        if (i == digits)
            return std::nullopt;
        end = i + (i < text.size() && text[i] == u';');
        const bool surrogate = value >= 0xD800 && value <= 0xDFFF;
        return value == 0 || value > QChar::LastValidCodePoint || surrogate ? char32_t(QChar::ReplacementCharacter) : value;
    }
    while (i < text.size() && IsAsciiAlnum(text[i].unicode()))
        ++i;
    const bool semicolon = i < text.size() && text[i] == u';';
    if (i == at + 1 || (!semicolon && i < text.size() && text[i] == u'='))
        return std::nullopt;
    const QByteArray name = text.sliced(at + 1, i - at - 1).toLatin1();
    const htmlEntityDesc *entity = htmlEntityLookup(reinterpret_cast<const xmlChar *>(name.constData()));
    if (!entity)
        return std::nullopt;
    end = i + semicolon;
    return entity->value;
}

// A space, control or quote inside an address goes out percent-encoded, as a browser's address
// parser sends it.
bool NeedsEncoding(char32_t c)
{
    return c <= u' ' || c == u'"';
}

QString PercentEncoded(char32_t c)
{
    return QStringLiteral("%%1").arg(static_cast<uint>(c), 2, 16, QChar(u'0')).toUpper();
}

// An attribute value with its character references decoded; what a reference makes is encoded
// where it needs to be, and so is any raw space or control when encodeRaw.
QString DecodeAttribute(QStringView value, bool encodeRaw)
{
    QString decoded;
    decoded.reserve(value.size());
    for (qsizetype at = 0; at < value.size();) {
        qsizetype end = at + 1;
        const std::optional<char32_t> c = value[at] == u'&' ? CharacterReference(value, at, end) : std::nullopt;
        if (!c)
            decoded += encodeRaw && NeedsEncoding(value[at].unicode()) ? PercentEncoded(value[at].unicode()) : value[at];
        else if (NeedsEncoding(*c))
            decoded += PercentEncoded(*c);
        else
            decoded += QString::fromUcs4(&*c, 1);
        at = end;
    }
    return decoded;
}

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
    const bool secure = HttpScheme(Excerpt(page, linkStart, static_cast<qint32>(kHttpsScheme.size()))) == kHttpsScheme;
    // Any other link skips the seven characters of "http://" unread.
    const qint32 excerptStart = linkStart + static_cast<qint32>(secure ? kHttpsScheme.size() : kHttpScheme.size());
    const QStringView excerpt = Excerpt(page, excerptStart, kLinkExcerptLength);
    if (excerpt.contains(kPaidResultMarker))
        return std::nullopt;

    QString cell;
    if (const qsizetype space = excerpt.indexOf(u' '); space >= 0) {
        QStringView address = excerpt.first(space + 1);
        // "…/ " loses its slash and the space after it.
        if (TrimSpaces(address).endsWith(u'/'))
            address.chop(2);
        cell = address.toString();
        cell.remove(u'"');
        cell = DecodeAttribute(cell, false); // its one space, at the end, is the grid's
    } else {
        const QStringView rest = Excerpt(page, excerptStart, kLongLinkLength + 1);
        if (const qsizetype quote = rest.indexOf(u'"'); quote >= 0 && quote <= kLongLinkLength)
            cell = DecodeAttribute(rest.first(quote), true);
    }
    if (secure)
        cell.prepend(kHttpsScheme);
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
