#include "Domain.h"

#include "TextOps.h"

#include <QStringMatcher>
#include <QUrl>

#include <algorithm>

namespace vantorel {

namespace {

constexpr QStringView kWww = u"www.";
constexpr qsizetype kMaxHostLength = 253;
constexpr qsizetype kMaxLabelLength = 63;

bool IsTrimmed(QChar c)
{
    return c.isSpace() || c.category() == QChar::Other_Control;
}

bool IsNameCharacter(char32_t c)
{
    return QChar::isLetterOrNumber(c) || QChar::isMark(c);
}

// Scripts whose prose runs words together: beside an ASCII name such a character is the
// sentence around it ("访问example.com"), not more of the name.
bool RunsWordsTogether(char32_t c)
{
    switch (QChar::script(c)) {
    case QChar::Script_Han:
    case QChar::Script_Hiragana:
    case QChar::Script_Katakana:
    case QChar::Script_Bopomofo:
        return true;
    default:
        return false;
    }
}

// Whether c, standing beside a name whose character on that side is edge, makes it a longer name.
bool ContinuesHost(char32_t c, char32_t edge)
{
    if (c < 0x80)
        return IsAsciiAlnum(c) || c == u'-';
    return IsNameCharacter(c) && (edge >= 0x80 || !RunsWordsTogether(c));
}

// The code point that starts at, or ends before, position at; 0 past either end.
char32_t CodePointAt(QStringView text, qsizetype at)
{
    if (at >= text.size())
        return 0;
    if (text[at].isHighSurrogate() && at + 1 < text.size() && text[at + 1].isLowSurrogate())
        return QChar::surrogateToUcs4(text[at], text[at + 1]);
    return text[at].unicode();
}

char32_t CodePointBefore(QStringView text, qsizetype at)
{
    if (at <= 0)
        return 0;
    if (text[at - 1].isLowSurrogate() && at >= 2 && text[at - 2].isHighSurrogate())
        return QChar::surrogateToUcs4(text[at - 2], text[at - 1]);
    return text[at - 1].unicode();
}

// Whether name, found in page at position at, is a host of its own there: a dot before it
// starts a subdomain, a dot after it counts only when the name goes on past it.
bool StandsAlone(QStringView page, qsizetype at, QStringView name)
{
    if (ContinuesHost(CodePointBefore(page, at), CodePointAt(name, 0)))
        return false;
    const qsizetype end = at + name.size();
    const char32_t after = CodePointAt(page, end);
    return !ContinuesHost(after == u'.' ? CodePointAt(page, end + 1) : after, CodePointBefore(name, name.size()));
}

bool ContainsAsHost(QStringView page, QStringView name)
{
    const QStringMatcher matcher(name, Qt::CaseInsensitive);
    for (qsizetype at = matcher.indexIn(page); at >= 0; at = matcher.indexIn(page, at + 1))
        if (StandsAlone(page, at, name))
            return true;
    return false;
}

bool IsLdhLabel(QByteArrayView label)
{
    return !label.isEmpty() && label.size() <= kMaxLabelLength &&
           std::all_of(label.begin(), label.end(), [](char c) { return IsAsciiAlnum(c) || c == '-'; });
}

bool IsNumber(QByteArrayView label)
{
    return !label.isEmpty() && std::all_of(label.begin(), label.end(), [](char c) { return IsAsciiDigit(c); });
}

// Four decimal numbers from 0 to 255, without leading zeros (which some read as octal).
bool IsDottedQuad(const QList<QByteArray> &labels)
{
    return labels.size() == 4 && std::all_of(labels.begin(), labels.end(), [](const QByteArray &label) {
               return IsNumber(label) && label.size() <= 3 && (label.size() == 1 || label.front() != '0') &&
                      label.toInt() <= 255;
           });
}

} // namespace

QString ReduceToHost(QStringView typed)
{
    qsizetype begin = 0;
    qsizetype end = typed.size();
    while (begin < end && IsTrimmed(typed[begin]))
        ++begin;
    while (end > begin && IsTrimmed(typed[end - 1]))
        --end;
    QStringView host = typed.sliced(begin, end - begin);

    if (const qsizetype schemeEnd = host.indexOf(u"://"); schemeEnd > 0) {
        const QStringView scheme = host.first(schemeEnd);
        const bool schemeLike = scheme.front().isLetter() &&
                                std::all_of(scheme.begin(), scheme.end(), [](QChar c) {
                                    return c.isLetterOrNumber() || c == u'+' || c == u'-' || c == u'.';
                                });
        if (schemeLike)
            host = host.sliced(schemeEnd + 3);
    }
    while (host.startsWith(u'/'))
        host = host.sliced(1);
    for (const QChar stop : {u'/', u'?', u'#', u'\\'})
        if (const qsizetype at = host.indexOf(stop); at >= 0)
            host = host.first(at);
    if (const qsizetype at = host.lastIndexOf(u'@'); at >= 0)
        host = host.sliced(at + 1);
    // A port follows the last colon, unless the colons belong to a bracketed IPv6 address.
    if (const qsizetype colon = host.lastIndexOf(u':'); colon >= 0 && colon > host.lastIndexOf(u']'))
        host = host.first(colon);
    while (host.endsWith(u'.'))
        host.chop(1);

    QString reduced = host.toString();
    for (QChar &c : reduced)
        if (c >= u'A' && c <= u'Z')
            c = QChar(c.unicode() + (u'a' - u'A'));
    return reduced;
}

bool IsCheckableHost(QStringView host)
{
    if (host.endsWith(u'.'))
        host.chop(1);
    if (host.startsWith(u'['))
        return host.endsWith(u']') && QUrl(kHttpScheme.toString() + host.toString() + u'/', QUrl::StrictMode).isValid();
    // Symbols, emoji and punctuation make no name, though the conversion to punycode takes some.
    const QList<uint> codePoints = host.toUcs4();
    if (!std::all_of(codePoints.begin(), codePoints.end(),
                     [](char32_t c) { return c == u'.' || c == u'-' || IsNameCharacter(c); }))
        return false;
    const QByteArray ace = QUrl::toAce(host.toString());
    if (ace.isEmpty() || ace.size() > kMaxHostLength)
        return false;
    const QList<QByteArray> labels = ace.split('.');
    if (labels.size() < 2 || !std::all_of(labels.begin(), labels.end(), IsLdhLabel))
        return false;
    // A name that ends in a number is an IPv4 address, and must be one written in full.
    return !IsNumber(labels.back()) || IsDottedQuad(labels);
}

QStringView SiteDomain(QStringView domain)
{
    if (domain.startsWith(kWww, Qt::CaseInsensitive) && domain.sliced(kWww.size()).contains(u'.'))
        return domain.sliced(kWww.size());
    return domain;
}

QString SiteKey(QStringView typed)
{
    const QString host = ReduceToHost(typed);
    // toAce lower-cases through IDNA; a host it refuses (an IPv6 address) is kept as it is.
    const QString ace = QString::fromLatin1(QUrl::toAce(host));
    return SiteDomain(ace.isEmpty() ? host.toLower() : ace.toLower()).toString();
}

QString SiteShown(const QString &key)
{
    const QString shown = QUrl::fromAce(key.toLatin1());
    return shown.isEmpty() ? key : shown;
}

bool PageMentionsDomain(QStringView page, QStringView domain)
{
    const QStringView site = SiteDomain(domain);
    if (site.isEmpty())
        return false;
    if (ContainsAsHost(page, site))
        return true;
    // The other spelling of an internationalised name: punycode for a Unicode one and back.
    const QString ace = QString::fromLatin1(QUrl::toAce(site.toString()));
    const QString other = ace.compare(site, Qt::CaseInsensitive) != 0 ? ace : QUrl::fromAce(site.toLatin1());
    return !other.isEmpty() && other.compare(site, Qt::CaseInsensitive) != 0 && ContainsAsHost(page, other);
}

QStringView HttpScheme(QStringView address)
{
    for (const QStringView scheme : {kHttpScheme, kHttpsScheme})
        if (address.startsWith(scheme, Qt::CaseInsensitive))
            return scheme;
    return {};
}

QString RowUrl(QStringView address)
{
    const QStringView trimmed = TrimSpaces(address);
    return HttpScheme(trimmed).isEmpty() ? kHttpScheme.toString() + trimmed.toString() : trimmed.toString();
}

} // namespace vantorel
