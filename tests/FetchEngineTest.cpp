#include "FetchEngine.h"
#include "FetchPage.h"
#include "Network.h"

#include "Gzip.h"
#include "LoopbackServer.h"
#include "NameLookups.h"
#include "PageServer.h"
#include "QtPrinters.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

using namespace vantorel;

using namespace std::chrono_literals;
using Connection = LoopbackServer::Connection;
using Ticket = FetchEngine::Ticket;

namespace vantorel {
// Found by argument-dependent lookup: a failed check names the class, not its bytes.
void PrintTo(FetchError error, std::ostream *out)
{
    static const char *const kNames[] = {"None", "Resolve", "Refused", "ConnectTimeout", "TransferTimeout",
                                         "Reset", "Certificate", "TooLarge", "HeaderTooLarge", "TooManyRedirects",
                                         "UnsupportedProtocol", "NotHttp", "Aborted", "Other"};
    *out << kNames[static_cast<int>(error)];
}
} // namespace vantorel

namespace {

// Runs the event loop until every ticket is done or the guard runs out.
bool WaitDone(const FetchEngine &engine, const std::vector<Ticket> &tickets, std::chrono::milliseconds guard = 10s)
{
    const auto allDone = [&] {
        return std::all_of(tickets.begin(), tickets.end(), [&](Ticket t) { return engine.IsDone(t); });
    };
    QEventLoop loop;
    QTimer::singleShot(guard, &loop, &QEventLoop::quit);
    QObject::connect(&engine, &FetchEngine::Finished, &loop, [&] {
        if (allDone())
            loop.quit();
    });
    if (!allDone())
        loop.exec();
    return allDone();
}

void RunEventsFor(std::chrono::milliseconds duration)
{
    QEventLoop loop;
    QTimer::singleShot(duration, &loop, &QEventLoop::quit);
    loop.exec();
}

// Every ticket Finished was emitted for, in order.
struct Announcements {
    explicit Announcements(FetchEngine &engine)
    {
        QObject::connect(&engine, &FetchEngine::Finished, &engine, [this](Ticket t) { tickets.push_back(t); });
    }
    std::vector<Ticket> tickets;
};

FetchResult FetchThroughEngine(const QString &url, const FetchLimits &limits)
{
    FetchEngine engine(limits);
    const Ticket ticket = engine.Start(url);
    WaitDone(engine, {ticket});
    return engine.Take(ticket).value_or(FetchResult{}); // Aborted when it never ended
}

// How many handlers run at once, at most.
class Gauge {
public:
    void Enter()
    {
        const int now = ++now_;
        for (int peak = peak_; now > peak && !peak_.compare_exchange_weak(peak, now);) {
        }
    }
    void Leave() { --now_; }
    int peak() const { return peak_; }

private:
    std::atomic<int> now_{0};
    std::atomic<int> peak_{0};
};

// A port whose accept queue is full: connection attempts get no answer, as from a host that
// is down, without sending anything off this machine.
class SilentPort {
public:
    explicit SilentPort(const std::string &host = "127.0.0.1") : host_(host)
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        ::inet_pton(AF_INET, host.c_str(), &address.sin_addr);
        socklen_t length = sizeof address;
        ::bind(listen_, reinterpret_cast<sockaddr *>(&address), sizeof address);
        ::listen(listen_, 0);
        ::getsockname(listen_, reinterpret_cast<sockaddr *>(&address), &length);
        port_ = ntohs(address.sin_port);
        for (int &filler : fillers_) {
            filler = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            ::connect(filler, reinterpret_cast<sockaddr *>(&address), sizeof address);
        }
    }
    ~SilentPort()
    {
        for (const int fd : fillers_)
            ::close(fd);
        ::close(listen_);
    }
    QString url() const { return QStringLiteral("http://%1:%2/").arg(QString::fromStdString(host_)).arg(port_); }

private:
    std::string host_;
    int listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int port_ = 0;
    int fillers_[4] = {};
};

double ThreadCpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

std::string PagePath(int i)
{
    return "/page" + std::to_string(i);
}

} // namespace

TEST(FetchEngine, BringsBackEveryPageInFull)
{
    LoopbackServer server([](Connection &connection) {
        const std::string path = connection.path();
        const int i = std::stoi(path.substr(5));
        connection.respond(i % 5 == 4 ? 404 : 200, path + std::string(static_cast<size_t>(i) * 3000, '.'));
    });
    FetchEngine engine;
    Announcements announced(engine);
    std::vector<Ticket> tickets;
    for (int i = 0; i < 40; ++i)
        tickets.push_back(engine.Start(server.url(PagePath(i))));
    ASSERT_TRUE(WaitDone(engine, tickets));
    RunEventsFor(50ms); // a second announcement of any ticket would come now

    std::vector<Ticket> sorted = announced.tickets;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(sorted, tickets) << "one Finished per ticket";
    for (int i = 0; i < 40; ++i) {
        const std::optional<FetchResult> result = engine.Take(tickets[i]);
        ASSERT_TRUE(result) << i;
        EXPECT_EQ(result->error, FetchError::None) << i;
        EXPECT_EQ(result->httpStatus, i % 5 == 4 ? 404 : 200) << i;
        EXPECT_EQ(result->body.toStdString(), PagePath(i) + std::string(static_cast<size_t>(i) * 3000, '.'));
        EXPECT_EQ(result->finalUrl, server.url(PagePath(i)));
        EXPECT_TRUE(result->redirects == 0 && result->contentType.isEmpty() && result->robotsTag.isEmpty()) << i;
        EXPECT_FALSE(engine.Take(tickets[i])) << "a result is handed out once";
    }
}

TEST(FetchEngine, KeepsToTheLimitInFlightAndTwoPerHostInAnyCase)
{
    const struct {
        int maxInFlight;
        int hosts; // one server each, on 127.0.0.1 and up
        int pagesPerHost;
        int expectedPeak;
    } cases[] = {
        {3, 4, 3, 3}, {8, 2, 5, 4}, {16, 1, 6, 2}, {6, 4, 4, 6}, {0, 2, 3, 1}, {40, 9, 2, 18}, {300, 140, 2, 256},
    };
    for (const auto &c : cases) {
        Gauge total;
        std::vector<Gauge> perHost(static_cast<size_t>(c.hosts));
        std::mutex mutex;
        std::vector<std::string> requested, seen; // "host/path"
        std::vector<std::unique_ptr<LoopbackServer>> servers;
        for (int h = 0; h < c.hosts; ++h) {
            servers.push_back(std::make_unique<LoopbackServer>(
                [&, h](Connection &connection) {
                    total.Enter();
                    perHost[h].Enter();
                    {
                        std::lock_guard lock(mutex);
                        seen.push_back(std::to_string(h) + connection.path());
                    }
                    connection.sleepFor(300ms);
                    perHost[h].Leave();
                    total.Leave();
                    connection.respond(200, "ok");
                },
                "127.0.0." + std::to_string(1 + h)));
        }
        FetchEngine engine;
        engine.SetMaxInFlight(c.maxInFlight);
        std::vector<Ticket> tickets;
        for (int i = 0; i < c.pagesPerHost; ++i) {
            for (int k = 0; k < c.hosts; ++k) {
                const int h = i % 2 ? c.hosts - 1 - k : k; // not simply host after host
                // The first host by name, spelt in any case: one host all the same.
                const char *const names[] = {"localhost", "LOCALHOST", "LocalHost", "localHOST"};
                tickets.push_back(engine.Start(h ? servers[h]->url(PagePath(i))
                                                 : QStringLiteral("http://%1:%2").arg(QLatin1String(names[i % 4]))
                                                           .arg(servers[0]->port()) + QString::fromStdString(PagePath(i))));
                requested.push_back(std::to_string(h) + PagePath(i));
            }
        }
        ASSERT_TRUE(WaitDone(engine, tickets)) << c.maxInFlight;
        EXPECT_EQ(total.peak(), c.expectedPeak) << c.maxInFlight << " in flight, " << c.hosts << " hosts";
        for (const Gauge &gauge : perHost)
            EXPECT_LE(gauge.peak(), 2) << c.maxInFlight;
        if (c.expectedPeak == 1) {
            EXPECT_EQ(seen, requested) << "the hosts take turns in this list: one at a time, in request order";
        }
    }
}

// A host's pages in a row are not fetched in a row: the host with the most pages waiting
// goes first, so that no host is left with a long tail at the end.
TEST(FetchEngine, OneAtATimeTheHostWithTheMostWaitingGoesFirst)
{
    std::mutex mutex;
    std::vector<std::string> seen;
    std::vector<std::unique_ptr<LoopbackServer>> servers;
    for (const char *address : {"127.0.0.1", "127.0.0.2", "127.0.0.3"}) {
        servers.push_back(std::make_unique<LoopbackServer>(
            [&, address](Connection &connection) {
                {
                    std::lock_guard lock(mutex);
                    seen.push_back(address + connection.path());
                }
                connection.respond(200, "ok");
            },
            address));
    }
    FetchEngine engine({}, 1);
    std::vector<Ticket> tickets;
    for (const auto &[server, page] : {std::pair{0, 1}, {0, 2}, {0, 3}, {1, 1}, {1, 2}, {2, 1}})
        tickets.push_back(engine.Start(servers[server]->url(PagePath(page))));
    ASSERT_TRUE(WaitDone(engine, tickets));
    EXPECT_EQ(seen, (std::vector<std::string>{"127.0.0.1/page1", "127.0.0.1/page2", "127.0.0.2/page1",
                                              "127.0.0.1/page3", "127.0.0.2/page2", "127.0.0.3/page1"}));
}

// Two per host means two per server: the port tells servers on one address apart, and a port
// left out is the scheme's own.
TEST(FetchEngine, CountsTwoPerHostAndPort)
{
    std::vector<std::unique_ptr<Gauge>> gauges;
    std::vector<std::unique_ptr<LoopbackServer>> servers;
    const auto serve = [&](const std::string &address, int port) {
        auto &gauge = gauges.emplace_back(std::make_unique<Gauge>());
        servers.push_back(std::make_unique<LoopbackServer>(
            [&gauge = *gauge](Connection &connection) {
                gauge.Enter();
                connection.sleepFor(200ms);
                gauge.Leave();
                connection.respond(200, "ok");
            },
            address, port));
    };
    serve("127.0.0.1", 0);
    serve("127.0.0.1", 0);
    std::vector<QString> urls;
    for (int i = 0; i < 4; ++i) {
        urls.push_back(servers[0]->url(PagePath(i)));
        urls.push_back(servers[1]->url(PagePath(i)));
    }
    bool defaultPort = true;
    try {
        serve("127.0.80.1", 80); // needs the right to listen on a low port
    } catch (const std::runtime_error &) {
        defaultPort = false;
    }
    if (defaultPort) {
        for (const char *url : {"http://127.0.80.1/a", "http://127.0.80.1:80/b", "HTTP://127.0.80.1/c", "http://127.0.80.1:80/d"})
            urls.push_back(QString::fromLatin1(url));
    }

    FetchEngine engine({}, 16);
    std::vector<Ticket> tickets;
    for (const QString &url : urls)
        tickets.push_back(engine.Start(url));
    ASSERT_TRUE(WaitDone(engine, tickets));
    for (const Ticket ticket : tickets)
        EXPECT_EQ(engine.Take(ticket)->body, "ok");
    EXPECT_EQ(gauges[0]->peak(), 2) << "one address, two ports: two servers";
    EXPECT_EQ(gauges[1]->peak(), 2) << "one address, two ports: two servers";
    if (!defaultPort)
        GTEST_SKIP() << "cannot listen on port 80: the scheme's own port goes unchecked";
    EXPECT_EQ(gauges[2]->peak(), 2) << "port 80 written or not: one server";
}

// Host names h<N>.pages.test take 20 ms to look up: each is looked up once, by its first
// transfer, however many of its pages start together, and only a few lookups run at once.
TEST(FetchEngine, LooksUpEachHostOnceAndAFewAtATime)
{
    PageServer server({60, 300, 2'000, QStringLiteral("example.com")});
    ASSERT_NE(server.port(), 0) << server.error().toStdString();
    FetchEngine engine({}, 256);
    std::vector<Ticket> tickets;
    NameLookups::Reset();
    for (const std::string &url : server.urls(100, false))
        tickets.push_back(engine.Start(QString::fromStdString(NameLookups::WithName(url))));
    ASSERT_TRUE(WaitDone(engine, tickets));
    for (const Ticket ticket : tickets) {
        const FetchResult result = *engine.Take(ticket);
        ASSERT_EQ(result.error, FetchError::None) << result.errorText.toStdString();
    }
    EXPECT_EQ(NameLookups::Count(), 60);
    EXPECT_LE(NameLookups::AtOnce(), 32);
    EXPECT_GE(NameLookups::AtOnce(), 8) << "lookups one after another";
}

// Bodies held longer than their time-out: no page completes, yet each comes back whole once
// they are let go. A page whose server stalls after its first bytes still runs out of time,
// counting only the time it ran unpaused.
TEST(FetchEngine, HeldBodiesWaitAndComeBackWhole)
{
    std::string big(1024 * 1024, 'x');
    for (size_t i = 0; i < big.size(); i += 997)
        big[i] = static_cast<char>('a' + i % 26);
    std::vector<std::unique_ptr<LoopbackServer>> servers; // two pages in flight on each
    for (int host = 1; host <= 11; ++host)
        servers.push_back(std::make_unique<LoopbackServer>(
            LoopbackServer::Pages({{"/big", {200, big, ""}}, {"/small", {200, "small", ""}}}),
            "127.0.0." + std::to_string(host)));
    LoopbackServer stalling([](Connection &connection) {
        if (connection.send("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nfirst bytes"))
            connection.sleepFor(10s);
    });
    FetchLimits limits;
    limits.totalTimeout = 500ms; // shorter than the bodies are held: waiting paused is no slow server
    FetchEngine engine(limits, 64);
    engine.HoldBodies(true);
    std::vector<Ticket> tickets;
    for (int i = 0; i < 21; ++i)
        tickets.push_back(engine.Start(servers[static_cast<size_t>(i / 2)]->url(i == 20 ? "/small" : "/big")));
    const Ticket stalled = engine.Start(stalling.url("/"));
    RunEventsFor(800ms);
    EXPECT_TRUE(std::none_of(tickets.begin(), tickets.end(), [&](Ticket t) { return engine.IsDone(t); }));
    EXPECT_FALSE(engine.IsDone(stalled));
    int requests = 0;
    for (const auto &server : servers)
        requests += server->requestCount();
    EXPECT_EQ(requests, 21) << "held, the requests still went out";
    engine.HoldBodies(false);
    ASSERT_TRUE(WaitDone(engine, {stalled}));
    const FetchResult timedOut = *engine.Take(stalled);
    EXPECT_EQ(timedOut.error, FetchError::TransferTimeout);
    EXPECT_GE(timedOut.elapsed, 1200ms) << "its time ran while it was held";
    ASSERT_TRUE(WaitDone(engine, tickets));
    for (const Ticket ticket : tickets) {
        const FetchResult result = *engine.Take(ticket);
        ASSERT_EQ(result.error, FetchError::None) << result.errorText.toStdString();
        EXPECT_TRUE(result.body == QByteArrayView(big) || result.body == "small");
    }
}

// Large bodies, most of them chunked, 120 MiB in all: more than the room bodies share, so some
// wait for room while others read. Held while half read, then let go: bodies
// holding room go on at once, chunked ones a step of room at a time (the oldest always may), the
// others as room comes back; none waits for a time-out and each comes back whole.
TEST(FetchEngine, BodiesHeldHalfReadGoOnWhenLetGo)
{
    const std::string half(3 * 1024 * 1024, 'h');
    const auto chunk = [](std::string_view bytes) {
        char size[32];
        std::snprintf(size, sizeof size, "%zx\r\n", bytes.size());
        return size + std::string(bytes) + "\r\n";
    };
    const auto handler = [&](Connection &connection) {
        if (connection.path().starts_with("/chunked")) {
            connection.send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" + chunk(half));
            connection.sleepFor(300ms);
            connection.send(chunk(half) + chunk(""));
            return;
        }
        connection.send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(2 * half.size()) + "\r\n\r\n" + half);
        connection.sleepFor(300ms);
        connection.send(half);
    };
    std::vector<std::unique_ptr<LoopbackServer>> servers;
    for (int host = 1; host <= 10; ++host)
        servers.push_back(std::make_unique<LoopbackServer>(handler, "127.0.0." + std::to_string(host)));
    FetchEngine engine({}, 64);
    std::vector<Ticket> tickets;
    for (int i = 0; i < 20; ++i)
        tickets.push_back(engine.Start(servers[static_cast<size_t>(i / 2)]->url((i % 4 ? "/chunked" : "/p") + std::to_string(i))));
    RunEventsFor(150ms); // the first halves in: some hold room and read on, the others wait for it
    engine.HoldBodies(true);
    RunEventsFor(400ms); // the second halves sent
    engine.HoldBodies(false);
    ASSERT_TRUE(WaitDone(engine, tickets, 5s)) << "a body waited for its time-out";
    for (const Ticket ticket : tickets) {
        const FetchResult result = *engine.Take(ticket);
        EXPECT_EQ(result.error, FetchError::None) << result.errorText.toStdString();
        EXPECT_EQ(result.body.size(), 2 * static_cast<qsizetype>(half.size()));
    }
}

// Host names that look up in 20 ms and never answer a connection: each lookup's slot is free
// once it ended, so every host waits out its connect time-out at the same time, not a few
// dozen at a time.
TEST(FetchEngine, ConnectsToMoreHostsAtOnceThanItLooksUp)
{
    std::vector<std::unique_ptr<SilentPort>> silent;
    FetchLimits limits;
    limits.connectTimeout = 1s;
    FetchEngine engine(limits, 256);
    std::vector<Ticket> tickets;
    NameLookups::Reset();
    for (int host = 1; host <= 60; ++host) {
        silent.push_back(std::make_unique<SilentPort>("127.0.0." + std::to_string(host)));
        tickets.push_back(engine.Start(QString::fromStdString(NameLookups::WithName(silent.back()->url().toStdString()))));
    }
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(WaitDone(engine, tickets));
    for (const Ticket ticket : tickets)
        EXPECT_EQ(engine.Take(ticket)->error, FetchError::ConnectTimeout);
    EXPECT_LT(clock.elapsed(), 1800) << "some connections waited for a lookup slot";
    EXPECT_LE(NameLookups::AtOnce(), 32);
}

// A host that refused a connection, or let one time out, is down: its other pages end at once
// as that one did, without a connection of their own, until AbortAll. A redirect to a host
// that never answers puts the silent host down, not the one that redirected.
TEST(FetchEngine, EndsEveryPageOfAHostThatIsDownAtOnce)
{
    const SilentPort silent;
    const QString refused = QStringLiteral("http://127.0.0.1:%1/").arg(LoopbackServer::ClosedPort());
    LoopbackServer server([&](Connection &connection) {
        if (connection.path() == "/to-silent")
            connection.respond(302, "", "Location: " + silent.url().toStdString() + "elsewhere\r\n");
        else
            connection.respond(200, "up");
    });
    FetchLimits limits;
    limits.connectTimeout = 500ms;
    FetchEngine engine(limits, 8);
    const auto fetchAll = [&](const std::vector<QString> &urls) {
        std::vector<Ticket> tickets;
        for (const QString &url : urls)
            tickets.push_back(engine.Start(url));
        EXPECT_TRUE(WaitDone(engine, tickets));
        std::vector<FetchResult> results;
        for (const Ticket ticket : tickets)
            results.push_back(engine.Take(ticket).value_or(FetchResult{}));
        return results;
    };
    const auto countDown = [](const std::vector<FetchResult> &results, FetchError error) {
        return std::count_if(results.begin(), results.end(), [&](const FetchResult &result) {
            EXPECT_EQ(result.error, error) << result.errorText.toStdString();
            return result.hostDown;
        });
    };

    const FetchResult redirected = fetchAll({server.url("/to-silent")}).front();
    EXPECT_EQ(redirected.error, FetchError::ConnectTimeout);
    EXPECT_FALSE(redirected.hostDown);
    EXPECT_EQ(fetchAll({server.url("/after")}).front().body, "up") << "the host that redirected is not down";

    QElapsedTimer clock;
    clock.start();
    const std::vector<FetchResult> timedOut =
        fetchAll({silent.url() + "a", silent.url() + "b", silent.url() + "c", silent.url() + "d", silent.url() + "e"});
    EXPECT_LT(clock.elapsed(), 900) << "a page of the silent host waited out a time-out of its own";
    EXPECT_GE(countDown(timedOut, FetchError::ConnectTimeout), 3) << "pages that waited for the host were tried";
    EXPECT_GE(countDown(fetchAll({refused + "a", refused + "b", refused + "c", refused + "d"}), FetchError::Refused), 2)
        << "two pages at once may each be refused; the others are not tried";

    const FetchResult later = fetchAll({silent.url() + "later"}).front();
    EXPECT_TRUE(later.hostDown);
    EXPECT_EQ(later.errorText, timedOut.front().errorText);
    engine.AbortAll();
    EXPECT_FALSE(fetchAll({refused}).front().hostDown) << "tried again after AbortAll";

    // A transfer with a shorter time-out of its own says nothing of how the host's pages fare.
    FetchLimits quick = limits;
    quick.connectTimeout = 100ms;
    const Ticket side = engine.Start(silent.url() + "robots.txt", {false, quick});
    ASSERT_TRUE(WaitDone(engine, {side}));
    const FetchResult sideResult = *engine.Take(side);
    EXPECT_EQ(sideResult.error, FetchError::ConnectTimeout);
    const FetchResult page = fetchAll({silent.url() + "page"}).front();
    EXPECT_EQ(page.error, FetchError::ConnectTimeout);
    EXPECT_FALSE(page.hostDown) << "the page was tried";
}

namespace {

// In a process of its own: the descriptor limit set as given, raised as the program raises
// it, then 600 pages on 250 hosts fetched as many at once as the limit allows. Says what it
// ran with on standard error, and exits 0 when every page came back whole.
[[noreturn]] void FetchEverythingUnderLimit(rlim_t soft, rlim_t hard)
{
    int failed = 0;
    {
        PageServer server({250, 600, 2'000, QStringLiteral("example.com")}); // with the limit it had
        rlimit limit{};
        ::getrlimit(RLIMIT_NOFILE, &limit);
        limit.rlim_cur = soft;
        limit.rlim_max = hard ? hard : limit.rlim_max;
        if (server.port() == 0 || ::setrlimit(RLIMIT_NOFILE, &limit) != 0)
            std::_Exit(2);
        const DescriptorBudget budget = RaiseDescriptorLimit(256);
        std::fprintf(stderr, "jobs %d: %s\n", budget.jobs, qPrintable(budget.warning));
        FetchEngine engine({}, budget.jobs);
        std::vector<Ticket> tickets;
        for (const std::string &url : server.urls(100, false))
            tickets.push_back(engine.Start(QString::fromStdString(url)));
        WaitDone(engine, tickets, 30s);
        for (const Ticket ticket : tickets) {
            const std::optional<FetchResult> result = engine.Take(ticket);
            if (!result || !result->ok()) {
                if (failed++ == 0)
                    std::fprintf(stderr, "failed: %s\n", result ? qPrintable(result->errorText) : "never ended");
            }
        }
        std::fprintf(stderr, "%d failed\n", failed);
    }
    std::fflush(stderr);
    std::_Exit(failed == 0 ? 0 : 1);
}

} // namespace

TEST(FetchEngineDeathTest, CompletesEveryPageWhereTheSoftDescriptorLimitIs256)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe"); // a fresh process, not a fork of this one
    rlimit limit{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &limit), 0);
    const struct {
        const char *what;
        rlim_t hard; // 0: as it is
        const char *said; // on standard error
    } cases[] = {
        {"raised", 0, "jobs 256: \n0 failed"},
        {"cannot be raised", 256, "jobs 32: 可同时打开的文件数上限为 256，不够同时检查 256 个网页，改为同时检查 32 个。\n0 failed"},
    };
    for (const auto &c : cases) {
        if (c.hard == 0 && limit.rlim_max < 1024) {
            std::printf("the hard descriptor limit is %ju: not checked: %s\n", static_cast<uintmax_t>(limit.rlim_max), c.what);
            continue;
        }
        EXPECT_EXIT(FetchEverythingUnderLimit(256, c.hard), ::testing::ExitedWithCode(0), c.said) << c.what;
    }
}

TEST(FetchEngine, TimeOutsCountFromTheStartNotFromTheQueue)
{
    LoopbackServer server([](Connection &connection) {
        connection.sleepFor(250ms);
        connection.respond(200, "slow but in time");
    });
    FetchLimits limits;
    limits.totalTimeout = 600ms;
    FetchEngine engine(limits, 1);
    std::vector<Ticket> tickets;
    for (int i = 0; i < 4; ++i) // the last one waits some 750 ms in the queue
        tickets.push_back(engine.Start(server.url(PagePath(i))));
    ASSERT_TRUE(WaitDone(engine, tickets));
    for (const Ticket ticket : tickets) {
        const FetchResult result = engine.Take(ticket).value();
        EXPECT_EQ(result.error, FetchError::None) << result.errorText.toStdString();
        EXPECT_GE(result.elapsed, 250ms);
        EXPECT_LT(result.elapsed, 600ms);
    }
}

// The time the program did not run is no server's: the loop held for 1.5 s, longer than the
// connect time-out and the transfer time-out, while a page's name is looked up, its connection
// made or its answer awaited (the server answers 1.8 s after the request, 0.3 s of them unheld):
// the page still comes, and its host's next page too.
TEST(FetchEngine, TimeTheLoopWasHeldCountsForNoTimeOut)
{
    LoopbackServer server([](Connection &connection) {
        connection.sleepFor(std::chrono::milliseconds(std::stoi(connection.path().substr(1))));
        connection.respond(200, "in time");
    });
    FetchLimits limits;
    limits.connectTimeout = 500ms;
    limits.totalTimeout = 1s;
    const struct {
        std::chrono::milliseconds heldAfter, answerAfter;
    } cases[] = {{0ms, 300ms}, {5ms, 300ms}, {150ms, 1800ms}};
    for (const auto &c : cases) {
        FetchEngine engine(limits, 4);
        NameLookups::Reset();
        const auto page = [&](std::chrono::milliseconds answerAfter) {
            return QString::fromStdString(NameLookups::WithName(server.url("/" + std::to_string(answerAfter.count())).toStdString()));
        };
        const Ticket first = engine.Start(page(c.answerAfter));
        QTimer::singleShot(c.heldAfter, [] { std::this_thread::sleep_for(1500ms); });
        ASSERT_TRUE(WaitDone(engine, {first}));
        const Ticket next = engine.Start(page(0ms));
        ASSERT_TRUE(WaitDone(engine, {next}));
        for (const Ticket ticket : {first, next}) {
            const FetchResult result = engine.Take(ticket).value();
            EXPECT_EQ(result.error, FetchError::None) << "held after " << c.heldAfter.count() << " ms: " << result.errorText.toStdString();
        }
    }
}

TEST(FetchEngine, AbortFreesTheSlotAndEmitsNothingAndAbortAllDropsEverything)
{
    std::atomic<int> stalls{0};
    LoopbackServer server([&](Connection &connection) {
        if (connection.path() == "/stall") {
            ++stalls;
            connection.sleepFor(60s);
        }
        connection.respond(200, "ok");
    });
    FetchEngine engine({}, 1);
    Announcements announced(engine);
    const Ticket stalled = engine.Start(server.url("/stall"));
    const Ticket queued = engine.Start(server.url("/stall"));
    const Ticket next = engine.Start(server.url("/next"));
    while (stalls == 0)
        RunEventsFor(10ms);

    engine.Abort(queued);
    engine.Abort(stalled);
    ASSERT_TRUE(WaitDone(engine, {next}, 5s)) << "the aborted transfer kept its slot";
    RunEventsFor(50ms);
    EXPECT_EQ(stalls, 1) << "the queued transfer ran after all";
    for (const Ticket ticket : {stalled, queued}) {
        EXPECT_FALSE(engine.IsDone(ticket));
        EXPECT_FALSE(engine.Take(ticket));
    }

    // Running and queued alike, and the engine carries on.
    engine.SetMaxInFlight(2);
    for (int i = 0; i < 5; ++i)
        engine.Start(server.url("/stall"));
    while (stalls < 3)
        RunEventsFor(10ms);
    engine.AbortAll();
    RunEventsFor(200ms);
    EXPECT_EQ(stalls, 3) << "queued transfers ran after all";
    EXPECT_EQ(announced.tickets, std::vector<Ticket>{next});
    const Ticket after = engine.Start(server.url("/fast"));
    ASSERT_TRUE(WaitDone(engine, {after}, 5s));
    EXPECT_EQ(engine.Take(after)->body, "ok");
}

TEST(FetchEngine, HandlersMayStartAbortOrDestroy)
{
    LoopbackServer server([](Connection &connection) {
        if (connection.path() == "/stall")
            connection.sleepFor(60s);
        connection.respond(200, "ok");
    });

    // Abort a running transfer and start a new one from inside a handler.
    {
        FetchEngine engine;
        Announcements announced(engine);
        const Ticket stalled = engine.Start(server.url("/stall"));
        const Ticket fast = engine.Start(server.url("/fast"));
        Ticket started = 0;
        QObject::connect(&engine, &FetchEngine::Finished, &engine, [&](Ticket t) {
            if (t == fast) {
                engine.Abort(stalled);
                started = engine.Start(server.url("/later"));
            }
        });
        ASSERT_TRUE(WaitDone(engine, {fast}));
        ASSERT_NE(started, 0u);
        ASSERT_TRUE(WaitDone(engine, {started}));
        RunEventsFor(50ms);
        EXPECT_EQ(announced.tickets, (std::vector<Ticket>{fast, started}));
        EXPECT_EQ(engine.Take(started)->body, "ok");
    }

    // Destroy the engine from inside a handler, with a transfer running and more results to
    // announce: fetches that cannot be set up end together, in one batch.
    {
        auto *engine = new FetchEngine;
        int calls = 0;
        QObject::connect(engine, &FetchEngine::Finished, engine, [&] {
            ++calls;
            delete engine;
        });
        engine->Start(server.url("/stall"));
        FetchLimits unusable;
        unusable.totalTimeout = 0ms;
        engine->SetLimits(unusable);
        for (int i = 0; i < 3; ++i)
            engine->Start(server.url(PagePath(i)));
        QEventLoop loop;
        QObject::connect(engine, &QObject::destroyed, &loop, &QEventLoop::quit);
        QTimer::singleShot(5s, &loop, &QEventLoop::quit);
        loop.exec();
        RunEventsFor(100ms);
        EXPECT_EQ(calls, 1);
    }

    // Destroy it mid-transfer from outside.
    {
        auto engine = std::make_unique<FetchEngine>();
        for (int i = 0; i < 3; ++i)
            engine->Start(server.url("/stall"));
        RunEventsFor(100ms);
        engine.reset();
        RunEventsFor(100ms); // nothing may fire on what was freed
    }
}

TEST(FetchEngine, FailedSetUpFailsTheFetchWithoutConnecting)
{
    LoopbackServer server([](Connection &connection) { connection.respond(200, "should not be asked"); });
    const struct {
        const char *what;
        std::function<void(FetchLimits &)> spoil;
    } cases[] = {
        {"no total time-out", [](FetchLimits &l) { l.totalTimeout = 0ms; }},
        {"negative total time-out", [](FetchLimits &l) { l.totalTimeout = -1ms; }},
        {"no connect time-out", [](FetchLimits &l) { l.connectTimeout = 0ms; }},
        {"negative body cap", [](FetchLimits &l) { l.maxBodyBytes = -1; }},
        {"any number of redirects", [](FetchLimits &l) { l.maxRedirects = -1; }},
    };
    for (const auto &c : cases) {
        FetchLimits limits;
        c.spoil(limits);
        const FetchResult once = FetchOnce(server.url("/"), limits);
        EXPECT_EQ(once.error, FetchError::Other) << c.what;
        EXPECT_FALSE(once.errorText.isEmpty()) << c.what;

        FetchEngine engine(limits);
        Announcements announced(engine);
        const Ticket ticket = engine.Start(server.url("/"));
        EXPECT_TRUE(announced.tickets.empty()) << "announced from inside Start: " << c.what;
        RunEventsFor(20ms);
        EXPECT_EQ(announced.tickets, std::vector<Ticket>{ticket}) << c.what;
        EXPECT_EQ(engine.Take(ticket)->error, FetchError::Other) << c.what;
    }
    EXPECT_EQ(server.requestCount(), 0);
}

// An https page through a proxy that refuses the tunnel: the proxy's refusal is said as such,
// not as the page's host unknown or its connection reset.
TEST(FetchEngine, AProxysRefusalIsSaidAsTheProxys)
{
    LoopbackServer proxy([](Connection &connection) { connection.respond(403, "no tunnels here"); });
    const QByteArray kept = qgetenv("https_proxy");
    qputenv("https_proxy", proxy.url("/").toUtf8());
    const FetchResult result = FetchThroughEngine(QStringLiteral("https://tunnel.example/page"), FetchLimits{});
    if (kept.isNull())
        qunsetenv("https_proxy");
    else
        qputenv("https_proxy", kept);
    EXPECT_EQ(result.error, FetchError::Other);
    EXPECT_EQ(result.errorText, QStringLiteral("代理服务器拒绝连接（HTTP 403）"));
}

// Complete responses of any status are checked above and in FetchPageTest; here every way to fail.
TEST(FetchEngine, ReportsHowEachFetchEnded)
{
    const SilentPort silent;
    std::string headerLines;
    for (int i = 0; headerLines.size() < 1024 * 1024; ++i)
        headerLines += "X-Filler-" + std::to_string(i) + ": " + std::string(1000, 'a') + "\r\n";
    const LoopbackServer::Handler pages = LoopbackServer::Pages({
        {"/long-header", {200, "x", "X-Filler: " + std::string(1024 * 1024, 'a') + "\r\n"}},
        {"/header-lines", {200, "x", headerLines}},
        {"/large", {200, std::string(64 * 1024 + 1, 'x'), ""}},
        {"/bomb", {200, Gzip(std::string(1024 * 1024, 'z')), "Content-Encoding: gzip\r\n"}},
        {"/loop", {302, "again", "Location: /loop\r\n"}},
        // Were it followed, the fetch would end refused.
        {"/to-ftp", {302, "moved", "Location: ftp://127.0.0.1:" + std::to_string(LoopbackServer::ClosedPort()) + "/\r\n"}},
    });
    LoopbackServer server([&](Connection &connection) {
        const std::string path = connection.path();
        const auto partialHead = [&] {
            return connection.send("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n" + std::string(100, 'x'));
        };
        if (path == "/reset-first")
            connection.reset();
        else if (path == "/reset-mid") {
            if (partialHead())
                connection.sleepFor(100ms); // let the head reach the client first
            connection.reset();
        } else if (path == "/closed-mid")
            partialHead();
        else if (path == "/stall") {
            if (connection.send("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nfirst bytes"))
                connection.sleepFor(60s);
        } else if (path == "/ssh")
            connection.send("SSH-2.0-OpenSSH_9.2\r\n");
        else if (path == "/no-colon")
            connection.send("HTTP/1.1 200 OK\r\nnot a header\r\n\r\n");
        else if (path == "/to-silent")
            connection.respond(302, "", "Location: " + silent.url().toStdString() + "\r\n");
        else
            pages(connection);
    });

    FetchLimits limits;
    limits.connectTimeout = 300ms;
    limits.totalTimeout = 600ms;
    limits.maxBodyBytes = 64 * 1024;
    limits.maxRedirects = 3;

    const struct {
        const char *what;
        QString url;
        FetchError expected;
        long status;
    } cases[] = {
        {"refused", QStringLiteral("http://127.0.0.1:%1/").arg(LoopbackServer::ClosedPort()), FetchError::Refused, 0},
        {"no answer to connect", silent.url(), FetchError::ConnectTimeout, 0},
        {"reset before the response", server.url("/reset-first"), FetchError::Reset, 0},
        {"reset mid-body", server.url("/reset-mid"), FetchError::Reset, 200},
        {"closed mid-body", server.url("/closed-mid"), FetchError::Reset, 200},
        {"stalled", server.url("/stall"), FetchError::TransferTimeout, 200},
        {"over the cap", server.url("/large"), FetchError::TooLarge, 200},
        {"inflates over the cap", server.url("/bomb"), FetchError::TooLarge, 200},
        {"redirect to a port that never answers", server.url("/to-silent"), FetchError::ConnectTimeout, 302},
        {"one header line of 1 MiB", server.url("/long-header"), FetchError::HeaderTooLarge, 200},
        {"1 MiB of header lines", server.url("/header-lines"), FetchError::HeaderTooLarge, 200},
        {"redirect loop", server.url("/loop"), FetchError::TooManyRedirects, 302},
        {"ftp address", QStringLiteral("ftp://127.0.0.1:%1/").arg(server.port()), FetchError::UnsupportedProtocol, 0},
        {"redirect to ftp", server.url("/to-ftp"), FetchError::UnsupportedProtocol, 302},
        {"not http at all", server.url("/ssh"), FetchError::NotHttp, 0},
        {"broken header", server.url("/no-colon"), FetchError::NotHttp, 200},
    };
    const struct {
        const char *name;
        std::function<FetchResult(const QString &, const FetchLimits &)> fetch;
    } fetchers[] = {{"blocking", &FetchOnce}, {"engine", &FetchThroughEngine}};

    for (const auto &fetcher : fetchers) {
        for (const auto &c : cases) {
            const FetchResult result = fetcher.fetch(c.url, limits);
            const std::string where = std::string(fetcher.name) + ": " + c.what;
            EXPECT_EQ(result.error, c.expected) << where << " (" << result.errorText.toStdString() << ")";
            EXPECT_EQ(result.httpStatus, c.status) << where;
            EXPECT_LT(result.elapsed, 5s) << where;
            EXPECT_TRUE(!result.errorText.isEmpty() && result.body.isEmpty()) << where;
        }
    }
}

// A connection kept alive after an earlier page: how the next fetch on it ends is named by
// what happened to that fetch, not by the connection's history.
TEST(FetchEngine, NamesAFailureOnAReusedConnectionByWhatHappened)
{
    LoopbackServer server([](Connection &connection) {
        if (!connection.send("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok") || !connection.readRequest())
            return;
        if (connection.path() == "/trickle") {
            if (connection.send("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nfirst bytes"))
                connection.sleepFor(60s);
        } else if (connection.path() == "/silent") {
            connection.sleepFor(60s);
        } else {
            connection.send("SSH-2.0-OpenSSH_9.2\r\n");
        }
    });
    FetchLimits limits;
    limits.totalTimeout = 600ms;
    const struct {
        const char *path;
        FetchError expected;
        long status;
    } cases[] = {
        {"/trickle", FetchError::TransferTimeout, 200},
        {"/silent", FetchError::TransferTimeout, 0},
        {"/ssh", FetchError::NotHttp, 0},
    };
    for (const auto &c : cases) {
        FetchEngine engine(limits);
        const Ticket first = engine.Start(server.url("/first"));
        ASSERT_TRUE(WaitDone(engine, {first}));
        ASSERT_EQ(engine.Take(first)->body, "ok");
        const Ticket next = engine.Start(server.url(c.path));
        ASSERT_TRUE(WaitDone(engine, {next}));
        const FetchResult result = *engine.Take(next);
        EXPECT_EQ(result.error, c.expected) << c.path << " (" << result.errorText.toStdString() << ")";
        EXPECT_EQ(result.httpStatus, c.status) << c.path;
    }
    EXPECT_EQ(server.requestCount(), 3) << "every fetch had a connection of its own";
}

namespace {

// openssl s_server on a free port of 127.0.0.1 with a certificate for that address that signs
// itself (cert.pem and key.pem in the folder given, made unless there): each connection gets
// a status page that says whether its TLS session was new or resumed, and is closed.
class TlsServer {
public:
    explicit TlsServer(const QString &folder)
    {
        const QString key = QDir(folder).filePath(QStringLiteral("key.pem"));
        const QString certificate = QDir(folder).filePath(QStringLiteral("cert.pem"));
        if (!QFile::exists(certificate)) {
            QProcess make;
            make.start(QStringLiteral("openssl"),
                       {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
                        "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1", "-days", "1",
                        "-keyout", key, "-out", certificate});
            if (!make.waitForFinished(30'000) || make.exitCode() != 0) {
                error_ = make.readAllStandardError().toStdString();
                return;
            }
        }
        const QString address = QStringLiteral("127.0.0.1:%1").arg(LoopbackServer::ClosedPort());
        server_.start(QStringLiteral("openssl"),
                      {"s_server", "-quiet", "-www", "-accept", address, "-cert", certificate, "-key", key});
        url_ = QStringLiteral("https://") + address + QStringLiteral("/");
        for (int attempt = 0; attempt < 100; ++attempt) { // until it listens
            first_ = FetchOnce(url_);
            if (first_.error != FetchError::Refused)
                break;
            QThread::msleep(50);
        }
    }
    ~TlsServer()
    {
        server_.kill();
        server_.waitForFinished();
    }

    const std::string &error() const { return error_; }
    const QString &url() const { return url_; }
    const FetchResult &firstFetch() const { return first_; } // a blocking one, once it listened

private:
    QProcess server_;
    std::string error_;
    QString url_;
    FetchResult first_;
};

} // namespace

TEST(FetchEngine, TellsAnUntrustedCertificateApart)
{
    if (QStandardPaths::findExecutable(QStringLiteral("openssl")).isEmpty())
        GTEST_SKIP() << "openssl(1) is not installed";
    const QTemporaryDir dir;
    const TlsServer server(dir.path()); // a self-signed certificate that no authority vouches for
    ASSERT_EQ(server.error(), "");
    EXPECT_EQ(server.firstFetch().error, FetchError::Certificate) << server.firstFetch().errorText.toStdString();
    EXPECT_EQ(FetchThroughEngine(server.url(), {}).error, FetchError::Certificate);
}

// The user's certificate file (CURL_CA_BUNDLE) is the one an engine trusts, and a second connection to a server
// resumes the TLS session of the first.
TEST(FetchEngine, TrustsTheUsersCertificateFileAndResumesSessions)
{
    if (QStandardPaths::findExecutable(QStringLiteral("openssl")).isEmpty())
        GTEST_SKIP() << "openssl(1) is not installed";
    const QTemporaryDir dir;
    const TlsServer server(dir.path());
    ASSERT_EQ(server.error(), "");
    const QByteArray before = qgetenv("CURL_CA_BUNDLE");
    qputenv("CURL_CA_BUNDLE", QDir(dir.path()).filePath(QStringLiteral("cert.pem")).toLocal8Bit());
    FetchEngine engine;
    if (before.isEmpty())
        qunsetenv("CURL_CA_BUNDLE");
    else
        qputenv("CURL_CA_BUNDLE", before);
    std::vector<std::string> sessions;
    for (int i = 0; i < 2; ++i) { // s_server closes each connection
        const Ticket ticket = engine.Start(server.url());
        ASSERT_TRUE(WaitDone(engine, {ticket}));
        const FetchResult result = engine.Take(ticket).value();
        ASSERT_EQ(result.httpStatus, 200) << result.errorText.toStdString();
        sessions.push_back(result.body.contains("Reused,") ? "reused" : result.body.contains("New,") ? "new" : "?");
    }
    EXPECT_EQ(sessions, (std::vector<std::string>{"new", "reused"}));
}

// The status, address, Content-Type, X-Robots-Tag, Retry-After, Server and cf-mitigated of the last
// response in a chain, not of the redirects; a response without them is checked above.
TEST(FetchEngine, DescribesTheFinalResponse)
{
    LoopbackServer server(LoopbackServer::Pages({
        {"/a", {301, "", "Location: /b\r\nX-Robots-Tag: none\r\nContent-Type: text/plain\r\nRetry-After: 5\r\n"
                         "Server: cloudflare\r\ncf-mitigated: challenge\r\n"}},
        {"/b", {302, "", "Location: /final?x=1\r\nX-Robots-Tag: noarchive\r\n"}},
        {"/final?x=1", {200, "<p>here</p>", "Content-Type: text/html; charset=GBK\r\nX-Robots-Tag: noindex\r\n"
                                            "x-robots-tag: googlebot: nofollow\r\n"
                                            "Retry-After: Wed, 21 Oct 2026 07:28:00 GMT\r\nServer: nginx\r\n"}},
    }));
    FetchEngine engine;
    const Ticket ticket = engine.Start(server.url("/a"));
    ASSERT_TRUE(WaitDone(engine, {ticket}));
    const FetchResult result = *engine.Take(ticket);
    EXPECT_EQ(result.error, FetchError::None);
    EXPECT_EQ(result.httpStatus, 200);
    EXPECT_EQ(result.finalUrl, server.url("/final?x=1"));
    EXPECT_EQ(result.redirects, 2);
    EXPECT_EQ(result.contentType, "text/html; charset=GBK");
    EXPECT_EQ(result.robotsTag, "noindex\ngooglebot: nofollow");
    EXPECT_EQ(result.retryAfter, "Wed, 21 Oct 2026 07:28:00 GMT");
    EXPECT_EQ(result.server, "nginx");
    EXPECT_TRUE(result.cfMitigated.isEmpty());

    // Asked for its head alone, the same chain ends with the same status, without a body.
    const Ticket head = engine.Start(server.url("/a"), {true, std::nullopt});
    ASSERT_TRUE(WaitDone(engine, {head}));
    const FetchResult headOnly = *engine.Take(head);
    EXPECT_EQ(headOnly.httpStatus, 200);
    EXPECT_EQ(headOnly.finalUrl, server.url("/final?x=1"));
    EXPECT_TRUE(headOnly.body.isEmpty());
    EXPECT_EQ(server.requests().back().substr(0, 5), "HEAD ");
}

TEST(FetchEngine, SpendsNoTimeWaitingOnAStalledServer)
{
    LoopbackServer server([](Connection &connection) {
        if (connection.send("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nfirst bytes"))
            connection.sleepFor(60s);
    });
    FetchEngine engine;
    engine.Start(server.url("/"));
    RunEventsFor(100ms); // connected and waiting
    const double before = ThreadCpuMs();
    RunEventsFor(1s);
    // A busy loop would take the whole second; waiting on sockets and a timer takes next to none.
    EXPECT_LT(ThreadCpuMs() - before, 100.0);
}
