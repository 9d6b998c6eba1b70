#pragma once

#include "HistoryReport.h"

#include <QDateTime>
#include <QJsonObject>
#include <QStringList>

#include <optional>
#include <vector>

namespace vantorel {

// A change a run of the period found, with its run.
struct ReportedChange {
    StoredRun run;
    RowChange change;
};

// One site over a period: its counts when the period began and when it ended (each from the
// latest completed run by then; none when the site had none), the runs that completed in it,
// oldest first, and every change its runs found, 仍无法访问 left out.
struct SiteReport {
    QString domain;
    std::optional<RunSummary> start;
    std::optional<RunSummary> end;
    std::vector<RunSummary> completed;
    std::vector<ReportedChange> changes;
    int Lost() const;
};

struct PeriodReport {
    QDateTime since;
    QDateTime until;
    std::vector<SiteReport> sites;
    int Lost() const;
};

// The report of the sites (any form of their names; none: every site of the history) over
// [since, until]. Nothing (and reader.Error() set) when the history cannot be read.
std::optional<PeriodReport> ReadPeriodReport(HistoryReader &reader, const QStringList &domains, const QDateTime &since,
                                             const QDateTime &until);

// A site a row: its counts at the start and end, its completed runs and changes.
CellTable ReportSitesTable(const PeriodReport &report);
// Every change of the period, a row each, its site first.
CellTable ReportChangesTable(const PeriodReport &report);
QJsonObject ReportJson(const PeriodReport &report);

} // namespace vantorel
