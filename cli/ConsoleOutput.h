#pragma once

#include "CommandLine.h"

#include <HistoryReport.h>
#include <ResultExport.h>

#include <QByteArray>

#include <functional>
#include <optional>
#include <span>
#include <vector>

namespace vantorel {

// The results of a run from the command line, as standard output gets them: an aligned table,
// tab-separated or comma-separated values with a header row, or a JSON object with the domain,
// the engine's count text and every row with all of its evidence. Written in pieces as they
// are formatted; false as soon as a write fails.
bool WriteResults(OutputFormat format, const QString &domain, const std::optional<QString> &countText,
                  std::span<const ResultRow> rows, const std::function<bool(QByteArrayView)> &write);

// One site's results among several in one output.
struct SiteResults {
    QString domain;
    std::optional<QString> countText;
    std::vector<ResultRow> rows;
};

// The results of runs over several sites, as one output: the columns of FormatResults led by
// the site's (网站), once in each format; in JSON each row names its "domain", and "sites" has
// each site's engine count.
QByteArray FormatSitesResults(OutputFormat format, const std::vector<SiteResults> &sites);

// What --history and --changes print, in the same formats: the cells, or the JSON object.
QByteArray FormatCells(OutputFormat format, const CellTable &table, const QJsonObject &json);

// How many terminal columns text takes: East Asian wide characters take two.
int DisplayWidth(QStringView text);

// text in lines of at most width columns, broken where Unicode lets a line break (between
// Chinese characters, at spaces), never after a hyphen ("--run", "- 表示"); a word wider than
// a line stands alone on its line.
QStringList WrapToColumns(const QString &text, int width);

} // namespace vantorel
