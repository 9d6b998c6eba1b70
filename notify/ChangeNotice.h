#pragma once

#include <HistoryReader.h>

#include <QDateTime>
#include <QString>

#include <optional>
#include <vector>

namespace vantorel {

// One change of a run as notifications and webhooks tell it: plain values, so that whatever
// decides the changes only has to fill these in.
struct NoticeChange {
    QString kind;     // the machine id: "lost", "became-unreachable", ...
    QString word;     // as the user reads it: 丢失, 变为无法访问, ...
    QString address;
    std::optional<AddressCheck> before; // none for 新增
    std::optional<AddressCheck> after;  // none for 未再列出
    QString evidence; // what the check found, in one line
    QString detail;   // what changed, in a few words (ChangeDetail); empty when the word says it all

    // As a message's line tells it: "锚文本变化 http://a.example.org/（锚文本“旧” → “新”）".
    QString Line() const;
};

struct NoticeRun {
    qint64 id = 0;
    QString source;     // "search", "list", "recheck"
    QString sourceWord; // 搜索, 地址列表, 复查
    QDateTime startedAt;
    QDateTime endedAt;
    RowCounts counts;
};

// What a stored run has to tell: the site, the run, its changes in the order they were found,
// but for 疑似丢失.
struct ChangeNotice {
    QString domain;
    NoticeRun run;
    std::vector<NoticeChange> changes;

    int Count(QStringView kind) const;
};

// The kinds the notifications pick out.
inline constexpr char16_t kLostKind[] = u"lost";
inline constexpr char16_t kBecameMentionKind[] = u"became-mention";
inline constexpr char16_t kBecameUnreachableKind[] = u"became-unreachable";
inline constexpr char16_t kStillUnreachableKind[] = u"still-unreachable";

// The notice of a stored run whose changes were read, with the counts of its rows. Nothing (and
// reader.Error() set) when the rows cannot be read.
std::optional<ChangeNotice> ReadNotice(HistoryReader &reader, const RunChanges &changes);
// The same, reading the run's changes too.
std::optional<ChangeNotice> ReadNotice(HistoryReader &reader, qint64 runId);

} // namespace vantorel
