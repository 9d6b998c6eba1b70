#pragma once

#include "HistoryReader.h"

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

// A run's changes against the run it is compared with.
CellTable ChangesTable(const RunChanges &changes);
QJsonObject ChangesJson(const RunChanges &changes);

} // namespace vantorel
