#pragma once

#include <QElapsedTimer>
#include <QTableView>
#include <QTimer>

#include <optional>
#include <vector>

class QSortFilterProxyModel;

namespace vantorel {

class ResultModel;

// The result table: a view of the run's rows with three read-only columns, whole-row
// selection, resizable rows and columns. A header click sorts the rows, also while they are
// judged: rows are keyed by the model, not by their place. Rows here are model rows.
class ResultGrid final : public QTableView {
    Q_OBJECT

public:
    explicit ResultGrid(QWidget *parent = nullptr);

    void SetResultModel(ResultModel *model);
    ResultModel &Model() const { return *model_; }
    // Captions into the model; each column as wide as its caption.
    void SetHeaderFormat(const QString &format);

    std::vector<int> SelectedRows() const; // in row order
    int RowAt(const QPoint &viewportPoint) const; // -1 where there is none
    int CurrentRow() const;
    // Keeps the row being judged in view, unless the user has scrolled away from it.
    void FollowRow(int row);

signals:
    // A double click on a row, or Enter on the current row.
    void RowActivated(int row);
    // Ctrl+C, or Ctrl+Shift+C for the rows with their evidence.
    void CopyRequested(bool withEvidence);
    // Ctrl+V.
    void PasteRequested();
    // Space on the current row: its evidence.
    void EvidenceRequested(int row);

protected:
    bool event(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void SortByHeaderClick(int column);
    void FitColumns();
    int ModelRow(const QModelIndex &viewIndex) const;
    void ScrollToFollowedRow();
    // The context menu from the keyboard opens under the current row, wherever the mouse is.
    void RequestMenuAtCurrentRow();

    ResultModel *model_ = nullptr;
    QSortFilterProxyModel *proxy_ = nullptr;
    std::vector<int> captionWidths_;
    int narrowestAddress_ = 0;
    int sortColumn_ = -1;
    Qt::SortOrder sortOrder_ = Qt::AscendingOrder;
    std::optional<int> followedTo_; // where following the judged row last scrolled
    int rowToFollow_ = -1;
    QElapsedTimer sinceFollowed_;
    QTimer followLater_;
};

} // namespace vantorel
