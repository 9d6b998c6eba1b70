#include "ConsoleProgress.h"

namespace vantorel {

ConsoleProgress::ConsoleProgress(const BacklinkAnalysis &analysis, ConsoleStreams &streams, bool toTerminal)
    : analysis_(analysis), streams_(streams), toTerminal_(toTerminal)
{
    connect(&analysis, &BacklinkAnalysis::RowJudged, this, &ConsoleProgress::ShowJudged);
    connect(&analysis, &BacklinkAnalysis::StatusChanged, this, [this](const QString &text) { status_ = text; });
}

void ConsoleProgress::ShowJudged(int row)
{
    ++judged_;
    const std::vector<ResultRow> &rows = analysis_.Rows();
    const int count = static_cast<int>(rows.size());
    const ResultRow &judged = rows[static_cast<std::size_t>(row)];
    if (toTerminal_) {
        constexpr int kBarWidth = 30;
        const int filled = count > 0 ? judged_ * kBarWidth / count : kBarWidth;
        const QString bar = QString(filled, u'#') + QString(kBarWidth - filled, u'.');
        streams_.Write(stderr, QStringLiteral("\r[%1] %2/%3").arg(bar).arg(judged_).arg(count).toUtf8());
    } else {
        streams_.Say(QStringLiteral("%1/%2 %3 %4").arg(judged.number).arg(count).arg(judged.Verdict(), judged.url));
    }
}

void ConsoleProgress::Finish()
{
    if (toTerminal_ && judged_ > 0)
        streams_.Write(stderr, "\n");
    OutcomeCounter judged;
    for (const ResultRow &row : analysis_.Rows())
        if (row.evidence)
            judged.Add(*row.evidence);
    if (!analysis_.Rows().empty())
        streams_.Say(judged.Text());
}

} // namespace vantorel
