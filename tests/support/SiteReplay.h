#pragma once

#include <RunChanges.h>

#include <QHash>

#include <optional>
#include <vector>

namespace vantorel {

// What the store's spans must tell, found the slow way: every row of a site replayed.

// The runs' indexes in the order SiteHistory takes them: by horizon, a run that did not
// complete before the run that completed at its horizon. runs: oldest first.
std::vector<std::size_t> ReplayOrder(const std::vector<StoredRun> &runs);

// One site's history, run after run in ReplayOrder: each run's changes against what the runs
// completed before it found. Only a completed run's checks become the past: what a stopped or
// interrupted run found is told by the next run that completes.
class SiteHistory {
public:
    std::vector<RowChange> Add(const StoredRun &run, const std::vector<AddressCheck> &rows);
    QHash<QString, LinkExpectation> expectations; // the agreed link of each address that has one

private:
    QHash<QString, AddressPast> pasts_;
    // Of each address: its latest check 有效, then the confirmations asked by the runs that found
    // it removed since.
    QHash<QString, std::pair<AddressCheck, std::vector<int>>> removals_;
    std::optional<std::vector<AddressCheck>> lastSearch_; // the rows of the latest completed search
    bool searched_ = false;                               // a search or monitoring run completed
};

} // namespace vantorel
