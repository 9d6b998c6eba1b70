#pragma once

// A small web on 127.0.0.1 for runs: the engine's result page for every search path, and
// linked pages by path.

#include "LoopbackServer.h"
#include "QtPrinters.h"

#include <BacklinkAnalysis.h>

#include <functional>
#include <map>
#include <mutex>
#include <string>

class TestWeb {
public:
    TestWeb();

    void SetResultPage(const QString &page); // served GBK-encoded
    // extraHeaders: header lines, each ending in "\r\n".
    void SetPage(const std::string &path, std::string body, int status = 200, std::string extraHeaders = {});
    // Called on the server's thread before each answer.
    void OnRequest(std::function<void(const std::string &path)> hook);

    QString Address(const std::string &path) const; // without "http://"
    LoopbackServer &server() { return server_; }
    int RequestsFor(std::string_view pathPrefix) const;

private:
    void Serve(LoopbackServer::Connection &connection);

    mutable std::mutex mutex_;
    std::map<std::string, LoopbackServer::Page> pages_;
    std::string resultPage_;
    std::function<void(const std::string &)> onRequest_;
    LoopbackServer server_; // last: its threads use the members above
};

// Settings for runs in tests: the given engine, no pauses, short time-outs, no robots.txt
// or target checks.
vantorel::AnalysisSettings QuickSettings(const QString &searchHost);
