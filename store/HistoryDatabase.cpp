#include "HistoryDatabase.h"

#include "HistoryTypes.h"
#include "ServerAddress.h"

#include <Domain.h>

#include <QAtomicInteger>
#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QStandardPaths>
#include <QThread>
#include <QUrl>

#include <sys/vfs.h>

#include <algorithm>
#include <iterator>
#include <map>
#include <set>
#include <utility>

namespace vantorel {

namespace {

// Two programs writing at once wait for each other's short transactions, never fail on them.
constexpr int kBusyTimeoutMs = 10000;

// Identifiers avoid the words standard SQL reserves (domain, position), so that the same
// statements can serve a database server.
// Runs kept under several forms of a site's name ("www.watch.cn", "watch.cn", "中文.com" and
// its punycode) become one history.
QSqlError KeepSitesUnderTheirKeys(QSqlDatabase &db)
{
    QSqlQuery query(db);
    QStringList names;
    if (!query.exec(QStringLiteral("SELECT DISTINCT domain_name FROM run")))
        return query.lastError();
    while (query.next())
        names << query.value(0).toString();
    QSqlQuery runs(db), rows(db); // a row repeats its run's domain
    if (!runs.prepare(QStringLiteral("UPDATE run SET domain_name = ? WHERE domain_name = ?")))
        return runs.lastError();
    if (!rows.prepare(QStringLiteral("UPDATE run_row SET domain_name = ? WHERE domain_name = ?")))
        return rows.lastError();
    QSqlError error;
    for (const QString &name : names)
        if (const QString key = SiteKey(name); !key.isEmpty() && key != name)
            if (!ExecBound(runs, {key, name}, error) || !ExecBound(rows, {key, name}, error))
                return error;
    return {};
}

// Each check refers to the state it found, which the checks that found the same share. The old
// rows are read a piece at a time in the order of their ids, which they keep.
QSqlError KeepEachStateOnce(QSqlDatabase &db)
{
    constexpr int kRowsPerPiece = 2000;
    QSqlQuery rows(db), links(db), insertState(db), insertLink(db), insertCheck(db);
    rows.setForwardOnly(true);
    links.setForwardOnly(true);
    const std::pair<QSqlQuery *, QString> statements[] = {
        {&rows, QStringLiteral("SELECT id, run_id, domain_name, row_no, address, checked_at, %1 FROM run_row "
                               "WHERE id > ? ORDER BY id LIMIT %2").arg(kRowColumns).arg(kRowsPerPiece)},
        {&links, QStringLiteral("SELECT row_id, link_number, url, anchor, rel FROM row_link "
                                "WHERE row_id > ? AND row_id <= ? ORDER BY row_id, link_number")},
        {&insertState, QStringLiteral("INSERT INTO row_state (digest, %1) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?) "
                                      "RETURNING id").arg(kRowColumns)},
        {&insertLink, QStringLiteral("INSERT INTO state_link (state_id, link_number, url, anchor, rel) VALUES (?, ?, ?, ?, ?)")},
        {&insertCheck, QStringLiteral("INSERT INTO run_check (id, run_id, domain_name, row_no, address, state_id, "
                                      "checked_at) VALUES (?, ?, ?, ?, ?, ?, ?)")},
    };
    for (const auto &[query, sql] : statements)
        if (!query->prepare(sql))
            return query->lastError();
    constexpr int kFirstState = 6;
    QHash<QString, qint64> states; // digest → id
    QSqlError error;
    for (qint64 after = 0;;) {
        std::vector<QVariantList> piece;
        if (!ExecBound(rows, {after}, error))
            return error;
        while (rows.next()) {
            QVariantList row;
            for (int i = 0; i < kFirstState + kRowColumnCount; ++i)
                row << rows.value(i);
            piece.push_back(std::move(row));
        }
        rows.finish();
        if (piece.empty())
            break;
        const qint64 last = piece.back().front().toLongLong();
        QHash<qint64, QList<QVariantList>> linksOf;
        if (!ExecBound(links, {after, last}, error))
            return error;
        while (links.next())
            linksOf[links.value(0).toLongLong()] << QVariantList{links.value(1), links.value(2), links.value(3), links.value(4)};
        links.finish();
        for (const QVariantList &row : piece) {
            const QList<QVariantList> found = linksOf.value(row.front().toLongLong());
            QStringList texts;
            for (int i = kFirstState; i < row.size(); ++i)
                texts << row[i].toString();
            for (const QVariantList &link : found)
                texts << link[1].toString() << link[2].toString() << link[3].toString();
            const QString digest = StateDigest(texts);
            auto state = states.find(digest);
            if (state == states.end()) {
                for (const QVariant &value : QVariantList{digest} + row.mid(kFirstState))
                    insertState.addBindValue(value);
                if (!insertState.exec() || !insertState.next())
                    return insertState.lastError();
                state = states.insert(digest, insertState.value(0).toLongLong());
                insertState.finish();
                for (const QVariantList &link : found)
                    if (!ExecBound(insertLink, {*state, link[0], link[1], link[2], link[3]}, error))
                        return error;
            }
            if (!ExecBound(insertCheck, {row[0], row[1], row[2], row[3], row[4], *state, row[5]}, error))
                return error;
        }
        after = last;
    }
    QSqlQuery query(db);
    for (const char *statement : {"DROP TABLE row_link", "DROP TABLE run_row", "ALTER TABLE run_check RENAME TO run_row",
                                  "CREATE INDEX row_by_run ON run_row (run_id, row_no)",
                                  "CREATE INDEX row_by_address ON run_row (domain_name, address, run_id)"})
        if (!query.exec(QLatin1String(statement)))
            return query.lastError();
    CatchUpIds(db, QStringLiteral("run_row"), error);
    return error;
}

// The counts of each run and each site's spans, from the checks the statements moved.
QSqlError KeepChecksSmall(QSqlDatabase &db)
{
    QSqlQuery query(db);
    QSqlError error;
    if (!query.prepare(QStringLiteral("UPDATE run SET row_count = (SELECT COUNT(*) FROM run_check c WHERE c.run_id = run.id), "
                                      "valid_count = (%1 AND s.outcome IN (?, ?)), removed_count = (%1 AND s.outcome = ?), "
                                      "unreachable_count = (%1 AND s.outcome = ?)")
                           .arg(QStringLiteral("SELECT COUNT(*) FROM run_check c JOIN row_state s ON s.id = c.state_id "
                                               "WHERE c.run_id = run.id"))) ||
        !ExecBound(query, {OutcomeName(StoredOutcome::PassesWeight), OutcomeName(StoredOutcome::NoWeight),
                           OutcomeName(StoredOutcome::Removed), OutcomeName(StoredOutcome::Unreachable)}, error))
        return error.isValid() ? error : query.lastError();
    QStringList domains;
    if (!query.exec(QStringLiteral("SELECT DISTINCT domain_name FROM run")))
        return query.lastError();
    while (query.next())
        domains << query.value(0).toString();
    query.finish();
    for (const QString &domain : domains)
        if (!RebuildSpans(db, domain, error))
            return error;
    return {};
}

const std::vector<SchemaStep> kSchema = {
    {{
        QStringLiteral("CREATE TABLE run ("
                       " id INTEGER PRIMARY KEY,"
                       " domain_name VARCHAR(255) NOT NULL,"
                       " source VARCHAR(16) NOT NULL,"
                       " started_at BIGINT NOT NULL,"
                       " ended_at BIGINT,"
                       " outcome VARCHAR(32),"
                       " count_text VARCHAR(255))"),
        QStringLiteral("CREATE INDEX run_by_domain ON run (domain_name, id)"),
        // The run's domain is repeated in each row so that an address's checks are one range
        // of one index.
        QStringLiteral("CREATE TABLE run_row ("
                       " id INTEGER PRIMARY KEY,"
                       " run_id INTEGER NOT NULL REFERENCES run (id) ON DELETE CASCADE,"
                       " domain_name VARCHAR(255) NOT NULL,"
                       " row_no INTEGER NOT NULL,"
                       " address TEXT NOT NULL,"
                       " final_address TEXT NOT NULL,"
                       " verdict VARCHAR(16) NOT NULL,"
                       " outcome VARCHAR(16) NOT NULL,"
                       " http_status INTEGER NOT NULL,"
                       " failure_cause TEXT NOT NULL,"
                       " attempts INTEGER NOT NULL,"
                       " charset VARCHAR(64) NOT NULL,"
                       " robots VARCHAR(32) NOT NULL,"
                       " checked_at BIGINT NOT NULL)"),
        QStringLiteral("CREATE INDEX row_by_run ON run_row (run_id, row_no)"),
        QStringLiteral("CREATE INDEX row_by_address ON run_row (domain_name, address, run_id)"),
        QStringLiteral("CREATE TABLE row_link ("
                       " row_id INTEGER NOT NULL REFERENCES run_row (id) ON DELETE CASCADE,"
                       " link_number INTEGER NOT NULL,"
                       " url TEXT NOT NULL,"
                       " anchor TEXT NOT NULL,"
                       " rel VARCHAR(64) NOT NULL,"
                       " PRIMARY KEY (row_id, link_number))"),
    }},
    // What a row's fetch was: whether a page was had (a row that could not be checked may have
    // had one, answering 503), and why the attempts before the last were tried again, one a line.
    // A site's runs are kept under its key, whatever form of its name started them.
    {{
        QStringLiteral("ALTER TABLE run_row ADD COLUMN page_had SMALLINT DEFAULT 1 NOT NULL"),
        QStringLiteral("UPDATE run_row SET page_had = 0 WHERE outcome = 'unreachable' AND failure_cause <> ''"),
        QStringLiteral("ALTER TABLE run_row ADD COLUMN failed_attempts TEXT DEFAULT '' NOT NULL"),
    }, KeepSitesUnderTheirKeys},
    // The sites re-checked on a schedule. A claim names the worker re-checking the site and when
    // its claim lapses, so that a killed worker holds nothing for long.
    {{
        QStringLiteral("CREATE TABLE watch ("
                       " domain_name VARCHAR(255) PRIMARY KEY,"
                       " interval_hours INTEGER NOT NULL,"
                       " added_at BIGINT NOT NULL,"
                       " last_recheck_at BIGINT,"
                       " claimed_by VARCHAR(255),"
                       " claim_expires_at BIGINT)"),
    }},
    // A claim reads the watch list in order of when each site falls due and stops at the first
    // one free: through this index it reads only the sites claimed now before it, not the list.
    {{
        QStringLiteral("CREATE INDEX watch_by_due ON watch "
                       "((COALESCE(last_recheck_at + interval_hours * 3600000, added_at)), domain_name)"),
    }},
    // Completed runs are numbered as they complete: a run's changes are judged against the runs
    // that completed before it, whichever started first. Runs kept so far completed in the order
    // they started.
    {{
        QStringLiteral("ALTER TABLE run ADD COLUMN end_order INTEGER"),
        QStringLiteral("UPDATE run SET end_order = id WHERE outcome = 'completed'"),
    }},
    // A check keeps its address, its time and a reference to what it found: a re-check that
    // found what the check before it found adds a few bytes, not a row and three links.
    {{
        QStringLiteral("CREATE TABLE row_state ("
                       " id INTEGER PRIMARY KEY,"
                       " digest VARCHAR(64) NOT NULL,"
                       " final_address TEXT NOT NULL,"
                       " verdict VARCHAR(16) NOT NULL,"
                       " outcome VARCHAR(16) NOT NULL,"
                       " page_had SMALLINT NOT NULL,"
                       " http_status INTEGER NOT NULL,"
                       " failure_cause TEXT NOT NULL,"
                       " attempts INTEGER NOT NULL,"
                       " failed_attempts TEXT NOT NULL,"
                       " charset VARCHAR(64) NOT NULL,"
                       " robots VARCHAR(32) NOT NULL)"),
        QStringLiteral("CREATE INDEX state_by_digest ON row_state (digest)"),
        QStringLiteral("CREATE TABLE state_link ("
                       " state_id INTEGER NOT NULL REFERENCES row_state (id) ON DELETE CASCADE,"
                       " link_number INTEGER NOT NULL,"
                       " url TEXT NOT NULL,"
                       " anchor TEXT NOT NULL,"
                       " rel VARCHAR(64) NOT NULL,"
                       " PRIMARY KEY (state_id, link_number))"),
        QStringLiteral("CREATE TABLE run_check ("
                       " id INTEGER PRIMARY KEY,"
                       " run_id INTEGER NOT NULL REFERENCES run (id) ON DELETE CASCADE,"
                       " domain_name VARCHAR(255) NOT NULL,"
                       " row_no INTEGER NOT NULL,"
                       " address TEXT NOT NULL,"
                       " state_id INTEGER NOT NULL REFERENCES row_state (id),"
                       " checked_at BIGINT NOT NULL)"),
    }, KeepEachStateOnce},
    // A check is a few integers: its run, its address (kept once per site), its row, its state and
    // its time. The checks of an address in completed runs that found the same state make one
    // span, from which its baseline and a run's losses are read without reading its checks. A run
    // keeps its counts.
    {{
        QStringLiteral("CREATE TABLE address ("
                       " id INTEGER PRIMARY KEY,"
                       " domain_name VARCHAR(255) NOT NULL,"
                       " address TEXT NOT NULL,"
                       " found_run INTEGER,"
                       " found_row INTEGER,"
                       " forgotten SMALLINT DEFAULT 0 NOT NULL)"),
        QStringLiteral("CREATE INDEX address_by_text ON address (domain_name, address)"),
        QStringLiteral("CREATE TABLE run_check ("
                       " run_id INTEGER NOT NULL REFERENCES run (id) ON DELETE CASCADE,"
                       " address_id INTEGER NOT NULL,"
                       " row_no INTEGER NOT NULL,"
                       " state_id INTEGER NOT NULL,"
                       " checked_at BIGINT NOT NULL,"
                       " PRIMARY KEY (run_id, address_id, row_no)) WITHOUT ROWID"),
        QStringLiteral("CREATE TABLE state_span ("
                       " address_id INTEGER NOT NULL,"
                       " first_order INTEGER NOT NULL,"
                       " last_order INTEGER NOT NULL,"
                       " state_id INTEGER NOT NULL,"
                       " PRIMARY KEY (address_id, first_order)) WITHOUT ROWID"),
        QStringLiteral("CREATE INDEX run_by_end ON run (domain_name, end_order)"),
        QStringLiteral("ALTER TABLE run ADD COLUMN row_count INTEGER DEFAULT 0 NOT NULL"),
        QStringLiteral("ALTER TABLE run ADD COLUMN valid_count INTEGER DEFAULT 0 NOT NULL"),
        QStringLiteral("ALTER TABLE run ADD COLUMN removed_count INTEGER DEFAULT 0 NOT NULL"),
        QStringLiteral("ALTER TABLE run ADD COLUMN unreachable_count INTEGER DEFAULT 0 NOT NULL"),
        QStringLiteral("INSERT INTO address (domain_name, address) SELECT domain_name, address FROM run_row "
                       "GROUP BY domain_name, address ORDER BY MIN(id)"),
        QStringLiteral("INSERT INTO run_check (run_id, address_id, row_no, state_id, checked_at) "
                       "SELECT r.run_id, a.id, r.row_no, r.state_id, r.checked_at FROM run_row r "
                       "JOIN address a ON a.domain_name = r.domain_name AND a.address = r.address "
                       "ORDER BY r.run_id, a.id, r.row_no"),
        QStringLiteral("DROP TABLE run_row"),
    }, KeepChecksSmall},
    // What a link buyer checks. A state keeps the page's canonical address when it names another
    // page, the robots the site's robots.txt bars from it, its count of outbound links (none:
    // not counted) and whether its links were found only by running its scripts; a link keeps
    // why its target page failed. An address may carry the link that was agreed, and a watched
    // site how many checks in a row confirm a loss.
    {{
        QStringLiteral("ALTER TABLE row_state ADD COLUMN canonical TEXT DEFAULT '' NOT NULL"),
        QStringLiteral("ALTER TABLE row_state ADD COLUMN robots_txt VARCHAR(64) DEFAULT '' NOT NULL"),
        QStringLiteral("ALTER TABLE row_state ADD COLUMN outbound_links INTEGER"),
        QStringLiteral("ALTER TABLE row_state ADD COLUMN rendered SMALLINT DEFAULT 0 NOT NULL"),
        QStringLiteral("ALTER TABLE row_state ADD COLUMN render_failure TEXT DEFAULT '' NOT NULL"),
        QStringLiteral("ALTER TABLE state_link ADD COLUMN target_failure TEXT DEFAULT '' NOT NULL"),
        QStringLiteral("ALTER TABLE address ADD COLUMN expected_target TEXT"),
        QStringLiteral("ALTER TABLE address ADD COLUMN expected_anchor TEXT"),
        QStringLiteral("ALTER TABLE address ADD COLUMN expected_follow SMALLINT"),
        QStringLiteral("ALTER TABLE watch ADD COLUMN confirm_checks INTEGER DEFAULT 1 NOT NULL"),
    }},
    // A run keeps how many checks in a row confirmed a loss when it was made, so that its changes
    // read the same whatever is set later. A watched site whose last re-check left losses to
    // confirm falls due an hour after it, and the claim's index orders by that.
    {{
        QStringLiteral("ALTER TABLE run ADD COLUMN confirm_checks INTEGER DEFAULT 1 NOT NULL"),
        QStringLiteral("ALTER TABLE watch ADD COLUMN unconfirmed_losses INTEGER DEFAULT 0 NOT NULL"),
        QStringLiteral("DROP INDEX watch_by_due"),
        QStringLiteral("CREATE INDEX watch_by_due ON watch ((%1), domain_name)").arg(kWatchDue),
    }},
};

// Where the two engines differ. Statements are written as SQLite spells them; a server's
// dialect respells the few words that differ.
struct Dialect {
    QString driver;
    QString missingDriver;
    QString identity;     // stands for INTEGER PRIMARY KEY: an id the store assigns
    QString wideInteger;  // stands for any other INTEGER
    QStringList setUp;    // at each open, before the version is read
    QStringList writable; // after the version is read and found not newer: may write
    QStringList readOnly; // instead, on a reader's connection (SQLite's is opened read only)
    QString versionKept;  // answers whether the version is kept yet; empty: always
    QString readVersion;
    QStringList writeVersion;  // %1: the new version
    QStringList lockSchema;    // first in each migration step's transaction
    QStringList readSnapshot;  // after a reader's BEGIN: one state of the store, read only
    QString beginWriting;      // a transaction that will write: SQLite takes the file's lock at once
    QString lockTables;        // %1: tables no one else may write until the transaction ends
    QString catchUpIds;        // %1: a table whose ids were written as they are; empty: nothing to do
    QString claimRow;          // ends a SELECT of one row to claim: it locks that row alone
    QString orderEnds;         // before a run is numbered among the completed: one program at a time
};

const Dialect kSqlite{
    QStringLiteral("QSQLITE"),
    QStringLiteral("缺少 Qt 的 SQLite 驱动（libqt6sql6-sqlite）"),
    {},
    {},
    {QStringLiteral("PRAGMA busy_timeout = %1").arg(kBusyTimeoutMs)},
    // A new file gives back the pages pruning empties (an older one is rewritten once for it).
    {QStringLiteral("PRAGMA auto_vacuum = INCREMENTAL"), QStringLiteral("PRAGMA journal_mode = WAL"),
     // In WAL mode, a commit survives a killed process without waiting for the disk.
     QStringLiteral("PRAGMA synchronous = NORMAL"), QStringLiteral("PRAGMA foreign_keys = ON"),
     // What a run looks up as it is written (a site's addresses, states and spans) stays in
     // memory: its store time does not grow with the file.
     QStringLiteral("PRAGMA cache_size = -16384")},
    {},
    {},
    QStringLiteral("PRAGMA user_version"),
    {QStringLiteral("PRAGMA user_version = %1")},
    {},
    // A deferred transaction's first read fixes what the whole transaction sees.
    {},
    QStringLiteral("BEGIN IMMEDIATE"),
    {},
    {},
    // The file's write lock, taken at BEGIN IMMEDIATE, already keeps every other claim out.
    {},
    // One writer at a time holds the file.
    {},
};

const Dialect kPostgres{
    QStringLiteral("QPSQL"),
    QStringLiteral("缺少 Qt 的 PostgreSQL 驱动（libqt6sql6-psql）"),
    QStringLiteral("BIGINT GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY"),
    QStringLiteral("BIGINT"),
    // No statement of ours takes half a minute; one that does is a server in trouble, said as a
    // store failure while the run goes on.
    {QStringLiteral("SET lock_timeout = '%1ms'").arg(kBusyTimeoutMs), QStringLiteral("SET statement_timeout = '%1s'").arg(ServerAnswerLimit().count()),
     QStringLiteral("SET client_min_messages = warning")},
    {},
    {QStringLiteral("SET default_transaction_read_only = on")},
    QStringLiteral("SELECT to_regclass('schema_version') IS NOT NULL"),
    QStringLiteral("SELECT version FROM schema_version"),
    {QStringLiteral("CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)"),
     QStringLiteral("DELETE FROM schema_version"), QStringLiteral("INSERT INTO schema_version (version) VALUES (%1)")},
    // Programs opening a new database at once take its steps one after the other.
    // A schema step rewrites every row of a large history: it has all the time it needs.
    {QStringLiteral("SELECT pg_advisory_xact_lock(7306256)"), QStringLiteral("SET LOCAL statement_timeout = 0")},
    {QStringLiteral("SET TRANSACTION ISOLATION LEVEL REPEATABLE READ, READ ONLY")},
    QStringLiteral("BEGIN"),
    QStringLiteral("LOCK TABLE %1 IN EXCLUSIVE MODE"),
    // An identity column's next value comes from its sequence, which ids written as they are
    // leave behind.
    QStringLiteral("SELECT setval(pg_get_serial_sequence('%1', 'id'), MAX(id)) FROM %1"),
    // Workers claiming at once each lock a different row, passing over those locked by others
    // instead of waiting for them; LIMIT keeps the lock to the one row taken.
    QStringLiteral(" FOR UPDATE SKIP LOCKED"),
    // Held until the transaction ends, so that two programs completing runs at once number them
    // one after the other.
    QStringLiteral("SELECT pg_advisory_xact_lock(7306257)"),
};

const Dialect &DialectOf(const QString &location)
{
    return IsServerLocation(location) ? kPostgres : kSqlite;
}

const Dialect &DialectOf(const QSqlDatabase &db)
{
    return db.driverName() == kPostgres.driver ? kPostgres : kSqlite;
}

QString Respelled(const Dialect &dialect, QString statement)
{
    static const QRegularExpression kIdentity(QStringLiteral("\\bINTEGER PRIMARY KEY\\b"));
    static const QRegularExpression kInteger(QStringLiteral("\\bINTEGER\\b"));
    if (!dialect.identity.isEmpty())
        statement.replace(kIdentity, dialect.identity);
    if (!dialect.wideInteger.isEmpty())
        statement.replace(kInteger, dialect.wideInteger);
    if (&dialect != &kSqlite) // a server's tables are clustered by nothing anyway
        statement.remove(QStringLiteral(" WITHOUT ROWID"));
    return statement;
}

QString Native(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

bool Busy(const Dialect &dialect, const QSqlError &error)
{
    if (&dialect != &kSqlite)
        return false;
    const int code = error.nativeErrorCode().toInt() & 0xff;
    return code == 5 || code == 6; // SQLITE_BUSY, SQLITE_LOCKED
}

// SQLite answers "busy" at once, without waiting, where waiting could deadlock: two programs
// setting up the same new file upgrade their locks at once. Such a statement is tried again.
bool ExecPatiently(const Dialect &dialect, QSqlQuery &query, const QString &statement)
{
    const QDeadlineTimer deadline(kBusyTimeoutMs);
    while (!query.exec(statement)) {
        if (!Busy(dialect, query.lastError()) || deadline.hasExpired())
            return false;
        QThread::msleep(20);
    }
    return true;
}

// "文件 /path" or "PostgreSQL 服务器 host:5432 上的数据库 name", as messages name the store.
QString StoreName(const QString &location)
{
    if (!IsServerLocation(location))
        return QStringLiteral("文件 %1").arg(Native(location));
    QString error;
    const std::optional<ServerAddress> address = ParseServerAddress(location, error);
    return address ? QStringLiteral("PostgreSQL 服务器 %1 上的数据库 %2").arg(address->Shown(), address->database)
                   : ShownLocation(location);
}

QString Migrate(QSqlDatabase &db, const QString &location, std::span<const SchemaStep> schema, int version)
{
    const Dialect &dialect = DialectOf(db);
    const QDeadlineTimer deadline(kBusyTimeoutMs);
    while (version < static_cast<int>(schema.size())) {
        QSqlQuery query(db);
        QSqlError error, transactionError;
        bool ok = ExecTransaction(db, QStringLiteral("BEGIN"), transactionError);
        for (const QString &statement : dialect.lockSchema)
            ok = ok && query.exec(statement);
        // Another program may have taken the step before this one had the lock.
        if (const std::optional<int> now = ok && !dialect.lockSchema.isEmpty() ? SchemaVersion(db, error) : version;
            now != version) {
            db.rollback();
            if (!now)
                return StoreFailureReason(error, location);
            if (*now > static_cast<int>(schema.size()))
                return QStringLiteral("%1 由较新版本的程序写入").arg(StoreName(location));
            version = *now;
            continue;
        }
        const SchemaStep &step = schema[static_cast<std::size_t>(version)];
        for (const QString &statement : step.statements)
            ok = ok && query.exec(Respelled(dialect, statement));
        QSqlError rewriteError;
        if (ok && step.rewrite && (rewriteError = step.rewrite(db)).isValid()) {
            ok = false;
            query.finish();
        }
        for (const QString &statement : dialect.writeVersion)
            ok = ok && query.exec(statement.contains(u'%') ? statement.arg(version + 1) : statement);
        query.finish();
        ok = ok && ExecTransaction(db, QStringLiteral("COMMIT"), transactionError);
        if (ok) {
            ++version;
            continue;
        }
        error = rewriteError.isValid()        ? rewriteError
                : transactionError.isValid()  ? transactionError
                : query.lastError().isValid() ? query.lastError()
                                              : db.lastError();
        db.rollback();
        // Another program opening the same new file may have taken the step meanwhile.
        QSqlError ignored;
        const std::optional<int> now = SchemaVersion(db, ignored);
        if (now && *now <= version && Busy(dialect, error) && !deadline.hasExpired()) {
            QThread::msleep(20); // the other program holds the file for its own step: try again
            continue;
        }
        if (!now || *now <= version)
            return StoreFailureReason(error, location);
        version = *now;
    }
    return {};
}

// NFS, SMB/CIFS, FUSE, 9p, AFS, Ceph, Coda and GlusterFS (on FUSE), as statfs names them.
bool OnNetworkFileSystem(const QString &path)
{
    const QFileInfo file(path);
    struct statfs about {};
    if (::statfs(QFile::encodeName(file.exists() ? file.absoluteFilePath() : file.absolutePath()).constData(), &about) != 0)
        return false;
    static const unsigned long kNetworked[] = {0x6969, 0x517B, 0xFF534D42, 0xFE534D42, 0x65735546,
                                               0x01021997, 0x5346414F, 0x00C36400, 0x73757245};
    return std::find(std::begin(kNetworked), std::end(kNetworked), static_cast<unsigned long>(about.f_type)) !=
           std::end(kNetworked);
}

// A file that is there to read but that this user cannot change, or whose folder takes no
// journal beside it.
bool InReadOnlyPlace(const QString &path)
{
    const QFileInfo file(path);
    return file.exists() && (!file.isWritable() || !QFileInfo(file.absolutePath()).isWritable());
}

QString Connect(QSqlDatabase &db, const QString &location, bool readOnly = false)
{
    const Dialect &dialect = DialectOf(db);
    if (&dialect == &kPostgres) {
        QString error;
        const std::optional<ServerAddress> address = ParseServerAddress(location, error);
        if (!address)
            return error;
        db.setHostName(address->host);
        db.setPort(address->port);
        db.setUserName(address->user);
        db.setPassword(address->password);
        db.setDatabaseName(address->database);
        db.setConnectOptions(address->options.join(u';'));
    } else if (readOnly && InReadOnlyPlace(location)) {
        // Even reading a WAL file writes its shared index; unchangeable, it needs none.
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_OPEN_URI"));
        db.setDatabaseName(QUrl::fromLocalFile(QFileInfo(location).absoluteFilePath()).toString(QUrl::FullyEncoded) +
                           QStringLiteral("?immutable=1"));
    } else if (readOnly) {
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        db.setDatabaseName(location);
    } else {
        if (!QDir().mkpath(QFileInfo(location).absolutePath()))
            return QStringLiteral("无法创建文件夹 %1").arg(Native(QFileInfo(location).absolutePath()));
        db.setDatabaseName(location);
    }
    if (!db.open())
        return StoreFailureReason(db.lastError(), location);
    const ServerDeadline deadline(db);
    QSqlQuery query(db);
    for (const QString &statement : dialect.setUp)
        if (!ExecPatiently(dialect, query, statement)) {
            QSqlError error = query.lastError();
            deadline.Explain(error);
            return StoreFailureReason(error, location);
        }
    return {};
}

QString Open(QSqlDatabase &db, const QString &location, const OpenOptions &options)
{
    if (QString reason = Connect(db, location, options.readOnly); !reason.isEmpty())
        return reason;
    // Setting the connection up is held to the server's answer time; a migration, which may
    // rightly take longer, is not.
    std::optional<ServerDeadline> deadline(std::in_place, db);
    const auto failure = [&](QSqlError error) {
        deadline->Explain(error);
        return StoreFailureReason(error, location);
    };
    // Read before anything is written: a file that is no database, or whose schema is newer than
    // this program's, must stay exactly as it is.
    QSqlError error;
    const std::optional<int> version = SchemaVersion(db, error);
    if (!version)
        return failure(error);
    if (*version > static_cast<int>(options.schema.size()))
        return QStringLiteral("%1 由较新版本的程序写入").arg(StoreName(location));
    const Dialect &dialect = DialectOf(db);
    if (options.readOnly) {
        QSqlQuery query(db);
        for (const QString &statement : dialect.readOnly)
            if (!query.exec(statement))
                return failure(query.lastError());
        if (*version == static_cast<int>(options.schema.size()))
            return {};
        deadline.reset();
        // A store an older program wrote is brought up to date once, as a writer opens it, on a
        // connection of its own; this one goes on reading.
        const QString upgrade = db.connectionName() + QStringLiteral("-upgrade");
        QString reason = OpenHistory(upgrade, location, {options.schema, options.maxPageCount});
        QSqlDatabase::database(upgrade, false).close();
        QSqlDatabase::removeDatabase(upgrade);
        return reason;
    }
    QStringList setup = dialect.writable;
    if (&dialect == &kSqlite && OnNetworkFileSystem(location))
        setup.replaceInStrings(QStringLiteral("journal_mode = WAL"), QStringLiteral("journal_mode = DELETE"));
    if (options.maxPageCount)
        setup << QStringLiteral("PRAGMA max_page_count = %1").arg(*options.maxPageCount);
    QSqlQuery query(db);
    for (const QString &statement : setup)
        if (!ExecPatiently(dialect, query, statement))
            return failure(query.lastError());
    query.finish();
    deadline.reset();
    return Migrate(db, location, options.schema, *version);
}

// Why an operation on a PostgreSQL server failed: SQLSTATE's classes, with the server's own words.
QString ServerFailureReason(const QSqlError &error, const QString &location)
{
    QString invalid;
    const std::optional<ServerAddress> address = ParseServerAddress(location, invalid);
    const QString server = address ? address->Shown() : ShownLocation(location);
    const QString detail = error.databaseText().simplified();
    const QString state = error.nativeErrorCode();
    if (error.type() == QSqlError::ConnectionError)
        return QStringLiteral("无法连接 PostgreSQL 服务器 %1（%2）").arg(server, detail);
    // No state: the connection was gone before an answer came.
    if (state.isEmpty() || state.startsWith(QLatin1String("08")) || state.startsWith(QLatin1String("57P")))
        return QStringLiteral("与 PostgreSQL 服务器 %1 的连接中断（%2）").arg(server, detail);
    if (state == u"57014") // statement_timeout
        return QStringLiteral("数据库服务器 %1 %2 秒没有回应").arg(server).arg(ServerAnswerLimit().count());
    if (state == u"53100")
        return QStringLiteral("PostgreSQL 服务器 %1 的磁盘已满").arg(server);
    if (state == u"42501")
        return QStringLiteral("没有访问 %1 的权限（%2）").arg(StoreName(location), detail);
    if (state == u"55P03" || state == u"40P01")
        return QStringLiteral("%1 被其他程序锁定").arg(StoreName(location));
    if (state == u"25006")
        return QStringLiteral("%1 只读").arg(StoreName(location));
    if (state.startsWith(QLatin1String("23")))
        return QStringLiteral("%1 中的记录互相矛盾，写入被拒绝（%2）").arg(StoreName(location), detail);
    return QStringLiteral("PostgreSQL 服务器 %1 报错（%2）").arg(server, detail);
}

} // namespace

std::span<const SchemaStep> HistorySchema()
{
    return kSchema;
}

QString StateDigest(const QStringList &texts)
{
    // Each text after its length, so that no two lists read as one.
    QCryptographicHash hash(QCryptographicHash::Sha256);
    for (const QString &text : texts) {
        hash.addData(QByteArray::number(text.size()) + ':');
        hash.addData(text.toUtf8());
    }
    return QString::fromLatin1(hash.result().toBase64());
}

bool RebuildSpans(QSqlDatabase &db, const QString &domain, QSqlError &error)
{
    QSqlQuery runs(db), checks(db), found(db), span(db), unused(db), clear(db);
    runs.setForwardOnly(true);
    checks.setForwardOnly(true);
    const std::pair<QSqlQuery *, QString> statements[] = {
        {&clear, QStringLiteral("DELETE FROM state_span WHERE address_id IN (SELECT id FROM address WHERE domain_name = ?)")},
        {&runs, QStringLiteral("SELECT id, end_order FROM run WHERE domain_name = ? ORDER BY id")},
        {&checks, QStringLiteral("SELECT c.address_id, c.row_no, c.state_id, s.outcome FROM run_check c "
                                 "JOIN row_state s ON s.id = c.state_id WHERE c.run_id = ? ORDER BY c.address_id, c.row_no")},
        {&found, QStringLiteral("UPDATE address SET found_run = ?, found_row = ? WHERE id = ?")},
        {&span, QStringLiteral("INSERT INTO state_span (address_id, first_order, last_order, state_id) VALUES (?, ?, ?, ?)")},
        {&unused, QStringLiteral("DELETE FROM address WHERE id = ?")},
    };
    for (const auto &[query, sql] : statements)
        if (!query->prepare(sql)) {
            error = query->lastError();
            return false;
        }
    if (!ExecBound(clear, {domain}, error) || !ExecBound(runs, {domain}, error))
        return false;
    std::vector<std::pair<qint64, QVariant>> ids; // run, place among the completed
    while (runs.next())
        ids.emplace_back(runs.value(0).toLongLong(), runs.value(1));
    runs.finish();
    struct Span {
        qint64 first = 0, last = 0, state = 0;
    };
    std::map<qint64, std::vector<std::pair<qint64, qint64>>> completed; // place → address, state
    std::map<qint64, std::pair<qint64, qint64>> firstFound;              // address → run, row
    std::set<qint64> checked;
    for (const auto &[run, place] : ids) {
        if (!ExecBound(checks, {run}, error))
            return false;
        qint64 previous = -1, previousValid = -1;
        while (checks.next()) {
            const qint64 address = checks.value(0).toLongLong();
            checked.insert(address);
            const bool valid = IsValid(OutcomeFromName(checks.value(3).toString()).value_or(StoredOutcome::Unreachable));
            if (valid && address != std::exchange(previousValid, address))
                firstFound.try_emplace(address, run, checks.value(1).toLongLong());
            // An address listed twice in a run counts by its first row.
            if (!place.isNull() && address != std::exchange(previous, address))
                completed[place.toLongLong()].emplace_back(address, checks.value(2).toLongLong());
        }
        checks.finish();
    }
    std::map<qint64, Span> open;
    const auto close = [&](qint64 address, const Span &finished) {
        return ExecBound(span, {address, finished.first, finished.last, finished.state}, error);
    };
    for (const auto &[place, checksThere] : completed)
        for (const auto &[address, state] : checksThere) {
            auto [at, made] = open.try_emplace(address, Span{place, place, state});
            if (made)
                continue;
            if (at->second.state == state) {
                at->second.last = place;
                continue;
            }
            if (!close(address, at->second))
                return false;
            at->second = {place, place, state};
        }
    for (const auto &[address, finished] : open)
        if (!close(address, finished))
            return false;
    QSqlQuery addresses(db);
    if (!addresses.prepare(QStringLiteral("SELECT id, found_run, found_row FROM address WHERE domain_name = ?")) ||
        !ExecBound(addresses, {domain}, error))
        return false;
    std::vector<std::pair<qint64, std::pair<QVariant, QVariant>>> now;
    while (addresses.next())
        now.push_back({addresses.value(0).toLongLong(), {addresses.value(1), addresses.value(2)}});
    addresses.finish();
    const QVariant none(QMetaType(QMetaType::LongLong));
    for (const auto &[address, was] : now) {
        if (!checked.contains(address)) {
            if (!ExecBound(unused, {address}, error))
                return false;
            continue;
        }
        const auto first = firstFound.find(address);
        const bool same = first == firstFound.end()
                              ? was.first.isNull()
                              : !was.first.isNull() && was.first.toLongLong() == first->second.first &&
                                    was.second.toLongLong() == first->second.second;
        if (same)
            continue;
        const QVariant run = first == firstFound.end() ? none : QVariant(first->second.first);
        const QVariant row = first == firstFound.end() ? none : QVariant(first->second.second);
        if (!ExecBound(found, {run, row, address}, error))
            return false;
    }
    return true;
}

void SilenceDriverWarnings()
{
    static QtMessageHandler previous = nullptr;
    previous = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &context, const QString &message) {
        static const QLatin1String kDriverWords[] = {QLatin1String("QPSQL"), QLatin1String("QSQLITE"),
                                                     QLatin1String("QSqlQuery::"), QLatin1String("QSqlDatabase"),
                                                     QLatin1String("Unable to free statement")};
        const bool driver = std::any_of(std::begin(kDriverWords), std::end(kDriverWords), [&](QLatin1String words) {
            return message.startsWith(words, Qt::CaseInsensitive);
        });
        if (driver && type != QtFatalMsg)
            return;
        if (previous)
            previous(type, context, message);
    });
}

QString LocationError(const QString &location)
{
    QString error;
    if (IsServerLocation(location))
        ParseServerAddress(location, error);
    else if (location.isEmpty())
        error = QStringLiteral("历史记录的位置不能为空");
    else if (const QString folder = QFileInfo(location).absolutePath(); !QFileInfo::exists(folder))
        // A mistyped folder would otherwise start a new, empty history beside the real one.
        error = QStringLiteral("文件夹 %1 不存在").arg(Native(folder));
    return error;
}

QString ConnectHistory(const QString &connection, const QString &location)
{
    const Dialect &dialect = DialectOf(location);
    if (!QSqlDatabase::isDriverAvailable(dialect.driver))
        return dialect.missingDriver;
    QSqlDatabase db = QSqlDatabase::addDatabase(dialect.driver, connection);
    QString reason = Connect(db, location);
    if (!reason.isEmpty())
        db.close();
    return reason;
}

HistoryConnection::HistoryConnection(QString path, const QString &kind, bool readOnly)
    : path_(std::move(path)), name_([&kind] {
          static QAtomicInteger<quint64> connections;
          return QStringLiteral("vantorel-%1-%2").arg(kind).arg(++connections);
      }()),
      readOnly_(readOnly)
{
}

HistoryConnection::~HistoryConnection()
{
    Close();
}

void HistoryConnection::Close()
{
    if (!std::exchange(open_, false))
        return;
    Database().close();
    QSqlDatabase::removeDatabase(name_);
}

QString HistoryConnection::Open()
{
    if (open_)
        return {};
    OpenOptions options;
    options.readOnly = readOnly_;
    QString reason = OpenHistory(name_, path_, options);
    if (!reason.isEmpty()) {
        QSqlDatabase::removeDatabase(name_);
        return reason;
    }
    open_ = true;
    return {};
}

QSqlDatabase HistoryConnection::Database() const
{
    return QSqlDatabase::database(name_, false);
}

QString OpenHistory(const QString &connection, const QString &location, const OpenOptions &options)
{
    const Dialect &dialect = DialectOf(location);
    if (!QSqlDatabase::isDriverAvailable(dialect.driver))
        return dialect.missingDriver;
    QSqlDatabase db = QSqlDatabase::addDatabase(dialect.driver, connection);
    QString reason = Open(db, location, options);
    if (!reason.isEmpty())
        db.close();
    return reason;
}

std::optional<int> SchemaVersion(const QSqlDatabase &db, QSqlError &error)
{
    const Dialect &dialect = DialectOf(db);
    QSqlQuery query(db);
    if (!dialect.versionKept.isEmpty()) {
        if (!query.exec(dialect.versionKept) || !query.next()) {
            error = query.lastError();
            return std::nullopt;
        }
        if (!query.value(0).toBool())
            return 0;
    }
    if (!ExecPatiently(dialect, query, dialect.readVersion)) {
        error = query.lastError();
        return std::nullopt;
    }
    return query.next() ? query.value(0).toInt() : 0;
}

bool BeginReading(QSqlDatabase &db, QSqlError &error)
{
    if (!ExecTransaction(db, QStringLiteral("BEGIN"), error))
        return false;
    for (const QString &statement : DialectOf(db).readSnapshot)
        if (!ExecTransaction(db, statement, error))
            return false;
    return true;
}

bool BeginWriting(QSqlDatabase &db, const QStringList &tables, QSqlError &error)
{
    const Dialect &dialect = DialectOf(db);
    if (!ExecTransaction(db, dialect.beginWriting, error))
        return false;
    if (tables.isEmpty() || dialect.lockTables.isEmpty() || ExecTransaction(db, dialect.lockTables.arg(tables.join(u", ")), error))
        return true;
    db.rollback();
    return false;
}

bool CatchUpIds(QSqlDatabase &db, const QString &table, QSqlError &error)
{
    const Dialect &dialect = DialectOf(db);
    return dialect.catchUpIds.isEmpty() || ExecTransaction(db, dialect.catchUpIds.arg(table), error);
}

QString ClaimingRow(const QSqlDatabase &db)
{
    return DialectOf(db).claimRow;
}

QString OrderingEnds(const QSqlDatabase &db)
{
    return DialectOf(db).orderEnds;
}

bool ExecBound(QSqlQuery &query, std::initializer_list<QVariant> values, QSqlError &error)
{
    for (const QVariant &value : values)
        query.addBindValue(value);
    if (query.exec())
        return true;
    error = query.lastError();
    return false;
}

QString StoreFailureReason(const QSqlError &error, const QString &location)
{
    if (IsServerLocation(location))
        return ServerFailureReason(error, location);
    const QString &path = location;
    // SQLite's primary result codes, under the extended code Qt passes on; %1 is the file.
    static constexpr std::pair<int, const char16_t *> kClasses[] = {
        {3, u"没有访问文件 %1 的权限"},                  // SQLITE_PERM
        {5, u"文件 %1 正被其他程序使用，等待超时"},      // SQLITE_BUSY
        {6, u"文件 %1 被其他程序锁定"},                  // SQLITE_LOCKED
        {7, u"内存不足，无法读写文件 %1"},               // SQLITE_NOMEM
        {8, u"文件 %1 只读"},                            // SQLITE_READONLY
        {10, u"读写文件 %1 出错"},                       // SQLITE_IOERR
        {11, u"文件 %1 已损坏或不是历史记录"},           // SQLITE_CORRUPT
        {13, u"磁盘已满"},                               // SQLITE_FULL
        {14, u"无法打开或创建文件 %1"},                  // SQLITE_CANTOPEN
        {19, u"文件 %1 中的记录互相矛盾，写入被拒绝"},   // SQLITE_CONSTRAINT
        {23, u"没有访问文件 %1 的权限"},                 // SQLITE_AUTH
        {26, u"文件 %1 已损坏或不是历史记录"},           // SQLITE_NOTADB
    };
    bool numeric = false;
    const int code = error.nativeErrorCode().toInt(&numeric) & 0xff;
    for (const auto &[known, text] : kClasses)
        if (numeric && code == known) {
            const QString reason = QString::fromUtf16(text);
            return reason.contains(u"%1") ? reason.arg(Native(path)) : reason;
        }
    // The database's own words are English: the code is all that is passed on.
    return numeric ? QStringLiteral("读写文件 %1 出错（SQLite 错误 %2）").arg(Native(path)).arg(code)
                   : QStringLiteral("读写文件 %1 出错").arg(Native(path));
}

bool ExecTransaction(QSqlDatabase &db, const QString &statement, QSqlError &error)
{
    QSqlQuery query(db);
    if (query.exec(statement))
        return true;
    error = query.lastError();
    return false;
}

bool ConnectionLost(const QSqlError &error)
{
    const QString state = error.nativeErrorCode();
    return error.type() == QSqlError::ConnectionError || state.startsWith(QLatin1String("08")) ||
           state.startsWith(QLatin1String("57P")) ||
           // Qt's driver gives no state when the server closed the connection under a statement.
           (state.isEmpty() && error.databaseText().contains(QLatin1String("server closed the connection")));
}

QString DefaultHistoryPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + QStringLiteral("/history.sqlite3");
}

QString HistoryLocationNote(const QString &location)
{
    if (IsServerLocation(location))
        return {};
    if (InReadOnlyPlace(location))
        return QStringLiteral("历史记录文件 %1 在只读位置，只能按原样读取，新的检测不会保存").arg(Native(location));
    if (OnNetworkFileSystem(location))
        return QStringLiteral("历史记录文件 %1 在网络文件夹上，不使用 WAL 日志；多台电脑共用历史记录请用 PostgreSQL 服务器")
            .arg(Native(location));
    return {};
}

} // namespace vantorel
