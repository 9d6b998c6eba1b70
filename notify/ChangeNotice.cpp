#include "ChangeNotice.h"

#include <algorithm>

namespace vantorel {

QString NoticeChange::Line() const
{
    const QString line = word + u' ' + address;
    return detail.isEmpty() ? line : line + u'（' + detail + u'）';
}

int ChangeNotice::Count(QStringView kind) const
{
    return static_cast<int>(
        std::count_if(changes.begin(), changes.end(), [kind](const NoticeChange &change) { return change.kind == kind; }));
}

std::optional<ChangeNotice> ReadNotice(HistoryReader &reader, qint64 runId)
{
    const std::optional<RunChanges> changes = reader.Changes(runId);
    return changes ? ReadNotice(reader, *changes) : std::nullopt;
}

std::optional<ChangeNotice> ReadNotice(HistoryReader &reader, const RunChanges &read)
{
    const RunChanges *changes = &read;
    const std::vector<StoredRow> rows = reader.Rows(changes->run.id);
    if (!reader.Error().isEmpty())
        return std::nullopt;

    ChangeNotice notice;
    notice.domain = changes->run.domain;
    NoticeRun &run = notice.run;
    run.id = changes->run.id;
    run.source = SourceName(changes->run.source);
    run.sourceWord = SourceWord(changes->run.source);
    run.startedAt = changes->run.startedAt;
    run.endedAt = changes->run.endedAt;
    for (const StoredRow &row : rows)
        run.counts.Add(row.outcome);
    // A removal not yet confirmed is no alarm: only the run's own lists show it.
    for (const RowChange &change : changes->changes)
        if (change.kind != ChangeKind::UnconfirmedLoss)
            notice.changes.push_back({ChangeId(change.kind), ChangeWord(change.kind), change.address, change.before,
                                      change.after, change.Told().evidence, ChangeDetail(change)});
    return notice;
}

} // namespace vantorel
