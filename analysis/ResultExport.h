#pragma once

#include "Verdict.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <optional>
#include <vector>

namespace vantorel {

// One row of results as the user sees it, with its evidence once judged.
struct ResultRow {
    QString number;
    QString address;
    QString verdict;
    std::optional<RowEvidence> evidence;
};

// Captions of the three visible columns, then of the evidence columns.
QStringList ResultColumns(bool withEvidence);
// The cells of a row under those captions, padding trimmed.
QStringList RowCells(const ResultRow &row, bool withEvidence);

// Rows as text for the clipboard: one line per row, cells separated by tabs (a tab or line
// break inside a cell becomes a space).
QString RowsAsText(const std::vector<ResultRow> &rows, bool withEvidence);
// The same rows as an HTML table, which spreadsheets paste cell by cell.
QString RowsAsHtml(const std::vector<ResultRow> &rows, bool withEvidence);
// A CSV file of the rows with every column and a header row: UTF-8 (with a byte order mark
// when asked, which Chinese spreadsheets need), CRLF line ends, RFC 4180 quoting, and a ' before
// any cell a spreadsheet would take for a formula.
QByteArray RowsAsCsv(const std::vector<ResultRow> &rows, bool byteOrderMark);

// A list of addresses to check, one a line. Blank lines and lines starting with # are skipped;
// http:// and https:// addresses whose host IsCheckableHost are kept, and so is such a host
// without a scheme (a port and a path may follow), with http:// put in front; other lines are
// skipped and their (1-based) numbers reported; at most kMaxListedAddresses are taken.
struct AddressList {
    QStringList addresses;
    std::vector<int> rejectedLines;
    bool truncated = false;
};
constexpr int kMaxListedAddresses = 1000;
AddressList ReadAddressList(QStringView text);

// How an address is shown in the grid: without "http://", with "https://".
QString GridAddress(QStringView url);

} // namespace vantorel
