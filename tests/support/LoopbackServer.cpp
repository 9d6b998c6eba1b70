#include "LoopbackServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <stdexcept>

namespace {

int ListenOnLoopback(const std::string &host, int &port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        throw std::runtime_error("socket failed");
    const int yes = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    if (::inet_pton(AF_INET, host.c_str(), &address.sin_addr) != 1) {
        ::close(fd);
        throw std::runtime_error("not an IPv4 address: " + host);
    }
    if (::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 || ::listen(fd, 64) != 0) {
        ::close(fd);
        throw std::runtime_error("bind/listen failed");
    }
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length);
    port = ntohs(address.sin_port);
    return fd;
}

// Reads up to the blank line that ends the request head (or until the peer stops sending).
std::string ReadRequestHead(int fd, const std::atomic<bool> &stopping)
{
    std::string head;
    char buffer[4096];
    while (head.find("\r\n\r\n") == std::string::npos && head.size() < (1 << 20) && !stopping) {
        pollfd waiting{fd, POLLIN, 0};
        if (::poll(&waiting, 1, 100) <= 0)
            continue;
        const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
        if (got <= 0)
            break;
        head.append(buffer, static_cast<size_t>(got));
    }
    return head;
}

std::string Lower(std::string_view text)
{
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
    return out;
}

const char *ReasonPhrase(int status)
{
    switch (status) {
    case 200: return "OK";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 404: return "Not Found";
    case 500: return "Internal Server Error";
    default: return "Status";
    }
}

} // namespace

LoopbackServer::Connection::Connection(int fd, std::string request, const std::atomic<bool> &stopping)
    : fd_(fd), request_(std::move(request)), stopping_(stopping)
{
}

std::string LoopbackServer::Connection::path() const
{
    const size_t first = request_.find(' ');
    if (first == std::string::npos)
        return {};
    const size_t second = request_.find(' ', first + 1);
    return request_.substr(first + 1, second == std::string::npos ? std::string::npos : second - first - 1);
}

std::string LoopbackServer::Connection::readBody()
{
    const size_t end = request_.find("\r\n\r\n");
    const std::vector<std::string> lengths = HeaderValues(request_, "Content-Length");
    if (end == std::string::npos || lengths.empty())
        return {};
    std::string body = request_.substr(end + 4); // what arrived with the head
    const size_t wanted = std::stoul(lengths.front());
    char buffer[4096];
    while (body.size() < wanted && !stopping_) {
        pollfd waiting{fd_, POLLIN, 0};
        if (::poll(&waiting, 1, 100) <= 0)
            continue;
        const ssize_t got = ::recv(fd_, buffer, std::min(sizeof buffer, wanted - body.size()), 0);
        if (got <= 0)
            break;
        body.append(buffer, static_cast<size_t>(got));
    }
    return body;
}

bool LoopbackServer::Connection::readRequest()
{
    request_ = ReadRequestHead(fd_, stopping_);
    return request_.find("\r\n\r\n") != std::string::npos;
}

bool LoopbackServer::Connection::send(std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t sent = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent <= 0)
            return false;
        bytes.remove_prefix(static_cast<size_t>(sent));
    }
    return true;
}

bool LoopbackServer::Connection::respond(int status, std::string_view body, std::string_view extraHeaders)
{
    std::string head = "HTTP/1.1 " + std::to_string(status) + " " + ReasonPhrase(status) + "\r\n";
    head += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    head += "Connection: close\r\n";
    head += extraHeaders;
    head += "\r\n";
    return send(head) && (request_.rfind("HEAD ", 0) == 0 || send(body)); // a HEAD's answer has no body
}

void LoopbackServer::Connection::reset()
{
    if (fd_ < 0)
        return;
    const linger abortive{1, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
    ::close(fd_);
    fd_ = -1;
}

void LoopbackServer::Connection::close()
{
    if (fd_ < 0)
        return;
    ::shutdown(fd_, SHUT_WR);
    ::close(fd_);
    fd_ = -1;
}

bool LoopbackServer::Connection::sleepFor(std::chrono::milliseconds duration) const
{
    const auto until = std::chrono::steady_clock::now() + duration;
    while (std::chrono::steady_clock::now() < until) {
        if (stopping_)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return !stopping_;
}

LoopbackServer::LoopbackServer(Handler handler, std::string address, int port)
    : handler_(std::move(handler)), address_(std::move(address)), port_(port)
{
    listenFd_ = ListenOnLoopback(address_, port_);
    acceptThread_ = std::thread([this] { AcceptLoop(); });
}

LoopbackServer::~LoopbackServer()
{
    stopping_ = true;
    ::shutdown(listenFd_, SHUT_RDWR);
    acceptThread_.join();
    ::close(listenFd_);
    std::vector<std::thread> threads;
    {
        std::lock_guard lock(mutex_);
        threads.swap(connectionThreads_);
    }
    for (std::thread &thread : threads)
        thread.join();
}

void LoopbackServer::AcceptLoop()
{
    while (!stopping_) {
        pollfd waiting{listenFd_, POLLIN, 0};
        if (::poll(&waiting, 1, 50) <= 0)
            continue;
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        // Small answers go out at once, not after the client's delayed acknowledgement.
        const int yes = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
        std::lock_guard lock(mutex_);
        connectionThreads_.emplace_back([this, fd] {
            Connection connection(fd, ReadRequestHead(fd, stopping_), stopping_);
            {
                std::lock_guard requestLock(mutex_);
                requests_.push_back(connection.request());
            }
            handler_(connection);
            connection.close();
        });
    }
}

QString LoopbackServer::hostAndPort() const
{
    return QStringLiteral("%1:%2").arg(QString::fromStdString(address_)).arg(port_);
}

QString LoopbackServer::url(std::string_view path) const
{
    return QStringLiteral("http://") + hostAndPort() + QString::fromUtf8(path.data(), static_cast<qsizetype>(path.size()));
}

int LoopbackServer::requestCount() const
{
    std::lock_guard lock(mutex_);
    return static_cast<int>(requests_.size());
}

std::vector<std::string> LoopbackServer::requests() const
{
    std::lock_guard lock(mutex_);
    return requests_;
}

std::vector<std::string> LoopbackServer::HeaderValues(const std::string &head, std::string_view name)
{
    std::vector<std::string> values;
    const std::string key = Lower(name) + ":";
    for (size_t line = head.find("\r\n"); line != std::string::npos;) {
        const size_t begin = line + 2;
        const size_t end = head.find("\r\n", begin);
        if (end == std::string::npos || end == begin)
            break;
        const std::string text = head.substr(begin, end - begin);
        if (Lower(text.substr(0, key.size())) == key)
            values.push_back(text.substr(std::min(text.find_first_not_of(' ', key.size()), text.size())));
        line = end;
    }
    return values;
}

LoopbackServer::Handler LoopbackServer::Pages(std::map<std::string, Page> pages)
{
    return [pages = std::move(pages)](Connection &connection) {
        const auto found = pages.find(connection.path());
        if (found == pages.end()) {
            connection.respond(404, "not found");
            return;
        }
        connection.respond(found->second.status, found->second.body, found->second.extraHeaders);
    };
}

int LoopbackServer::ClosedPort()
{
    int port = 0;
    const int fd = ListenOnLoopback("127.0.0.1", port);
    ::close(fd);
    return port;
}
