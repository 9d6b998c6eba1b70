#pragma once

#include "HistoryDatabase.h"
#include "HistoryTypes.h"

#include <QObject>
#include <QString>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <variant>

namespace vantorel {

// Writes runs to the history file on a thread of its own, one job at a time, each in a short
// transaction; the calling thread only queues jobs and never waits on the disk. A run is written
// when it begins, each row as it is judged, its end when it ends: a process killed meanwhile
// leaves the run without an end (中断) and nothing half-written.
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

    Ticket BeginRun(const QString &domain, RunSource source, const QDateTime &startedAt);
    void SaveRow(Ticket run, StoredRow row);
    void EndRun(Ticket run, RunOutcome outcome, const std::optional<QString> &countText,
                const QDateTime &endedAt = QDateTime::currentDateTime());
    void DeleteRun(qint64 runId);
    void DeleteDomain(const QString &domain);

    // Blocks until every job queued so far is written or dropped: for tests and for the command
    // line before it exits, never for the window's thread.
    void WaitUntilWritten();
    // The first failure since the writer was made; empty when there was none. Any thread.
    QString FirstFailure() const;

signals:
    // Both arrive on the thread that made the writer.
    void RunStored(vantorel::HistoryWriter::Ticket run, qint64 runId);
    void Failed(const QString &reason);

private:
    struct Begin {
        Ticket ticket;
        StoredRun run;
    };
    struct Row {
        Ticket ticket;
        StoredRow row;
    };
    struct End {
        Ticket ticket;
        StoredRun run;
    };
    struct RemoveRun {
        qint64 runId;
    };
    struct RemoveDomain {
        QString domain;
    };
    using Job = std::variant<Begin, Row, End, RemoveRun, RemoveDomain>;
    class Connection;

    void Enqueue(Job job);
    void Work();
    void Report(const QString &reason);

    const QString path_;
    const OpenOptions options_;
    mutable std::mutex mutex_;
    std::condition_variable queued_;
    std::condition_variable done_;
    std::deque<Job> jobs_;
    quint64 enqueued_ = 0;
    quint64 finished_ = 0;
    bool stopping_ = false;
    Ticket lastTicket_ = 0;
    QString firstFailure_;
    std::thread thread_;
};

} // namespace vantorel
