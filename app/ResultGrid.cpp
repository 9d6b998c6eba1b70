#include "ResultGrid.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QPainter>
#include <QStyleOptionHeader>

namespace {

constexpr int kColumns = 3;
constexpr int kMinRowHeightTwips = 250;
constexpr int kCellPaddingPx = 4;

// Data cells: numbers sort as numbers, everything else as text.
class GridItem final : public QTableWidgetItem {
public:
    explicit GridItem(const QString &text) : QTableWidgetItem(text)
    {
        setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    }

    bool operator<(const QTableWidgetItem &other) const override
    {
        bool leftIsNumber = false;
        bool rightIsNumber = false;
        const qlonglong left = text().toLongLong(&leftIsNumber);
        const qlonglong right = other.text().toLongLong(&rightIsNumber);
        if (leftIsNumber && rightIsNumber)
            return left < right;
        return text() < other.text();
    }
};

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

ResultGrid::ResultGrid(QWidget *parent) : QTableWidget(0, kColumns, parent)
{
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
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
    const int minRowHeight = qRound(kMinRowHeightTwips * logicalDpiY() / 1440.0);
    verticalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    verticalHeader()->setMinimumSectionSize(minRowHeight);
    verticalHeader()->setDefaultSectionSize(minRowHeight);
    verticalHeader()->setFixedWidth(8);
    verticalHeader()->setDefaultAlignment(Qt::AlignCenter);

    connect(this, &QTableWidget::cellDoubleClicked, this, [this] { emit RowActivated(); });
}

bool ResultGrid::InGrid(int row, int column) const
{
    return row >= 0 && row < GetRowCount() && column >= 0 && column < columnCount();
}

void ResultGrid::ClearGrid()
{
    // New rows come in their own order: an old sort indicator would misdescribe them.
    horizontalHeader()->setSortIndicatorShown(false);
    sortColumn_ = -1;
    clearContents();
    for (int column = 0; column < columnCount(); ++column)
        setHorizontalHeaderItem(column, new QTableWidgetItem());
}

int ResultGrid::GetRowCount() const
{
    return rowCount() + 1;
}

bool ResultGrid::SetRowCount(int rows)
{
    if (rows < 1)
        return false;
    setRowCount(rows - 1);
    return true;
}

void ResultGrid::SetHeaderFormat(const QString &format)
{
    const QStringList captions = format.split(u'|');
    const QFontMetrics metrics(font());
    for (int column = 0; column < columnCount(); ++column) {
        QString caption = column < captions.size() ? captions[column] : QString();
        Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignVCenter;
        if (caption.startsWith(u'^')) {
            caption.remove(0, 1);
            alignment = Qt::AlignCenter;
        }
        auto *item = new QTableWidgetItem(caption);
        item->setTextAlignment(alignment);
        setHorizontalHeaderItem(column, item);
        setColumnWidth(column, metrics.horizontalAdvance(caption) + 2 * kCellPaddingPx);
    }
}

int ResultGrid::GetCurrentRow() const
{
    const int row = currentRow();
    return row < 0 ? -1 : row + 1;
}

std::optional<QString> ResultGrid::GetCellText(int row, int column) const
{
    if (!InGrid(row, column))
        return std::nullopt;
    const QTableWidgetItem *cell = row == 0 ? horizontalHeaderItem(column) : item(row - 1, column);
    return cell ? cell->text() : QString();
}

bool ResultGrid::SetCellText(int row, int column, const QString &text)
{
    if (!InGrid(row, column))
        return false;
    if (row == 0) {
        if (QTableWidgetItem *header = horizontalHeaderItem(column))
            header->setText(text);
        else
            setHorizontalHeaderItem(column, new QTableWidgetItem(text));
        return true;
    }
    if (QTableWidgetItem *cell = item(row - 1, column)) {
        cell->setText(text);
    } else {
        auto *created = new GridItem(text);
        if (column == 0)
            created->setBackground(palette().button());
        setItem(row - 1, column, created);
    }
    return true;
}

void ResultGrid::RepaintGrid()
{
    repaint(); // paints the cells, the headers and the panel lying on them
}

void ResultGrid::SetHeaderSortingEnabled(bool enabled)
{
    headerSortingEnabled_ = enabled;
}

void ResultGrid::SortByHeaderClick(int column)
{
    if (!headerSortingEnabled_)
        return;
    sortOrder_ = (column == sortColumn_ && sortOrder_ == Qt::AscendingOrder) ? Qt::DescendingOrder
                                                                              : Qt::AscendingOrder;
    sortColumn_ = column;
    sortItems(column, sortOrder_);
    horizontalHeader()->setSortIndicatorShown(true);
    horizontalHeader()->setSortIndicator(column, sortOrder_);
}

void ResultGrid::keyPressEvent(QKeyEvent *event)
{
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && currentRow() >= 0) {
        emit RowActivated();
        event->accept();
        return;
    }
    QTableWidget::keyPressEvent(event);
}
