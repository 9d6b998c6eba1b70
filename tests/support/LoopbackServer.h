#pragma once

#include <QString>

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

// An HTTP server on a loopback address (127.0.0.1 unless told) for tests: every accepted
// connection runs the handler on a thread of its own, so the handler controls every byte
// (status, headers, resets, stalls).
class LoopbackServer {
public:
    class Connection {
    public:
        Connection(int fd, std::string request, const std::atomic<bool> &stopping);

        const std::string &request() const { return request_; } // request line and headers
        std::string path() const;                               // request target
        // Waits for the next request on this connection (keep-alive); false when none came.
        bool readRequest();

        // The request's body as its Content-Length announces it; read once, after the head.
        std::string readBody();
        bool send(std::string_view bytes);
        // Sends status line, Content-Length and the given extra header lines, then the body.
        bool respond(int status, std::string_view body, std::string_view extraHeaders = {});
        // Closes with a TCP reset instead of an orderly shutdown.
        void reset();
        // Orderly close; done after the handler returns unless it reset the connection.
        void close();
        // Sleeps, waking early when the server stops; false when it stopped.
        bool sleepFor(std::chrono::milliseconds duration) const;
        bool stopping() const { return stopping_.load(); }

    private:
        int fd_;
        std::string request_;
        const std::atomic<bool> &stopping_;
    };

    using Handler = std::function<void(Connection &)>;

    // Any 127.x.y.z works on Linux: servers on several of them stand for several hosts. The
    // port is any free one unless given; throws when it cannot listen.
    explicit LoopbackServer(Handler handler, std::string address = "127.0.0.1", int port = 0);
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer &) = delete;
    LoopbackServer &operator=(const LoopbackServer &) = delete;

    int port() const { return port_; }
    // "address:port" and "http://address:port" + path.
    QString hostAndPort() const;
    QString url(std::string_view path = "/") const;

    int requestCount() const;
    std::vector<std::string> requests() const; // request heads in arrival order

    // A handler serving fixed pages by path (query included); other paths get 404.
    struct Page {
        int status = 200;
        std::string body;
        std::string extraHeaders;
    };
    static Handler Pages(std::map<std::string, Page> pages);

    // Every value of the named header in a request head, in order; names match in any case.
    static std::vector<std::string> HeaderValues(const std::string &head, std::string_view name);

    // A port on 127.0.0.1 where nothing listens.
    static int ClosedPort();

private:
    void AcceptLoop();

    Handler handler_;
    std::string address_;
    int listenFd_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread acceptThread_;
    mutable std::mutex mutex_;
    std::vector<std::thread> connectionThreads_;
    std::vector<std::string> requests_;
};
