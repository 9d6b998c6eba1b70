#include "ConsoleWindow.h"

#include <Domain.h>

namespace vantorel {

void ConsoleGrid::ClearGrid()
{
    for (ResultRow &row : rows_)
        row = ResultRow{};
}

bool ConsoleGrid::SetRowCount(int rows)
{
    if (rows < 1)
        return false;
    rows_.resize(static_cast<std::size_t>(rows - 1));
    return true;
}

QString *ConsoleGrid::Cell(int row, int column)
{
    if (row < 1 || row >= GetRowCount())
        return nullptr;
    ResultRow &cells = rows_[static_cast<std::size_t>(row - 1)];
    switch (column) {
    case 0: return &cells.number;
    case 1: return &cells.address;
    case 2: return &cells.verdict;
    default: return nullptr;
    }
}

std::optional<QString> ConsoleGrid::GetCellText(int row, int column) const
{
    if (const QString *cell = const_cast<ConsoleGrid *>(this)->Cell(row, column))
        return *cell;
    return std::nullopt;
}

bool ConsoleGrid::SetCellText(int row, int column, const QString &text)
{
    QString *cell = Cell(row, column);
    if (cell)
        *cell = text;
    return cell != nullptr;
}

void ConsoleGrid::SetRowEvidence(int row, const RowEvidence &evidence)
{
    if (row < 1 || row >= GetRowCount())
        return;
    rows_[static_cast<std::size_t>(row - 1)].evidence = evidence;
    if (onJudged)
        onJudged(row);
}

ConsoleWindow::ConsoleWindow(QString domain, ConsoleStreams &streams, bool progressIsTerminal)
    : domain_(std::move(domain)), streams_(streams), progressIsTerminal_(progressIsTerminal)
{
    grid_.onJudged = [this](int row) { ShowProgress(row); };
}

void ConsoleWindow::ShowProgress(int row)
{
    ++judged_;
    const int rows = grid_.GetRowCount() - 1;
    const ResultRow &judged = grid_.Rows()[static_cast<std::size_t>(row - 1)];
    if (progressIsTerminal_) {
        constexpr int kBarWidth = 30;
        const int filled = rows > 0 ? judged_ * kBarWidth / rows : kBarWidth;
        const QString bar = QString(filled, u'#') + QString(kBarWidth - filled, u'.');
        streams_.Write(stderr, QStringLiteral("\r[%1] %2/%3").arg(bar).arg(judged_).arg(rows).toUtf8());
    } else {
        streams_.Say(QStringLiteral("%1/%2 %3 %4").arg(row).arg(rows).arg(judged.verdict, RowUrl(judged.address)));
    }
}

void ConsoleWindow::FinishProgress()
{
    if (progressIsTerminal_ && judged_ > 0)
        streams_.Write(stderr, "\n");
}

} // namespace vantorel
