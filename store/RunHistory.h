#pragma once

#include "HistoryWriter.h"

#include <BacklinkAnalysis.h>

#include <QObject>

#include <optional>

namespace vantorel {

// Keeps every run of an analysis in the history as it goes: its start, each row as it is
// judged, its end. The store never holds a run up; when it fails, the run goes on and the
// failure is said once, after the run (or at once when no run is going).
class RunHistory final : public QObject {
    Q_OBJECT

public:
    RunHistory(BacklinkAnalysis &analysis, HistoryWriter &writer, QObject *parent = nullptr);

    // Keeps what an export said of its pages as a completed run of source 导入, before the list
    // is checked, so that each page's check is compared with it. Nothing for a domain that is
    // no host.
    void KeepExported(const QString &typedDomain, const std::vector<ExportedPage> &pages);

    // The analysis was abandoned (its window closed): the run it was writing ends as stopped,
    // since no Finished will come.
    void RunAbandoned();

    // The store's id of the run going, or of the last one; 0 until the store has said it.
    qint64 CurrentRunId() const { return runId_; }
    // Keeps the next runs through another writer; never while a run goes on.
    void UseWriter(HistoryWriter &writer);
    // How many checks in a row confirm a loss, for the runs begun from now on.
    void SetConfirmChecks(int confirmChecks) { confirmChecks_ = confirmChecks; }
    int ConfirmChecks() const { return confirmChecks_; }
    // The links the next runs find first become what was agreed for addresses without an agreement.
    void SetExpectFromFirst(bool expect) { expectFromFirst_ = expect; }

signals:
    // "历史记录无法保存：<reason>", for the status line.
    void FailureToShow(const QString &text);
    // A run has ended and its end is queued for the store under this id: once per run, as
    // soon as both are known.
    void RunEnded(qint64 runId, RunOutcome outcome);

private:
    BacklinkAnalysis &analysis_;
    HistoryWriter *writer_ = nullptr;
    std::optional<HistoryWriter::Ticket> ticket_;
    // The run going or the last one, whose id the store names: never an export kept meanwhile.
    std::optional<HistoryWriter::Ticket> namedTicket_;
    qint64 runId_ = 0;
    int confirmChecks_ = 1;
    bool expectFromFirst_ = false;
    std::optional<RunOutcome> endedUnnamed_; // the run ended before the store named it
    QString unsaidFailure_;
};

} // namespace vantorel
