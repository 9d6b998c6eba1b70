#pragma once

#include <PageEvidence.h>

#include <QByteArrayView>
#include <QIODevice>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <vector>

namespace vantorel {

// A list of addresses to check, as the user keeps one: one address a line, or a table — the
// exports of search consoles and SEO tools, or this program's own output.
//
// The text: a byte order mark decides (UTF-8, UTF-16 LE or BE); else UTF-8 when the first 64 KiB
// are valid UTF-8; else GB18030, which lists saved in a Chinese locale are. A file whose first
// bytes hold a NUL or mostly control characters is no list (notText).
// The shape: a table's delimiter (tab, semicolon or comma) is chosen from its first records,
// read with RFC 4180 quoting; lines that are each a whole address stay a plain list.
// The column: a header row names it (a known export's name for its source-page column, case and
// spacing ignored); a target column is never taken; without a header, the first column whose
// cells are addresses.
//
// A line or cell is taken when it is an http:// or https:// address whose host IsCheckableHost,
// or such a host without a scheme (a port and a path may follow), which gets http:// in front.
// A line of a plain list with words around one http(s) address gives that address.
// In a plain list, blank lines and lines starting with # are passed over; other lines are
// skipped and their (1-based) numbers kept, as are those of table rows without an address.
// An address listed again is taken once. When an export names each row's target and a site is
// given, rows whose target is another site's are left out.
// What an export said of the links on one of its pages to the user's site, one a row: their
// anchors, whether each is nofollow, and their targets when it names them.
struct ExportedPage {
    QString address; // as taken
    std::vector<LinkEvidence> links;
};

struct AddressList {
    QStringList addresses; // at most kMaxListedAddresses
    int read = 0;          // addresses in the whole list
    std::vector<int> rejectedLines; // the first thousand
    int rejected = 0;               // lines skipped in all
    bool truncated = false;
    QString header; // the taken column's header as written; empty without one
    QString tool;   // whose export has that header; empty when unknown
    int column = -1; // the taken column of a table, from 0; -1 for a plain list
    bool sitesOnly = false; // a table of linking sites, which names no page
    // The taken pages' links, in the order first listed, when the export has both an anchor and
    // a nofollow column (Ahrefs, Semrush); rows whose nofollow cell says neither are left out.
    // The rows of one page are its links together.
    std::vector<ExportedPage> exported;
    QString site;         // the site the list was read for (SiteKey); empty: any
    int otherTargets = 0; // rows left out: their target is another site
    QString targetSite;   // when no row's target is the site: the site most rows name
    bool notText = false; // refused: a binary file (NUL bytes, or mostly control characters)
    QString source;       // the file's name as the user gave it, for the notes; set by the caller
};
constexpr int kMaxListedAddresses = 100'000;

// site: any form of the name of the site whose backlinks are checked; empty: rows of any target.
AddressList ReadAddressList(QByteArrayView bytes, const QString &site = {});
// Read as it comes, in pieces: its memory grows with the addresses kept, not with the file.
AddressList ReadAddressList(QIODevice &device, const QString &site = {});
// Text already decoded, such as the clipboard's.
AddressList ReadAddressList(QStringView text, const QString &site = {});

// What was read, for the status line and standard error:
// "Ahrefs 导出：按表头「Referring page URL」读取 1,234 个地址（跳过 3 行）". Empty for a refused list.
QString AddressListSummary(const AddressList &list);
// What the user is told about a list: skipped lines (the first ten named, then "等 N 行"), rows
// of other targets, a list cut short, a list with nothing to check, an export of another site, a
// table of sites refused. Empty when all went well.
QStringList AddressListNotes(const AddressList &list);

} // namespace vantorel
