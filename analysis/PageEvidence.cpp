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
    bool stretchInLink = false; // a left-out stretch began inside a link
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

// The page as the parser needs to see it. Stretches with no link, image, base or meta in them
// are handed over as their bare skeleton: each tag without its attributes, each run of text as
// one character (blank or not), comments and script or style contents left out. The parser
// opens and closes the same elements (its rules look at nothing else), so links, hidden content
// and the head come out as on the whole page, while most of a large page's bytes are never
// parsed. A processing instruction marks where such a stretch begins: an <a> the parser still
// holds open there would lose its text, and the whole page is parsed instead. The lexer follows
// libxml2's reading of tags, comments and raw text; whatever it does not know is handed over
// as it is, with the rest of the page. A stretch that ends the page is left out whole.

constexpr char16_t kStretchMark[] = u"<?v>";
constexpr qsizetype kShortestStretch = 256; // shorter ones are handed over as they are
constexpr qsizetype kLongestName = 100;     // the parser cuts longer names

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

bool IsOneOf(std::string_view name, std::initializer_list<std::string_view> names)
{
    return std::find(names.begin(), names.end(), name) != names.end();
}

enum class TagRole : quint8 {
    Skeleton, // only its name counts
    Looked,   // read by the evidence, or opens the head or body: handed over as it is
    Raw,      // script and style: their content is text up to their end tag
};

TagRole RoleOf(std::string_view name)
{
    if (IsOneOf(name, {"a", "area", "img", "base", "meta", "html", "head", "body", "frameset"}))
        return TagRole::Looked;
    return IsOneOf(name, {"script", "style"}) ? TagRole::Raw : TagRole::Skeleton;
}

// Elements without content or end tag.
bool IsVoid(std::string_view name)
{
    return IsOneOf(name, {"br", "hr", "img", "input", "link", "meta", "area", "base", "col", "param", "embed",
                          "source", "track", "wbr", "basefont", "frame", "isindex", "keygen"});
}

class PageReducer {
public:
    PageReducer(QStringView html, qsizetype shortestStretch) : html_(html), shortestStretch_(shortestStretch) {}

    QString Reduce()
    {
        qsizetype at = 0;
        while (at < html_.size()) {
            const qsizetype next = Token(at);
            if (next < 0) { // not known: the rest as it is
                KeepFrom(at);
                break;
            }
            at = next;
        }
        if (stretchBegin_ >= 0) // nothing after the last stretch counts
            out_ += kStretchMark;
        return out_;
    }

private:
    using Parts = std::initializer_list<std::string_view>;

    // Reads the token at html_[at], hands it over, and answers where the next begins; -1 when
    // it cannot tell.
    qsizetype Token(qsizetype at)
    {
        if (html_[at] != u'<')
            return Text(at);
        if (at + 1 >= html_.size())
            return -1;
        const QChar second = html_[at + 1];
        if (IsAsciiLetter(second))
            return StartTag(at);
        if (second == u'/')
            return EndTag(at);
        if (html_.sliced(at).startsWith(u"<!--")) {
            const qsizetype close = html_.indexOf(u"-->", at + 4);
            if (close < 0)
                return -1;
            Skeleton(at, close + 3, {});
            return close + 3;
        }
        if (html_.sliced(at).startsWith(u"<!doctype", Qt::CaseInsensitive) ||
            (second == u'?' && at + 2 < html_.size() && IsAsciiLetter(html_[at + 2]))) {
            const qsizetype end = DeclarationEnd(at);
            if (end > 0)
                Keep(at, end);
            return end;
        }
        return -1;
    }

    // A run of text up to the next markup, as one character: blank or not.
    qsizetype Text(qsizetype at)
    {
        qsizetype end = html_.indexOf(u'<', at + 1);
        while (end >= 0 && end + 1 < html_.size() && !StartsMarkup(end))
            end = html_.indexOf(u'<', end + 1);
        end = end < 0 ? html_.size() : end;
        const std::string_view mark = std::all_of(html_.begin() + at, html_.begin() + end, IsBlank) ? " " : "x";
        Skeleton(at, end, {SkeletonEndsWith({mark}) ? std::string_view() : mark}); // runs side by side are one
        return end;
    }

    // Where the parser takes a '<' for the start of markup rather than text.
    bool StartsMarkup(qsizetype at) const
    {
        const QChar second = html_[at + 1];
        return IsAsciiLetter(second) || second == u'/' || second == u'!' || second == u'?';
    }

    // The end of a doctype or processing instruction: its first '>', unless a quote could hide it.
    qsizetype DeclarationEnd(qsizetype at) const
    {
        const qsizetype close = html_.indexOf(u'>', at);
        QChar quote;
        for (qsizetype i = at; i < close; ++i) {
            if (quote.isNull() && (html_[i] == u'"' || html_[i] == u'\''))
                quote = html_[i];
            else if (html_[i] == quote)
                quote = QChar();
        }
        return close < 0 || !quote.isNull() ? -1 : close + 1;
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

    // The tag name at html_[at] in lower case, as the parser reads it; nothing when too long.
    std::optional<std::string_view> Name(qsizetype at)
    {
        qsizetype size = 0;
        for (; at + size < html_.size() && IsNameChar(html_[at + size]); ++size) {
            if (size == kLongestName)
                return std::nullopt;
            name_[size] = static_cast<char>(html_[at + size].unicode() | (IsAsciiLetter(html_[at + size]) ? 0x20 : 0));
        }
        return std::string_view(name_, size);
    }

    qsizetype StartTag(qsizetype at)
    {
        const std::optional<std::string_view> name = Name(at + 1);
        if (!name)
            return -1;
        qsizetype i = at + 1 + name->size();
        for (i = SkipBlanks(i); i < html_.size() && !EndsTag(i); i = SkipBlanks(i)) {
            const bool named = IsAsciiLetter(html_[i]) || html_[i] == u'_' || html_[i] == u':' || html_[i] == u'.';
            if (!named) { // a bogus attribute, dropped up to a blank or the end of the tag
                while (i < html_.size() && !IsBlank(html_[i]) && !EndsTag(i))
                    ++i;
                continue;
            }
            while (i < html_.size() && IsNameChar(html_[i]))
                ++i;
            i = SkipBlanks(i);
            if (i >= html_.size() || html_[i] != u'=')
                continue;
            i = SkipBlanks(i + 1);
            if (i < html_.size() && (html_[i] == u'"' || html_[i] == u'\'')) {
                const qsizetype close = html_.indexOf(html_[i], i + 1);
                if (close < 0)
                    return -1;
                i = close + 1;
            } else {
                while (i < html_.size() && !IsBlank(html_[i]) && html_[i] != u'>')
                    ++i;
            }
        }
        if (i >= html_.size())
            return -1;
        const bool closed = html_[i] == u'/'; // "<p/>" ends the element at once
        const qsizetype end = i + (closed ? 2 : 1);
        switch (RoleOf(*name)) {
        case TagRole::Looked:
            Keep(at, end);
            if (!closed && *name == "a")
                ++openLinks_;
            return end;
        case TagRole::Raw:
            if (!closed)
                return RawElement(at, end, *name);
            break;
        case TagRole::Skeleton: break;
        }
        Skeleton(at, end, {"<", *name, closed ? "/>" : ">"});
        return end;
    }

    // A script or style up to its end tag, which the parser finds by its name alone.
    qsizetype RawElement(qsizetype at, qsizetype contentBegin, std::string_view name)
    {
        const QLatin1StringView latin(name.data(), static_cast<qsizetype>(name.size()));
        for (qsizetype close = html_.indexOf(u"</", contentBegin); close >= 0; close = html_.indexOf(u"</", close + 2)) {
            const qsizetype after = close + 2 + latin.size();
            if (after > html_.size() || html_.sliced(close + 2, latin.size()).compare(latin, Qt::CaseInsensitive) != 0)
                continue;
            const qsizetype end = html_.indexOf(u'>', after) + 1;
            if (after == html_.size() || IsNameChar(html_[after]) || end == 0)
                return -1;
            Skeleton(at, end, {"<", name, "></", name, ">"});
            return end;
        }
        return -1;
    }

    qsizetype EndTag(qsizetype at)
    {
        if (at + 2 >= html_.size() || !IsAsciiLetter(html_[at + 2]))
            return -1;
        const std::optional<std::string_view> name = Name(at + 2);
        const qsizetype end = html_.indexOf(u'>', at + 2) + 1;
        if (!name || end == 0)
            return -1;
        if (RoleOf(*name) == TagRole::Looked) {
            Keep(at, end);
            if (*name == "a" && openLinks_ > 0)
                --openLinks_;
        } else if (openLinks_ > 0 || IsVoid(*name)) {
            Skeleton(at, end, {"</", *name, ">"});
        } else {
            EndOfElement(at, end, *name);
        }
        return end;
    }

    // An element whose content is text alone changes nothing but by its start tag, and again
    // after itself changes nothing at all: "<p>x</p> <p>x</p> " is handed over as "<p></p> ".
    void EndOfElement(qsizetype at, qsizetype end, std::string_view name)
    {
        const Parts bare = {"<", name, "></", name, ">"};
        if (!DropEnding({"<", name, ">x"}) && !DropEnding({"<", name, "> "}) && !DropEnding({"<", name, ">"}))
            Skeleton(at, end, {"</", name, ">"});
        else if (SkeletonEndsWith(bare) || SkeletonEndsWith({"<", name, "></", name, "> "}))
            Skeleton(at, end, {});
        else
            Skeleton(at, end, bare);
    }

    bool SkeletonEndsWith(Parts parts) const
    {
        qsizetype from = skeleton_.size();
        for (const std::string_view part : parts)
            from -= static_cast<qsizetype>(part.size());
        if (from < 0)
            return false;
        for (const std::string_view part : parts) {
            if (std::string_view(skeleton_.data() + from, part.size()) != part)
                return false;
            from += static_cast<qsizetype>(part.size());
        }
        return true;
    }

    bool DropEnding(Parts parts)
    {
        if (!SkeletonEndsWith(parts))
            return false;
        for (const std::string_view part : parts)
            skeleton_.chop(static_cast<qsizetype>(part.size()));
        return true;
    }

    // html_[at, end) as the bare form given, unless it is inside a link.
    void Skeleton(qsizetype at, qsizetype end, Parts bare)
    {
        if (openLinks_ > 0)
            return Keep(at, end);
        if (stretchBegin_ < 0)
            stretchBegin_ = at;
        for (const std::string_view part : bare)
            skeleton_.append(part.data(), static_cast<qsizetype>(part.size()));
    }

    void Keep(qsizetype at, qsizetype end)
    {
        if (stretchBegin_ >= 0) {
            if (at - stretchBegin_ < shortestStretch_) {
                out_ += html_.sliced(stretchBegin_, at - stretchBegin_);
            } else {
                out_ += kStretchMark;
                out_ += QLatin1StringView(skeleton_);
            }
            stretchBegin_ = -1;
            skeleton_.clear(); // the next stretch reads nothing of this one
        }
        out_ += html_.sliced(at, end - at);
    }

    void KeepFrom(qsizetype at)
    {
        if (stretchBegin_ >= 0) // a stretch cut short is handed over as it is
            at = std::exchange(stretchBegin_, -1);
        out_ += html_.sliced(at);
    }

    QStringView html_;
    qsizetype shortestStretch_;
    QString out_;
    QByteArray skeleton_;           // of the stretch being read: ASCII names and marks
    qsizetype stretchBegin_ = -1;   // where the stretch being read began, if one is
    int openLinks_ = 0;             // <a> start tags not yet ended by an </a>
    char name_[kLongestName] = {};
};

void Parse(QStringView html, Reader &reader)
{
    htmlSAXHandler handler{};
    handler.startElement = StartElement;
    handler.endElement = EndElement;
    handler.characters = Characters;
    handler.ignorableWhitespace = Characters;
    handler.processingInstruction = [](void *context, const xmlChar *, const xmlChar *) {
        Reader &reader = *static_cast<Reader *>(context);
        reader.stretchInLink = reader.stretchInLink || !reader.anchors.empty();
    };
    ParseHtml(html.toUtf8(), "UTF-8", handler, &reader);
}

Reader ReadPage(QStringView html, PageReading reading)
{
    if (reading != PageReading::Whole && !html.contains(QChar(0))) { // which the parser takes for the end
        Reader reader;
        Parse(PageReducer(html, reading == PageReading::Reduced ? kShortestStretch : 0).Reduce(), reader);
        if (!reader.stretchInLink)
            return reader;
    }
    Reader reader;
    Parse(html, reader);
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
