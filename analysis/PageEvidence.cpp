#include "PageEvidence.h"

#include "Domain.h"

#include <HtmlParse.h>

#include <QByteArray>

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <optional>

namespace vantorel {

// libxml2's HTML parser runs with SAX callbacks and builds no tree: nothing has to be walked
// or freed afterwards, and the only per-element state is one byte on our own stack, so a page
// of a million nested elements costs neither deep recursion nor a million tree nodes.

namespace {

constexpr qsizetype kAnchorLimit = 100;

bool IsWord(QByteArrayView token, QByteArrayView word)
{
    return token.compare(word, Qt::CaseInsensitive) == 0;
}

// Calls f with every non-empty token between separators, trimmed of white space.
template <typename IsSeparator, typename F>
void ForEachToken(QByteArrayView text, IsSeparator isSeparator, F f)
{
    qsizetype begin = 0;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        if (i < text.size() && !isSeparator(text[i]))
            continue;
        const QByteArrayView token = text.sliced(begin, i - begin).trimmed();
        if (!token.isEmpty())
            f(token);
        begin = i + 1;
    }
}

void ApplyRobotsDirective(QByteArrayView directive, RobotsEvidence &robots)
{
    const bool none = IsWord(directive, "none");
    robots.noindex = robots.noindex || none || IsWord(directive, "noindex");
    robots.nofollow = robots.nofollow || none || IsWord(directive, "nofollow");
}

void ApplyRobotsContent(QByteArrayView content, RobotsEvidence &robots)
{
    ForEachToken(content, [](char c) { return c == ','; },
                 [&](QByteArrayView token) { ApplyRobotsDirective(token, robots); });
}

// Directives written "name: value", which must not be taken for a crawler's name.
bool TakesValue(QByteArrayView name)
{
    return IsWord(name, "unavailable_after") || IsWord(name, "max-snippet") ||
           IsWord(name, "max-image-preview") || IsWord(name, "max-video-preview");
}

// "googlebot: noindex, nofollow" names its crawler for the rest of its line.
void ApplyRobotsHeader(QByteArrayView header, RobotsEvidence &robots)
{
    ForEachToken(header, [](char c) { return c == '\n' || c == '\r'; }, [&](QByteArrayView line) {
        bool counts = true;
        ForEachToken(line, [](char c) { return c == ','; }, [&](QByteArrayView token) {
            const qsizetype colon = token.indexOf(':');
            const QByteArrayView name = colon < 0 ? QByteArrayView() : token.first(colon).trimmed();
            if (!name.isEmpty() && !TakesValue(name)) {
                counts = IsWord(name, "baiduspider");
                token = token.sliced(colon + 1).trimmed();
            }
            if (counts)
                ApplyRobotsDirective(token, robots);
        });
    });
}


// An href as browsers read it before parsing: no surrounding controls or spaces, no tabs or
// line breaks, and "\" before any query or fragment is a "/". Nothing for a reference to the
// page itself ("", "#top"), which links nowhere.
std::optional<QUrl> ParseHref(QByteArrayView href)
{
    QString text = QString::fromUtf8(href);
    text.removeIf([](QChar c) { return c == u'\t' || c == u'\n' || c == u'\r'; });
    const auto isControlOrSpace = [](QChar c) { return c.unicode() <= 0x20; };
    const auto begin = std::find_if_not(text.cbegin(), text.cend(), isControlOrSpace);
    const auto end = std::find_if_not(text.crbegin(), std::make_reverse_iterator(begin), isControlOrSpace).base();
    text = QString(begin, end - begin);
    if (text.isEmpty() || text.startsWith(u'#'))
        return std::nullopt;
    const auto pathEnd = std::find_if(text.begin(), text.end(), [](QChar c) { return c == u'?' || c == u'#'; });
    std::replace(text.begin(), pathEnd, u'\\', u'/');
    return QUrl(text);
}

// A host in its ASCII form, lower case, without the final root dot.
QString AceHost(QStringView host)
{
    QString ace = QString::fromLatin1(QUrl::toAce(host.toString()));
    if (ace.endsWith(u'.'))
        ace.chop(1);
    return ace;
}

bool AceHostMatches(QStringView host, QStringView domain)
{
    return !domain.isEmpty() &&
           (host == domain || (host.endsWith(domain) && host[host.size() - domain.size() - 1] == u'.'));
}

struct Candidate {
    QByteArray href;
    qsizetype textBegin = 0, textEnd = 0; // the <a>'s text in Reader::text
    QString alt;                          // the <area>'s alt, or that of the first image in the <a>
    bool nofollow = false, ugc = false, sponsored = false;
};

enum class Open : quint8 { Plain, Anchor, Hidden };

// A refresh's content before its address is resolved.
struct RawRefresh {
    int seconds = 0;
    QByteArray url;
};

// What the parser's callbacks gather, in page order.
struct Reader {
    std::vector<Open> open;      // one entry per element the parser has open
    std::vector<size_t> anchors; // candidates whose <a> is open, innermost last
    qsizetype hiddenDepth = 0;   // open elements whose content no visitor sees as markup
    std::vector<Candidate> candidates;
    QString text; // the collapsed text of open <a> elements, enough of it for each
    bool textEndsInSpace = true;
    std::optional<QByteArray> baseHref;
    RobotsEvidence robots;
    bool inHead = false; // libxml2 opens the head itself when a page leaves it out
    std::optional<RawRefresh> refresh;
};

// libxml2 knows only script and style as raw text; browsers also read these elements' content
// as text or never show it, so links inside them are none.
bool IsHidden(const char *name)
{
    for (const char *hidden : {"script", "style", "template", "title", "textarea", "iframe", "xmp",
                               "noembed", "noframes", "plaintext"}) {
        if (std::strcmp(name, hidden) == 0)
            return true;
    }
    return false;
}

// The value of attribute name, empty when it has none; nothing when it is absent.
std::optional<QByteArrayView> Attribute(const xmlChar **attributes, const char *name)
{
    for (const xmlChar **a = attributes; a && a[0]; a += 2) {
        if (std::strcmp(reinterpret_cast<const char *>(a[0]), name) == 0)
            return QByteArrayView(reinterpret_cast<const char *>(a[1] ? a[1] : BAD_CAST ""));
    }
    return std::nullopt;
}

QString AltText(std::optional<QByteArrayView> value)
{
    return value ? AnchorText(QString::fromUtf8(*value).simplified()) : QString();
}

// A refresh's content as browsers read it: whole seconds, then after ";", "," or a space the
// address, with an optional "url=" before it and quotes around it dropped. Nothing when the
// content is malformed or names no address (the page would reload itself).
std::optional<RawRefresh> ParseRefresh(QByteArrayView content)
{
    const qsizetype size = content.size();
    const auto skipSpace = [&](qsizetype at) {
        while (at < size && IsHtmlSpace(content[at]))
            ++at;
        return at;
    };
    const auto lowerAt = [&](qsizetype at) { return at < size ? static_cast<char>(content[at] | 0x20) : '\0'; };
    const auto isDigit = [&](qsizetype at) { return at < size && content[at] >= '0' && content[at] <= '9'; };

    qsizetype at = skipSpace(0);
    RawRefresh refresh;
    if (!isDigit(at) && (at == size || content[at] != '.'))
        return std::nullopt;
    for (; isDigit(at); ++at)
        refresh.seconds = std::min(refresh.seconds * 10 + (content[at] - '0'), 1'000'000);
    while (isDigit(at) || (at < size && content[at] == '.'))
        ++at;
    if (at == size || (content[at] != ';' && content[at] != ',' && !IsHtmlSpace(content[at])))
        return std::nullopt;
    at = skipSpace(at);
    if (at < size && (content[at] == ';' || content[at] == ','))
        at = skipSpace(at + 1);
    if (at == size)
        return std::nullopt;

    const QByteArrayView rest = content.sliced(at);
    if (lowerAt(at) == 'u') {
        qsizetype equals = skipSpace(at + 3);
        if (lowerAt(at + 1) != 'r' || lowerAt(at + 2) != 'l' || equals >= size || content[equals] != '=') {
            refresh.url = rest.toByteArray(); // "u" not starting "url =": the whole rest is the address
            return refresh;
        }
        at = skipSpace(equals + 1);
    }
    QByteArrayView url = content.sliced(at);
    if (!url.isEmpty() && (url.front() == '"' || url.front() == '\'')) {
        const char quote = url.front();
        url = url.sliced(1);
        if (const qsizetype end = url.indexOf(quote); end >= 0)
            url = url.first(end);
    }
    refresh.url = url.toByteArray();
    return refresh;
}

void AddCandidate(Reader &reader, QByteArrayView href, const xmlChar **attributes, const char *name)
{
    Candidate candidate;
    candidate.href = href.toByteArray();
    candidate.textBegin = candidate.textEnd = reader.text.size();
    if (std::strcmp(name, "area") == 0)
        candidate.alt = AltText(Attribute(attributes, "alt"));
    ForEachToken(Attribute(attributes, "rel").value_or(QByteArrayView()), IsHtmlSpace, [&](QByteArrayView token) {
        candidate.nofollow = candidate.nofollow || IsWord(token, "nofollow");
        candidate.ugc = candidate.ugc || IsWord(token, "ugc");
        candidate.sponsored = candidate.sponsored || IsWord(token, "sponsored");
    });
    reader.candidates.push_back(std::move(candidate));
}

// An image's alt goes to every open <a> still without one; those that have one are the
// outermost, so the walk from the innermost stops at the first.
void GiveAlt(Reader &reader, const QString &alt)
{
    for (auto a = reader.anchors.rbegin(); a != reader.anchors.rend() && reader.candidates[*a].alt.isEmpty(); ++a)
        reader.candidates[*a].alt = alt;
}

void StartElement(void *context, const xmlChar *tag, const xmlChar **attributes)
{
    Reader &reader = *static_cast<Reader *>(context);
    const char *name = reinterpret_cast<const char *>(tag);
    Open kind = Open::Plain;
    if (IsHidden(name)) {
        kind = Open::Hidden;
        ++reader.hiddenDepth;
    } else if (reader.hiddenDepth == 0) {
        const bool anchor = std::strcmp(name, "a") == 0;
        if (anchor || std::strcmp(name, "area") == 0) {
            if (const std::optional<QByteArrayView> href = Attribute(attributes, "href")) {
                AddCandidate(reader, *href, attributes, name);
                if (anchor) {
                    kind = Open::Anchor;
                    reader.anchors.push_back(reader.candidates.size() - 1);
                }
            }
        } else if (std::strcmp(name, "img") == 0) {
            if (!reader.anchors.empty())
                if (const QString alt = AltText(Attribute(attributes, "alt")); !alt.isEmpty())
                    GiveAlt(reader, alt);
        } else if (std::strcmp(name, "base") == 0) {
            if (!reader.baseHref)
                if (const std::optional<QByteArrayView> href = Attribute(attributes, "href"))
                    reader.baseHref = href->toByteArray();
        } else if (std::strcmp(name, "meta") == 0) {
            const QByteArrayView metaName = Attribute(attributes, "name").value_or(QByteArrayView()).trimmed();
            const QByteArrayView content = Attribute(attributes, "content").value_or(QByteArrayView());
            if (IsWord(metaName, "robots") || IsWord(metaName, "baiduspider"))
                ApplyRobotsContent(content, reader.robots);
            if (reader.inHead && !reader.refresh &&
                IsWord(Attribute(attributes, "http-equiv").value_or(QByteArrayView()).trimmed(), "refresh"))
                reader.refresh = ParseRefresh(content);
        } else if (std::strcmp(name, "head") == 0 || std::strcmp(name, "body") == 0) {
            reader.inHead = name[0] == 'h';
        }
    }
    reader.open.push_back(kind);
}

void EndElement(void *context, const xmlChar *tag)
{
    Reader &reader = *static_cast<Reader *>(context);
    if (std::strcmp(reinterpret_cast<const char *>(tag), "head") == 0)
        reader.inHead = false;
    if (reader.open.empty())
        return;
    const Open kind = reader.open.back();
    reader.open.pop_back();
    if (kind == Open::Hidden) {
        --reader.hiddenDepth;
    } else if (kind == Open::Anchor) {
        reader.candidates[reader.anchors.back()].textEnd = reader.text.size();
        reader.anchors.pop_back();
    }
}

// Appends text to the open <a> elements with white space runs collapsed to one space, and
// stops once even the innermost has more than it can show.
void Characters(void *context, const xmlChar *characters, int length)
{
    Reader &reader = *static_cast<Reader *>(context);
    if (reader.hiddenDepth > 0 || reader.anchors.empty())
        return;
    const qsizetype full = reader.candidates[reader.anchors.back()].textBegin + kAnchorLimit + 2;
    for (const QChar c : QString::fromUtf8(reinterpret_cast<const char *>(characters), length)) {
        if (reader.text.size() >= full)
            return;
        const bool space = c.isSpace();
        if (!space)
            reader.text.append(c);
        else if (!reader.textEndsInSpace)
            reader.text.append(u' ');
        reader.textEndsInSpace = space;
    }
}

Reader ReadPage(QStringView html)
{
    Reader reader;
    htmlSAXHandler handler{};
    handler.startElement = StartElement;
    handler.endElement = EndElement;
    handler.characters = Characters;
    handler.ignorableWhitespace = Characters;
    ParseHtml(html.toUtf8(), "UTF-8", handler, &reader);
    return reader;
}

} // namespace

QString AnchorText(QStringView text)
{
    text = text.trimmed();
    if (text.size() > kAnchorLimit)
        text = text.first(text[kAnchorLimit - 1].isHighSurrogate() ? kAnchorLimit - 1 : kAnchorLimit).trimmed();
    return text.toString();
}

PageEvidence ExtractPageEvidence(QStringView html, const QUrl &pageUrl, QStringView domain,
                                 QByteArrayView robotsHeader)
{
    const Reader reader = ReadPage(html);
    PageEvidence evidence;
    evidence.robots = reader.robots;
    ApplyRobotsHeader(robotsHeader, evidence.robots);

    QUrl base = pageUrl;
    if (const std::optional<QUrl> declared = reader.baseHref ? ParseHref(*reader.baseHref) : std::nullopt) {
        if (const QUrl resolved = pageUrl.resolved(*declared); resolved.isValid() && !resolved.isRelative())
            base = resolved;
    }
    if (const std::optional<QUrl> to = reader.refresh ? ParseHref(reader.refresh->url) : std::nullopt)
        if (const QUrl resolved = base.resolved(*to); resolved.isValid() && !resolved.isRelative())
            evidence.refresh = RefreshEvidence{reader.refresh->seconds, resolved};
    const QString aceDomain = AceHost(SiteDomain(domain));
    for (const Candidate &candidate : reader.candidates) {
        const std::optional<QUrl> href = ParseHref(candidate.href);
        if (!href)
            continue;
        const QUrl url = base.resolved(*href);
        if (!url.isValid() || (url.scheme() != u"http" && url.scheme() != u"https") ||
            !AceHostMatches(AceHost(url.host(QUrl::FullyEncoded)), aceDomain))
            continue;
        LinkEvidence link;
        link.url = url.toString();
        link.anchor = AnchorText(QStringView(reader.text).sliced(candidate.textBegin,
                                                                 candidate.textEnd - candidate.textBegin));
        if (link.anchor.isEmpty())
            link.anchor = candidate.alt;
        link.nofollow = candidate.nofollow;
        link.ugc = candidate.ugc;
        link.sponsored = candidate.sponsored;
        evidence.links.push_back(std::move(link));
    }
    return evidence;
}

bool HostMatchesDomain(QStringView host, QStringView domain)
{
    return AceHostMatches(AceHost(host), AceHost(SiteDomain(domain)));
}

} // namespace vantorel
