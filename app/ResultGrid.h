#pragma once

#include <Verdict.h>

#include <QTableWidget>

#include <optional>

namespace vantorel {

// The result table: three read-only columns, whole-row selection, resizable rows and columns.
// A header click sorts the rows once (rows never move while cells are written) unless sorting
// is switched off for the time rows are read and written by index.
class ResultGrid final : public QTableWidget {
    Q_OBJECT

public:
    explicit ResultGrid(QWidget *parent = nullptr);

    // Captions separated by "|"; a leading "^" centres a column; each column is as wide as
    // its caption.
    void SetHeaderFormat(const QString &format);
    void SetHeaderSortingEnabled(bool enabled) { headerSortingEnabled_ = enabled; }
    // Empties every cell and header and forgets the last sort.
    void ClearCells();
    // Writes a cell, creating its item when needed.
    void SetText(int row, int column, const QString &text);
    // Keeps a judged row's evidence with the row (it moves with a sort) and shows it: the
    // verdict cell's colour and tool tip, the whole address in the address cell's tool tip.
    void SetEvidence(int row, const RowEvidence &evidence);
    // The evidence of a row, when it has been judged.
    std::optional<RowEvidence> Evidence(int row) const;

signals:
    // A double click on a row, or Enter on the current row.
    void RowActivated(int row);
    // Ctrl+C, or Ctrl+Shift+C for the rows with their evidence.
    void CopyRequested(bool withEvidence);
    // Ctrl+V.
    void PasteRequested();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;

private:
    void SortByHeaderClick(int column);

    bool headerSortingEnabled_ = true;
    int sortColumn_ = -1;
    Qt::SortOrder sortOrder_ = Qt::AscendingOrder;
};

} // namespace vantorel
