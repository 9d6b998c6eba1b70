#include "PostgresServer.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>
#include <QUrl>

#include <csignal>
#include <grp.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace vantorel {

namespace {

const QString kBin = QStringLiteral("/usr/lib/postgresql/15/bin/");
const QString kSuperuser = QStringLiteral("vantorel");

// Who the server runs as: this process's user, or nobody for root.
struct Account {
    bool change = false;
    uid_t uid = 0;
    gid_t gid = 0;
};

Account ServerAccount()
{
    if (geteuid() != 0)
        return {};
    const passwd *nobody = getpwnam("nobody");
    return nobody ? Account{true, nobody->pw_uid, nobody->pw_gid} : Account{true, 65534, 65534};
}

// In the child, before exec: the server's user, and a signal to stop when this process dies.
void PrepareChild(QProcess &process)
{
    const Account account = ServerAccount();
    process.setChildProcessModifier([account] {
        if (account.change && (setgroups(0, nullptr) != 0 || setgid(account.gid) != 0 || setuid(account.uid) != 0))
            _exit(126);
        // After the change of user, which clears it. SIGQUIT: the server's immediate stop.
        prctl(PR_SET_PDEATHSIG, SIGQUIT);
    });
}

QString Encoded(const QString &text)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(text));
}

} // namespace

PostgresServer::PostgresServer(Options options)
{
    Start(options);
}

PostgresServer::~PostgresServer()
{
    if (server_.state() == QProcess::NotRunning)
        return;
    ::kill(static_cast<pid_t>(server_.processId()), SIGINT); // the fast stop: clients are cut off
    if (!server_.waitForFinished(10000))
        server_.kill();
    server_.waitForFinished(5000);
}

void PostgresServer::Freeze(bool frozen)
{
    const auto postmaster = static_cast<pid_t>(server_.processId());
    std::vector<pid_t> processes{postmaster};
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        bool isProcess = false;
        const pid_t pid = entry.toInt(&isProcess);
        if (!isProcess || !stat.open(QIODevice::ReadOnly))
            continue;
        // "pid (name) state ppid …", where the name may hold spaces and parentheses.
        const QByteArray line = stat.readAll();
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1 && fields[1].toInt() == postmaster)
            processes.push_back(pid);
    }
    for (const pid_t pid : processes)
        ::kill(pid, frozen ? SIGSTOP : SIGCONT);
}

PostgresServer *PostgresServer::Shared(QString &skipReason, bool durable)
{
    static std::unique_ptr<PostgresServer> servers[2]; // fast, durable
    std::unique_ptr<PostgresServer> &shared = servers[durable];
    if (!QFileInfo(kBin + QStringLiteral("initdb")).isExecutable()) {
        skipReason = QStringLiteral("no PostgreSQL 15 server programs in %1 (scripts/deps.sh installs postgresql-15)").arg(kBin);
        return nullptr;
    }
    if (!shared) {
        shared = std::make_unique<PostgresServer>(Options{durable});
        if (!servers[!durable])
            qAddPostRoutine([] {
                for (std::unique_ptr<PostgresServer> &server : servers)
                    server.reset();
            });
    }
    return shared.get();
}

bool PostgresServer::Run(const QString &program, const QStringList &arguments, QString &output)
{
    QProcess process;
    PrepareChild(process);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(kBin + program, arguments);
    const bool finished = process.waitForFinished(120000);
    output = QString::fromLocal8Bit(process.readAll());
    return finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

void PostgresServer::Start(const Options &options)
{
    if (!dir_.isValid()) {
        error_ = QStringLiteral("no temporary folder");
        return;
    }
    const Account account = ServerAccount();
    if (account.change && ::chown(QFile::encodeName(dir_.path()).constData(), account.uid, account.gid) != 0) {
        error_ = QStringLiteral("cannot give %1 to the server's user").arg(dir_.path());
        return;
    }
    const QString data = dir_.filePath(QStringLiteral("data"));
    QString output;
    if (!Run(QStringLiteral("initdb"),
             {QStringLiteral("-D"), data, QStringLiteral("-U"), kSuperuser, QStringLiteral("--auth=trust"),
              QStringLiteral("--no-sync"), QStringLiteral("--encoding=UTF8"), QStringLiteral("--locale=C.UTF-8")},
             output)) {
        error_ = QStringLiteral("initdb failed: ") + output;
        return;
    }
    // The guest logs in with its password; everyone else is trusted.
    QFile hba(data + QStringLiteral("/pg_hba.conf"));
    if (!hba.open(QIODevice::ReadWrite)) {
        error_ = QStringLiteral("cannot open pg_hba.conf");
        return;
    }
    const QByteArray rules = "local all " + QByteArray(kGuest) + " scram-sha-256\n" + hba.readAll();
    hba.seek(0);
    hba.write(rules);
    hba.close();

    QStringList arguments{QStringLiteral("-D"), data, QStringLiteral("-k"), dir_.path(), QStringLiteral("-c"),
                          QStringLiteral("listen_addresses="), QStringLiteral("-c"), QStringLiteral("max_connections=300")};
    if (!options.durable)
        arguments << QStringLiteral("-c") << QStringLiteral("fsync=off") << QStringLiteral("-c")
                  << QStringLiteral("synchronous_commit=off") << QStringLiteral("-c")
                  << QStringLiteral("full_page_writes=off");
    PrepareChild(server_);
    server_.setStandardOutputFile(dir_.filePath(QStringLiteral("server.log")));
    server_.setProcessChannelMode(QProcess::MergedChannels);
    server_.start(kBin + QStringLiteral("postgres"), arguments);
    const QDeadlineTimer deadline(60000);
    while (!Exec(QStringLiteral("postgres"), {QStringLiteral("SELECT 1")}).isEmpty()) {
        if (server_.state() == QProcess::NotRunning || deadline.hasExpired()) {
            QFile log(dir_.filePath(QStringLiteral("server.log")));
            log.open(QIODevice::ReadOnly);
            error_ = QStringLiteral("the server did not start: ") + QString::fromLocal8Bit(log.readAll());
            return;
        }
        QThread::msleep(50);
    }
    error_ = Exec(QStringLiteral("postgres"), {QStringLiteral("CREATE ROLE %1 LOGIN PASSWORD '%2'")
                                                   .arg(QLatin1String(kGuest), QLatin1String(kGuestPassword))});
}

QString PostgresServer::NewDatabase()
{
    const QString name = QStringLiteral("history_%1").arg(++databases_);
    const QString error = Exec(QStringLiteral("postgres"), {QStringLiteral("CREATE DATABASE %1").arg(name)});
    return error.isEmpty() ? Address(name) : QString();
}

QString PostgresServer::Address(const QString &database, const QString &user, const QString &password) const
{
    QString credentials = Encoded(user.isEmpty() ? kSuperuser : user);
    if (!password.isEmpty())
        credentials += u':' + Encoded(password);
    return QStringLiteral("postgresql://%1@/%2?host=%3").arg(credentials, Encoded(database), Encoded(dir_.path()));
}

QString PostgresServer::Exec(const QString &database, const QStringList &statements) const
{
    const QString connection = QStringLiteral("postgres-server-%1").arg(reinterpret_cast<quintptr>(QThread::currentThread()));
    QString error;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), connection);
        db.setHostName(dir_.path());
        db.setUserName(kSuperuser);
        db.setDatabaseName(database);
        if (!db.open())
            error = db.lastError().text();
        QSqlQuery query(db);
        for (const QString &statement : statements)
            if (error.isEmpty() && !query.exec(statement))
                error = statement + QStringLiteral(": ") + query.lastError().text();
    }
    QSqlDatabase::removeDatabase(connection);
    return error;
}

} // namespace vantorel
