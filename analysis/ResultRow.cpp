#include "ResultRow.h"

#include <algorithm>

namespace vantorel {

QString ResultRow::Verdict() const
{
    if (evidence)
        return VerdictWord(*evidence);
    switch (state) {
    case RowState::Fetching: return QStringLiteral("检测中…");
    case RowState::Rendering: return QStringLiteral("渲染中…");
    case RowState::WaitingToRetry: {
        // Rounded up: the wait is never said to be shorter than it is.
        const auto seconds = std::max<qint64>(1, (retryWait.count() + 999) / 1000);
        return QStringLiteral("等待重试（%1 秒）").arg(seconds);
    }
    case RowState::Waiting:
    case RowState::Judged: break;
    }
    return QStringLiteral("等待检测");
}

} // namespace vantorel
