#include "ResultGrid.h"

#include "Layout.h"

#include <Domain.h>
#include <PlainText.h>

#include <QFocusEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPainter>
#include <QStyleOptionHeader>

#include <tuple>

namespace vantorel {

namespace {

constexpr int kColumns = 3;
constexpr int kMinRowHeightTwips = 250;
constexpr int kCellPaddingPx = 4;

// Cells that hold a whole number sort as numbers, before every other text; the rest sort
// as text. One key per cell keeps every comparison a strict weak ordering.
class GridItem final : public QTableWidgetItem {
public:
    explicit GridItem(const QString &text) : QTableWidgetItem(text)
    {
        setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    }

    bool operator<(const QTableWidgetItem &other) const override { return SortKey(text()) < SortKey(other.text()); }

private:
    static std::tuple<bool, qlonglong, QString> SortKey(const QString &text)
    {
        bool isNumber = false;
        const qlonglong number = text.toLongLong(&isNumber);
        return {!isNumber, isNumber ? number : 0, text};
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

constexpr int kAddressColumn = 1;
constexpr int kVerdictColumn = 2;
constexpr int kEvidenceRole = Qt::UserRole + 1;

QColor VerdictColour(VerdictStrength strength)
{
    switch (strength) {
    case VerdictStrength::PassesWeight: return QColor(0xC8, 0xE6, 0xC9); // green
    case VerdictStrength::NoWeight: return QColor(0xFF, 0xE0, 0x82);     // amber
    case VerdictStrength::Invalid: break;
    }
    return QColor(0xFF, 0xCD, 0xD2); // red
}

} // namespace

ResultGrid::ResultGrid(QWidget *parent) : QTableWidget(0, kColumns, parent)
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
    verticalHeader()->setDefaultAlignment(Qt::AlignCenter);

    connect(this, &QTableWidget::cellDoubleClicked, this, [this](int row) { emit RowActivated(row); });
}

void ResultGrid::ClearCells()
{
    // New rows come in their own order: an old sort indicator would misdescribe them.
    horizontalHeader()->setSortIndicatorShown(false);
    sortColumn_ = -1;
    clearContents();
    for (int column = 0; column < columnCount(); ++column)
        setHorizontalHeaderItem(column, new QTableWidgetItem());
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

void ResultGrid::SetText(int row, int column, const QString &text)
{
    if (QTableWidgetItem *cell = item(row, column)) {
        cell->setText(text);
        return;
    }
    auto *created = new GridItem(text);
    if (column == 0)
        created->setBackground(palette().button());
    setItem(row, column, created);
}

void ResultGrid::SetEvidence(int row, const RowEvidence &evidence)
{
    QTableWidgetItem *verdict = item(row, kVerdictColumn);
    QTableWidgetItem *address = item(row, kAddressColumn);
    if (!verdict || !address)
        return;
    verdict->setData(kEvidenceRole, QVariant::fromValue(evidence));
    verdict->setBackground(VerdictColour(Strength(evidence)));
    verdict->setToolTip(ToolTipMarkup(VerdictToolTip(evidence)));
    QString whole = RowUrl(address->text());
    if (!evidence.finalUrl.isEmpty() && evidence.finalUrl != whole)
        whole += QStringLiteral("\n最终地址：") + evidence.finalUrl;
    address->setToolTip(ToolTipMarkup(whole));
}

std::optional<RowEvidence> ResultGrid::Evidence(int row) const
{
    const QTableWidgetItem *verdict = item(row, kVerdictColumn);
    if (!verdict || !verdict->data(kEvidenceRole).isValid())
        return std::nullopt;
    return verdict->data(kEvidenceRole).value<RowEvidence>();
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
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && currentRow() >= 0) {
        emit RowActivated(currentRow());
        event->accept();
        return;
    }
    QTableWidget::keyPressEvent(event);
}

void ResultGrid::focusInEvent(QFocusEvent *event)
{
    QTableWidget::focusInEvent(event);
    const bool byKeyboard = event->reason() == Qt::TabFocusReason || event->reason() == Qt::BacktabFocusReason;
    if (!byKeyboard || rowCount() == 0)
        return;
    if (currentRow() < 0)
        setCurrentCell(0, 0);
    selectRow(currentRow());
}

} // namespace vantorel
