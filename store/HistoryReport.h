#pragma once

#include "HistoryReader.h"
#include "WatchList.h"

#include <QJsonObject>
#include <QStringList>

#include <vector>

namespace vantorel {

// What --history and --changes print, as captions and cells for the table, TSV and CSV writers,
// or as a JSON object.
struct CellTable {
    QStringList captions;
    std::vector<QStringList> rows;
};

// A domain's runs, as Runs() gives them.
CellTable RunsTable(const std::vector<RunSummary> &runs);
QJsonObject RunsJson(const QString &domain, const std::vector<RunSummary> &runs);

// A run's changes, each address against its own past.
CellTable ChangesTable(const RunChanges &changes);
// One line for each kind of change that occurred, in the order of ChangeKinds(), naming at most
// ten addresses: "丢失 2 条：http://a.example.org/、http://b.example.org/".
QStringList ChangeSummary(const std::vector<RowChange> &changes);
QJsonObject ChangesJson(const RunChanges &changes);

// A watched site with its latest run, when it has one.
struct WatchedSite {
    WatchedDomain watch;
    std::optional<RunSummary> last;
};

// What --watched prints: each site's interval, last and next re-check, latest run's counts.
CellTable WatchedTable(const std::vector<WatchedSite> &sites);
QJsonObject WatchedJson(const std::vector<WatchedSite> &sites);

} // namespace vantorel
