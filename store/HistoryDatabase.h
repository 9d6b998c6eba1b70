#pragma once

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <QStringList>

#include "ServerDeadline.h"

#include <optional>
#include <span>
#include <vector>

namespace vantorel {

// The history's schema, one step per version: the step at index i brings a store of version i
// (0 for a new one) to version i + 1, in one transaction. Written as SQLite spells it; a server
// reads INTEGER PRIMARY KEY as an identity column and INTEGER as BIGINT.
struct SchemaStep {
    QStringList statements;
    // After the statements, what SQL alone cannot change in the data; the error when it fails.
    QSqlError (*rewrite)(QSqlDatabase &db) = nullptr;
};
std::span<const SchemaStep> HistorySchema();

// When a watched site falls due: its interval after its last re-check, or an hour after it when
// that re-check left losses to confirm; when it was added until its first.
inline const QString kWatchDue = QStringLiteral(
    "COALESCE(last_recheck_at + (CASE WHEN unconfirmed_losses > 0 THEN 1 ELSE interval_hours END) * 3600000, added_at)");
// What a check found, as the first schema's rows kept it beside their address and time.
inline const QString kRowColumns = QStringLiteral(
    "final_address, verdict, outcome, page_had, http_status, failure_cause, attempts, failed_attempts, charset, robots");
inline constexpr int kRowColumnCount = 10;
// What a check found, apart from its address and time, as the row_state table keeps it: checks
// that found the same share one row there and their links in state_link.
inline const QString kStateColumns =
    kRowColumns + QStringLiteral(", rendered, render_failure, canonical, robots_txt, outbound_links");
// The key a state is found by: the texts of its columns, in that order, then each link's url,
// anchor and rel. What later steps added counts only where it is not its default, so that a
// state keeps the key it had before.
QString StateDigest(const QStringList &texts);

// Makes the site's spans (state_span: each address's consecutive checks in completed runs that
// found the same state) and where each of its addresses was first found 有效 anew from its
// checks, and drops its addresses no check names. Inside the caller's transaction; false, with
// the error, when it fails.
bool RebuildSpans(QSqlDatabase &db, const QString &domain, QSqlError &error);

struct OpenOptions {
    std::span<const SchemaStep> schema = HistorySchema();
    // Caps an SQLite file at this many pages, as a full disk would.
    std::optional<qint64> maxPageCount;
    // A reader's connection: it never writes. A missing file is not made, and a store of an
    // older schema is brought up to date first by a writer's open of its own.
    bool readOnly = false;
};

// Keeps the SQL drivers' own warnings ("Unable to free statement: …") off standard error for
// the life of the process: the store says each of its failures once, in its own words. Other
// messages go where they went. Before any connection is made.
void SilenceDriverWarnings();

// A history's location is the path of an SQLite file or a PostgreSQL database as
// postgresql://… (ServerAddress.h). Why it cannot be one, in Chinese; empty when it can.
QString LocationError(const QString &location);

// Opens the history at location as the Qt SQL connection of that name on the calling thread
// (creating a file and its folder when missing), sets the connection up (SQLite: WAL journal,
// busy time-out, foreign keys; a server: its lock time-out) and brings the schema up to date,
// one transaction per step. Returns why it could not, in Chinese, or an empty text. A file that
// is no database, or a store that a newer program wrote, is left as it is. The caller removes
// the connection when done with it.
QString OpenHistory(const QString &connection, const QString &location, const OpenOptions &options = {});
// The same without reading or changing the schema.
QString ConnectHistory(const QString &connection, const QString &location);

// The schema version the store holds: 0 for a new one.
std::optional<int> SchemaVersion(const QSqlDatabase &db, QSqlError &error);
// Starts a transaction that reads one state of the store, whatever is written meanwhile.
bool BeginReading(QSqlDatabase &db, QSqlError &error);

// Starts a transaction that will write, holding the store for it at once (SQLite's file lock),
// or on a server the named tables, which no one else writes until it ends.
bool BeginWriting(QSqlDatabase &db, const QStringList &tables, QSqlError &error);
// After ids were written as they were given, rather than assigned: the table's next assigned id
// comes after them.
bool CatchUpIds(QSqlDatabase &db, const QString &table, QSqlError &error);

// A connection of its own to the history file, opened at its first use on the thread that uses
// it, and closed and removed with the object.
class HistoryConnection {
public:
    // kind names the connections of one sort: "vantorel-<kind>-<n>"; a reader's connection is
    // read only (OpenOptions::readOnly).
    HistoryConnection(QString path, const QString &kind, bool readOnly = false);
    ~HistoryConnection();
    HistoryConnection(const HistoryConnection &) = delete;
    HistoryConnection &operator=(const HistoryConnection &) = delete;

    // Opens the file (OpenHistory) unless it is open; why it could not, or an empty text.
    QString Open();
    // Closes the connection, so that the next Open connects afresh.
    void Close();
    QSqlDatabase Database() const;
    const QString &Path() const { return path_; }

private:
    const QString path_;
    const QString name_;
    const bool readOnly_;
    bool open_ = false;
};

// Ends a "SELECT … LIMIT 1" inside a transaction begun by BeginWriting, so that the row it
// reads stays the caller's alone until the transaction ends and other callers read past it.
QString ClaimingRow(const QSqlDatabase &db);
// The statement a transaction runs before it numbers a completed run (run.end_order), so that
// no other transaction numbers one meanwhile; empty when the store needs none.
QString OrderingEnds(const QSqlDatabase &db);

// Binds the values in order and runs the prepared query; false, with its error, when it fails.
bool ExecBound(QSqlQuery &query, std::initializer_list<QVariant> values, QSqlError &error);

// Why an operation on the history failed, in Chinese: for a file by the class of SQLite's
// error, never the database's own English text; for a server by its SQLSTATE's class, with the
// server's own words.
QString StoreFailureReason(const QSqlError &error, const QString &location);

// Runs "COMMIT" and the like as a statement: the driver's own transaction calls drop the
// database's error code, which says why.
bool ExecTransaction(QSqlDatabase &db, const QString &statement, QSqlError &error);

// Whether a failure came from a server's connection that is gone (a restart, a dropped network):
// the same work may then be tried again on a new one.
bool ConnectionLost(const QSqlError &error);

// Runs work(db, error) in one transaction on connection, opened when needed: a writing one
// holds the store for itself from its start (BeginWriting). work returns false, with its error,
// to roll everything back. A connection lost on the way is made anew and the whole transaction
// tried once more; a server that leaves it unanswered for ServerAnswerLimit() is not tried again. Why it failed, in Chinese, or an empty text.
template <typename Work>
QString InTransaction(HistoryConnection &connection, bool writing, Work &&work)
{
    QSqlError error;
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (QString reason = connection.Open(); !reason.isEmpty())
            return reason;
        QSqlDatabase db = connection.Database();
        error = QSqlError();
        const ServerDeadline deadline(db);
        const bool begun = writing ? BeginWriting(db, {}, error) : BeginReading(db, error);
        if (begun && work(db, error) && ExecTransaction(db, QStringLiteral("COMMIT"), error))
            return {};
        if (begun)
            db.rollback();
        deadline.Explain(error);
        const bool tryAgain = ConnectionLost(error);
        if (tryAgain || deadline.Expired()) {
            db = QSqlDatabase();
            connection.Close();
        }
        if (!tryAgain)
            break;
    }
    return StoreFailureReason(error, connection.Path());
}

// The file used without --db: history.sqlite3 in the program's data folder.
QString DefaultHistoryPath();

// What a user should know about where a history file is kept, in one line of Chinese, or empty:
// on a network folder it is kept without WAL (whose index lives in one machine's memory), and
// in a read-only place it can only be read as it stands.
QString HistoryLocationNote(const QString &location);

} // namespace vantorel
