#pragma once

#include "HistoryReader.h"
#include "WatchList.h"

#include <QJsonObject>
#include <QStringList>

#include <optional>
#include <vector>

namespace vantorel {

// What --history and --changes print, as captions and cells for the table, TSV and CSV writers,
// or as a JSON object.
struct CellTable {
    QStringList captions;
    std::vector<QStringList> rows;
    // How many columns the aligned table lines up, all when none: each of the others follows
    // its row on a line of its own ("    上次：…"), when it is not empty, so that long texts
    // keep the table narrow.
    std::optional<qsizetype> alignedColumns;
};

// A domain's runs, as Runs() gives them; the last column, why a search failed, follows its row.
CellTable RunsTable(const std::vector<RunSummary> &runs);
inline constexpr qsizetype kRunReasonColumn = 10;
QJsonObject RunsJson(const QString &domain, const std::vector<RunSummary> &runs);

// A run's changes, each address against its own past: what it was, what it is, and the
// evidence of the check that tells it.
CellTable ChangesTable(const RunChanges &changes);
// One line for each kind of change that occurred, in the order of ChangeKinds(), naming at most
// ten addresses: "丢失 2 条：http://a.example.org/、http://b.example.org/".
QStringList ChangeSummary(const std::vector<RowChange> &changes);
QJsonObject ChangesJson(const RunChanges &changes);
// A side of a change as the JSON of --changes and webhooks give it: its outcome, when it was
// found, why the page could not be had, its links; null for none.
QJsonValue CheckJson(const std::optional<AddressCheck> &check);

// A watched site with its latest run, when it has one.
struct WatchedSite {
    WatchedDomain watch;
    std::optional<RunSummary> last;
};

// What --watched prints: each site's interval, last and next re-check, latest run's counts.
CellTable WatchedTable(const std::vector<WatchedSite> &sites);
QJsonObject WatchedJson(const std::vector<WatchedSite> &sites);

} // namespace vantorel
