#pragma once

#include "Verdict.h"

#include <QString>

#include <optional>

namespace vantorel {

// The 99-character header format of the result grid: "|" separates the captions, a leading
// "^" centres the first column, each column is as wide as its caption.
inline const QString kResultGridHeader = QStringLiteral(
    "^ID编号|            外链地址                                                                       | 有效性 ");

// Operations of the result grid. Row 0 is the header row; rows 1 .. count-1 hold data.
// Reads and writes outside the grid report failure instead of touching anything.
class ResultGridOps {
public:
    virtual ~ResultGridOps() = default;

    virtual void ClearGrid() = 0;
    virtual int GetRowCount() const = 0;
    virtual bool SetRowCount(int rows) = 0;
    virtual void SetHeaderFormat(const QString &format) = 0;
    virtual std::optional<QString> GetCellText(int row, int column) const = 0;
    virtual bool SetCellText(int row, int column, const QString &text) = 0;
    virtual void RepaintGrid() = 0; // draws before it returns
    virtual void ShowRow(int row) = 0; // scrolls the row into view
    // Keeps a judged row's evidence with the row and shows it (colour, tool tips).
    virtual void SetRowEvidence(int row, const RowEvidence &evidence) = 0;

    // Header-click sorting; switched off while rows are judged by index.
    virtual void SetHeaderSortingEnabled(bool enabled) = 0;
};

// What the analysis may do to the window, and nothing more.
class AnalysisWindow {
public:
    virtual ~AnalysisWindow() = default;

    virtual void ShowProgressPanel() = 0;
    virtual void HideProgressPanel() = 0;
    virtual void RepaintProgressPanel() = 0; // draws before it returns
    virtual void SetStatus(const QString &text) = 0;
    virtual void SetTipLine(const QString &text) = 0;
    virtual void RepaintTipLine() = 0; // draws before it returns
    virtual QString GetDomainText() const = 0;
    virtual void SetDomainText(const QString &text) = 0;
    virtual void ProcessPendingEvents() = 0;

    // True once the user has closed the window; a run then stops at once.
    virtual bool WindowClosed() const = 0;

    virtual ResultGridOps &Grid() = 0;
    // The most recently fetched page, owned by the window.
    virtual QString &PageSource() = 0;
};

} // namespace vantorel
