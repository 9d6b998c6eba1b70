#pragma once

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <QStringList>

#include <optional>
#include <span>
#include <vector>

namespace vantorel {

// The history file's schema, one step per version: the step at index i brings a file of version
// i (PRAGMA user_version; 0 for a new file) to version i + 1, in one transaction.
struct SchemaStep {
    QStringList statements;
    // After the statements, what SQL alone cannot change in the data; the error when it fails.
    QSqlError (*rewrite)(QSqlDatabase &db) = nullptr;
};
std::span<const SchemaStep> HistorySchema();

struct OpenOptions {
    std::span<const SchemaStep> schema = HistorySchema();
    // Caps the file at this many pages, as a full disk would.
    std::optional<qint64> maxPageCount;
};

// Opens the history file at path as the Qt SQL connection of that name on the calling thread
// (creating the file and its folder when missing), sets the connection up (WAL journal, busy
// time-out, foreign keys) and brings the schema up to date, one transaction per step. Returns
// why it could not, in Chinese, or an empty text. A file that is no database or that a newer
// program wrote is left as it is. The caller removes the connection when done with it.
QString OpenHistory(const QString &connection, const QString &path, const OpenOptions &options = {});

// A connection of its own to the history file, opened at its first use on the thread that uses
// it, and closed and removed with the object.
class HistoryConnection {
public:
    // kind names the connections of one sort: "vantorel-<kind>-<n>".
    HistoryConnection(QString path, const QString &kind);
    ~HistoryConnection();
    HistoryConnection(const HistoryConnection &) = delete;
    HistoryConnection &operator=(const HistoryConnection &) = delete;

    // Opens the file (OpenHistory) unless it is open; why it could not, or an empty text.
    QString Open();
    QSqlDatabase Database() const;
    const QString &Path() const { return path_; }

private:
    const QString path_;
    const QString name_;
    bool open_ = false;
};

// Binds the values in order and runs the prepared query; false, with its error, when it fails.
bool ExecBound(QSqlQuery &query, std::initializer_list<QVariant> values, QSqlError &error);

// Why an operation on the history file failed, in Chinese, by the class of SQLite's error; never
// the database's own English text.
QString StoreFailureReason(const QSqlError &error, const QString &path);

// Runs "COMMIT" and the like as a statement: the driver's own transaction calls drop the
// database's error code, which says why.
bool ExecTransaction(QSqlDatabase &db, const QString &statement, QSqlError &error);

// The file used without --db: history.sqlite3 in the program's data folder.
QString DefaultHistoryPath();

} // namespace vantorel
