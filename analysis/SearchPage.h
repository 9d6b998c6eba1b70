#pragma once

#include <QString>
#include <QStringView>

#include <optional>
#include <vector>

namespace vantorel {

// Reading of the search engine's result page by its fixed markers; only its title goes through
// the HTML parser.

// Counts the matches of pattern in text, searching first from position 2 and then from one
// past the previous match, so overlapping matches all count and a match at position 1 never
// does. When positions is given, the 1-based match positions are appended to it.
qint32 FindAllOccurrences(QStringView text, QStringView pattern,
                          std::vector<qint32> *positions = nullptr);

// The engine's count of linking pages as its page writes it ("0" when it says it found none),
// or nothing when it states no count that can be read.
std::optional<QString> LinkCountText(QStringView page);

// The tip-line text reporting how many linking pages the engine found for domain, or nothing
// when the page states no count that can be read.
std::optional<QString> LinkCountLine(QStringView page, QStringView domain);

// Positions of every result link marker in the page.
std::vector<qint32> ResultLinkPositions(QStringView page);

// The grid text of the result whose link marker stands at markerPosition, or nothing when
// the result is a paid one (its marker within the 300 characters after the scheme). The text
// runs to the first space among those 300 characters, quotes dropped; with no space there, to
// the address's closing quote within 2,048 characters (else it is empty). Character references
// are decoded as in any attribute value. An http:// address is shown without its scheme; an
// https:// one keeps it.
std::optional<QString> ResultAddress(QStringView page, qint32 markerPosition);

// The advanced-search query for the pages linking to domain, 50 results on one page; the
// domain is percent-encoded as UTF-8 wherever a query cannot carry it raw.
QString SearchQueryUrl(QStringView searchHost, QStringView domain);

// The most result rows taken from one page: the window promises the first 50.
constexpr int kMaxResultRows = 50;

enum class EngineAnswer {
    Results,      // a result page, with or without results
    Verification, // the engine asks for a human check instead of answering
    Unrecognised, // none of the result page's markers
};
// The text of the page's <title>, white space as it stands; empty without one.
QString PageTitle(QStringView page);

// What the engine's page is, from its text, the host of the final URL and its title.
EngineAnswer ClassifyEngineAnswer(QStringView page, QStringView finalHost, QStringView title);

} // namespace vantorel
