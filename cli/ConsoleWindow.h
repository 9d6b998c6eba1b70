#pragma once

#include "ConsoleStreams.h"

#include <AnalysisWindow.h>
#include <ResultExport.h>

#include <QStringList>

#include <functional>
#include <vector>

namespace vantorel {

// The grid of a run without a window: rows kept in memory, numbered as the window numbers them.
class ConsoleGrid final : public ResultGridOps {
public:
    void ClearGrid() override;
    int GetRowCount() const override { return static_cast<int>(rows_.size()) + 1; }
    bool SetRowCount(int rows) override;
    void SetHeaderFormat(const QString &) override {}
    std::optional<QString> GetCellText(int row, int column) const override;
    bool SetCellText(int row, int column, const QString &text) override;
    void RepaintGrid() override {}
    void ShowRow(int) override {}
    void SetRowEvidence(int row, const RowEvidence &evidence) override;
    void SetHeaderSortingEnabled(bool) override {}

    const std::vector<ResultRow> &Rows() const { return rows_; }
    // Called as each row is judged.
    std::function<void(int row)> onJudged;

private:
    QString *Cell(int row, int column);

    std::vector<ResultRow> rows_;
};

// The window operations for a run from the command line: the domain comes from the command
// line, progress goes to standard error (a bar on a terminal, a line per judged row otherwise),
// nothing waits for a screen.
class ConsoleWindow final : public AnalysisWindow {
public:
    ConsoleWindow(QString domain, ConsoleStreams &streams, bool progressIsTerminal);

    void ShowProgressPanel() override {}
    void HideProgressPanel() override {}
    void RepaintProgressPanel() override {}
    void SetStatus(const QString &text) override { status_ = text; }
    void SetTipLine(const QString &) override {}
    void RepaintTipLine() override {}
    QString GetDomainText() const override { return domain_; }
    void SetDomainText(const QString &text) override { domain_ = text; }
    void ProcessPendingEvents() override {}
    bool WindowClosed() const override { return false; }
    ResultGridOps &Grid() override { return grid_; }
    QString &PageSource() override { return pageSource_; }

    const ConsoleGrid &Results() const { return grid_; }
    const QString &Status() const { return status_; }
    // Ends the progress bar's line, if one was drawn.
    void FinishProgress();

private:
    void ShowProgress(int row);

    QString domain_;
    QString status_;
    QString pageSource_;
    ConsoleGrid grid_;
    ConsoleStreams &streams_;
    bool progressIsTerminal_;
    int judged_ = 0;
};

} // namespace vantorel
