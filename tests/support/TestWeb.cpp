#include "TestWeb.h"

#include "ResultPages.h"

using namespace std::chrono_literals;

TestWeb::TestWeb() : server_([this](LoopbackServer::Connection &connection) { Serve(connection); }) {}

void TestWeb::SetResultPage(const QString &page)
{
    std::lock_guard lock(mutex_);
    resultPage_ = GbkBytes(page);
}

void TestWeb::SetPage(const std::string &path, std::string body, int status, std::string extraHeaders)
{
    std::lock_guard lock(mutex_);
    pages_[path] = {status, std::move(body), std::move(extraHeaders)};
}

void TestWeb::OnRequest(std::function<void(const std::string &)> hook)
{
    std::lock_guard lock(mutex_);
    onRequest_ = std::move(hook);
}

QString TestWeb::Address(const std::string &path) const
{
    return server_.hostAndPort() + QString::fromStdString(path);
}

int TestWeb::RequestsFor(std::string_view pathPrefix) const
{
    int count = 0;
    for (const std::string &request : server_.requests())
        count += request.rfind("GET " + std::string(pathPrefix), 0) == 0 ? 1 : 0;
    return count;
}

void TestWeb::Serve(LoopbackServer::Connection &connection)
{
    // Asked as a proxy, the target names the host too: the engine's pages are served all the same.
    std::string path = connection.path();
    if (path.rfind("http://", 0) == 0)
        path = path.substr(std::min(path.find('/', 7), path.size()));
    LoopbackServer::Page page{404, "no such page", {}};
    std::function<void(const std::string &)> hook;
    {
        std::lock_guard lock(mutex_);
        hook = onRequest_;
        if (path.rfind("/s?", 0) == 0) {
            page = {200, resultPage_, {}};
        } else if (const auto found = pages_.find(path); found != pages_.end()) {
            page = found->second;
        }
    }
    if (hook)
        hook(path);
    connection.respond(page.status, page.body, page.extraHeaders);
}

vantorel::AnalysisSettings QuickSettings(const QString &searchHost)
{
    vantorel::AnalysisSettings settings;
    settings.searchHost = searchHost;
    settings.pause = 0ms;
    settings.fetchLimits.connectTimeout = 2s;
    settings.fetchLimits.totalTimeout = 5s;
    settings.retry.retries = 0; // the tests of retries ask for them
    settings.searchGap = 0ms;
    // The pages link to sites the tests do not serve, and the tests count the requests made.
    settings.checkTargets = false;
    settings.readRobotsTxt = false;
    return settings;
}
