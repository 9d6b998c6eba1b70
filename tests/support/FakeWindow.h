#pragma once

// A stand-in for the window that records what the analysis does to it, in order.

#include "QtPrinters.h"

#include <AnalysisWindow.h>

#include <QStringList>

#include <functional>
#include <map>
#include <vector>

class FakeGrid final : public vantorel::ResultGridOps {
public:
    std::vector<QStringList> rows{QStringList{"", "", ""}}; // row 0 is the header
    QString headerFormat;
    int repaints = 0;
    int rowsAtLastRepaint = -1;
    bool sortingEnabled = true;

    void ClearGrid() override
    {
        for (QStringList &row : rows)
            row = QStringList{"", "", ""};
    }
    int GetRowCount() const override { return static_cast<int>(rows.size()); }
    bool SetRowCount(int count) override
    {
        if (count < 1)
            return false;
        rows.resize(static_cast<size_t>(count), QStringList{"", "", ""});
        return true;
    }
    void SetHeaderFormat(const QString &format) override { headerFormat = format; }
    std::optional<QString> GetCellText(int row, int column) const override
    {
        if (row < 0 || row >= GetRowCount() || column < 0 || column > 2)
            return std::nullopt;
        return rows[static_cast<size_t>(row)][column];
    }
    bool SetCellText(int row, int column, const QString &text) override
    {
        if (row < 0 || row >= GetRowCount() || column < 0 || column > 2)
            return false;
        rows[static_cast<size_t>(row)][column] = text;
        return true;
    }
    void RepaintGrid() override
    {
        ++repaints;
        rowsAtLastRepaint = GetRowCount();
    }
    void ShowRow(int) override {}
    void SetRowEvidence(int row, const vantorel::RowEvidence &rowEvidence) override
    {
        evidence[row] = rowEvidence;
    }
    std::map<int, vantorel::RowEvidence> evidence;
    void SetHeaderSortingEnabled(bool enabled) override
    {
        sortingEnabled = enabled;
    }

    QStringList Column(int column) const
    {
        QStringList cells;
        for (size_t row = 1; row < rows.size(); ++row)
            cells << rows[row][column];
        return cells;
    }
};

class FakeWindow final : public vantorel::AnalysisWindow {
public:
    FakeGrid grid;
    QString domain;
    QString status;
    QString tipLine = QStringLiteral("initial tip");
    bool panelVisible = false;
    bool closed = false;
    QString pageSource;
    QStringList statuses;   // every status text, in order
    QStringList operations; // every call, in order
    // Runs inside ProcessPendingEvents, as a user's clicks would.
    std::function<void()> onProcessEvents;

    void ShowProgressPanel() override { panelVisible = true; operations << "ShowProgressPanel"; }
    void HideProgressPanel() override { panelVisible = false; operations << "HideProgressPanel"; }
    void RepaintProgressPanel() override { operations << "RepaintProgressPanel"; }
    void SetStatus(const QString &text) override
    {
        status = text;
        statuses << text;
        operations << "SetStatus:" + text;
    }
    void SetTipLine(const QString &text) override
    {
        tipLine = text;
        operations << "SetTipLine";
    }
    void RepaintTipLine() override { operations << "RepaintTipLine"; }
    QString GetDomainText() const override { return domain; }
    void SetDomainText(const QString &text) override
    {
        domain = text;
        operations << "SetDomainText:" + text;
    }
    void ProcessPendingEvents() override
    {
        operations << "ProcessPendingEvents";
        if (onProcessEvents)
            onProcessEvents();
    }
    bool WindowClosed() const override { return closed; }
    vantorel::ResultGridOps &Grid() override { return grid; }
    QString &PageSource() override { return pageSource; }
};
