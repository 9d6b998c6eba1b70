#include "RunPoints.h"

namespace vantorel {

QString RunPointLabel(const RunSummary &run)
{
    if (run.run.outcome != RunOutcome::Completed)
        return QStringLiteral("检测 %1（%2，%3）：%4，不计入图表")
            .arg(run.run.id)
            .arg(run.run.startedAt.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm")), SourceWord(run.run.source),
                 run.run.FailureReason().value_or(RunOutcomeWord(run.run)));
    return QStringLiteral("检测 %1（%2，%3）：有效 %4，已失效 %5，未能检测 %6")
        .arg(run.run.id)
        .arg(run.run.startedAt.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm")), SourceWord(run.run.source))
        .arg(run.valid)
        .arg(run.removed)
        .arg(run.unreachable);
}

int RoundTickStep(int most)
{
    for (int power = 1;; power *= 10)
        for (const int multiple : {1, 2, 5})
            if ((most + multiple * power - 1) / (multiple * power) <= 5)
                return multiple * power;
}

} // namespace vantorel
