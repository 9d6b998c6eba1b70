#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

namespace vantorel {

// A throwaway PostgreSQL 15 server for tests and benchmarks: a cluster made by initdb in a
// temporary folder, the server listening only on a Unix socket there. Run as nobody when the
// process is root (the server refuses root), and stopped by the operating system when the
// process dies.
class PostgresServer {
public:
    struct Options {
        // Commits wait for the disk, as on a real server; tests do without.
        bool durable = false;
    };

    // Starts the server; Error() says why it did not.
    explicit PostgresServer(Options options);
    ~PostgresServer();
    PostgresServer(const PostgresServer &) = delete;
    PostgresServer &operator=(const PostgresServer &) = delete;

    // The process's shared server, fast or durable, started on first use and stopped when the
    // application object goes. Null when the server's programs are not installed (with why in
    // skipReason); a server that is installed but does not start fails the calling test.
    static PostgresServer *Shared(QString &skipReason, bool durable = false);

    const QString &Error() const { return error_; }
    QString SocketFolder() const { return dir_.path(); }

    // A new empty database, as the postgresql:// address the program takes.
    QString NewDatabase();
    // The address of a database on this server, logged in as user (the superuser when empty),
    // with a password when one is given.
    QString Address(const QString &database, const QString &user = {}, const QString &password = {}) const;
    // Runs statements as the superuser on the database; why one failed, or an empty text.
    QString Exec(const QString &database, const QStringList &statements) const;

    // Stops the server and every process of it, as a hung host would (their kernel still
    // acknowledges what is sent to them), or lets them go on.
    void Freeze(bool frozen);

    // A role that logs in with a password only: PostgresServer::kGuestPassword.
    static constexpr const char *kGuest = "guest";
    static constexpr const char *kGuestPassword = "guest-password";

private:
    bool Run(const QString &program, const QStringList &arguments, QString &output);
    void Start(const Options &options);

    QTemporaryDir dir_;
    QProcess server_;
    QString error_;
    int databases_ = 0;
};

} // namespace vantorel
