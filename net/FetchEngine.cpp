#include "FetchEngine.h"

#include "CurlTransfer.h"

#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>
#include <QUrl>

#include <arpa/inet.h>

#include <algorithm>
#include <chrono>
#include <deque>
#include <limits>
#include <optional>
#include <set>
#include <unordered_map>
#include <utility>
#include <vector>

namespace vantorel {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kMaxPerHost = 2;
constexpr int kMaxInFlight = 256;
// Name lookups run on a thread each (curl's threaded resolver): a few at a time, a host's
// first transfer only, so that each host is looked up once and the threads stay few.
constexpr int kMaxLookups = 32;
// Curl keeps a looked-up address this long (its default is a minute, shorter than a long
// run); the engine counts a host as looked up for a little less.
constexpr long kDnsCacheSeconds = 600;
constexpr auto kLookedUpFor = std::chrono::seconds(kDnsCacheSeconds - 60);

int InFlightWithinBounds(int transfers)
{
    return std::clamp(transfers, 1, kMaxInFlight);
}

// Transfers to one server share its limit: the host in lower case (QUrl's spelling) with the
// port, the scheme's own when none is written.
QString HostKey(const QUrl &url)
{
    const int defaultPort = url.scheme() == u"https" ? 443 : url.scheme() == u"http" ? 80 : -1;
    return QStringLiteral("%1 %2").arg(url.port(defaultPort)).arg(url.host());
}

bool IsAddress(const QString &host)
{
    const QByteArray bytes = host.toLatin1();
    unsigned char address[16];
    return ::inet_pton(AF_INET, bytes.constData(), address) == 1 || ::inet_pton(AF_INET6, bytes.constData(), address) == 1;
}

} // namespace

// libcurl's multi interface driven by the event loop: curl says which sockets to watch and
// when to wake it; socket notifiers and one single-shot timer hand those events back. Curl
// never calls into anything but this bookkeeping, and Finished is emitted from a queued call,
// so handlers may start, abort or even destroy the engine.
//
// Waiting transfers sit in a queue per host. Of the hosts with a free slot, the one with the
// most transfers waiting goes next, the oldest ticket first among equals: in a list that gives
// each host its pages in a row, every host then stays busy to the end instead of the last few
// hosts running two at a time while the other slots stand idle; in a list that takes the hosts
// in turn it is the order of the requests. Picking the next transfer costs a look at the first
// entry of a sorted set, however many wait.
struct FetchEngine::Private {
    // The most transfers waiting first, then the oldest ticket.
    using ReadyKey = std::pair<qsizetype, Ticket>; // (-waiting, first waiting ticket)
    struct Host {
        std::deque<Ticket> waiting; // oldest first
        int running = 0;
        bool address = false;        // a numeric address: nothing to look up
        Clock::time_point lookedUp;  // when a transfer to it last connected
        std::optional<ReadyKey> listed; // in one of the ready sets
        bool listedLookedUp = false;    // in which
    };
    struct Job {
        Private *engine = nullptr;
        Ticket ticket = 0;
        QString url;
        Host *host = nullptr;
        bool lookingUp = false;                 // launched before its host was looked up
        bool stranded = false;                  // curl would not let go of its handle
        std::unique_ptr<CurlTransfer> transfer; // while running
        std::optional<FetchResult> result;      // once done
    };
    struct SocketWatch {
        QSocketNotifier *read = nullptr;
        QSocketNotifier *write = nullptr;
    };

    Private(FetchEngine *engine, const FetchLimits &fetchLimits, int transfers);
    ~Private();

    static int OnSocket(CURL *, curl_socket_t socket, int what, void *self, void *);
    static int OnTimer(CURLM *, long timeoutMs, void *self);
    static int OnConnected(void *job, char *, char *, int, int);
    void WatchSocket(curl_socket_t socket, int what);
    void SetNotifier(QSocketNotifier *&notifier, curl_socket_t socket, QSocketNotifier::Type type, bool wanted);
    void Act(curl_socket_t socket, int events);
    void SetPoolSize();

    bool LookedUp(const Host &host) const;
    void Relist(Host &host);
    void StartWaiting();
    void Launch(Job &job);
    void Release(Job &job);
    void Settle(Job &job, CURLcode code, const char *multiFailure = nullptr);
    void Forget(Job &job);
    void Announce();
    void AbortAll();

    FetchEngine *q;
    FetchLimits limits;
    int maxInFlight;
    CURLM *multi;
    const char *multiFailure = nullptr; // why no transfer can run, once curl refused a setting
    QTimer timer;
    Ticket lastTicket = 0;
    // A Job's address is curl's private pointer to it while it runs, and a Host's is held by
    // its jobs: unordered_map never moves its nodes (rehashing relinks them), and a job leaves
    // the map only after its handle left the multi.
    std::unordered_map<Ticket, Job> jobs; // queued, running, or done and not taken
    std::unordered_map<QString, Host> hosts;
    std::set<ReadyKey> readyLookedUp; // each host that may start a transfer
    std::set<ReadyKey> readyToLookUp; // each host to look up first, none of whose transfers run
    int running = 0;
    int lookingUp = 0;
    bool connected = false; // some host was looked up during the last socket action
    std::unordered_map<curl_socket_t, SocketWatch> sockets;
    std::vector<Ticket> finished; // not announced yet
    bool announceQueued = false;
    std::vector<std::unique_ptr<CurlTransfer>> stranded; // freed after the multi
};

FetchEngine::Private::Private(FetchEngine *engine, const FetchLimits &fetchLimits, int transfers)
    : q(engine), limits(fetchLimits), maxInFlight(InFlightWithinBounds(transfers)), multi(curl_multi_init())
{
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer); // curl's time-outs, not a coarse approximation
    QObject::connect(&timer, &QTimer::timeout, q, [this] { Act(CURL_SOCKET_TIMEOUT, 0); });
    if (!multi) {
        multiFailure = "cannot set up the transfers";
        return;
    }
    for (const CURLMcode code : {curl_multi_setopt(multi, CURLMOPT_SOCKETFUNCTION, &Private::OnSocket),
                                 curl_multi_setopt(multi, CURLMOPT_SOCKETDATA, this),
                                 curl_multi_setopt(multi, CURLMOPT_TIMERFUNCTION, &Private::OnTimer),
                                 curl_multi_setopt(multi, CURLMOPT_TIMERDATA, this)}) {
        if (code != CURLM_OK && !multiFailure)
            multiFailure = curl_multi_strerror(code);
    }
    SetPoolSize();
    // A multi handle that refused a setting fails every transfer as it is launched, instead
    // of leaving it to wait forever.
}

FetchEngine::Private::~Private()
{
    AbortAll();
    if (multi)
        curl_multi_cleanup(multi);
    stranded.clear();
}

// Curl keeps finished connections for reuse: four per transfer in flight, as RaiseDescriptorLimit
// counts them. Fewer, and pages spread over more hosts than there are slots reconnect all the
// time (at 64 in flight over 100 hosts, one per transfer took twice the time).
void FetchEngine::Private::SetPoolSize()
{
    const CURLMcode code = curl_multi_setopt(multi, CURLMOPT_MAXCONNECTS, 4L * maxInFlight);
    if (code != CURLM_OK && !multiFailure)
        multiFailure = curl_multi_strerror(code);
}

int FetchEngine::Private::OnSocket(CURL *, curl_socket_t socket, int what, void *self, void *)
{
    static_cast<Private *>(self)->WatchSocket(socket, what);
    return 0;
}

int FetchEngine::Private::OnTimer(CURLM *, long timeoutMs, void *self)
{
    QTimer &timer = static_cast<Private *>(self)->timer;
    if (timeoutMs < 0)
        timer.stop();
    else
        timer.start(static_cast<int>(std::min<long>(timeoutMs, std::numeric_limits<int>::max())));
    return 0;
}

// A connection stands, so its host's address is in curl's cache: the host's next transfers
// need no lookup of their own.
int FetchEngine::Private::OnConnected(void *data, char *, char *, int, int)
{
    Job &job = *static_cast<Job *>(data);
    Private &d = *job.engine;
    job.host->lookedUp = Clock::now();
    if (job.lookingUp) {
        job.lookingUp = false;
        --d.lookingUp;
    }
    d.Relist(*job.host);
    d.connected = true;
    return CURL_PREREQFUNC_OK;
}

void FetchEngine::Private::WatchSocket(curl_socket_t socket, int what)
{
    if (what == CURL_POLL_REMOVE) {
        const auto found = sockets.find(socket);
        if (found == sockets.end())
            return;
        // Curl may be inside this very notifier's handler: retire it, delete it later.
        for (QSocketNotifier *notifier : {found->second.read, found->second.write}) {
            if (notifier) {
                notifier->setEnabled(false);
                notifier->deleteLater();
            }
        }
        sockets.erase(found);
        return;
    }
    SocketWatch &watch = sockets[socket];
    SetNotifier(watch.read, socket, QSocketNotifier::Read, what & CURL_POLL_IN);
    SetNotifier(watch.write, socket, QSocketNotifier::Write, what & CURL_POLL_OUT);
}

void FetchEngine::Private::SetNotifier(QSocketNotifier *&notifier, curl_socket_t socket,
                                       QSocketNotifier::Type type, bool wanted)
{
    if (!notifier) {
        if (!wanted)
            return;
        notifier = new QSocketNotifier(socket, type, q);
        const int events = type == QSocketNotifier::Read ? CURL_CSELECT_IN : CURL_CSELECT_OUT;
        QObject::connect(notifier, &QSocketNotifier::activated, q, [this, socket, events] { Act(socket, events); });
    }
    notifier->setEnabled(wanted);
}

void FetchEngine::Private::Act(curl_socket_t socket, int events)
{
    int stillRunning = 0;
    connected = false;
    const CURLMcode code = curl_multi_socket_action(multi, socket, events, &stillRunning);
    bool slotFreed = connected;
    if (code != CURLM_OK) {
        // Curl could not go on with what runs: end it all, so that nothing waits forever.
        for (auto &[ticket, job] : jobs) {
            if (job.transfer && !job.result) {
                Release(job);
                Settle(job, CURLE_FAILED_INIT, curl_multi_strerror(code));
            }
        }
        slotFreed = true;
    }

    int left = 0;
    while (CURLMsg *message = curl_multi_info_read(multi, &left)) {
        if (message->msg != CURLMSG_DONE)
            continue;
        char *job = nullptr;
        curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &job);
        const CURLcode result = message->data.result; // the message dies with the removal
        Release(*reinterpret_cast<Job *>(job));
        Settle(*reinterpret_cast<Job *>(job), result);
        slotFreed = true;
    }
    if (slotFreed)
        StartWaiting();
}

bool FetchEngine::Private::LookedUp(const Host &host) const
{
    return host.address || (host.lookedUp != Clock::time_point{} && Clock::now() - host.lookedUp < kLookedUpFor);
}

// Puts the host in the ready set it belongs to now, if any, at its place there.
void FetchEngine::Private::Relist(Host &host)
{
    if (host.listed) {
        (host.listedLookedUp ? readyLookedUp : readyToLookUp).erase(*host.listed);
        host.listed.reset();
    }
    if (host.waiting.empty())
        return;
    const bool lookedUp = LookedUp(host);
    if (host.running >= (lookedUp ? kMaxPerHost : 1))
        return;
    host.listed = ReadyKey{-static_cast<qsizetype>(host.waiting.size()), host.waiting.front()};
    host.listedLookedUp = lookedUp;
    (lookedUp ? readyLookedUp : readyToLookUp).insert(*host.listed);
}

void FetchEngine::Private::StartWaiting()
{
    while (running < maxInFlight) {
        std::optional<ReadyKey> next;
        if (!readyLookedUp.empty())
            next = *readyLookedUp.begin();
        if (lookingUp < kMaxLookups && !readyToLookUp.empty() && (!next || *readyToLookUp.begin() < *next))
            next = *readyToLookUp.begin();
        if (!next)
            return;
        Job &job = jobs.at(next->second);
        job.host->waiting.pop_front();
        Launch(job);
        Relist(*job.host);
    }
}

void FetchEngine::Private::Launch(Job &job)
{
    job.transfer = std::make_unique<CurlTransfer>(job.url, limits);
    CURL *handle = job.transfer->Handle();
    if (!handle || multiFailure) {
        Settle(job, CURLE_FAILED_INIT, multiFailure);
        return;
    }
    job.transfer->AlsoOnRequestReady(&Private::OnConnected, &job);
    if (curl_easy_setopt(handle, CURLOPT_PRIVATE, &job) != CURLE_OK ||
        curl_easy_setopt(handle, CURLOPT_DNS_CACHE_TIMEOUT, kDnsCacheSeconds) != CURLE_OK) {
        Settle(job, CURLE_FAILED_INIT);
        return;
    }
    if (const CURLMcode code = curl_multi_add_handle(multi, handle); code != CURLM_OK) {
        Settle(job, CURLE_FAILED_INIT, curl_multi_strerror(code));
        return;
    }
    ++running;
    ++job.host->running;
    job.lookingUp = !LookedUp(*job.host);
    lookingUp += job.lookingUp;
}

void FetchEngine::Private::Release(Job &job)
{
    // Curl refuses only a handle it does not hold, or a call from inside its callbacks: keep
    // such a handle alive rather than free memory curl may still use.
    job.stranded = curl_multi_remove_handle(multi, job.transfer->Handle()) != CURLM_OK;
    --running;
    --job.host->running;
    if (job.lookingUp) {
        job.lookingUp = false;
        --lookingUp;
    }
    Relist(*job.host);
}

void FetchEngine::Private::Settle(Job &job, CURLcode code, const char *multiFailure)
{
    job.result = job.transfer->Finish(code);
    if (multiFailure)
        job.result->errorText = QString::fromUtf8(multiFailure);
    Forget(job);
    finished.push_back(job.ticket);
    if (!announceQueued) {
        announceQueued = true;
        QMetaObject::invokeMethod(q, [this] { Announce(); }, Qt::QueuedConnection);
    }
}

void FetchEngine::Private::Forget(Job &job)
{
    if (job.stranded)
        stranded.push_back(std::move(job.transfer));
    job.transfer.reset();
}

void FetchEngine::Private::Announce()
{
    announceQueued = false;
    const std::vector<Ticket> batch = std::exchange(finished, {});
    const QPointer<FetchEngine> alive(q);
    for (const Ticket ticket : batch) {
        // A handler may have destroyed the engine, or taken or aborted a later ticket.
        if (!alive)
            return;
        if (jobs.contains(ticket))
            emit q->Finished(ticket);
    }
}

void FetchEngine::Private::AbortAll()
{
    for (auto &[ticket, job] : jobs) {
        if (job.transfer) {
            Release(job);
            Forget(job);
        }
    }
    jobs.clear();
    hosts.clear();
    readyLookedUp.clear();
    readyToLookUp.clear();
    finished.clear();
}

FetchEngine::FetchEngine(FetchLimits limits, int maxInFlight, QObject *parent)
    : QObject(parent), d_(std::make_unique<Private>(this, limits, maxInFlight))
{
}

FetchEngine::~FetchEngine() = default;

void FetchEngine::SetMaxInFlight(int transfers)
{
    d_->maxInFlight = InFlightWithinBounds(transfers);
    if (d_->multi)
        d_->SetPoolSize();
    d_->StartWaiting();
}

void FetchEngine::SetLimits(const FetchLimits &limits)
{
    d_->limits = limits;
}

FetchEngine::Ticket FetchEngine::Start(const QString &url)
{
    const Ticket ticket = ++d_->lastTicket;
    const QUrl parsed(url);
    const auto [place, added] = d_->hosts.try_emplace(HostKey(parsed));
    Private::Host &host = place->second;
    if (added)
        host.address = IsAddress(parsed.host());
    d_->jobs.emplace(ticket, Private::Job{d_.get(), ticket, url, &host, false, false, nullptr, std::nullopt});
    host.waiting.push_back(ticket);
    d_->Relist(host);
    d_->StartWaiting();
    return ticket;
}

bool FetchEngine::IsDone(Ticket ticket) const
{
    const auto found = d_->jobs.find(ticket);
    return found != d_->jobs.end() && found->second.result.has_value();
}

std::optional<FetchResult> FetchEngine::Take(Ticket ticket)
{
    const auto found = d_->jobs.find(ticket);
    if (found == d_->jobs.end() || !found->second.result)
        return std::nullopt;
    std::optional<FetchResult> result = std::move(found->second.result);
    d_->jobs.erase(found);
    return result;
}

void FetchEngine::Abort(Ticket ticket)
{
    const auto found = d_->jobs.find(ticket);
    if (found == d_->jobs.end())
        return;
    Private::Job &job = found->second;
    if (job.transfer) {
        d_->Release(job);
        d_->Forget(job);
    } else if (!job.result) {
        std::erase(job.host->waiting, ticket);
        d_->Relist(*job.host);
    }
    d_->jobs.erase(found);
    d_->StartWaiting();
}

void FetchEngine::AbortAll()
{
    d_->AbortAll();
}

} // namespace vantorel
