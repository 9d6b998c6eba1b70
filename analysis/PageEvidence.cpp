#include "PageEvidence.h"

#include "Domain.h"

#include <HtmlParse.h>

#include <QByteArray>

#include <algorithm>
#include <climits>
#include <cstring>
#include <iterator>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

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
                counts = IsWord(name, "googlebot") || IsWord(name, "baiduspider");
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
std::optional<QUrl> ParseHref(QStringView href)
{
    QString text = href.toString();
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
    QString href;
    qsizetype textBegin = 0, textEnd = 0; // the <a>'s text in Reader::text
    QString alt;                          // the <area>'s alt, or that of the first image in the <a>
    bool nofollow = false, ugc = false, sponsored = false;
};

enum class Open : quint8 { Plain, Anchor, Hidden, NoScript };

// A refresh's content before its address is resolved.
struct RawRefresh {
    int seconds = 0;
    QByteArray url;
};

// What a reading of the page gathers, in page order.
struct Reader {
    std::vector<Open> open;      // one entry per element the parser has open
    std::vector<size_t> anchors; // candidates whose <a> is open, innermost last
    qsizetype hiddenDepth = 0;   // open elements whose content no visitor sees as markup
    qsizetype noScriptDepth = 0; // open <noscript> elements: a browser that runs scripts skips them
    std::vector<Candidate> candidates;
    QString text; // the collapsed text of open <a> elements, enough of it for each
    bool textEndsInSpace = true;
    std::optional<QString> baseHref;
    std::optional<QString> canonicalHref;
    RobotsEvidence robots;
    std::optional<RawRefresh> refresh;
};

// libxml2 knows only script and style as raw text; browsers also read these elements' content
// as text or never show it, so links inside them are none.
bool IsHidden(const char *name)
{
    if (std::strchr("stixnp", name[0]) == nullptr) // most elements are none of them, seen at once
        return false;
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

QString AltText(const QString &value)
{
    return AnchorText(value.simplified());
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

// A link whose text begins here; alt: an <area>'s.
void AddCandidate(Reader &reader, QString href, QByteArrayView rel, QString alt)
{
    Candidate candidate;
    candidate.href = std::move(href);
    candidate.textBegin = candidate.textEnd = reader.text.size();
    candidate.alt = std::move(alt);
    ForEachToken(rel, IsHtmlSpace, [&](QByteArrayView token) {
        candidate.nofollow = candidate.nofollow || IsWord(token, "nofollow");
        candidate.ugc = candidate.ugc || IsWord(token, "ugc");
        candidate.sponsored = candidate.sponsored || IsWord(token, "sponsored");
    });
    reader.candidates.push_back(std::move(candidate));
}

// A <meta>: robots directives wherever it stands, a refresh outside <noscript> (the first that reads).
void ReadMeta(Reader &reader, QByteArrayView name, QByteArrayView httpEquiv, QByteArrayView content)
{
    name = name.trimmed();
    if (IsWord(name, "robots") || IsWord(name, "googlebot") || IsWord(name, "baiduspider"))
        ApplyRobotsContent(content, reader.robots);
    if (reader.noScriptDepth == 0 && !reader.refresh && IsWord(httpEquiv.trimmed(), "refresh"))
        reader.refresh = ParseRefresh(content);
}

// A <link>: the first whose rel names "canonical" gives the page's canonical address.
void ReadLink(Reader &reader, QByteArrayView rel, const QString &href)
{
    if (reader.canonicalHref)
        return;
    bool canonical = false;
    ForEachToken(rel, IsHtmlSpace, [&](QByteArrayView token) { canonical = canonical || IsWord(token, "canonical"); });
    if (canonical)
        reader.canonicalHref = href;
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
    const auto text = [&](const char *attribute) {
        return QString::fromUtf8(Attribute(attributes, attribute).value_or(QByteArrayView()));
    };
    Open kind = Open::Plain;
    if (IsHidden(name)) {
        kind = Open::Hidden;
        ++reader.hiddenDepth;
    } else if (reader.hiddenDepth == 0) {
        const bool anchor = std::strcmp(name, "a") == 0;
        if (anchor || std::strcmp(name, "area") == 0) {
            if (const std::optional<QByteArrayView> href = Attribute(attributes, "href")) {
                AddCandidate(reader, QString::fromUtf8(*href), Attribute(attributes, "rel").value_or(QByteArrayView()),
                             anchor ? QString() : AltText(text("alt")));
                if (anchor) {
                    kind = Open::Anchor;
                    reader.anchors.push_back(reader.candidates.size() - 1);
                }
            }
        } else if (std::strcmp(name, "img") == 0) {
            if (!reader.anchors.empty())
                if (const QString alt = AltText(text("alt")); !alt.isEmpty())
                    GiveAlt(reader, alt);
        } else if (std::strcmp(name, "base") == 0) {
            if (!reader.baseHref)
                if (const std::optional<QByteArrayView> href = Attribute(attributes, "href"))
                    reader.baseHref = QString::fromUtf8(*href);
        } else if (std::strcmp(name, "link") == 0) {
            if (const std::optional<QByteArrayView> href = Attribute(attributes, "href"))
                ReadLink(reader, Attribute(attributes, "rel").value_or(QByteArrayView()), QString::fromUtf8(*href));
        } else if (std::strcmp(name, "meta") == 0) {
            ReadMeta(reader, Attribute(attributes, "name").value_or(QByteArrayView()),
                     Attribute(attributes, "http-equiv").value_or(QByteArrayView()),
                     Attribute(attributes, "content").value_or(QByteArrayView()));
        } else if (std::strcmp(name, "noscript") == 0) {
            kind = Open::NoScript;
            ++reader.noScriptDepth;
        }
    }
    reader.open.push_back(kind);
}

void EndElement(void *context, const xmlChar *)
{
    Reader &reader = *static_cast<Reader *>(context);
    if (reader.open.empty())
        return;
    const Open kind = reader.open.back();
    reader.open.pop_back();
    if (kind == Open::Hidden) {
        --reader.hiddenDepth;
    } else if (kind == Open::NoScript) {
        --reader.noScriptDepth;
    } else if (kind == Open::Anchor) {
        reader.candidates[reader.anchors.back()].textEnd = reader.text.size();
        reader.anchors.pop_back();
    }
}

// Appends text to the open <a> elements with white space runs collapsed to one space, and
// stops once even the innermost has more than it can show.
void AppendAnchorText(Reader &reader, QStringView text)
{
    const qsizetype full = reader.candidates[reader.anchors.back()].textBegin + kAnchorLimit + 2;
    for (const QChar c : text) {
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

void Characters(void *context, const xmlChar *characters, int length)
{
    Reader &reader = *static_cast<Reader *>(context);
    if (reader.hiddenDepth == 0 && !reader.anchors.empty())
        AppendAnchorText(reader, QString::fromUtf8(reinterpret_cast<const char *>(characters), length));
}

// The page read in one forward pass of our own, as libxml2 reads it. libxml2 decides which
// element an end tag closes and which start tags close open ones by rules of its own; the pass
// follows them only where they are plain (a link whose text holds inline elements it closes
// itself, a title or textarea holding text alone, a script up to its end tag) and answers
// nothing at anything else, where libxml2 reads the whole page instead. Outside links and
// hidden elements the open elements change nothing the evidence reads, so the pass keeps none.

constexpr qsizetype kLongestName = 100; // libxml2 cuts longer names

bool IsAsciiLetter(QChar c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

bool IsNameChar(QChar c)
{
    return IsAsciiLetter(c) || (c >= u'0' && c <= u'9') || c == u':' || c == u'-' || c == u'_' || c == u'.';
}

bool IsBlank(QChar c) // libxml2's blanks, without the form feed
{
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r';
}

// A character libxml2 passes on: XML's characters (a surrogate is checked with its pair).
bool IsPassedOn(char32_t c)
{
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
           (c >= 0x10000 && c <= 0x10FFFF);
}

enum class Tag : quint8 {
    Other,
    A,
    Area,
    Img,
    Br,
    Base,
    Link,
    Meta,
    NoScript,
    Raw,      // script and style: text up to their end tag
    Hidden,   // the rest of IsHidden's: its content never shown as markup
    Inline,   // closes nothing and is closed by nothing but an end tag, in libxml2's rules (HTML5's
              // elements among them: libxml2 knows none of them)
    Block,    // div: as Inline, but an end tag of an element it stands in is ignored while it is open
    Unknown,  // plaintext: the rest of the page is its text
};

Tag TagOf(std::string_view name)
{
    // Sorted by name: most tags are looked up here.
    static constexpr std::pair<std::string_view, Tag> kTags[] = {
        {"a", Tag::A}, {"abbr", Tag::Inline}, {"area", Tag::Area}, {"article", Tag::Inline},
        {"aside", Tag::Inline}, {"b", Tag::Inline}, {"base", Tag::Base}, {"big", Tag::Inline},
        {"br", Tag::Br}, {"cite", Tag::Inline}, {"code", Tag::Inline}, {"dfn", Tag::Inline},
        {"div", Tag::Block}, {"em", Tag::Inline}, {"figcaption", Tag::Inline}, {"figure", Tag::Inline},
        {"font", Tag::Inline}, {"footer", Tag::Inline}, {"g", Tag::Inline}, {"header", Tag::Inline},
        {"i", Tag::Inline}, {"iframe", Tag::Hidden}, {"img", Tag::Img}, {"kbd", Tag::Inline},
        {"link", Tag::Link}, {"main", Tag::Inline}, {"mark", Tag::Inline}, {"meta", Tag::Meta}, {"nav", Tag::Inline},
        {"noembed", Tag::Hidden}, {"noframes", Tag::Hidden}, {"noscript", Tag::NoScript}, {"path", Tag::Inline},
        {"picture", Tag::Inline}, {"plaintext", Tag::Unknown}, {"q", Tag::Inline}, {"s", Tag::Inline},
        {"samp", Tag::Inline}, {"script", Tag::Raw}, {"section", Tag::Inline}, {"small", Tag::Inline},
        {"span", Tag::Inline}, {"strike", Tag::Inline}, {"strong", Tag::Inline}, {"style", Tag::Raw},
        {"sub", Tag::Inline}, {"sup", Tag::Inline}, {"svg", Tag::Inline}, {"template", Tag::Hidden},
        {"textarea", Tag::Hidden}, {"time", Tag::Inline}, {"title", Tag::Hidden}, {"tt", Tag::Inline},
        {"u", Tag::Inline}, {"use", Tag::Inline}, {"var", Tag::Inline}, {"xmp", Tag::Hidden},
    };
    static_assert(std::is_sorted(std::begin(kTags), std::end(kTags)));
    const auto found = std::lower_bound(std::begin(kTags), std::end(kTags), name,
                                        [](const auto &entry, std::string_view key) { return entry.first < key; });
    return found != std::end(kTags) && found->first == name ? found->second : Tag::Other;
}

// An attribute as it stands in the tag: its value before character references are read.
struct RawAttribute {
    QStringView value;
    bool present = false;
};

class PageScanner {
public:
    explicit PageScanner(QStringView html) : html_(html) {}

    std::optional<Reader> Scan()
    {
        if (html_.contains(QChar(0))) // which libxml2 takes for the end of the page
            return std::nullopt;
        while (at_ < html_.size())
            if (!Token())
                return std::nullopt;
        if (!reader_.anchors.empty()) // the page's end closes an open link
            CloseAnchor();
        return std::move(reader_);
    }

private:
    bool InAnchor() const { return !reader_.anchors.empty(); }

    bool Token()
    {
        if (html_[at_] != u'<')
            return Text();
        if (at_ + 1 == html_.size())
            return false;
        const QChar second = html_[at_ + 1];
        if (IsAsciiLetter(second))
            return StartTag();
        if (second == u'/')
            return EndTag();
        if (html_.sliced(at_).startsWith(u"<!--"))
            return Comment();
        if (!InAnchor() && html_.sliced(at_).startsWith(u"<!doctype", Qt::CaseInsensitive))
            return Doctype();
        return false;
    }

    // Up to the next '<', which must begin a tag, an end tag or a comment.
    bool Text()
    {
        qsizetype end = html_.indexOf(u'<', at_);
        end = end < 0 ? html_.size() : end;
        if (InAnchor() && !AppendText(html_.sliced(at_, end - at_)))
            return false;
        at_ = end;
        return true;
    }

    bool Comment()
    {
        const qsizetype close = html_.indexOf(u"-->", at_ + 4);
        if (close < 0 || html_.sliced(at_ + 4, close - at_ - 4).contains(u"--!>"))
            return false;
        at_ = close + 3;
        return true;
    }

    bool Doctype()
    {
        const qsizetype close = html_.indexOf(u'>', at_);
        if (close < 0)
            return false;
        const QStringView declaration = html_.sliced(at_, close - at_);
        if (declaration.contains(u'"') || declaration.contains(u'\''))
            return false;
        at_ = close + 1;
        return true;
    }

    // The tag name at `at` in lower case, as libxml2 reads it; nothing when too long.
    std::optional<std::string_view> Name(qsizetype &at)
    {
        qsizetype size = 0;
        for (; at < html_.size() && IsNameChar(html_[at]); ++at, ++size) {
            if (size == kLongestName)
                return std::nullopt;
            name_[size] = static_cast<char>(html_[at].unicode() | (IsAsciiLetter(html_[at]) ? 0x20 : 0));
        }
        name_[size] = '\0';
        return std::string_view(name_, static_cast<size_t>(size));
    }

    qsizetype SkipBlanks(qsizetype at) const
    {
        while (at < html_.size() && IsBlank(html_[at]))
            ++at;
        return at;
    }

    bool EndsTag(qsizetype at) const
    {
        return html_[at] == u'>' || (html_[at] == u'/' && at + 1 < html_.size() && html_[at + 1] == u'>');
    }

    // Reads the attributes from `at` to the end of the tag, keeping the first of those wanted;
    // answers where the tag ends (at its '>' or "/>"), -1 when libxml2 would read it otherwise.
    qsizetype Attributes(qsizetype at, std::initializer_list<std::pair<std::string_view, RawAttribute *>> wanted)
    {
        char name[kLongestName];
        for (at = SkipBlanks(at); at < html_.size() && !EndsTag(at); at = SkipBlanks(at)) {
            const QChar first = html_[at];
            if (!IsAsciiLetter(first) && first != u'_' && first != u':' && first != u'.') {
                // A bogus attribute, dropped up to a blank or the end of the tag.
                while (at < html_.size() && !IsBlank(html_[at]) && !EndsTag(at))
                    ++at;
                continue;
            }
            qsizetype size = 0;
            for (; at < html_.size() && IsNameChar(html_[at]); ++at, ++size) {
                if (size == kLongestName)
                    return -1;
                name[size] = static_cast<char>(html_[at].unicode() | (IsAsciiLetter(html_[at]) ? 0x20 : 0));
            }
            RawAttribute value;
            value.present = true;
            at = SkipBlanks(at);
            if (at < html_.size() && html_[at] == u'=') {
                at = SkipBlanks(at + 1);
                if (at < html_.size() && (html_[at] == u'"' || html_[at] == u'\'')) {
                    const qsizetype close = html_.indexOf(html_[at], at + 1);
                    if (close < 0)
                        return -1;
                    value.value = html_.sliced(at + 1, close - at - 1);
                    at = close + 1;
                } else {
                    const qsizetype begin = at;
                    while (at < html_.size() && !IsBlank(html_[at]) && html_[at] != u'>')
                        ++at;
                    value.value = html_.sliced(begin, at - begin);
                }
            }
            const std::string_view attribute(name, static_cast<size_t>(size));
            for (const auto &[wantedName, into] : wanted)
                if (attribute == wantedName && !into->present)
                    *into = value;
        }
        return at < html_.size() ? at : -1;
    }

    bool StartTag()
    {
        qsizetype at = at_ + 1;
        const std::optional<std::string_view> name = Name(at);
        if (!name)
            return false;
        const Tag tag = TagOf(*name);
        if (tag == Tag::Unknown)
            return false;
        RawAttribute href, rel, alt, metaName, httpEquiv, content;
        qsizetype end = -1;
        switch (tag) {
        case Tag::A: end = Attributes(at, {{"href", &href}, {"rel", &rel}}); break;
        case Tag::Area: end = Attributes(at, {{"href", &href}, {"rel", &rel}, {"alt", &alt}}); break;
        case Tag::Img: end = Attributes(at, {{"alt", &alt}}); break;
        case Tag::Base: end = Attributes(at, {{"href", &href}}); break;
        case Tag::Link: end = Attributes(at, {{"href", &href}, {"rel", &rel}}); break;
        case Tag::Meta:
            end = Attributes(at, {{"name", &metaName}, {"http-equiv", &httpEquiv}, {"content", &content}});
            break;
        default: end = Attributes(at, {}); break;
        }
        if (end < 0)
            return false;
        const bool closed = html_[end] == u'/'; // "<p/>" ends the element at once
        at_ = end + (closed ? 2 : 1);

        if (InAnchor()) {
            switch (tag) {
            case Tag::A:
                if (!inline_.empty()) // libxml2 closes a link by a new one only when nothing else is open in it
                    return false;
                CloseAnchor();
                break;
            case Tag::Img: {
                std::optional<QString> text = Value(alt);
                if (!text)
                    return false;
                if (const QString shown = AltText(*text); !shown.isEmpty())
                    GiveAlt(reader_, shown);
                return true;
            }
            case Tag::Br: return true;
            case Tag::Raw: return closed || RawText(*name);
            case Tag::Inline:
            case Tag::Block:
                if (!closed)
                    inline_.push_back({std::string(*name), tag == Tag::Block});
                return true;
            default: return false;
            }
        }

        switch (tag) {
        case Tag::A:
        case Tag::Area: {
            if (!href.present)
                return true;
            const std::optional<QString> target = Value(href), relText = Value(rel), altText = Value(alt);
            if (!target || !relText || !altText)
                return false;
            AddCandidate(reader_, *target, relText->toUtf8(), tag == Tag::Area ? AltText(*altText) : QString());
            if (tag == Tag::A && !closed)
                reader_.anchors.push_back(reader_.candidates.size() - 1);
            return true;
        }
        case Tag::Base:
            if (!reader_.baseHref && href.present) {
                reader_.baseHref = Value(href);
                return reader_.baseHref.has_value();
            }
            return true;
        case Tag::Link: {
            if (!href.present)
                return true;
            const std::optional<QString> target = Value(href), relText = Value(rel);
            if (!target || !relText)
                return false;
            ReadLink(reader_, relText->toUtf8(), *target);
            return true;
        }
        case Tag::Meta: {
            const std::optional<QString> nameText = Value(metaName), equivText = Value(httpEquiv),
                                         contentText = Value(content);
            if (!nameText || !equivText || !contentText)
                return false;
            // Whether libxml2 still holds a <noscript> open here is its own rules' to say.
            if (sawNoScript_ && !reader_.refresh && IsWord(equivText->toUtf8().trimmed(), "refresh"))
                return false;
            ReadMeta(reader_, nameText->toUtf8(), equivText->toUtf8(), contentText->toUtf8());
            return true;
        }
        case Tag::NoScript: sawNoScript_ = true; return true;
        case Tag::Raw: return closed || RawText(*name);
        case Tag::Hidden: return closed || HiddenText(*name);
        default: return true;
        }
    }

    // At `at`, "</name" and its '>' with nothing but blanks between; answers past it, or -1.
    qsizetype EndTagOf(qsizetype at, std::string_view name) const
    {
        const QLatin1StringView latin(name.data(), static_cast<qsizetype>(name.size()));
        const qsizetype after = at + 2 + latin.size();
        if (after >= html_.size() || html_[at] != u'<' || html_[at + 1] != u'/' ||
            html_.sliced(at + 2, latin.size()).compare(latin, Qt::CaseInsensitive) != 0 || IsNameChar(html_[after]))
            return -1;
        const qsizetype close = SkipBlanks(after);
        return close < html_.size() && html_[close] == u'>' ? close + 1 : -1;
    }

    // A script or style up to its end tag, which libxml2 finds by its name alone.
    bool RawText(std::string_view name)
    {
        const QLatin1StringView latin(name.data(), static_cast<qsizetype>(name.size()));
        for (qsizetype close = html_.indexOf(u"</", at_); close >= 0; close = html_.indexOf(u"</", close + 2)) {
            if (html_.sliced(close + 2).startsWith(latin, Qt::CaseInsensitive)) {
                at_ = EndTagOf(close, name);
                return at_ >= 0;
            }
        }
        return false;
    }

    // A hidden element holding text alone up to its own end tag.
    bool HiddenText(std::string_view name)
    {
        const qsizetype close = html_.indexOf(u'<', at_);
        at_ = close < 0 ? -1 : EndTagOf(close, name);
        return at_ >= 0;
    }

    bool EndTag()
    {
        qsizetype at = at_ + 2;
        if (at == html_.size() || !IsAsciiLetter(html_[at]))
            return false;
        const std::optional<std::string_view> name = Name(at);
        at = SkipBlanks(at);
        if (!name || at == html_.size() || html_[at] != u'>')
            return false;
        at_ = at + 1;
        if (!InAnchor())
            return true;
        const auto open = std::find_if(inline_.rbegin(), inline_.rend(),
                                       [&](const OpenInLink &element) { return element.name == *name; });
        if (*name != "a" && open == inline_.rend()) // whether it closes an element around the link is libxml2's to say
            return false;
        // An end tag closes the elements open after its own unless one outranks it (a <div> the
        // end of a link or a <span>), when libxml2 ignores it: what follows is then its to read.
        const auto after = *name == "a" ? inline_.begin() : open.base();
        if (std::any_of(after, inline_.end(), [](const OpenInLink &element) { return element.outranksLink; }) &&
            (*name == "a" || !std::prev(after)->outranksLink))
            return false;
        if (*name == "a")
            CloseAnchor();
        else
            inline_.erase(std::prev(after), inline_.end());
        return true;
    }

    void CloseAnchor()
    {
        reader_.candidates[reader_.anchors.back()].textEnd = reader_.text.size();
        reader_.anchors.pop_back();
        inline_.clear();
    }

    // Calls out with each piece of raw text, its character references read as libxml2 reads
    // them; false at a reference or character libxml2 reads otherwise.
    template <typename Out>
    static bool ReadReferences(QStringView raw, Out out)
    {
        for (qsizetype i = 0; i < raw.size();) {
            const qsizetype amp = raw.indexOf(u'&', i);
            const QStringView plain = raw.sliced(i, (amp < 0 ? raw.size() : amp) - i);
            for (qsizetype k = 0; k < plain.size(); ++k) {
                char32_t c = plain[k].unicode();
                if (QChar::isHighSurrogate(c) && k + 1 < plain.size() && plain[k + 1].isLowSurrogate()) {
                    c = QChar::surrogateToUcs4(plain[k], plain[k + 1]);
                    ++k;
                }
                if (!IsPassedOn(c))
                    return false;
            }
            out(plain);
            if (amp < 0)
                break;
            i = amp + 1;
            if (i < raw.size() && raw[i] == u'#') {
                const bool hex = i + 1 < raw.size() && (raw[i + 1] == u'x' || raw[i + 1] == u'X');
                qsizetype end = i + (hex ? 2 : 1);
                char32_t value = 0;
                for (; end < raw.size() && end - i < 9 && raw[end] != u';'; ++end) {
                    const char16_t c = raw[end].unicode(), lower = c | 0x20;
                    if (c >= u'0' && c <= u'9')
                        value = value * (hex ? 16 : 10) + (c - u'0');
                    else if (hex && lower >= u'a' && lower <= u'f')
                        value = value * 16 + (lower - u'a' + 10);
                    else
                        return false;
                }
                if (end == raw.size() || raw[end] != u';' || end == i + (hex ? 2 : 1) || !IsPassedOn(value))
                    return false;
                const char32_t one[] = {value};
                out(QString::fromUcs4(one, 1));
                i = end + 1;
                continue;
            }
            // An entity reference: a known name and ';' give its character, else the text stays.
            qsizetype end = i;
            while (end < raw.size() && raw[end].unicode() < 0x80 && IsNameChar(raw[end]))
                ++end;
            char name[16];
            if (end < raw.size() && raw[end] == u';' && end - i < qsizetype(sizeof name)) {
                for (qsizetype k = i; k < end; ++k)
                    name[k - i] = static_cast<char>(raw[k].unicode());
                name[end - i] = '\0';
                if (const htmlEntityDesc *entity = htmlEntityLookup(reinterpret_cast<const xmlChar *>(name))) {
                    const char32_t one[] = {entity->value};
                    out(QString::fromUcs4(one, 1));
                    i = end + 1;
                    continue;
                }
            }
            out(u"&");
        }
        return true;
    }

    static std::optional<QString> Value(const RawAttribute &attribute)
    {
        QString value;
        if (!ReadReferences(attribute.value, [&](QStringView piece) { value += piece; }))
            return std::nullopt;
        return value;
    }

    bool AppendText(QStringView raw)
    {
        return ReadReferences(raw, [&](QStringView piece) { AppendAnchorText(reader_, piece); });
    }

    QStringView html_;
    qsizetype at_ = 0;
    Reader reader_;
    struct OpenInLink {
        std::string name;
        bool outranksLink = false;
    };
    std::vector<OpenInLink> inline_; // elements open in the link, innermost last
    bool sawNoScript_ = false;
    char name_[kLongestName + 1] = {};
};

Reader Parse(QStringView html)
{
    htmlSAXHandler handler{};
    handler.startElement = StartElement;
    handler.endElement = EndElement;
    handler.characters = Characters;
    handler.ignorableWhitespace = Characters;
    Reader reader;
    ParseHtml(html.toUtf8(), "UTF-8", handler, &reader);
    return reader;
}

// Two addresses of one page: the same but for a fragment, dot segments or an empty path.
bool SamePage(const QUrl &a, const QUrl &b)
{
    const auto normal = [](const QUrl &url) {
        QUrl page = url.adjusted(QUrl::RemoveFragment | QUrl::NormalizePathSegments);
        if (page.path().isEmpty())
            page.setPath(QStringLiteral("/"));
        return page.toString(QUrl::FullyEncoded);
    };
    return normal(a) == normal(b);
}

Reader ReadPage(QStringView html, PageReading reading)
{
    if (reading == PageReading::Scanned)
        if (std::optional<Reader> scanned = PageScanner(html).Scan())
            return std::move(*scanned);
    return Parse(html);
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
                                 QByteArrayView robotsHeader, PageReading reading)
{
    const Reader reader = ReadPage(html, reading);
    PageEvidence evidence;
    evidence.robots = reader.robots;
    ApplyRobotsHeader(robotsHeader, evidence.robots);

    QUrl base = pageUrl;
    if (const std::optional<QUrl> declared = reader.baseHref ? ParseHref(*reader.baseHref) : std::nullopt) {
        if (const QUrl resolved = pageUrl.resolved(*declared); resolved.isValid() && !resolved.isRelative())
            base = resolved;
    }
    if (const std::optional<QUrl> to = reader.refresh ? ParseHref(QString::fromUtf8(reader.refresh->url)) : std::nullopt)
        if (const QUrl resolved = base.resolved(*to); resolved.isValid() && !resolved.isRelative())
            evidence.refresh = RefreshEvidence{reader.refresh->seconds, resolved};
    if (const std::optional<QUrl> declared = reader.canonicalHref ? ParseHref(*reader.canonicalHref) : std::nullopt)
        if (const QUrl resolved = base.resolved(*declared); resolved.isValid() && !resolved.isRelative() &&
                                                          !SamePage(resolved, pageUrl))
            evidence.canonical = resolved.toString();
    const QString aceDomain = AceHost(SiteDomain(domain));
    const QString aceSite = AceHost(SiteDomain(pageUrl.host(QUrl::FullyEncoded)));
    evidence.outboundLinks = 0;
    for (const Candidate &candidate : reader.candidates) {
        const std::optional<QUrl> href = ParseHref(candidate.href);
        if (!href)
            continue;
        const QUrl url = base.resolved(*href);
        if (!url.isValid() || (url.scheme() != u"http" && url.scheme() != u"https"))
            continue;
        const QString host = AceHost(url.host(QUrl::FullyEncoded));
        const bool toDomain = AceHostMatches(host, aceDomain);
        if (!toDomain && !AceHostMatches(host, aceSite))
            ++*evidence.outboundLinks;
        if (!toDomain)
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
