#pragma once

#include <AnalysisWindow.h>

#include <QTableWidget>

// The result grid on a Qt table. Grid row 0 is the table's header; grid row r > 0 is table
// row r - 1. Header clicks sort the data rows once per click, so rows never move while cells
// are being written.
class ResultGrid final : public QTableWidget, public ResultGridOps {
    Q_OBJECT

public:
    explicit ResultGrid(QWidget *parent = nullptr);

    void ClearGrid() override;
    int GetRowCount() const override;
    bool SetRowCount(int rows) override;
    void SetHeaderFormat(const QString &format) override;
    int GetCurrentRow() const override;
    std::optional<QString> GetCellText(int row, int column) const override;
    bool SetCellText(int row, int column, const QString &text) override;
    void RepaintGrid() override;
    void SetHeaderSortingEnabled(bool enabled) override;

signals:
    // A double click on a row, or Enter on the current row.
    void RowActivated();

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    void SortByHeaderClick(int column);
    bool InGrid(int row, int column) const;

    bool headerSortingEnabled_ = true;
    int sortColumn_ = -1;
    Qt::SortOrder sortOrder_ = Qt::AscendingOrder;
};
