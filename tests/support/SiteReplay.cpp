#include "SiteReplay.h"

#include <QSet>

#include <algorithm>
#include <limits>
#include <tuple>

namespace vantorel {

std::vector<std::size_t> ReplayOrder(const std::vector<StoredRun> &runs)
{
    // Each run's horizon from the newest back, as Horizon gives it: a site may have thousands.
    std::vector<std::tuple<qint64, bool, qint64, std::size_t>> keys(runs.size());
    qint64 later = std::numeric_limits<qint64>::max(); // the least place of the runs started after
    for (std::size_t i = runs.size(); i-- > 0;) {
        keys[i] = {runs[i].endOrder.value_or(later), runs[i].endOrder.has_value(), runs[i].id, i};
        if (runs[i].endOrder)
            later = std::min(later, *runs[i].endOrder);
    }
    std::sort(keys.begin(), keys.end());
    std::vector<std::size_t> order;
    for (const auto &key : keys)
        order.push_back(std::get<3>(key));
    return order;
}

std::vector<RowChange> SiteHistory::Add(const StoredRun &run, const std::vector<AddressCheck> &rows)
{
    std::vector<RowChange> changes = ChangesOfRun(run, rows, pasts_, lastSearch_ ? &*lastSearch_ : nullptr, searched_, expectations);
    if (!run.endOrder)
        return changes;
    // Backwards, so that an address listed twice keeps its first row, as the store reads it.
    for (auto row = rows.rbegin(); row != rows.rend(); ++row)
        pasts_[row->address].Add(*row);
    QSet<QString> seen;
    for (const AddressCheck &row : rows) {
        if (seen.contains(row.address))
            continue;
        seen.insert(row.address);
        AddressPast &past = pasts_[row.address];
        past.beforeMisses.reset();
        past.misses = 0;
        if (IsValid(row.outcome)) {
            removals_[row.address] = {row, {}};
            continue;
        }
        const auto removed = removals_.find(row.address);
        if (removed == removals_.end())
            continue;
        auto &[valid, confirmations] = *removed;
        if (row.outcome == StoredOutcome::Removed)
            confirmations.push_back(run.confirmChecks);
        // Told once a removal's count reached what its run asked for.
        bool told = false;
        for (std::size_t miss = 1; miss <= confirmations.size(); ++miss)
            told = told || static_cast<int>(miss) >= confirmations[miss - 1];
        if (told) {
            removals_.erase(removed);
        } else if (!confirmations.empty()) {
            past.beforeMisses = valid;
            past.misses = static_cast<int>(confirmations.size());
        }
    }
    if (run.source == RunSource::Search && run.outcome == RunOutcome::Completed)
        lastSearch_ = rows;
    searched_ = searched_ || run.source == RunSource::Search || run.source == RunSource::Monitor;
    return changes;
}

} // namespace vantorel
