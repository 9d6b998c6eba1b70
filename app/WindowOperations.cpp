#include "WindowOperations.h"

#include "Layout.h"
#include "ResultGrid.h"

#include <QCoreApplication>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>

namespace vantorel {

bool GridOperations::InGrid(int row, int column) const
{
    return row >= 0 && row < GetRowCount() && column >= 0 && column < table_.columnCount();
}

void GridOperations::ClearGrid()
{
    table_.ClearCells();
}

int GridOperations::GetRowCount() const
{
    return table_.rowCount() + 1;
}

bool GridOperations::SetRowCount(int rows)
{
    if (rows < 1)
        return false;
    table_.setRowCount(rows - 1);
    return true;
}

void GridOperations::SetHeaderFormat(const QString &format)
{
    table_.SetHeaderFormat(format);
}

std::optional<QString> GridOperations::GetCellText(int row, int column) const
{
    if (!InGrid(row, column))
        return std::nullopt;
    const QTableWidgetItem *cell = row == 0 ? table_.horizontalHeaderItem(column) : table_.item(row - 1, column);
    return cell ? cell->text() : QString();
}

bool GridOperations::SetCellText(int row, int column, const QString &text)
{
    if (!InGrid(row, column))
        return false;
    if (row > 0)
        table_.SetText(row - 1, column, text);
    else if (QTableWidgetItem *header = table_.horizontalHeaderItem(column))
        header->setText(text);
    else
        table_.setHorizontalHeaderItem(column, new QTableWidgetItem(text));
    return true;
}

void GridOperations::RepaintGrid()
{
    table_.repaint(); // paints the cells, the headers and the panel lying on them
}

void GridOperations::ShowRow(int row)
{
    if (row > 0 && row < GetRowCount())
        table_.scrollTo(table_.model()->index(row - 1, 0));
}

void GridOperations::SetRowEvidence(int row, const RowEvidence &evidence)
{
    if (row > 0 && row < GetRowCount())
        table_.SetEvidence(row - 1, evidence);
}

void GridOperations::SetHeaderSortingEnabled(bool enabled)
{
    table_.SetHeaderSortingEnabled(enabled);
}

WindowOperations::WindowOperations(const AnalysisWidgets &widgets) : widgets_(widgets), grid_(*widgets.grid) {}

void WindowOperations::ShowProgressPanel()
{
    widgets_.progressPanel->show();
    widgets_.progressPanel->raise();
}

void WindowOperations::HideProgressPanel()
{
    widgets_.progressPanel->hide();
}

void WindowOperations::RepaintProgressPanel()
{
    widgets_.progressPanel->repaint();
}

void WindowOperations::SetStatus(const QString &text)
{
    SetLabelText(widgets_.statusLine, text);
}

void WindowOperations::SetTipLine(const QString &text)
{
    SetLabelText(widgets_.tipLine, text);
}

void WindowOperations::RepaintTipLine()
{
    widgets_.tipLine->repaint();
}

QString WindowOperations::GetDomainText() const
{
    return widgets_.domainEdit->text();
}

void WindowOperations::SetDomainText(const QString &text)
{
    widgets_.domainEdit->setText(text);
}

void WindowOperations::ProcessPendingEvents()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

} // namespace vantorel
