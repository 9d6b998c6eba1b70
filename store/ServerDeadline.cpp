#include "ServerDeadline.h"

#include <QSqlDriver>
#include <QVariant>

#include <libpq-fe.h>
#include <sys/socket.h>

#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

namespace vantorel {

namespace {

using Clock = std::chrono::steady_clock;

// One thread for the process that shuts the sockets of connections whose time is up.
class Watchdog {
public:
    static Watchdog &Instance()
    {
        static Watchdog watchdog;
        return watchdog;
    }

    std::uint64_t Watch(int socket, Clock::time_point deadline)
    {
        const std::lock_guard lock(mutex_);
        if (!thread_.joinable())
            thread_ = std::thread([this] { Run(); });
        watched_[++lastTicket_] = {socket, deadline, false};
        wake_.notify_one();
        return lastTicket_;
    }

    void Release(std::uint64_t ticket)
    {
        const std::lock_guard lock(mutex_);
        watched_.erase(ticket);
    }

    bool Expired(std::uint64_t ticket)
    {
        const std::lock_guard lock(mutex_);
        return watched_.at(ticket).expired;
    }

    ~Watchdog()
    {
        {
            const std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_one();
        if (thread_.joinable())
            thread_.join();
    }

private:
    struct Watched {
        int socket;
        Clock::time_point deadline;
        bool expired;
    };

    Watchdog() = default;

    void Run()
    {
        std::unique_lock lock(mutex_);
        while (!stopping_) {
            auto next = Clock::time_point::max();
            const auto now = Clock::now();
            for (auto &[ticket, watched] : watched_) {
                if (watched.expired)
                    continue;
                if (watched.deadline <= now) {
                    // Shut, not closed: the descriptor stays the driver's until it lets it go.
                    ::shutdown(watched.socket, SHUT_RDWR);
                    watched.expired = true;
                } else {
                    next = std::min(next, watched.deadline);
                }
            }
            if (next == Clock::time_point::max())
                wake_.wait(lock);
            else
                wake_.wait_until(lock, next);
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::map<std::uint64_t, Watched> watched_;
    std::uint64_t lastTicket_ = 0;
    bool stopping_ = false;
    std::thread thread_;
};

int ServerSocket(const QSqlDatabase &db)
{
    const QVariant handle = db.isOpen() && db.driver() ? db.driver()->handle() : QVariant();
    // Qt names the driver's handle by the struct behind libpq's PGconn.
    if (qstrcmp(handle.typeName(), "pg_conn*") != 0 && qstrcmp(handle.typeName(), "PGconn*") != 0)
        return -1;
    PGconn *connection = *static_cast<PGconn *const *>(handle.constData());
    return connection ? PQsocket(connection) : -1;
}

} // namespace

std::chrono::seconds ServerAnswerLimit()
{
    static const std::chrono::seconds limit = [] {
        bool given = false;
        const int seconds = qEnvironmentVariableIntValue("VANTOREL_SERVER_ANSWER_SECONDS", &given);
        return std::chrono::seconds(given && seconds > 0 ? seconds : 30);
    }();
    return limit;
}

ServerDeadline::ServerDeadline(const QSqlDatabase &db)
{
    if (const int socket = ServerSocket(db); socket >= 0)
        ticket_ = Watchdog::Instance().Watch(socket, Clock::now() + ServerAnswerLimit());
}

ServerDeadline::~ServerDeadline()
{
    if (ticket_)
        Watchdog::Instance().Release(ticket_);
}

bool ServerDeadline::Expired() const
{
    return ticket_ && Watchdog::Instance().Expired(ticket_);
}

void ServerDeadline::Explain(QSqlError &error) const
{
    if (Expired())
        error = QSqlError(QString(), QString(), QSqlError::StatementError, QStringLiteral("57014"));
}

} // namespace vantorel
