#pragma once

#include <QSqlDatabase>
#include <QSqlError>

#include <chrono>
#include <cstdint>

namespace vantorel {

// How long a server may leave a statement unanswered before the store gives up on it; the
// server's own statement_timeout is the same. VANTOREL_SERVER_ANSWER_SECONDS shortens it.
std::chrono::seconds ServerAnswerLimit();

// Holds the work on a server connection, from construction to destruction, to ServerAnswerLimit():
// a frozen server (its processes stopped, its host hung) still has its kernel acknowledge every
// packet, so neither TCP keepalives nor the server's statement_timeout ever end a wait on it.
// When the time is up the connection's socket is shut down: the driver's wait ends at once in a
// lost connection, which Explain then tells as the time-out. Does nothing on an SQLite file.
class ServerDeadline {
public:
    explicit ServerDeadline(const QSqlDatabase &db);
    ~ServerDeadline();
    ServerDeadline(const ServerDeadline &) = delete;
    ServerDeadline &operator=(const ServerDeadline &) = delete;

    bool Expired() const;
    // After a failure: when the time ran out, error becomes the server's own statement time-out
    // (57014), which is not a lost connection to try again on.
    void Explain(QSqlError &error) const;

private:
    std::uint64_t ticket_ = 0; // 0: nothing watched
};

} // namespace vantorel
