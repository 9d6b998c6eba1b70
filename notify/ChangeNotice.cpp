#include "ChangeNotice.h"

#include <QHash>

#include <algorithm>

namespace vantorel {

namespace {

QString NameOf(const std::optional<StoredOutcome> &outcome)
{
    return outcome ? OutcomeName(*outcome) : QString();
}

} // namespace

int ChangeNotice::Count(QStringView kind) const
{
    return static_cast<int>(
        std::count_if(changes.begin(), changes.end(), [kind](const NoticeChange &change) { return change.kind == kind; }));
}

QString EvidenceSummary(const StoredRow &row)
{
    if (row.outcome == StoredOutcome::Unreachable && !row.failureCause.isEmpty())
        return row.failureCause;
    QString text = QStringLiteral("HTTP %1").arg(row.httpStatus);
    if (!row.links.empty()) {
        const LinkEvidence &link = row.links.front();
        text += QStringLiteral("，链接 %1（锚文本“%2”").arg(link.url, link.anchor);
        if (const QString rel = RelText(link); !rel.isEmpty())
            text += QStringLiteral("，") + rel;
        text += QStringLiteral("）");
    } else if (row.outcome != StoredOutcome::Unreachable) {
        text += IsValid(row.outcome) ? QStringLiteral("，提到域名，没有链接") : QStringLiteral("，未提到域名");
    }
    return text;
}

std::optional<ChangeNotice> ReadNotice(HistoryReader &reader, qint64 runId)
{
    const std::optional<RunChanges> changes = reader.Changes(runId);
    return changes ? ReadNotice(reader, *changes) : std::nullopt;
}

std::optional<ChangeNotice> ReadNotice(HistoryReader &reader, const RunChanges &read)
{
    const RunChanges *changes = &read;
    const std::vector<StoredRow> earlier =
        changes->previous ? reader.Rows(changes->previous->id) : std::vector<StoredRow>{};
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
    // An address no longer listed has its evidence in the earlier run.
    QHash<QString, const StoredRow *> rowOf;
    for (const std::vector<StoredRow> *list : {&earlier, &rows})
        for (const StoredRow &row : *list)
            rowOf.insert(row.address, &row);
    for (const StoredRow &row : rows)
        run.counts.Add(row.outcome);
    for (const RowChange &change : changes->changes) {
        const StoredRow *row = rowOf.value(change.address);
        notice.changes.push_back({ChangeId(change.kind), ChangeWord(change.kind), change.address, NameOf(change.before),
                                  NameOf(change.after), row ? EvidenceSummary(*row) : QString()});
    }
    return notice;
}

} // namespace vantorel
