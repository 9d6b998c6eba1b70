// vantorel_page_server: many slow pages on many loopback hosts at once, for the fetch tests and
// benchmarks. One thread on epoll holds thousands of connections, where LoopbackServer spends a
// thread on each. It listens on 127.0.0.1 .. 127.0.0.<hosts>, all on one port, prints that port
// on a line of its own and serves until its standard input closes.
//
//   GET /<delay ms>/<anything>   a page of --size bytes that names --domain, after the delay
//   GET /index/<delay ms>/<order>  links to --pages such pages spread over the hosts (the
//                                  order as PageServer::Urls gives it), at once
//
// Connections stay open between requests unless the client asks to close.

#include "PageServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <queue>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
    int hosts = 100;
    int pages = 1000;
    size_t size = 20'000;
    std::string domain = "example.com";
};

struct Client {
    std::string in;
    std::string out;
    size_t outSent = 0; // of out: erasing what went out would copy a large page again at every send
    bool waiting = false; // a request is waiting for its delay
    bool close = false;   // after the answer
    unsigned long serial = 0;
};

struct Due {
    Clock::time_point at;
    int fd;
    unsigned long serial; // a descriptor number comes back for a later connection
    bool operator>(const Due &other) const { return at > other.at; }
};

class Server {
public:
    explicit Server(Options options) : options_(std::move(options)), epoll_(::epoll_create1(EPOLL_CLOEXEC))
    {
        std::string filler;
        while (page_.size() + filler.size() < options_.size)
            filler += "<p>Loopback page text, line after line, to give the page its weight.</p>\n";
        page_ = "<!DOCTYPE html><html><head><title>page</title></head><body>\n<p>Links to <a href=\"http://" +
                options_.domain + "/\">" + options_.domain + "</a>.</p>\n" + filler;
        page_.resize(std::max(options_.size, page_.size()));
        page_ += "</body></html>\n";
    }

    // Every host on one port: the first takes any free port, the others must get the same one.
    int Listen()
    {
        for (int attempt = 0; attempt < 20; ++attempt) {
            int port = 0;
            std::vector<int> fds;
            for (int host = 1; host <= options_.hosts; ++host) {
                const int fd = ListenOn(host, port);
                if (fd < 0)
                    break;
                fds.push_back(fd);
            }
            if (static_cast<int>(fds.size()) == options_.hosts) {
                for (const int fd : fds) {
                    Watch(fd, EPOLLIN);
                    listener_.resize(std::max<size_t>(listener_.size(), static_cast<size_t>(fd) + 1));
                    listener_[static_cast<size_t>(fd)] = true;
                }
                port_ = port;
                return port;
            }
            for (const int fd : fds)
                ::close(fd);
        }
        return 0;
    }

    void Run()
    {
        Watch(STDIN_FILENO, EPOLLIN);
        std::vector<epoll_event> events(1024);
        for (;;) {
            int timeout = -1;
            if (!due_.empty()) {
                const auto wait = std::chrono::ceil<std::chrono::milliseconds>(due_.top().at - Clock::now());
                timeout = static_cast<int>(std::max<long long>(0, wait.count()));
            }
            const int ready = ::epoll_wait(epoll_, events.data(), static_cast<int>(events.size()), timeout);
            for (int i = 0; i < ready; ++i) {
                const int fd = events[static_cast<size_t>(i)].data.fd;
                if (fd == STDIN_FILENO)
                    return; // the parent is gone
                if (static_cast<size_t>(fd) < listener_.size() && listener_[static_cast<size_t>(fd)])
                    Accept(fd);
                else if (events[static_cast<size_t>(i)].events & (EPOLLIN | EPOLLHUP | EPOLLERR))
                    Read(fd);
                else
                    Flush(fd);
            }
            for (const auto now = Clock::now(); !due_.empty() && due_.top().at <= now;) {
                const Due due = due_.top();
                due_.pop();
                Answer(due);
            }
        }
    }

private:
    int ListenOn(int host, int &port)
    {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        const int yes = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(port));
        address.sin_addr.s_addr = htonl(0x7F000000u | static_cast<uint32_t>(host));
        if (::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 || ::listen(fd, 4096) != 0) {
            ::close(fd);
            return -1;
        }
        socklen_t length = sizeof address;
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length);
        port = ntohs(address.sin_port);
        return fd;
    }

    void Watch(int fd, uint32_t events, int op = EPOLL_CTL_ADD)
    {
        epoll_event event{};
        event.events = events;
        event.data.fd = fd;
        ::epoll_ctl(epoll_, op, fd, &event);
    }

    void Accept(int listener)
    {
        for (;;) {
            const int fd = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (fd < 0)
                return;
            const int yes = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
            clients_[fd].serial = ++serial_;
            Watch(fd, EPOLLIN);
        }
    }

    void Drop(int fd)
    {
        ::close(fd); // leaves the epoll set with it
        clients_.erase(fd);
    }

    void Read(int fd)
    {
        Client &client = clients_[fd];
        char buffer[16 * 1024];
        for (;;) {
            const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
            if (got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK)) {
                Drop(fd);
                return;
            }
            if (got < 0)
                break;
            client.in.append(buffer, static_cast<size_t>(got));
        }
        if (client.waiting || client.in.find("\r\n\r\n") == std::string::npos)
            return;
        client.waiting = true;
        int delay = 0;
        const size_t target = client.in.find(' ') + 1;
        if (client.in.compare(target, 7, "/index/") != 0)
            delay = std::atoi(client.in.c_str() + target + 1);
        due_.push({Clock::now() + std::chrono::milliseconds(delay), fd, client.serial});
    }

    void Answer(const Due &due)
    {
        const int fd = due.fd;
        const auto found = clients_.find(fd);
        if (found == clients_.end() || found->second.serial != due.serial)
            return; // closed while it waited
        Client &client = found->second;
        const size_t headEnd = client.in.find("\r\n\r\n") + 4;
        const std::string head = client.in.substr(0, headEnd);
        client.in.erase(0, headEnd);
        client.waiting = false;
        std::string lower = head;
        for (char &c : lower)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        client.close = lower.find("connection: close") != std::string::npos;

        const size_t target = head.find(' ') + 1;
        const std::string path = head.substr(target, head.find(' ', target) - target);
        std::string body = page_;
        int delay = 0;
        char order[16] = {};
        if (std::sscanf(path.c_str(), "/index/%d/%15s", &delay, order) == 2) {
            body = "<!DOCTYPE html><html><body>\n";
            for (const std::string &url : vantorel::PageServer::Urls(port_, options_.hosts, options_.pages, delay,
                                                                      std::strcmp(order, "sorted") == 0))
                body += "<a href=\"" + url + "\">page</a>\n";
            body += "</body></html>\n";
        }
        client.out += "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: " +
                      std::to_string(body.size()) + "\r\n" + (client.close ? "Connection: close\r\n" : "") + "\r\n";
        if (head.rfind("HEAD ", 0) != 0)
            client.out += body;
        Flush(fd);
    }

    void Flush(int fd)
    {
        const auto found = clients_.find(fd);
        if (found == clients_.end())
            return;
        Client &client = found->second;
        while (client.outSent < client.out.size()) {
            const ssize_t sent =
                ::send(fd, client.out.data() + client.outSent, client.out.size() - client.outSent, MSG_NOSIGNAL);
            if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                Watch(fd, EPOLLIN | EPOLLOUT, EPOLL_CTL_MOD);
                return;
            }
            if (sent <= 0) {
                Drop(fd);
                return;
            }
            client.outSent += static_cast<size_t>(sent);
        }
        client.out.clear();
        client.outSent = 0;
        if (client.close) {
            ::shutdown(fd, SHUT_WR);
            Drop(fd);
            return;
        }
        Watch(fd, EPOLLIN, EPOLL_CTL_MOD);
        if (client.in.find("\r\n\r\n") != std::string::npos)
            Read(fd); // the next request came with this one
    }

    Options options_;
    int epoll_;
    int port_ = 0;
    std::string page_;
    std::vector<bool> listener_; // by descriptor
    unsigned long serial_ = 0;
    std::unordered_map<int, Client> clients_;
    std::priority_queue<Due, std::vector<Due>, std::greater<>> due_;
};

} // namespace

int main(int argc, char **argv)
{
    Options options;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        const char *value = argv[i + 1];
        if (name == "--hosts")
            options.hosts = std::atoi(value);
        else if (name == "--pages")
            options.pages = std::atoi(value);
        else if (name == "--size")
            options.size = static_cast<size_t>(std::atol(value));
        else if (name == "--domain")
            options.domain = value;
    }
    if (options.hosts < 1 || options.hosts > 254) {
        std::fputs("--hosts takes 1 to 254\n", stderr);
        return 2;
    }
    // Thousands of connections at once; the hard limit is as far as it goes.
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
    Server server(options);
    const int port = server.Listen();
    if (port == 0) {
        std::fputs("cannot listen on the loopback hosts\n", stderr);
        return 1;
    }
    std::printf("%d\n", port);
    std::fflush(stdout);
    server.Run();
    return 0;
}
