#include "Charset.h"
#include "HtmlParse.h"

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace vantorel {

namespace {

struct Encoding {
    const char *name;   // as WHATWG names it
    const char *icu;    // the ICU converter that reads it; nullptr for those DecodeBody reads itself
    const char *labels; // every WHATWG label of it, space separated
};

// WHATWG's label table.
constexpr Encoding kEncodings[] = {
    {"UTF-8", "UTF-8", "unicode-1-1-utf-8 unicode11utf8 unicode20utf8 utf-8 utf8 x-unicode20utf8"},
    {"IBM866", "ibm-866", "866 cp866 csibm866 ibm866"},
    {"ISO-8859-2", "ISO-8859-2",
     "csisolatin2 iso-8859-2 iso-ir-101 iso8859-2 iso88592 iso_8859-2 iso_8859-2:1987 l2 latin2"},
    {"ISO-8859-3", "ISO-8859-3",
     "csisolatin3 iso-8859-3 iso-ir-109 iso8859-3 iso88593 iso_8859-3 iso_8859-3:1988 l3 latin3"},
    {"ISO-8859-4", "ISO-8859-4",
     "csisolatin4 iso-8859-4 iso-ir-110 iso8859-4 iso88594 iso_8859-4 iso_8859-4:1988 l4 latin4"},
    {"ISO-8859-5", "ISO-8859-5",
     "csisolatincyrillic cyrillic iso-8859-5 iso-ir-144 iso8859-5 iso88595 iso_8859-5 iso_8859-5:1988"},
    {"ISO-8859-6", "ISO-8859-6",
     "arabic asmo-708 csiso88596e csiso88596i csisolatinarabic ecma-114 iso-8859-6 iso-8859-6-e "
     "iso-8859-6-i iso-ir-127 iso8859-6 iso88596 iso_8859-6 iso_8859-6:1987"},
    {"ISO-8859-7", "ISO-8859-7",
     "csisolatingreek ecma-118 elot_928 greek greek8 iso-8859-7 iso-ir-126 iso8859-7 iso88597 "
     "iso_8859-7 iso_8859-7:1987 sun_eu_greek"},
    {"ISO-8859-8", "ISO-8859-8",
     "csiso88598e csisolatinhebrew hebrew iso-8859-8 iso-8859-8-e iso-ir-138 iso8859-8 iso88598 "
     "iso_8859-8 iso_8859-8:1988 visual"},
    {"ISO-8859-8-I", "ISO-8859-8-I", "csiso88598i iso-8859-8-i logical"},
    {"ISO-8859-10", "ISO-8859-10", "csisolatin6 iso-8859-10 iso-ir-157 iso8859-10 iso885910 l6 latin6"},
    {"ISO-8859-13", "ISO-8859-13", "iso-8859-13 iso8859-13 iso885913"},
    {"ISO-8859-14", "ISO-8859-14", "iso-8859-14 iso8859-14 iso885914"},
    {"ISO-8859-15", "ISO-8859-15", "csisolatin9 iso-8859-15 iso8859-15 iso885915 iso_8859-15 l9"},
    {"ISO-8859-16", nullptr, "iso-8859-16"}, // not in Debian's ICU data
    {"KOI8-R", "KOI8-R", "cskoi8r koi koi8 koi8-r koi8_r"},
    {"KOI8-U", "KOI8-U", "koi8-ru koi8-u"},
    {"macintosh", "macintosh", "csmacintosh mac macintosh x-mac-roman"},
    {"windows-874", "windows-874", "dos-874 iso-8859-11 iso8859-11 iso885911 tis-620 windows-874"},
    {"windows-1250", "windows-1250", "cp1250 windows-1250 x-cp1250"},
    {"windows-1251", "windows-1251", "cp1251 windows-1251 x-cp1251"},
    {"windows-1252", "windows-1252",
     "ansi_x3.4-1968 ascii cp1252 cp819 csisolatin1 ibm819 iso-8859-1 iso-ir-100 iso8859-1 iso88591 "
     "iso_8859-1 iso_8859-1:1987 l1 latin1 us-ascii windows-1252 x-cp1252"},
    {"windows-1253", "windows-1253", "cp1253 windows-1253 x-cp1253"},
    {"windows-1254", "windows-1254",
     "cp1254 csisolatin5 iso-8859-9 iso-ir-148 iso8859-9 iso88599 iso_8859-9 iso_8859-9:1989 l5 "
     "latin5 windows-1254 x-cp1254"},
    {"windows-1255", "windows-1255", "cp1255 windows-1255 x-cp1255"},
    {"windows-1256", "windows-1256", "cp1256 windows-1256 x-cp1256"},
    {"windows-1257", "windows-1257", "cp1257 windows-1257 x-cp1257"},
    {"windows-1258", "windows-1258", "cp1258 windows-1258 x-cp1258"},
    {"x-mac-cyrillic", "x-mac-cyrillic", "x-mac-cyrillic x-mac-ukrainian"},
    {"GBK", "gb18030", "chinese csgb2312 csiso58gb231280 gb2312 gb_2312 gb_2312-80 gbk iso-ir-58 x-gbk"},
    {"gb18030", "gb18030", "gb18030"},
    // WHATWG's Big5 carries the Hong Kong additions; its EUC-KR is Windows' UHC superset.
    {"Big5", "Big5-HKSCS", "big5 big5-hkscs cn-big5 csbig5 x-x-big5"},
    {"EUC-JP", "EUC-JP", "cseucpkdfmtjapanese euc-jp x-euc-jp"},
    {"ISO-2022-JP", "ISO-2022-JP", "csiso2022jp iso-2022-jp"},
    {"Shift_JIS", "windows-31j", "csshiftjis ms932 ms_kanji shift-jis shift_jis sjis windows-31j x-sjis"},
    {"EUC-KR", "windows-949",
     "cseuckr csksc56011987 euc-kr iso-ir-149 korean ks_c_5601-1987 ks_c_5601-1989 ksc5601 ksc_5601 "
     "windows-949"},
    // Encodings browsers refuse to read (HZ, ISO-2022-KR and the like): a page in one is one U+FFFD.
    {"replacement", nullptr, "csiso2022kr hz-gb-2312 iso-2022-cn iso-2022-cn-ext iso-2022-kr replacement"},
    {"UTF-16BE", "UTF-16BE", "unicodefffe utf-16be"},
    {"UTF-16LE", "UTF-16LE", "csunicode iso-10646-ucs-2 ucs-2 unicode unicodefeff utf-16 utf-16le"},
    {"x-user-defined", nullptr, "x-user-defined"},
};

bool IsAscii(QByteArrayView bytes)
{
    return std::all_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

QByteArrayView Trimmed(QByteArrayView text, bool (*isSpace)(char))
{
    while (!text.isEmpty() && isSpace(text.front()))
        text = text.sliced(1);
    while (!text.isEmpty() && isSpace(text.back()))
        text.chop(1);
    return text;
}

char AsciiLower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c;
}

bool EqualsIgnoringAsciiCase(QByteArrayView text, std::string_view lower)
{
    return text.size() == static_cast<qsizetype>(lower.size()) &&
           std::equal(text.begin(), text.end(), lower.begin(), [](char a, char b) { return AsciiLower(a) == b; });
}

const Encoding *FindEncoding(QByteArrayView label)
{
    static const auto byLabel = [] {
        std::unordered_map<std::string_view, const Encoding *> map;
        for (const Encoding &encoding : kEncodings) {
            const std::string_view labels = encoding.labels;
            for (size_t at = 0; at < labels.size();) {
                const size_t end = std::min(labels.find(' ', at), labels.size());
                map.emplace(labels.substr(at, end - at), &encoding);
                at = end + 1;
            }
        }
        return map;
    }();

    label = Trimmed(label, IsHtmlSpace);
    constexpr qsizetype kLongestLabel = 32; // longer is no label; spares lowering megabytes
    if (label.isEmpty() || label.size() > kLongestLabel)
        return nullptr;
    std::string lower(label.begin(), label.end());
    std::transform(lower.begin(), lower.end(), lower.begin(), AsciiLower);
    const auto found = byLabel.find(lower);
    return found == byLabel.end() ? nullptr : found->second;
}

const Encoding &Named(QByteArrayView label)
{
    return *FindEncoding(label);
}

const Encoding *EncodingOfByteOrderMark(QByteArrayView body)
{
    if (body.startsWith("\xEF\xBB\xBF"))
        return &Named("utf-8");
    if (body.startsWith("\xFE\xFF"))
        return &Named("utf-16be");
    if (body.startsWith("\xFF\xFE"))
        return &Named("utf-16le");
    return nullptr;
}

// --- The Content-Type header, parsed as browsers parse a MIME type.

bool IsHttpWhitespace(char c)
{
    return c == '\t' || c == '\n' || c == '\r' || c == ' ';
}

QByteArrayView TrimmedHttp(QByteArrayView text)
{
    return Trimmed(text, IsHttpWhitespace);
}

bool IsToken(QByteArrayView text)
{
    static constexpr std::string_view kMarks = "!#$%&'*+-.^_`|~";
    return !text.isEmpty() && std::all_of(text.begin(), text.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
               kMarks.find(c) != std::string_view::npos;
    });
}

bool IsQuotedStringText(QByteArrayView text)
{
    return std::all_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte == '\t' || (byte >= 0x20 && byte != 0x7F);
    });
}

// Reads the quoted string that starts at `at`, unescaping backslashes; leaves `at` after it.
QByteArray TakeQuotedString(QByteArrayView text, qsizetype &at)
{
    QByteArray value;
    for (++at; at < text.size(); ++at) {
        const char c = text[at];
        if (c == '"') {
            ++at;
            break;
        }
        if (c == '\\') {
            if (++at == text.size()) {
                value.append('\\');
                break;
            }
        }
        value.append(text[at]);
    }
    return value;
}

// The charset parameter of a Content-Type value, or nothing. An invalid type or subtype voids
// the whole value, and the first valid charset parameter counts.
QByteArray CharsetParameter(QByteArrayView header)
{
    header = TrimmedHttp(header);
    const qsizetype slash = header.indexOf('/');
    if (slash < 0 || !IsToken(header.first(slash)))
        return {};
    qsizetype at = header.indexOf(';', slash);
    if (at < 0)
        at = header.size();
    QByteArrayView subtype = header.sliced(slash + 1, at - slash - 1);
    while (!subtype.isEmpty() && IsHttpWhitespace(subtype.back()))
        subtype.chop(1);
    if (!IsToken(subtype))
        return {};

    while (at < header.size()) {
        ++at; // the ';'
        while (at < header.size() && IsHttpWhitespace(header[at]))
            ++at;
        const qsizetype nameStart = at;
        while (at < header.size() && header[at] != ';' && header[at] != '=')
            ++at;
        const QByteArrayView name = header.sliced(nameStart, at - nameStart);
        if (at == header.size())
            break;
        if (header[at] == ';')
            continue;
        if (++at == header.size()) // the '='
            break;

        QByteArray value;
        if (header[at] == '"') {
            value = TakeQuotedString(header, at);
            while (at < header.size() && header[at] != ';')
                ++at;
        } else {
            qsizetype end = header.indexOf(';', at);
            if (end < 0)
                end = header.size();
            value = TrimmedHttp(header.sliced(at, end - at)).toByteArray();
            at = end;
            if (value.isEmpty())
                continue;
        }
        if (EqualsIgnoringAsciiCase(name, "charset") && IsQuotedStringText(value))
            return value;
    }
    return {};
}

// --- The prescan: <meta> and XML declarations read from the bytes as browsers read them.

// The encoding a meta's content attribute names ("text/html; charset=..."), or nullptr.
const Encoding *EncodingInMetaContent(QByteArrayView content)
{
    constexpr std::string_view kCharset = "charset";
    const auto size = content.size();
    for (qsizetype at = 0; at + static_cast<qsizetype>(kCharset.size()) <= size;) {
        if (!EqualsIgnoringAsciiCase(content.sliced(at, kCharset.size()), kCharset)) {
            ++at;
            continue;
        }
        at += kCharset.size();
        while (at < size && IsHtmlSpace(content[at]))
            ++at;
        if (at == size || content[at] != '=')
            continue; // look for the next "charset"
        for (++at; at < size && IsHtmlSpace(content[at]);)
            ++at;
        if (at == size)
            return nullptr;
        const char quote = content[at];
        if (quote == '"' || quote == '\'') {
            const qsizetype close = content.indexOf(quote, at + 1);
            return close < 0 ? nullptr : FindEncoding(content.sliced(at + 1, close - at - 1));
        }
        qsizetype end = at;
        while (end < size && !IsHtmlSpace(content[end]) && content[end] != ';')
            ++end;
        return FindEncoding(content.sliced(at, end - at));
    }
    return nullptr;
}

// What a page that names UTF-16 in ASCII-readable bytes (it cannot be UTF-16) or x-user-defined
// is read in.
const Encoding *AsDeclaredInPage(const Encoding *encoding)
{
    const std::string_view name = encoding->name;
    if (name == "UTF-16BE" || name == "UTF-16LE")
        return &Named("utf-8");
    return name == "x-user-defined" ? &Named("windows-1252") : encoding;
}

bool IsAsciiLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// "<meta" in any case, then white space or '/'.
bool IsMetaTag(QByteArrayView rest)
{
    return rest.size() > 5 && EqualsIgnoringAsciiCase(rest.first(5), "<meta") &&
           (IsHtmlSpace(rest[5]) || rest[5] == '/');
}

// '<', maybe '/', then a letter.
bool IsTag(QByteArrayView rest)
{
    const qsizetype letter = rest.size() > 1 && rest[1] == '/' ? 2 : 1;
    return rest.size() > letter && IsAsciiLetter(rest[letter]);
}

// Walks the bytes as the prescan does: comments, tags and their attributes, until a <meta>
// names an encoding or the bytes run out. It looks at no byte past the view it is given.
class MetaScan {
public:
    explicit MetaScan(QByteArrayView bytes) : bytes_(bytes) {}

    // The first <meta>'s encoding; nullptr when the bytes run out before one names any.
    const Encoding *Run();

private:
    struct Attribute {
        QByteArrayView name;  // as written: compared ignoring ASCII case
        QByteArrayView value; // likewise
    };
    enum class Read { Attribute, None, OutOfBytes };

    bool AtEnd() const { return at_ >= bytes_.size(); }
    bool SkipWhile(bool (*skip)(char));
    std::optional<const Encoding *> ReadMeta(); // nullopt: out of bytes; nullptr: names none
    Read GetAttribute(Attribute &attribute);
    Read GetValue(Attribute &attribute);

    QByteArrayView bytes_;
    qsizetype at_ = 0;
};

const Encoding *MetaScan::Run()
{
    // Bytes outside markup say nothing: go from '<' to '<'.
    while ((at_ = bytes_.indexOf('<', at_)) >= 0) {
        const QByteArrayView rest = bytes_.sliced(at_);
        if (rest.startsWith("<!--")) {
            // The dashes of "<!--" may close it too: "<!-->" is a whole comment.
            at_ = bytes_.indexOf("-->", at_ + 2);
            if (at_ < 0)
                return nullptr;
            at_ += 2;
        } else if (IsMetaTag(rest)) {
            at_ += 5;
            const std::optional<const Encoding *> declared = ReadMeta();
            if (!declared)
                return nullptr;
            if (*declared)
                return *declared;
        } else if (IsTag(rest)) {
            // Any other tag, end tags too: its attributes are read past, so that a '>' or a
            // "<meta" inside a quoted value ends nothing.
            while (!AtEnd() && !IsHtmlSpace(bytes_[at_]) && bytes_[at_] != '>')
                ++at_;
            Attribute skipped;
            Read read;
            while ((read = GetAttribute(skipped)) == Read::Attribute) {
            }
            if (read == Read::OutOfBytes)
                return nullptr;
        } else if (rest.startsWith("<!") || rest.startsWith("</") || rest.startsWith("<?")) {
            at_ = bytes_.indexOf('>', at_ + 1);
            if (at_ < 0)
                return nullptr;
        }
        ++at_;
    }
    return nullptr;
}

// What one <meta> declares: a charset attribute, or a content attribute with a charset
// together with http-equiv="content-type". The first of repeated attributes counts.
std::optional<const Encoding *> MetaScan::ReadMeta()
{
    bool gotPragma = false;
    std::optional<bool> needPragma;
    std::optional<const Encoding *> charset; // set to nullptr by a label no encoding answers to
    bool seenHttpEquiv = false, seenContent = false, seenCharset = false;
    for (Attribute attribute;;) {
        const Read read = GetAttribute(attribute);
        if (read == Read::OutOfBytes)
            return std::nullopt;
        if (read == Read::None)
            break;
        const auto first = [&attribute](std::string_view name, bool &seen) {
            if (seen || !EqualsIgnoringAsciiCase(attribute.name, name))
                return false;
            seen = true;
            return true;
        };
        if (first("http-equiv", seenHttpEquiv)) {
            gotPragma = EqualsIgnoringAsciiCase(attribute.value, "content-type");
        } else if (first("content", seenContent)) {
            const Encoding *named = EncodingInMetaContent(attribute.value);
            if (named && !charset) {
                charset = named;
                needPragma = true;
            }
        } else if (first("charset", seenCharset)) {
            charset = FindEncoding(attribute.value);
            needPragma = false;
        }
    }
    if (!needPragma || (*needPragma && !gotPragma) || !*charset)
        return nullptr;
    return AsDeclaredInPage(*charset);
}

bool MetaScan::SkipWhile(bool (*skip)(char))
{
    while (!AtEnd() && skip(bytes_[at_]))
        ++at_;
    return !AtEnd();
}

// One attribute of a tag, from where the last one ended; None at the tag's '>'.
MetaScan::Read MetaScan::GetAttribute(Attribute &attribute)
{
    if (!SkipWhile([](char c) { return IsHtmlSpace(c) || c == '/'; }))
        return Read::OutOfBytes;
    if (bytes_[at_] == '>')
        return Read::None;
    attribute = {};
    const qsizetype nameStart = at_;
    for (;; ++at_) {
        if (AtEnd())
            return Read::OutOfBytes;
        const char c = bytes_[at_];
        if (c == '=' && at_ > nameStart) { // a leading '=' belongs to the name
            attribute.name = bytes_.sliced(nameStart, at_ - nameStart);
            ++at_;
            return GetValue(attribute);
        }
        if (IsHtmlSpace(c) || c == '/' || c == '>')
            break;
    }
    attribute.name = bytes_.sliced(nameStart, at_ - nameStart);
    if (bytes_[at_] == '/' || bytes_[at_] == '>')
        return Read::Attribute;
    // Spaces may stand before the '='; without one the attribute has no value.
    if (!SkipWhile(IsHtmlSpace))
        return Read::OutOfBytes;
    if (bytes_[at_] != '=')
        return Read::Attribute;
    ++at_;
    return GetValue(attribute);
}

MetaScan::Read MetaScan::GetValue(Attribute &attribute)
{
    if (!SkipWhile(IsHtmlSpace))
        return Read::OutOfBytes;
    const char first = bytes_[at_];
    if (first == '"' || first == '\'') {
        const qsizetype close = bytes_.indexOf(first, at_ + 1);
        if (close < 0)
            return Read::OutOfBytes;
        attribute.value = bytes_.sliced(at_ + 1, close - at_ - 1);
        at_ = close + 1;
        return Read::Attribute;
    }
    if (first == '>')
        return Read::Attribute;
    // Unquoted: up to white space or '>', the first byte whatever it is.
    const qsizetype start = at_++;
    if (!SkipWhile([](char c) { return !IsHtmlSpace(c) && c != '>'; }))
        return Read::OutOfBytes;
    attribute.value = bytes_.sliced(start, at_ - start);
    return Read::Attribute;
}

// The encoding in an XML declaration at the very start, read when the scan for a <meta> ran out
// of bytes: <?xml version="1.0" encoding="big5"?>.
const Encoding *EncodingOfXmlDeclaration(QByteArrayView bytes)
{
    if (!bytes.startsWith("<?xml"))
        return nullptr;
    const qsizetype declarationEnd = bytes.indexOf('>');
    if (declarationEnd < 0)
        return nullptr;
    qsizetype at = bytes.first(declarationEnd).indexOf("encoding"); // in lower case only
    if (at < 0)
        return nullptr;
    at += 8;
    const auto isControlOrSpace = [](char c) { return static_cast<unsigned char>(c) <= 0x20; };
    const auto skipControlsAndSpaces = [&] {
        while (at < bytes.size() && isControlOrSpace(bytes[at]))
            ++at;
        return at < bytes.size();
    };
    if (!skipControlsAndSpaces() || bytes[at] != '=')
        return nullptr;
    ++at;
    if (!skipControlsAndSpaces())
        return nullptr;
    const char quote = bytes[at];
    if (quote != '"' && quote != '\'')
        return nullptr;
    const qsizetype close = bytes.indexOf(quote, at + 1); // may lie past the '>'
    if (close < 0)
        return nullptr;
    const QByteArrayView label = bytes.sliced(at + 1, close - at - 1);
    if (std::any_of(label.begin(), label.end(), isControlOrSpace))
        return nullptr;
    const Encoding *encoding = FindEncoding(label);
    if (encoding && std::string_view(encoding->name).starts_with("UTF-16"))
        return &Named("utf-8");
    return encoding; // x-user-defined stays as it is here
}

const Encoding *Prescan(QByteArrayView bytes)
{
    // Only an XML declaration in UTF-16 (without byte order mark) says UTF-16 here.
    if (bytes.startsWith(QByteArrayView("<\0?\0x\0", 6)))
        return &Named("utf-16le");
    if (bytes.startsWith(QByteArrayView("\0<\0?\0x", 6)))
        return &Named("utf-16be");
    if (const Encoding *encoding = MetaScan(bytes).Run())
        return encoding;
    return EncodingOfXmlDeclaration(bytes);
}

} // namespace

std::optional<QString> EncodingForLabel(QByteArrayView label)
{
    if (const Encoding *encoding = FindEncoding(label))
        return QString::fromLatin1(encoding->name);
    return std::nullopt;
}

const char *IcuConverterForLabel(QByteArrayView label)
{
    const Encoding *encoding = FindEncoding(label);
    return encoding ? encoding->icu : nullptr;
}

std::optional<QString> PrescanEncoding(QByteArrayView bytes)
{
    if (const Encoding *encoding = Prescan(bytes))
        return QString::fromLatin1(encoding->name);
    return std::nullopt;
}

std::optional<QString> FirstMetaEncoding(QByteArrayView bytes)
{
    if (const Encoding *encoding = MetaScan(bytes).Run())
        return QString::fromLatin1(encoding->name);
    return std::nullopt;
}

CharsetDecision DecideCharset(QByteArrayView body, QByteArrayView contentTypeHeader, QStringView defaultLabel)
{
    using Source = CharsetDecision::Source;
    const auto decision = [](const Encoding *encoding, Source source) {
        return CharsetDecision{QString::fromLatin1(encoding->name), source};
    };
    if (const Encoding *encoding = EncodingOfByteOrderMark(body))
        return decision(encoding, Source::Bom);
    if (const Encoding *encoding = FindEncoding(CharsetParameter(contentTypeHeader)))
        return decision(encoding, Source::Header);
    constexpr qsizetype kPrescanWindow = 1024;
    if (const Encoding *encoding = Prescan(body.first(std::min(body.size(), kPrescanWindow))))
        return decision(encoding, Source::Meta);
    if (!IsAscii(body) && body.isValidUtf8())
        return decision(&Named("utf-8"), Source::Utf8Bytes);
    const Encoding *encoding = FindEncoding(defaultLabel.toLatin1());
    return decision(encoding ? encoding : &Named("gbk"), Source::Default);
}

} // namespace vantorel
