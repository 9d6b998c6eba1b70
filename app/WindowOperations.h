#pragma once

#include <AnalysisWindow.h>

class QFrame;
class QLabel;
class QLineEdit;

namespace vantorel {

class ResultGrid;

// The grid operations the analysis uses, on the result table. Grid row 0 is the table's
// header; grid row r > 0 is table row r - 1.
class GridOperations final : public ResultGridOps {
public:
    explicit GridOperations(ResultGrid &table) : table_(table) {}

    void ClearGrid() override;
    int GetRowCount() const override;
    bool SetRowCount(int rows) override;
    void SetHeaderFormat(const QString &format) override;
    std::optional<QString> GetCellText(int row, int column) const override;
    bool SetCellText(int row, int column, const QString &text) override;
    void RepaintGrid() override;
    void ShowRow(int row) override;
    void SetRowEvidence(int row, const RowEvidence &evidence) override;
    void SetHeaderSortingEnabled(bool enabled) override;

private:
    bool InGrid(int row, int column) const;

    ResultGrid &table_;
};

// The widgets of the window that the analysis may touch.
struct AnalysisWidgets {
    QFrame *progressPanel;
    QLabel *statusLine;
    QLabel *tipLine;
    QLineEdit *domainEdit;
    ResultGrid *grid;
};

// The window operations the analysis uses, on the window's widgets.
class WindowOperations final : public AnalysisWindow {
public:
    explicit WindowOperations(const AnalysisWidgets &widgets);

    void ShowProgressPanel() override;
    void HideProgressPanel() override;
    void RepaintProgressPanel() override;
    void SetStatus(const QString &text) override;
    void SetTipLine(const QString &text) override;
    void RepaintTipLine() override;
    QString GetDomainText() const override;
    void SetDomainText(const QString &text) override;
    void ProcessPendingEvents() override;
    bool WindowClosed() const override { return closed_; }
    ResultGridOps &Grid() override { return grid_; }
    QString &PageSource() override { return pageSource_; }

    void MarkClosed() { closed_ = true; }

private:
    AnalysisWidgets widgets_;
    GridOperations grid_;
    QString pageSource_;
    bool closed_ = false;
};

} // namespace vantorel
