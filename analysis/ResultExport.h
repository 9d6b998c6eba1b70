#pragma once

#include "ResultRow.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <optional>
#include <vector>

namespace vantorel {

// A row to check, numbered from 1, from a full address.
ResultRow ListedRow(int number, const QString &url);

// Captions of the three visible columns and the outcome (结果), then of the evidence columns.
QStringList ResultColumns(bool withEvidence);
// The cells of a row under those captions, padding trimmed.
QStringList RowCells(const ResultRow &row, bool withEvidence);

// Whether a cell a spreadsheet would take for a formula gets a ' in front. Text read by
// programs stays raw; text for the clipboard and CSV files for people is guarded.
enum class FormulaGuard { Raw, Guarded };

// Rows as text: one line per row, cells separated by tabs (a tab or line break inside a cell
// becomes a space).
QString RowsAsText(const std::vector<ResultRow> &rows, bool withEvidence, FormulaGuard guard);
// Any lines of cells the same way.
QString CellsAsText(const std::vector<QStringList> &lines, FormulaGuard guard);
// The same rows as an HTML table for the clipboard, which spreadsheets paste cell by cell:
// every cell escaped and guarded.
QString RowsAsHtml(const std::vector<ResultRow> &rows, bool withEvidence);
// A CSV file of the rows with every column and a header row: UTF-8 (with a byte order mark
// when asked, which Chinese spreadsheets need), CRLF line ends, RFC 4180 quoting, and a ' before
// any cell a spreadsheet would take for a formula.
QByteArray RowsAsCsv(const std::vector<ResultRow> &rows, bool byteOrderMark);
// Any lines of cells the same way, the header row among them.
QByteArray CellsAsCsv(const std::vector<QStringList> &lines, bool byteOrderMark);
// A table the same way: a header row of captions, then the rows.
QByteArray CellsAsCsv(const QStringList &captions, const std::vector<QStringList> &rows, bool byteOrderMark);

// How an address is shown in the grid: without "http://", with "https://".
QString GridAddress(QStringView url);

} // namespace vantorel
