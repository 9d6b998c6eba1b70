#include "ResultRow.h"

namespace vantorel {

QString ResultRow::Verdict() const
{
    return evidence ? VerdictWord(*evidence) : QStringLiteral("等待检测");
}

} // namespace vantorel
