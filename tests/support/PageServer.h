#pragma once

#include <QProcess>
#include <QString>

#include <algorithm>
#include <string>
#include <vector>

namespace vantorel {

// vantorel_page_server run as a child process: pages of some 20 KB on the loopback hosts
// 127.0.0.1 .. 127.0.0.<hosts>, each answering after the delay its address names, and an
// index page of links to them. Its connections do not count against this process's
// descriptors, nor its CPU time against this process's.
class PageServer {
public:
    struct Options {
        int hosts = 100;
        int pages = 1000;  // on the index pages
        int size = 20'000; // bytes a page
        QString domain = QStringLiteral("example.com");
    };

    explicit PageServer(const Options &options);
    ~PageServer(); // closes the server's standard input: it ends
    PageServer(const PageServer &) = delete;
    PageServer &operator=(const PageServer &) = delete;

    int port() const { return port_; } // 0 when the server did not start
    QString error() const { return error_; }

    // The pages, `pages / hosts` on each host, each answering after delayMs: host after host
    // in turn, or each host's pages in a row.
    static std::vector<std::string> Urls(int port, int hosts, int pages, int delayMs, bool sorted)
    {
        std::vector<std::string> urls;
        urls.reserve(static_cast<size_t>(pages));
        const int perHost = std::max(1, pages / hosts);
        for (int i = 0; i < pages; ++i) {
            const int host = sorted ? std::min(i / perHost, hosts - 1) : i % hosts;
            urls.push_back("http://127.0.0." + std::to_string(host + 1) + ":" + std::to_string(port) + "/" +
                           std::to_string(delayMs) + "/p" + std::to_string(i));
        }
        return urls;
    }
    std::vector<std::string> urls(int delayMs, bool sorted) const;
    QString indexUrl(int delayMs, bool sorted) const;

private:
    Options options_;
    QProcess process_;
    int port_ = 0;
    QString error_;
};

} // namespace vantorel
