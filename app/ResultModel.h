#pragma once

#include <BacklinkAnalysis.h>
#include <RunChanges.h>

#include <QAbstractTableModel>
#include <QBrush>
#include <QHash>
#include <QStringList>
#include <QTimer>

namespace vantorel {

// The grid's captions: "|" separates them, a leading "^" centres a column, and each column is
// as wide as its caption.
inline const QString kResultGridHeader = QStringLiteral(
    "^ID编号|            外链地址                                                                       | 有效性 ");

// The rows of the analysis's current run as a table of three columns: number, address and
// verdict, with the verdict's colour and the evidence in tool tips. It only reads the run's
// rows; the run's signals say when they change. Before the first run it shows empty rows.
class ResultModel final : public QAbstractTableModel {
    Q_OBJECT

public:
    static constexpr int kColumns = 3;
    static constexpr int kAddressColumn = 1;
    static constexpr int kVerdictColumn = 2;
    static constexpr int kEmptyRows = 16;
    // What a column sorts by: the number as a number, the texts as they read.
    static constexpr int kSortRole = Qt::UserRole;

    ResultModel(const BacklinkAnalysis &analysis, QBrush numberBackground, QObject *parent = nullptr);

    // The captions, and each column's alignment, from a header format.
    void SetHeaderFormat(const QString &format);
    const QStringList &Captions() const { return captions_; }

    // The run's row behind a model row; null for an empty row.
    const ResultRow *Row(int row) const;
    // What is known of a judged row, as plain text: its address, its verdict's tool tip, then
    // every link, redirect and failed attempt; empty for a row not judged.
    QString EvidenceText(int row) const;
    // The pasts of the run's addresses in the site's history, by full address: the verdict's
    // tool tip names the latest check, and the change as a run that confirms a loss by
    // confirmChecks checks in a row tells it. Dropped when the next run lists its rows.
    void SetPreviousChecks(QHash<QString, AddressPast> checks, int confirmChecks);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    // The verdict's tool tip as plain text: the evidence, then the address's previous check.
    QString VerdictTip(const ResultRow &row) const;
    // Rows change faster than a sorted view can re-sort them one by one: their changes are told
    // together, once the pause is over or the run ends.
    void NoteChanged(int row);
    void TellChanged();

    const BacklinkAnalysis &analysis_;
    QBrush numberBackground_;
    bool listed_ = false; // a run has listed its rows
    QStringList captions_;
    QHash<QString, AddressPast> previousChecks_;
    int confirmChecks_ = 1; // of the run the rows are checked by
    std::vector<Qt::Alignment> alignments_;
    QTimer tellLater_;
    int changedFirst_ = -1; // the rows changed since last told; -1: none
    int changedLast_ = -1;
};

// The colour of a judged verdict.
QColor VerdictColour(VerdictStrength strength);

} // namespace vantorel
