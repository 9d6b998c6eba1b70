#pragma once

#include "HistoryDatabase.h"
#include "HistoryTypes.h"
#include "RunChanges.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <map>
#include <mutex>
#include <optional>
#include <span>
#include <thread>
#include <unordered_map>
#include <variant>
#include <vector>

namespace vantorel {

// Writes runs to the history file on a thread of its own; the jobs waiting together share one
// short transaction. The calling thread only queues jobs, without a lock, and never waits on the
// disk. A run is written when it begins, each row as it is judged, its end when it ends: a
// process killed meanwhile leaves the run without an end (中断) and nothing half-written.
//
// A failure never reaches the run: the writer says why (Failed, once per run) and drops the rest
// of that run, which stays without an end; the next run tries again. The file is never deleted,
// truncated or overwritten to get past a failure.
class HistoryWriter final : public QObject {
    Q_OBJECT

public:
    // Names a run between BeginRun and EndRun; the store's own id comes with RunStored.
    using Ticket = quint64;

    explicit HistoryWriter(QString path, OpenOptions options = {}, QObject *parent = nullptr);
    // Writes what is queued, then ends the thread.
    ~HistoryWriter() override;

    // A run is kept under its site's key, whatever form of the name it was given (SiteKey), with
    // how many checks in a row confirm a loss it finds. agrees: each link the run finds first
    // becomes what was agreed for its address, where nothing was (always for an import).
    Ticket BeginRun(const QString &domain, RunSource source, const QDateTime &startedAt, int confirmChecks = 1,
                    bool agrees = false);
    void SaveRow(Ticket run, StoredRow row);
    void EndRun(Ticket run, RunOutcome outcome, const std::optional<QString> &countText,
                const QDateTime &endedAt = QDateTime::currentDateTime());
    // A run still being written is never deleted, alone or with its site: the rest of it would
    // have nowhere to go.
    void DeleteRun(qint64 runId);
    void DeleteDomain(const QString &domain);
    // PruneRuns for the site's runs started more than keepDays ago, then the space is given back.
    void Prune(const QString &domain, int keepDays);
    // ForgetAddress; an address the history does not hold is passed over.
    void Forget(const QString &domain, const QString &address);
    // AgreeLink; likewise.
    void Agree(const QString &domain, const QString &address, const LinkExpectation &agreed);
    // Whether the run, or a run of the site, is begun and not yet ended in the file. Any thread.
    bool Writing(qint64 runId) const;
    bool WritingSite(const QString &domain) const;

    // Blocks until every job queued so far is written or dropped: for tests and for the command
    // line before it exits, never for the window's thread.
    void WaitUntilWritten();
    // The first failure since the writer was made; empty when there was none. Any thread.
    QString FirstFailure() const;

signals:
    // Both arrive on the thread that made the writer. run: the Ticket BeginRun gave.
    void RunStored(quint64 run, qint64 runId);
    void Failed(const QString &reason);

private:
    struct Begin {
        Ticket ticket;
        StoredRun run;
        bool agrees = false;
    };
    struct Row {
        Ticket ticket;
        StoredRow row;
    };
    struct End {
        Ticket ticket;
        RunOutcome outcome;
        std::optional<QString> countText;
        QDateTime endedAt;
    };
    struct RemoveRun {
        qint64 runId;
    };
    struct RemoveDomain {
        QString domain;
    };
    struct PruneSite {
        QString domain;
        QDateTime before;
    };
    struct ForgetAddress {
        QString domain, address;
    };
    struct AgreeAddress {
        QString domain, address;
        LinkExpectation agreed;
    };
    using Job = std::variant<Begin, Row, End, RemoveRun, RemoveDomain, PruneSite, ForgetAddress, AgreeAddress>;
    struct RunState {
        qint64 id = 0;
        QString domain;
        RunSource source = RunSource::Search;
        bool agrees = false; // the links it finds first become what was agreed (BeginRun)
        bool failed = false;
        // Each row written, by address and number, with its count (RowClass): a row checked
        // again takes its place.
        std::map<std::pair<QString, int>, int> written;
        // What the open transaction changed in written, first change first: a key and its
        // count before (none: new), to be undone when the transaction is not kept.
        std::vector<std::pair<std::pair<QString, int>, std::optional<int>>> changed;
    };
    class Connection;
    // Jobs waiting together share a transaction, which stays short.
    static constexpr std::size_t kMostJobsPerTransaction = 100;

    // Queued jobs, newest first: the calling thread pushes without a lock, so it never waits
    // for the writer thread.
    struct Node {
        Job job;
        Node *next = nullptr;
    };

    void Enqueue(Job job);
    // Takes every queued job, oldest first.
    std::vector<Job> TakeJobs();
    void Work();
    using Runs = std::unordered_map<Ticket, RunState>;
    static Ticket TicketOf(const Job &job); // 0 for a removal
    static RunState *Writable(Runs &runs, Ticket ticket);
    // One transaction of jobs; a run's rows in a row are written together.
    void WriteBatch(Connection &connection, Runs &runs, std::vector<Job> &batch);
    static void UndoOrKeepChanges(Runs &runs, const std::vector<Job> &batch, bool kept);
    // Each kind of write, inside the transaction; false, with the error, when it failed.
    bool WriteBegin(Connection &connection, Runs &runs, const Begin &begin,
                    std::vector<std::pair<Ticket, qint64>> &stored, QSqlError &error);
    bool WriteRows(Connection &connection, Runs &runs, std::span<Job> rows, QSqlError &error);
    bool WriteEnd(Connection &connection, Runs &runs, const End &end, QSqlError &error);
    // After the transaction: the runs it began, or its failure told; then the runs it ended.
    void KeepStored(Runs &runs, const std::vector<std::pair<Ticket, qint64>> &stored);
    void DropFailed(Runs &runs, const std::vector<Job> &batch, const QString &reason);
    void EndWriting(Runs &runs, const std::vector<Job> &batch);
    void Report(const QString &reason);

    const QString path_;
    const OpenOptions options_;
    std::atomic<Node *> queue_{nullptr};
    std::atomic<quint64> enqueued_{0};
    std::atomic<quint64> finished_{0};
    std::atomic<quint32> wakes_{0}; // each job, and the stop: its wait is a bare futex
    std::atomic<bool> stopping_{false};
    std::atomic<Ticket> lastTicket_{0};
    mutable std::mutex failureMutex_;
    QString firstFailure_;
    mutable std::mutex writingMutex_;
    std::unordered_map<qint64, QString> writing_; // runs begun and not ended in the file: their sites
    std::thread thread_;
};

} // namespace vantorel
