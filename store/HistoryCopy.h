#pragma once

#include <QString>

#include <optional>
#include <vector>

namespace vantorel {

// How many rows of one kind a copy moved, and the words that count them ("检测 %1 次").
struct CopiedCount {
    QString table;
    QString words;
    qint64 count = 0;
};

// Copies every run, row, link and watched site of the history at from into the history at to (a file or a
// server, either way), in one transaction of the target, so that a copy that fails leaves the
// target as it was. A target that holds runs is refused unless merge; merged runs come after the
// target's own, their ids moved past its ids, and a site the target watches keeps its watch. Otherwise the ids are kept, so --history and
// --changes read the same in both. The target's counts are checked afterwards. What was copied,
// or nothing with why not in Chinese.
std::optional<std::vector<CopiedCount>> CopyHistory(const QString &from, const QString &to, bool merge,
                                                    QString &error);

} // namespace vantorel
