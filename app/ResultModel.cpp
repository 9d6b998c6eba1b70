#include "ResultModel.h"

#include <PlainText.h>

#include <algorithm>

namespace vantorel {

QColor VerdictColour(VerdictStrength strength)
{
    switch (strength) {
    case VerdictStrength::PassesWeight: return QColor(0xC8, 0xE6, 0xC9); // green
    case VerdictStrength::NoWeight: return QColor(0xFF, 0xE0, 0x82);     // amber
    case VerdictStrength::Removed: return QColor(0xFF, 0xCD, 0xD2);      // red
    case VerdictStrength::Unreachable: break;
    }
    return QColor(0xE0, 0xE0, 0xE0); // grey
}

ResultModel::ResultModel(const BacklinkAnalysis &analysis, QBrush numberBackground, QObject *parent)
    : QAbstractTableModel(parent), analysis_(analysis), numberBackground_(std::move(numberBackground)),
      captions_(kColumns), alignments_(kColumns, Qt::AlignLeft | Qt::AlignVCenter)
{
    constexpr int kTellEveryMs = 50;
    tellLater_.setSingleShot(true);
    tellLater_.setInterval(kTellEveryMs);
    connect(&tellLater_, &QTimer::timeout, this, &ResultModel::TellChanged);
    // Views read the rows until the reset begins: it begins before the rows change.
    connect(&analysis, &BacklinkAnalysis::RowsAboutToBeListed, this, [this] {
        tellLater_.stop();
        changedFirst_ = changedLast_ = -1;
        beginResetModel();
    });
    connect(&analysis, &BacklinkAnalysis::RowsListed, this, [this] {
        listed_ = true;
        previousChecks_.clear();
        endResetModel();
    });
    connect(&analysis, &BacklinkAnalysis::RowJudged, this, &ResultModel::NoteChanged);
    connect(&analysis, &BacklinkAnalysis::RowStateChanged, this, [this](int row) {
        if (listed_)
            NoteChanged(row);
    });
    connect(&analysis, &BacklinkAnalysis::Finished, this, &ResultModel::TellChanged);
}

void ResultModel::NoteChanged(int row)
{
    changedFirst_ = changedFirst_ < 0 ? row : std::min(changedFirst_, row);
    changedLast_ = std::max(changedLast_, row);
    if (!tellLater_.isActive())
        tellLater_.start();
}

void ResultModel::TellChanged()
{
    tellLater_.stop();
    if (changedFirst_ < 0)
        return;
    const QModelIndex first = index(changedFirst_, 0);
    const QModelIndex last = index(changedLast_, kColumns - 1);
    changedFirst_ = changedLast_ = -1;
    emit dataChanged(first, last);
}

void ResultModel::SetHeaderFormat(const QString &format)
{
    const QStringList captions = format.split(u'|');
    for (int column = 0; column < kColumns; ++column) {
        QString caption = column < captions.size() ? captions[column] : QString();
        alignments_[column] = Qt::AlignLeft | Qt::AlignVCenter;
        if (caption.startsWith(u'^')) {
            caption.remove(0, 1);
            alignments_[column] = Qt::AlignCenter;
        }
        captions_[column] = caption;
    }
    emit headerDataChanged(Qt::Horizontal, 0, kColumns - 1);
}

void ResultModel::SetPreviousChecks(QHash<QString, AddressPast> checks, int confirmChecks)
{
    confirmChecks_ = confirmChecks;
    previousChecks_ = std::move(checks);
    if (const int rows = rowCount(); rows > 0)
        emit dataChanged(index(0, kVerdictColumn), index(rows - 1, kVerdictColumn), {Qt::ToolTipRole});
}

const ResultRow *ResultModel::Row(int row) const
{
    const std::vector<ResultRow> &rows = analysis_.Rows();
    if (!listed_ || row < 0 || row >= static_cast<int>(rows.size()))
        return nullptr;
    return &rows[static_cast<std::size_t>(row)];
}

QString ResultModel::VerdictTip(const ResultRow &row) const
{
    QString tip = VerdictToolTip(*row.evidence);
    if (const auto last = previousChecks_.constFind(row.url); last != previousChecks_.cend())
        tip += u'\n' + PreviousCheckLine(*last, CheckOf(ToStoredRow(row)), confirmChecks_);
    return tip;
}

QString ResultModel::EvidenceText(int row) const
{
    const ResultRow *listed = Row(row);
    if (!listed || !listed->evidence)
        return {};
    return listed->url + u'\n' + VerdictTip(*listed) + u'\n' + EvidenceDetails(*listed->evidence);
}

int ResultModel::rowCount(const QModelIndex &parent) const
{
    if (parent.isValid())
        return 0;
    return listed_ ? static_cast<int>(analysis_.Rows().size()) : kEmptyRows;
}

int ResultModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : kColumns;
}

QVariant ResultModel::data(const QModelIndex &index, int role) const
{
    const ResultRow *row = Row(index.row());
    if (!row)
        return {};
    switch (role) {
    case Qt::DisplayRole:
    case kSortRole:
        switch (index.column()) {
        case 0: return role == kSortRole ? QVariant(row->number) : QVariant(QString::number(row->number));
        case kAddressColumn: return row->address;
        default: return row->Verdict();
        }
    case Qt::ToolTipRole:
        if (!row->evidence)
            return {};
        if (index.column() == kVerdictColumn)
            return ToolTipMarkup(VerdictTip(*row));
        if (index.column() == kAddressColumn) {
            QString whole = row->url;
            if (!row->evidence->finalUrl.isEmpty() && row->evidence->finalUrl != whole)
                whole += QStringLiteral("\n最终地址：") + row->evidence->finalUrl;
            return ToolTipMarkup(whole);
        }
        return {};
    case Qt::BackgroundRole:
        if (index.column() == 0)
            return numberBackground_;
        if (index.column() == kVerdictColumn && row->evidence)
            return QBrush(VerdictColour(Strength(*row->evidence)));
        return {};
    default:
        return {};
    }
}

QVariant ResultModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= kColumns)
        return QAbstractTableModel::headerData(section, orientation, role);
    if (role == Qt::DisplayRole)
        return captions_[section];
    if (role == Qt::ToolTipRole && section == kVerdictColumn) {
        OutcomeCounter judged;
        if (listed_)
            for (const ResultRow &row : analysis_.Rows())
                if (row.evidence)
                    judged.Add(*row.evidence);
        return ToolTipMarkup(QStringLiteral("绿色：有指向该网站的链接，传递权重\n"
                                            "黄色：提到该网站，但链接不传递权重\n"
                                            "红色：外链已失效\n"
                                            "灰色：未能检测，不代表外链已失效\n") +
                             judged.Text());
    }
    if (role == Qt::TextAlignmentRole)
        return static_cast<int>(alignments_[static_cast<std::size_t>(section)]);
    return {};
}

} // namespace vantorel
