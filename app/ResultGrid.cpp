#include "ResultGrid.h"

#include "Layout.h"
#include "ResultModel.h"

#include <Retry.h>

#include <QContextMenuEvent>
#include <QFocusEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>
#include <QSortFilterProxyModel>
#include <QStyleOptionHeader>

#include <algorithm>
#include <numeric>

namespace vantorel {

namespace {

constexpr int kMinRowHeightTwips = 250;
constexpr int kCellPaddingPx = 4;

// Row header without labels: a thin handle for dragging row heights.
class RowHandleHeader final : public QHeaderView {
public:
    explicit RowHandleHeader(QWidget *parent) : QHeaderView(Qt::Vertical, parent) {}

protected:
    void paintSection(QPainter *painter, const QRect &rect, int logicalIndex) const override
    {
        QStyleOptionHeader option;
        initStyleOption(&option);
        option.rect = rect;
        option.section = logicalIndex;
        style()->drawControl(QStyle::CE_HeaderSection, &option, painter, this);
    }
};

} // namespace

ResultGrid::ResultGrid(QWidget *parent) : QTableView(parent)
{
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    setTabKeyNavigation(false); // Tab moves on to the next control, not the next cell

    horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    horizontalHeader()->setSectionsClickable(true);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setSortIndicatorShown(false);
    connect(horizontalHeader(), &QHeaderView::sectionClicked, this, &ResultGrid::SortByHeaderClick);

    setVerticalHeader(new RowHandleHeader(this));
    const int minRowHeight = TwipsToPixels(kMinRowHeightTwips, logicalDpiY());
    verticalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    verticalHeader()->setMinimumSectionSize(minRowHeight);
    verticalHeader()->setDefaultSectionSize(minRowHeight);
    verticalHeader()->setFixedWidth(8);

    followLater_.setSingleShot(true);
    connect(&followLater_, &QTimer::timeout, this, &ResultGrid::ScrollToFollowedRow);
    connect(this, &QAbstractItemView::doubleClicked, this,
            [this](const QModelIndex &index) { emit RowActivated(ModelRow(index)); });
}

void ResultGrid::SetResultModel(ResultModel *model)
{
    model_ = model;
    proxy_ = new QSortFilterProxyModel(this);
    proxy_->setSortRole(ResultModel::kSortRole);
    proxy_->setSourceModel(model);
    setModel(proxy_);
    // New rows come in their own order: an old sort, and the place followed, would misdescribe them.
    connect(model, &QAbstractItemModel::modelReset, this, [this] {
        horizontalHeader()->setSortIndicatorShown(false);
        sortColumn_ = -1;
        proxy_->sort(-1);
        followedTo_.reset();
        rowToFollow_ = -1;
        followLater_.stop();
    });
}

void ResultGrid::SetHeaderFormat(const QString &format)
{
    model_->SetHeaderFormat(format);
    const QFontMetrics metrics(font());
    captionWidths_.clear();
    for (const QString &caption : model_->Captions())
        captionWidths_.push_back(metrics.horizontalAdvance(caption) + 2 * kCellPaddingPx);
    if (captionWidths_.size() > ResultModel::kAddressColumn)
        narrowestAddress_ =
            metrics.horizontalAdvance(model_->Captions()[ResultModel::kAddressColumn].trimmed()) + 2 * kCellPaddingPx;
    // The verdict column fits whatever a row may say while it waits or is fetched, the longest
    // wait for a retry included.
    if (captionWidths_.size() > ResultModel::kVerdictColumn) {
        int &verdict = captionWidths_[ResultModel::kVerdictColumn];
        for (const RowState state : {RowState::Waiting, RowState::Fetching, RowState::Rendering, RowState::WaitingToRetry}) {
            ResultRow row;
            row.state = state;
            row.retryWait = RetryPolicy().maxRetryAfter;
            verdict = std::max(verdict, metrics.horizontalAdvance(row.Verdict()) + 2 * kCellPaddingPx);
        }
    }
    for (int column = 0; column < static_cast<int>(captionWidths_.size()); ++column)
        setColumnWidth(column, captionWidths_[static_cast<std::size_t>(column)]);
    FitColumns();
}

void ResultGrid::FitColumns()
{
    // The address column takes what the grid has beyond the other columns, down to its
    // caption's own words when they are wide.
    if (captionWidths_.size() != ResultModel::kColumns)
        return;
    const int others = std::accumulate(captionWidths_.begin(), captionWidths_.end(), 0) -
                       captionWidths_[ResultModel::kAddressColumn];
    setColumnWidth(ResultModel::kAddressColumn, std::max(narrowestAddress_, viewport()->width() - others));
}

void ResultGrid::resizeEvent(QResizeEvent *event)
{
    QTableView::resizeEvent(event);
    FitColumns();
}

int ResultGrid::ModelRow(const QModelIndex &viewIndex) const
{
    return viewIndex.isValid() ? proxy_->mapToSource(viewIndex).row() : -1;
}

std::vector<int> ResultGrid::SelectedRows() const
{
    std::vector<int> rows;
    for (const QModelIndex &index : selectionModel()->selectedRows())
        rows.push_back(ModelRow(index));
    std::sort(rows.begin(), rows.end());
    return rows;
}

int ResultGrid::RowAt(const QPoint &viewportPoint) const
{
    return ModelRow(indexAt(viewportPoint));
}

int ResultGrid::CurrentRow() const
{
    return ModelRow(currentIndex());
}

void ResultGrid::FollowRow(int row)
{
    // A scroll repaints the whole grid: rows that land faster than the screen refreshes are
    // followed once a frame.
    constexpr qint64 kFrameMs = 16;
    rowToFollow_ = row;
    if (!sinceFollowed_.isValid() || sinceFollowed_.elapsed() >= kFrameMs)
        ScrollToFollowedRow();
    else if (!followLater_.isActive())
        followLater_.start(static_cast<int>(kFrameMs - sinceFollowed_.elapsed()));
}

void ResultGrid::ScrollToFollowedRow()
{
    followLater_.stop();
    sinceFollowed_.start();
    const int scrolled = verticalScrollBar()->value();
    if (rowToFollow_ < 0 || (followedTo_ && scrolled != *followedTo_))
        return; // the user looks elsewhere
    scrollTo(proxy_->mapFromSource(model_->index(rowToFollow_, 0)));
    followedTo_ = verticalScrollBar()->value();
}

void ResultGrid::SortByHeaderClick(int column)
{
    sortOrder_ = (column == sortColumn_ && sortOrder_ == Qt::AscendingOrder) ? Qt::DescendingOrder
                                                                              : Qt::AscendingOrder;
    sortColumn_ = column;
    proxy_->sort(column, sortOrder_);
    horizontalHeader()->setSortIndicatorShown(true);
    horizontalHeader()->setSortIndicator(column, sortOrder_);
    // The arrow takes room of its own beside the caption.
    const int arrow = style()->pixelMetric(QStyle::PM_HeaderMarkSize, nullptr, horizontalHeader()) + 2 * kCellPaddingPx;
    if (column < static_cast<int>(captionWidths_.size()))
        setColumnWidth(column, std::max(columnWidth(column), captionWidths_[static_cast<std::size_t>(column)] + arrow));
}

bool ResultGrid::event(QEvent *event)
{
    // The Menu key reaches the focused grid as a context menu event placed at the mouse.
    if (event->type() == QEvent::ContextMenu &&
        static_cast<QContextMenuEvent *>(event)->reason() == QContextMenuEvent::Keyboard) {
        RequestMenuAtCurrentRow();
        event->accept();
        return true;
    }
    return QTableView::event(event);
}

void ResultGrid::RequestMenuAtCurrentRow()
{
    QPoint at; // the top left corner without a current row
    if (const QModelIndex current = currentIndex(); current.isValid()) {
        scrollTo(current);
        const QRect cell = visualRect(current);
        at = QPoint(cell.left(), cell.bottom());
    }
    emit customContextMenuRequested(at);
}

void ResultGrid::keyPressEvent(QKeyEvent *event)
{
    if (event->keyCombination() == QKeyCombination(Qt::ShiftModifier, Qt::Key_F10)) {
        RequestMenuAtCurrentRow();
        event->accept();
        return;
    }
    if (event->key() == Qt::Key_Space && event->modifiers() == Qt::NoModifier && CurrentRow() >= 0) {
        emit EvidenceRequested(CurrentRow());
        event->accept();
        return;
    }
    // Rows, not the current cell, go to the clipboard.
    if (event->matches(QKeySequence::Copy) ||
        event->keyCombination() == QKeyCombination(Qt::ControlModifier | Qt::ShiftModifier, Qt::Key_C)) {
        emit CopyRequested(event->modifiers().testFlag(Qt::ShiftModifier));
        event->accept();
        return;
    }
    if (event->matches(QKeySequence::Paste)) {
        emit PasteRequested();
        event->accept();
        return;
    }
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && CurrentRow() >= 0) {
        emit RowActivated(CurrentRow());
        event->accept();
        return;
    }
    QTableView::keyPressEvent(event);
}

void ResultGrid::focusInEvent(QFocusEvent *event)
{
    QTableView::focusInEvent(event);
    const bool byKeyboard = event->reason() == Qt::TabFocusReason || event->reason() == Qt::BacktabFocusReason;
    if (!byKeyboard || model()->rowCount() == 0)
        return;
    if (!currentIndex().isValid())
        setCurrentIndex(model()->index(0, 0));
    selectRow(currentIndex().row());
}

} // namespace vantorel
