#include "HistoryDatabase.h"

#include <Domain.h>

#include <QAtomicInteger>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QStandardPaths>
#include <QThread>

namespace vantorel {

namespace {

const QString kDriver = QStringLiteral("QSQLITE");
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
};

QString Native(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

bool Busy(const QSqlError &error)
{
    const int code = error.nativeErrorCode().toInt() & 0xff;
    return code == 5 || code == 6; // SQLITE_BUSY, SQLITE_LOCKED
}

// SQLite answers "busy" at once, without waiting, where waiting could deadlock: two programs
// setting up the same new file upgrade their locks at once. Such a statement is tried again.
bool ExecPatiently(QSqlQuery &query, const QString &statement)
{
    const QDeadlineTimer deadline(kBusyTimeoutMs);
    while (!query.exec(statement)) {
        if (!Busy(query.lastError()) || deadline.hasExpired())
            return false;
        QThread::msleep(20);
    }
    return true;
}

std::optional<int> ReadVersion(QSqlDatabase &db, QSqlError &error)
{
    QSqlQuery query(db);
    if (!ExecPatiently(query, QStringLiteral("PRAGMA user_version")) || !query.next()) {
        error = query.lastError();
        return std::nullopt;
    }
    return query.value(0).toInt();
}

QString Migrate(QSqlDatabase &db, const QString &path, std::span<const SchemaStep> schema, int version)
{
    const QDeadlineTimer deadline(kBusyTimeoutMs);
    while (version < static_cast<int>(schema.size())) {
        QSqlQuery query(db);
        QSqlError transactionError;
        bool ok = ExecTransaction(db, QStringLiteral("BEGIN"), transactionError);
        const SchemaStep &step = schema[static_cast<std::size_t>(version)];
        for (const QString &statement : step.statements)
            ok = ok && query.exec(statement);
        QSqlError rewriteError;
        if (ok && step.rewrite && (rewriteError = step.rewrite(db)).isValid()) {
            ok = false;
            query.finish();
        }
        ok = ok && query.exec(QStringLiteral("PRAGMA user_version = %1").arg(version + 1));
        query.finish();
        ok = ok && ExecTransaction(db, QStringLiteral("COMMIT"), transactionError);
        if (ok) {
            ++version;
            continue;
        }
        const QSqlError error = rewriteError.isValid()         ? rewriteError
                                : transactionError.isValid()       ? transactionError
                                : query.lastError().isValid() ? query.lastError()
                                                              : db.lastError();
        db.rollback();
        // Another program opening the same new file may have taken the step meanwhile.
        QSqlError ignored;
        const std::optional<int> now = ReadVersion(db, ignored);
        if (now && *now <= version && Busy(error) && !deadline.hasExpired()) {
            QThread::msleep(20); // the other program holds the file for its own step: try again
            continue;
        }
        if (!now || *now <= version)
            return StoreFailureReason(error, path);
        version = *now;
    }
    return {};
}

QString Open(QSqlDatabase &db, const QString &path, const OpenOptions &options)
{
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return QStringLiteral("无法创建文件夹 %1").arg(Native(QFileInfo(path).absolutePath()));
    db.setDatabaseName(path);
    if (!db.open())
        return StoreFailureReason(db.lastError(), path);
    QSqlQuery query(db);
    if (!ExecPatiently(query, QStringLiteral("PRAGMA busy_timeout = %1").arg(kBusyTimeoutMs)))
        return StoreFailureReason(query.lastError(), path);
    // Read before anything is written: a file that is no database, or whose schema is newer than
    // this program's, must stay exactly as it is.
    QSqlError error;
    const std::optional<int> version = ReadVersion(db, error);
    if (!version)
        return StoreFailureReason(error, path);
    if (*version > static_cast<int>(options.schema.size()))
        return QStringLiteral("文件 %1 由较新版本的程序写入").arg(Native(path));
    QStringList setup{QStringLiteral("PRAGMA journal_mode = WAL"),
                      // In WAL mode, a commit survives a killed process without waiting for the disk.
                      QStringLiteral("PRAGMA synchronous = NORMAL"), QStringLiteral("PRAGMA foreign_keys = ON")};
    if (options.maxPageCount)
        setup << QStringLiteral("PRAGMA max_page_count = %1").arg(*options.maxPageCount);
    for (const QString &statement : setup)
        if (!ExecPatiently(query, statement))
            return StoreFailureReason(query.lastError(), path);
    query.finish();
    return Migrate(db, path, options.schema, *version);
}

} // namespace

std::span<const SchemaStep> HistorySchema()
{
    return kSchema;
}

QString OpenHistory(const QString &connection, const QString &path, const OpenOptions &options)
{
    if (!QSqlDatabase::isDriverAvailable(kDriver))
        return QStringLiteral("缺少 Qt 的 SQLite 驱动（libqt6sql6-sqlite）");
    QSqlDatabase db = QSqlDatabase::addDatabase(kDriver, connection);
    QString reason = Open(db, path, options);
    if (!reason.isEmpty())
        db.close();
    return reason;
}

HistoryConnection::HistoryConnection(QString path, const QString &kind) : path_(std::move(path)), name_([&kind] {
    static QAtomicInteger<quint64> connections;
    return QStringLiteral("vantorel-%1-%2").arg(kind).arg(++connections);
}())
{
}

HistoryConnection::~HistoryConnection()
{
    if (open_) {
        Database().close();
        QSqlDatabase::removeDatabase(name_);
    }
}

QString HistoryConnection::Open()
{
    if (open_)
        return {};
    QString reason = OpenHistory(name_, path_);
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

bool ExecBound(QSqlQuery &query, std::initializer_list<QVariant> values, QSqlError &error)
{
    for (const QVariant &value : values)
        query.addBindValue(value);
    if (query.exec())
        return true;
    error = query.lastError();
    return false;
}

QString StoreFailureReason(const QSqlError &error, const QString &path)
{
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

QString DefaultHistoryPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + QStringLiteral("/history.sqlite3");
}

} // namespace vantorel
