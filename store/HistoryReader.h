#pragma once

#include "HistoryDatabase.h"
#include "HistoryTypes.h"
#include "RunChanges.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace vantorel {

// How many rows of a run had each outcome.
struct RowCounts {
    int rows = 0, valid = 0, removed = 0, unreachable = 0;
    void Add(StoredOutcome outcome);
};

// A run with the counts the history window lists.
struct RunSummary : RowCounts {
    StoredRun run;
    int lost = 0; // 丢失 found by the run
};

struct DomainSummary {
    QString domain;
    int runs = 0;
    RunSummary last; // its latest run, without a lost count
};

struct RunChanges {
    StoredRun run;
    std::optional<StoredRun> previous; // the site's run before it; none: the site's first run
    std::vector<RowChange> changes;
};

// Reads the history file through a connection of its own, made on the thread that makes the
// reader and used only there. A file that does not exist yet reads as an empty history. Each
// call reads one consistent state of the file, whatever a writer does meanwhile.
class HistoryReader {
public:
    explicit HistoryReader(QString path);
    ~HistoryReader();
    HistoryReader(const HistoryReader &) = delete;
    HistoryReader &operator=(const HistoryReader &) = delete;

    // Why the last call answered nothing, in Chinese; empty when it did not fail.
    const QString &Error() const { return error_; }

    std::vector<DomainSummary> Domains();                // the latest checked first
    // Any form of a site's name reads the site's history (SiteKey).
    std::vector<RunSummary> Runs(const QString &domain); // the newest first
    std::optional<StoredRun> Run(qint64 runId);
    std::vector<StoredRow> Rows(qint64 runId);
    // The run's changes: each address it checked against the address's own past (ChangesOfRun).
    std::optional<RunChanges> Changes(qint64 runId);
    // The past of each address in the site's history: its checks in the completed runs within
    // the horizon of the run beforeRun (0: in any completed run), made before checkedBefore
    // (invalid: at any time); addresses never checked are left out.
    QHash<QString, AddressPast> LastChecks(const QString &domain, const QStringList &addresses, qint64 beforeRun = 0,
                                           const QDateTime &checkedBefore = {});
    // Every address that was ever 有效 for the domain, in the order they were first found.
    QStringList KnownValidAddresses(const QString &domain);
    // The link agreed for each of the site's addresses that has one.
    QHash<QString, LinkExpectation> Expectations(const QString &domain);

private:
    class Session;
    // Runs read inside one read transaction; false (and Error() set) when the file could not
    // be read. A missing file reads as nothing, without an error.
    template <typename Reading>
    bool Read(Reading reading);

    HistoryConnection connection_;
    QString error_;
};

} // namespace vantorel
