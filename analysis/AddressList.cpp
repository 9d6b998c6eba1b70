#include "AddressList.h"

#include "Domain.h"
#include "TextOps.h"

#include <DecodeBody.h>

#include <QBuffer>
#include <QHash>
#include <QLocale>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QUrl>
#include <QtConcurrent/qtconcurrentmap.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <unordered_set>

namespace vantorel {

namespace {

// What a column of a known export holds.
enum class Role { Page, Target, Site, Anchor, Nofollow };

// The headers of the exports people keep their backlinks in, as each tool writes them. A name is
// matched with case and spacing ignored; the tool is named when the header is written exactly
// so, or when no other tool has a header of that name.
struct KnownHeader {
    QStringView name;
    Role role;
    QStringView tool; // empty: a name any sheet may use
};
constexpr KnownHeader kKnownHeaders[] = {
    // A search console's "latest links", in English and Chinese, and its "top linking sites",
    // which lists sites only.
    {u"Linking page", Role::Page, u"Search Console"},
    {u"链接页面", Role::Page, u"Search Console"},
    {u"链接网页", Role::Page, u"Search Console"},
    {u"Site", Role::Site, u"Search Console"},
    {u"网站", Role::Site, u"Search Console"},
    {u"Referring page URL", Role::Page, u"Ahrefs"},
    {u"Target URL", Role::Target, u"Ahrefs"},
    {u"Anchor", Role::Anchor, u"Ahrefs"},
    {u"Nofollow", Role::Nofollow, u"Ahrefs"},
    {u"Source url", Role::Page, u"Semrush"},
    {u"Target url", Role::Target, u"Semrush"},
    {u"Anchor", Role::Anchor, u"Semrush"},
    {u"Nofollow", Role::Nofollow, u"Semrush"},
    // Majestic puts the target first.
    {u"Source URL", Role::Page, u"Majestic"},
    {u"Target URL", Role::Target, u"Majestic"},
    {u"URL", Role::Page, u"Moz"},
    {u"Target URL", Role::Target, u"Moz"},
    {u"Source Url", Role::Page, u"Bing 网站管理员工具"},
    {u"Target Url", Role::Target, u"Bing 网站管理员工具"},
    // This program's CSV export, copied rows and command-line output.
    {u"外链地址", Role::Page, u"Vantorel"},
    {u"url", Role::Page, {}},
    {u"address", Role::Page, {}},
    {u"链接", Role::Page, {}},
    {u"网址", Role::Page, {}},
};

QString Normalized(QStringView name)
{
    QString folded;
    for (const QChar c : name)
        if (!c.isSpace())
            folded += c;
    return folded.toCaseFolded();
}

struct HeaderMatch {
    Role role;
    QString tool;
};

// How a header cell is known, if it is.
std::optional<HeaderMatch> MatchHeader(QStringView cell)
{
    const QString name = Normalized(cell);
    std::optional<HeaderMatch> match;
    bool toolsDiffer = false;
    for (const KnownHeader &known : kKnownHeaders) {
        if (Normalized(known.name) != name)
            continue;
        if (known.name == cell)
            return HeaderMatch{known.role, known.tool.toString()};
        if (match && match->tool != known.tool)
            toolsDiffer = true;
        else if (!match)
            match = HeaderMatch{known.role, known.tool.toString()};
    }
    if (match && toolsDiffer)
        match->tool.clear();
    return match;
}

// The records of delimited text with RFC 4180 quoting: a quoted cell may hold the delimiter,
// quotes (doubled) and line breaks. Without a delimiter each line is one cell, quotes and all.
// Lines end in LF, CRLF or a lone CR. Cells are given as written; CellText unquotes them.
class RecordReader {
public:
    // Text that is not final may go on past its end: a record it cuts off is not read yet.
    explicit RecordReader(QStringView text, char16_t delimiter = 0, qsizetype from = 0, int line = 1, bool final = true)
        : text_(text), delimiter_(delimiter), at_(from), nextLine_(line), final_(final)
    {
    }

    bool Next()
    {
        if (at_ >= text_.size())
            return false;
        cells_.clear();
        line_ = nextLine_;
        const auto cutOff = [this] {
            cells_.clear();
            nextLine_ = line_;
            return false;
        };
        const char16_t *const begin = text_.utf16();
        const char16_t *const end = begin + text_.size();
        const char16_t *p = begin + at_;
        const char16_t *cell = p;
        bool quoted = false;
        const auto lineBreakAt = [end](const char16_t *c) { return *c == u'\n' || (*c == u'\r' && (c + 1 == end || c[1] != u'\n')); };
        for (; p < end; ++p) {
            const char16_t c = *p;
            if (quoted) {
                if (c == u'"' && p + 1 < end && p[1] == u'"')
                    ++p;
                else if (c == u'"')
                    quoted = false;
                else if (lineBreakAt(p))
                    ++nextLine_;
            } else if (c == u'"' && p == cell && delimiter_) {
                quoted = true;
            } else if (c == delimiter_ && delimiter_) {
                cells_.emplace_back(cell, p);
                cell = p + 1;
            } else if (c == u'\n' || c == u'\r') {
                if (c == u'\r' && p + 1 == end && !final_)
                    return cutOff(); // its LF may come next
                cells_.emplace_back(cell, p);
                p += c == u'\r' && p + 1 < end && p[1] == u'\n' ? 2 : 1;
                ++nextLine_;
                at_ = p - begin;
                return true;
            }
        }
        if (!final_)
            return cutOff();
        cells_.emplace_back(cell, p);
        at_ = text_.size();
        return true;
    }

    const std::vector<QStringView> &Cells() const { return cells_; }
    bool Blank() const { return cells_.size() == 1 && cells_.front().trimmed().isEmpty(); }
    // The line the record starts on, from 1.
    int Line() const { return line_; }
    // Where the next record starts.
    qsizetype Offset() const { return at_; }
    int NextLine() const { return nextLine_; }

private:
    QStringView text_;
    char16_t delimiter_;
    qsizetype at_;
    int nextLine_;
    bool final_;
    int line_ = 0;
    std::vector<QStringView> cells_;
};

QString CellText(QStringView raw)
{
    raw = raw.trimmed();
    if (raw.size() < 2 || raw.front() != u'"' || raw.back() != u'"')
        return raw.toString();
    return raw.sliced(1, raw.size() - 2).toString().replace(QStringLiteral("\"\""), QStringLiteral("\"")).trimmed();
}

// A line without a scheme: a checkable host, a port perhaps, and whatever path, query or
// fragment follows. "mailto:a@b.c" is none: what stands before its path is no host and port.
bool IsBareHostAndPath(QStringView line)
{
    const auto hostEnd = std::find_if(line.begin(), line.end(),
                                      [](QChar c) { return c == u'/' || c == u'?' || c == u'#'; });
    QStringView host = line.first(hostEnd - line.begin());
    // The colons of a bracketed IPv6 address are no port's.
    if (const qsizetype colon = host.lastIndexOf(u':'); colon >= 0 && colon > host.lastIndexOf(u']')) {
        const QStringView port = host.sliced(colon + 1);
        if (port.isEmpty() || !std::all_of(port.begin(), port.end(), [](QChar c) { return IsAsciiDigit(c.unicode()); }))
            return false;
        host = host.first(colon);
    }
    return IsCheckableHost(host);
}

// An http or https address with a checkable host, or a bare one (IsBareHostAndPath).
bool IsListedAddress(QStringView line)
{
    if (line.isEmpty() || line.contains(u' ') || line.contains(u'\t'))
        return false;
    if (HttpScheme(line).isEmpty() ? !IsBareHostAndPath(line) : !IsCheckableHost(ReduceToHost(line)))
        return false;
    const QUrl parsed(RowUrl(line), QUrl::StrictMode);
    return parsed.isValid() && !parsed.host().isEmpty();
}

constexpr char16_t kDelimiters[] = {u'\t', u';', u','};
constexpr int kHeaderSearched = 10; // records a header may stand below (a title, notes)
constexpr int kSampled = 50;        // records that show a table's shape and its address column

// How the list is laid out.
struct Shape {
    char16_t delimiter = 0; // 0: one address a line
    qsizetype dataFrom = 0; // where the rows start
    int dataLine = 1;
    int column = 0; // -1: a table without a column to take
    QString header, tool;
    bool sitesOnly = false;
    int anchorColumn = -1, nofollowColumn = -1; // what the export says of each link, if it does
    int targetColumn = -1;                      // the page each row links to, if it says
};

struct HeaderRow {
    char16_t delimiter;
    qsizetype dataFrom;
    int dataLine;
    std::vector<std::optional<HeaderMatch>> cells;
    QStringList names;
};

// The first record among the first few whose cells include a known header, read with the
// delimiter that splits it into the most cells.
std::optional<HeaderRow> FindHeader(QStringView text)
{
    std::optional<HeaderRow> best;
    for (const char16_t delimiter : kDelimiters) {
        RecordReader reader(text, delimiter);
        for (int records = 0; records < kHeaderSearched && reader.Next();) {
            if (reader.Blank())
                continue;
            ++records;
            HeaderRow row{delimiter, reader.Offset(), reader.NextLine(), {}, {}};
            for (const QStringView cell : reader.Cells()) {
                row.names << CellText(cell);
                row.cells.push_back(MatchHeader(row.names.back()));
            }
            if (std::none_of(row.cells.begin(), row.cells.end(), [](const auto &match) { return match.has_value(); }))
                continue;
            if (!best || row.cells.size() > best->cells.size())
                best = std::move(row);
            break;
        }
    }
    return best;
}

// How many of the sampled records hold an address in each column, and how many hold anything.
struct ColumnCounts {
    std::vector<int> addresses, filled;
};

ColumnCounts CountColumns(QStringView text, char16_t delimiter, qsizetype from)
{
    ColumnCounts counts;
    RecordReader reader(text, delimiter, from);
    for (int records = 0; records < kSampled && reader.Next();) {
        if (reader.Blank())
            continue;
        ++records;
        const std::vector<QStringView> &cells = reader.Cells();
        if (counts.addresses.size() < cells.size()) {
            counts.addresses.resize(cells.size());
            counts.filled.resize(cells.size());
        }
        for (std::size_t i = 0; i < cells.size(); ++i) {
            const QString cell = CellText(cells[i]);
            counts.filled[i] += !cell.isEmpty();
            counts.addresses[i] += IsListedAddress(cell);
        }
    }
    return counts;
}

// The first column, of those allowed, whose filled cells are mostly addresses.
template <typename Allowed>
std::optional<int> AddressColumn(const ColumnCounts &counts, Allowed allowed)
{
    for (std::size_t i = 0; i < counts.addresses.size(); ++i)
        if (allowed(static_cast<int>(i)) && counts.addresses[i] > 0 && counts.addresses[i] * 2 >= counts.filled[i])
            return static_cast<int>(i);
    return std::nullopt;
}

Shape ShapeWithHeader(QStringView text, const HeaderRow &header)
{
    Shape shape{header.delimiter, header.dataFrom, header.dataLine, 0, {}, {}};
    const auto firstOf = [&header](Role role) {
        const auto found = std::find_if(header.cells.begin(), header.cells.end(),
                                        [role](const auto &match) { return match && match->role == role; });
        return found == header.cells.end() ? -1 : static_cast<int>(found - header.cells.begin());
    };
    if (firstOf(Role::Anchor) >= 0 && firstOf(Role::Nofollow) >= 0) {
        shape.anchorColumn = firstOf(Role::Anchor);
        shape.nofollowColumn = firstOf(Role::Nofollow);
    }
    shape.targetColumn = firstOf(Role::Target);
    const ColumnCounts counts = CountColumns(text, header.delimiter, header.dataFrom);
    const int columns = static_cast<int>(header.cells.size());
    const auto roleOf = [&header](int column) { return header.cells[static_cast<std::size_t>(column)]; };
    const auto take = [&](int column) {
        shape.column = column;
        if (column < columns) {
            shape.header = header.names[column];
            if (const auto match = roleOf(column))
                shape.tool = match->tool;
        }
        return shape;
    };
    std::optional<int> firstPage;
    for (int column = 0; column < columns; ++column) {
        if (roleOf(column) && roleOf(column)->role == Role::Page) {
            if (column < static_cast<int>(counts.addresses.size()) && counts.addresses[column] > 0)
                return take(column);
            firstPage = firstPage.value_or(column);
        }
    }
    // A column of another name that holds addresses, so long as it is no target's or site's.
    if (const std::optional<int> column =
            AddressColumn(counts, [&](int column) { return column >= columns || !roleOf(column); }))
        return take(*column);
    if (firstOf(Role::Site) >= 0) {
        shape.sitesOnly = true;
        return shape;
    }
    // A page column without addresses, or none: every row is skipped, and said so.
    if (firstPage)
        return take(*firstPage);
    shape.column = -1;
    return shape;
}

// Without a header: lines that are each an address are a plain list; else a table whose
// delimiter gives every sampled record the same number of cells, two at least.
Shape ShapeWithoutHeader(QStringView text)
{
    bool allAddresses = true;
    RecordReader lines(text);
    for (int records = 0; allAddresses && records < kSampled && lines.Next();) {
        const QStringView line = lines.Cells().front().trimmed();
        if (line.isEmpty() || line.startsWith(u'#'))
            continue;
        ++records;
        allAddresses = IsListedAddress(line);
    }
    if (allAddresses)
        return {};
    for (const char16_t delimiter : kDelimiters) {
        RecordReader reader(text, delimiter);
        std::size_t cells = 0;
        bool even = true;
        for (int records = 0; even && records < kSampled && reader.Next();) {
            if (reader.Blank())
                continue;
            ++records;
            even = cells == 0 || reader.Cells().size() == cells;
            cells = reader.Cells().size();
        }
        if (!even || cells < 2)
            continue;
        if (const std::optional<int> column = AddressColumn(CountColumns(text, delimiter, 0), [](int) { return true; }))
            return {delimiter, 0, 1, *column, {}, {}, false, -1, -1};
    }
    return {};
}

// A line or cell that may be an address, and the line it stands on.
struct Candidate {
    QString text;
    int line;
    std::optional<LinkEvidence> link; // what the export says of the link on it
    QString target;                   // the site its link goes to (SiteKey); empty when not said
    bool listed = false;
};

// A nofollow cell as exports write it; nothing when it says neither.
std::optional<bool> NofollowCell(const QString &cell)
{
    for (const QStringView yes : {u"true", u"yes", u"1"})
        if (cell.compare(yes, Qt::CaseInsensitive) == 0)
            return true;
    for (const QStringView no : {u"false", u"no", u"0"})
        if (cell.compare(no, Qt::CaseInsensitive) == 0)
            return false;
    return std::nullopt;
}

// The link a row of the export describes, when it has an anchor and a nofollow cell.
std::optional<LinkEvidence> ExportedLink(const std::vector<QStringView> &cells, const Shape &shape)
{
    const auto cell = [&cells](int column) {
        return column >= 0 && column < std::ssize(cells) ? CellText(cells[static_cast<std::size_t>(column)]) : QString();
    };
    if (shape.nofollowColumn < 0)
        return std::nullopt;
    const std::optional<bool> nofollow = NofollowCell(cell(shape.nofollowColumn));
    if (!nofollow)
        return std::nullopt;
    LinkEvidence link;
    link.anchor = AnchorText(cell(shape.anchorColumn).simplified());
    link.nofollow = *nofollow;
    // The page of the user's site it links to, when the export names one.
    if (const QString target = cell(shape.targetColumn).trimmed();
        target.startsWith(u"http://", Qt::CaseInsensitive) || target.startsWith(u"https://", Qt::CaseInsensitive))
        link.url = target;
    return link;
}

// Whether each is an address, on the pool's threads: a file of a hundred thousand rows takes a
// while to check one by one.
void CheckCandidates(std::vector<Candidate> &candidates)
{
    constexpr std::size_t kChunk = 4096;
    // A short list is checked here: handing one chunk to the pool gains nothing.
    if (candidates.size() <= kChunk) {
        for (Candidate &candidate : candidates)
            candidate.listed = IsListedAddress(candidate.text);
        return;
    }
    std::vector<std::pair<std::size_t, std::size_t>> chunks;
    for (std::size_t from = 0; from < candidates.size(); from += kChunk)
        chunks.emplace_back(from, std::min(candidates.size(), from + kChunk));
    QtConcurrent::blockingMap(chunks, [&candidates](const std::pair<std::size_t, std::size_t> &chunk) {
        for (std::size_t i = chunk.first; i < chunk.second; ++i)
            candidates[i].listed = IsListedAddress(candidates[i].text);
    });
}

// Takes the candidates' addresses a batch at a time, each address once: a list's memory grows
// with the addresses it keeps, not with its lines.
class AddressTaker {
public:
    explicit AddressTaker(AddressList &list) : list_(list) {}

    void Add(Candidate candidate)
    {
        batch_.push_back(std::move(candidate));
        if (batch_.size() >= kBatch)
            Flush();
    }

    void Reject(int line)
    {
        if (list_.rejectedLines.size() < kRejectedLinesKept)
            list_.rejectedLines.push_back(line);
        ++list_.rejected;
    }

    void Finish()
    {
        Flush();
        if (list_.addresses.isEmpty() && !otherSites_.isEmpty())
            list_.targetSite = std::max_element(otherSites_.keyValueBegin(), otherSites_.keyValueEnd(),
                                                [](const auto &a, const auto &b) { return a.second < b.second; })
                                   ->first;
    }

private:
    static constexpr std::size_t kBatch = 32768;
    // Enough for any note; the count goes on past them.
    static constexpr std::size_t kRejectedLinesKept = 1000;

    void Flush()
    {
        CheckCandidates(batch_);
        for (const Candidate &candidate : batch_)
            Take(candidate);
        batch_.clear();
    }

    void Take(const Candidate &candidate)
    {
        if (!candidate.listed) {
            Reject(candidate.line);
            return;
        }
        if (!list_.site.isEmpty() && !candidate.target.isEmpty() && candidate.target != list_.site) {
            ++list_.otherTargets;
            ++otherSites_[candidate.target];
            return;
        }
        const QString address = RowUrl(candidate.text);
        const auto kept = exportedAt_.constFind(address);
        if (kept == exportedAt_.cend()) {
            // Past the cap only a hash of each address is kept, to count the list's addresses.
            if (list_.addresses.size() >= kMaxListedAddresses) {
                if (passed_.insert(qHash(address)).second) {
                    ++list_.read;
                    list_.truncated = true;
                }
                return;
            }
            ++list_.read;
            list_.addresses << address;
            exportedAt_.insert(address, candidate.link ? std::optional(list_.exported.size()) : std::nullopt);
            if (candidate.link)
                list_.exported.push_back({address, {*candidate.link}});
            return;
        }
        if (!candidate.link)
            return;
        std::optional<std::size_t> &at = exportedAt_[address];
        if (!at) {
            at = list_.exported.size();
            list_.exported.push_back({address, {}});
        }
        list_.exported[*at].links.push_back(*candidate.link);
    }

    AddressList &list_;
    std::vector<Candidate> batch_;
    QHash<QString, std::optional<std::size_t>> exportedAt_; // each address kept: where its links are
    std::unordered_set<std::size_t> passed_;
    QHash<QString, int> otherSites_;
};

// Whether the first bytes of a file are text: no NUL, and few control characters.
bool LooksLikeText(QByteArrayView head)
{
    if (head.contains('\0'))
        return false;
    const auto controls = std::count_if(head.begin(), head.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return (byte < 0x20 && byte != '\t' && byte != '\n' && byte != '\r' && byte != '\f') || byte == 0x7F;
    });
    return controls * 50 <= head.size();
}

// A line of a plain list with words around one address: that address.
QStringView AddressInLine(QStringView line)
{
    const qsizetype scheme = line.indexOf(u"://");
    if (scheme < 0 || (scheme <= 5 && !std::any_of(line.begin(), line.end(), [](QChar c) { return c.isSpace(); })))
        return line; // no address, or nothing around one

    static const QRegularExpression kAddress(QStringLiteral("https?://[^\\s<>\"'，。、）》]+"),
                                             QRegularExpression::CaseInsensitiveOption);
    QRegularExpressionMatchIterator matches = kAddress.globalMatch(line.toString());
    if (!matches.hasNext())
        return line;
    const QRegularExpressionMatch first = matches.next();
    return matches.hasNext() ? line : line.sliced(first.capturedStart(), first.capturedLength());
}

// The list's text a piece at a time; false once there is no more.
using TextSource = std::function<bool(QString &piece)>;

// The records of a list, read as its text comes: its shape from the first pieces, then each
// record once it is whole. A record longer than any list's line (a file without line breaks, a
// quote never closed) is skipped to its next line break.
AddressList ReadListText(const TextSource &more, const QString &site)
{
    constexpr qsizetype kShapeSample = 256 * 1024;
    constexpr qsizetype kLongestRecord = 1024 * 1024;
    QString text;
    bool ended = false;
    while (!ended && text.size() < kShapeSample) {
        QString piece;
        ended = !more(piece);
        text += piece;
    }
    if (text.startsWith(u'\xFEFF'))
        text.remove(0, 1);
    const std::optional<HeaderRow> header = FindHeader(text);
    const Shape shape = header ? ShapeWithHeader(text, *header) : ShapeWithoutHeader(text);
    AddressList list;
    list.site = SiteKey(site);
    list.header = shape.header;
    list.tool = shape.tool;
    list.sitesOnly = shape.sitesOnly;
    if (shape.sitesOnly)
        return list;
    if (shape.delimiter)
        list.column = shape.column;
    AddressTaker taker(list);
    const auto cell = [](const std::vector<QStringView> &cells, qsizetype at) {
        return at >= 0 && at < std::ssize(cells) ? CellText(cells[static_cast<std::size_t>(at)]) : QString();
    };
    qsizetype from = shape.dataFrom;
    int line = shape.dataLine;
    bool skippingToLineEnd = false;
    for (;;) {
        RecordReader reader(text, shape.delimiter, from, line, ended);
        while (reader.Next()) {
            const std::vector<QStringView> &cells = reader.Cells();
            if (!shape.delimiter) {
                const QStringView written = cells.front().trimmed();
                if (!written.isEmpty() && !written.startsWith(u'#'))
                    taker.Add({AddressInLine(written).toString(), reader.Line(), std::nullopt, {}, false});
            } else if (!reader.Blank()) {
                taker.Add({cell(cells, shape.column), reader.Line(), ExportedLink(cells, shape),
                           SiteKey(cell(cells, shape.targetColumn))});
            }
        }
        if (ended)
            break;
        text.remove(0, reader.Offset());
        from = 0;
        line = reader.NextLine();
        if (text.size() > kLongestRecord) {
            taker.Reject(line++);
            const qsizetype lineEnd = text.indexOf(u'\n');
            skippingToLineEnd = lineEnd < 0;
            text.remove(0, lineEnd < 0 ? text.size() : lineEnd + 1);
        }
        QString piece;
        ended = !more(piece);
        if (skippingToLineEnd) {
            const qsizetype lineEnd = piece.indexOf(u'\n');
            skippingToLineEnd = lineEnd < 0 && !ended;
            piece.remove(0, lineEnd < 0 ? piece.size() : lineEnd + 1);
        }
        text += piece;
    }
    taker.Finish();
    return list;
}

} // namespace

AddressList ReadAddressList(QStringView text, const QString &site)
{
    bool given = false;
    return ReadListText(
        [&](QString &piece) {
            if (given)
                return false;
            piece = text.toString();
            given = true;
            return true;
        },
        site);
}

AddressList ReadAddressList(QIODevice &device, const QString &site)
{
    constexpr qint64 kPiece = 1024 * 1024;
    QByteArray head = device.read(64 * 1024);
    // The byte order mark decides; else UTF-8 while the first bytes are valid UTF-8 (a sequence
    // the read cut off aside), else GB18030, as lists saved in a Chinese locale are.
    std::optional<QStringDecoder> decoder;
    for (const auto &[mark, encoding] : {std::pair(QByteArrayView("\xFF\xFE"), QStringConverter::Utf16LE),
                                         std::pair(QByteArrayView("\xFE\xFF"), QStringConverter::Utf16BE)})
        if (head.startsWith(mark))
            decoder.emplace(encoding);
    if (!decoder) {
        if (!LooksLikeText(head)) {
            AddressList refused;
            refused.notText = true;
            return refused;
        }
        const bool marked = head.startsWith("\xEF\xBB\xBF");
        if (marked)
            head.remove(0, 3);
        qsizetype whole = head.size();
        while (whole > 0 && head.size() - whole < 3 && (static_cast<unsigned char>(head[whole - 1]) & 0xC0) == 0x80)
            --whole;
        if (whole > 0 && static_cast<unsigned char>(head[whole - 1]) >= 0xC0)
            --whole;
        if (marked || QByteArrayView(head).first(whole).isValidUtf8())
            decoder.emplace(QStringConverter::Utf8);
    }
    // GB18030 is decoded a line at a time: no byte of its multi-byte characters is a line feed.
    QByteArray carried;
    return ReadListText(
        [&](QString &piece) {
            QByteArray bytes = head.isNull() ? device.read(kPiece) : std::exchange(head, QByteArray());
            const bool more = !bytes.isEmpty();
            if (decoder) {
                piece = decoder->decode(bytes);
                return more;
            }
            bytes.prepend(carried);
            const qsizetype lineEnd = more ? bytes.lastIndexOf('\n') + 1 : bytes.size();
            carried = bytes.sliced(lineEnd);
            piece = DecodeBody(QByteArrayView(bytes).first(lineEnd), u"gb18030");
            return more || !piece.isEmpty();
        },
        site);
}

AddressList ReadAddressList(QByteArrayView bytes, const QString &site)
{
    QBuffer buffer;
    buffer.setData(QByteArray::fromRawData(bytes.data(), bytes.size()));
    buffer.open(QIODevice::ReadOnly);
    return ReadAddressList(buffer, site);
}

QString AddressListSummary(const AddressList &list)
{
    if (list.sitesOnly || list.notText)
        return {};
    const QLocale numbers(QLocale::English);
    QString text;
    if (!list.tool.isEmpty())
        text += list.tool + QStringLiteral(" 导出：");
    if (!list.header.isEmpty())
        text += QStringLiteral("按表头「%1」").arg(list.header);
    else if (list.column >= 0)
        text += QStringLiteral("按第 %1 列").arg(list.column + 1);
    text += QStringLiteral("读取 %1 个地址").arg(numbers.toString(list.read));
    if (list.rejected > 0)
        text += QStringLiteral("（跳过 %1 行）").arg(numbers.toString(list.rejected));
    return text;
}

QStringList AddressListNotes(const AddressList &list)
{
    if (list.notText)
        return {QStringLiteral("不是文本文件：%1").arg(list.source.isEmpty() ? QStringLiteral("这份列表") : list.source)};
    if (list.sitesOnly)
        return {QStringLiteral("这份表格只列出网站，没有网页地址；请导出「最新链接」")};
    constexpr std::size_t kLinesNamed = 10;
    QStringList notes;
    if (!list.rejectedLines.empty()) {
        QStringList numbers;
        for (std::size_t i = 0; i < list.rejectedLines.size() && i < kLinesNamed; ++i)
            numbers << QString::number(list.rejectedLines[i]);
        QString named = numbers.join(u'、');
        if (list.rejected > static_cast<int>(kLinesNamed))
            named += QStringLiteral(" 等 %1").arg(list.rejected);
        notes << QStringLiteral("以下行不是网址，已跳过：第 %1 行。").arg(named);
    }
    if (!list.targetSite.isEmpty())
        return notes << QStringLiteral("这份导出的目标网站是 %1，不是 %2").arg(SiteShown(list.targetSite), SiteShown(list.site));
    if (list.otherTargets > 0)
        notes << QStringLiteral("跳过 %1 行：目标网站不是 %2。").arg(list.otherTargets).arg(SiteShown(list.site));
    if (list.truncated)
        notes << QStringLiteral("地址超过 %1 个，只检测前 %1 个。").arg(QLocale(QLocale::English).toString(kMaxListedAddresses));
    if (list.addresses.isEmpty())
        notes << QStringLiteral("没有可以检测的网址。");
    return notes;
}

} // namespace vantorel
