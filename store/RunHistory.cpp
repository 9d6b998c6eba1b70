#include "RunHistory.h"

#include <Domain.h>

namespace vantorel {

void RunHistory::KeepExported(const QString &typedDomain, const std::vector<ExportedPage> &pages)
{
    const QString domain = ReduceToHost(typedDomain);
    if (pages.empty() || !IsCheckableHost(domain))
        return;
    const QDateTime now = QDateTime::currentDateTime();
    const HistoryWriter::Ticket run = writer_->BeginRun(domain, RunSource::Import, now);
    int number = 0;
    for (const ExportedPage &page : pages)
        writer_->SaveRow(run, ExportedRow(++number, page, now));
    writer_->EndRun(run, RunOutcome::Completed, std::nullopt, now);
}

RunHistory::RunHistory(BacklinkAnalysis &analysis, HistoryWriter &writer, QObject *parent)
    : QObject(parent), analysis_(analysis)
{
    UseWriter(writer);
    connect(&analysis, &BacklinkAnalysis::RunStarted, this, [this](RunKind kind, const QString &domain) {
        runId_ = 0;
        endedUnnamed_.reset();
        ticket_ = writer_->BeginRun(domain, kind, QDateTime::currentDateTime(), confirmChecks_, expectFromFirst_);
        namedTicket_ = ticket_;
    });
    connect(&analysis, &BacklinkAnalysis::RowJudged, this, [this](int row) {
        if (ticket_)
            writer_->SaveRow(*ticket_, ToStoredRow(analysis_.Rows()[static_cast<std::size_t>(row)]));
    });
    connect(&analysis, &BacklinkAnalysis::Finished, this, [this](RunOutcome outcome) {
        if (ticket_) {
            writer_->EndRun(*std::exchange(ticket_, std::nullopt), outcome,
                            IsSearchFailure(outcome) ? std::optional(analysis_.EngineProblem()) : analysis_.CountText());
            if (runId_ != 0)
                emit RunEnded(runId_, outcome);
            else
                endedUnnamed_ = outcome;
        }
        if (!unsaidFailure_.isEmpty())
            emit FailureToShow(HistoryFailureText(std::exchange(unsaidFailure_, {})));
    });
}

void RunHistory::UseWriter(HistoryWriter &writer)
{
    if (writer_)
        disconnect(writer_, nullptr, this, nullptr);
    writer_ = &writer;
    runId_ = 0;
    namedTicket_.reset();
    connect(&writer, &HistoryWriter::RunStored, this, [this](quint64 ticket, qint64 runId) {
        if (namedTicket_ != ticket)
            return;
        runId_ = runId;
        if (!ticket_ && endedUnnamed_)
            emit RunEnded(runId, *std::exchange(endedUnnamed_, std::nullopt));
    });
    connect(&writer, &HistoryWriter::Failed, this, [this](const QString &reason) {
        if (analysis_.Running())
            unsaidFailure_ = reason;
        else
            emit FailureToShow(HistoryFailureText(reason));
    });
}

void RunHistory::RunAbandoned()
{
    if (ticket_)
        writer_->EndRun(*std::exchange(ticket_, std::nullopt), RunOutcome::Stopped, analysis_.CountText());
}

} // namespace vantorel
