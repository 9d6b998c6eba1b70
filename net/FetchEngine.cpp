#include "FetchEngine.h"

#include "CurlTransfer.h"

#include <QHash>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <deque>
#include <limits>
#include <unordered_map>
#include <utility>
#include <vector>

namespace vantorel {

namespace {

constexpr int kMaxPerHost = 2;

int InFlightWithinBounds(int transfers)
{
    return std::clamp(transfers, 1, 16);
}

// QUrl gives host names in lower case, so hosts match in any case.
QString HostOf(const QString &url)
{
    return QUrl(url).host();
}

} // namespace

// libcurl's multi interface driven by the event loop: curl says which sockets to watch and
// when to wake it; socket notifiers and one single-shot timer hand those events back. Curl
// never calls into anything but this bookkeeping, and Finished is emitted from a queued call,
// so handlers may start, abort or even destroy the engine.
struct FetchEngine::Private {
    struct Job {
        Ticket ticket = 0;
        QString url;
        QString host;
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
    void WatchSocket(curl_socket_t socket, int what);
    void SetNotifier(QSocketNotifier *&notifier, curl_socket_t socket, QSocketNotifier::Type type, bool wanted);
    void Act(curl_socket_t socket, int events);

    void StartWaiting();
    void Launch(Job &job);
    void Release(Job &job);
    void Settle(Job &job, CURLcode code);
    void Announce();
    void AbortAll();

    FetchEngine *q;
    FetchLimits limits;
    int maxInFlight;
    CURLM *multi;
    QTimer timer;
    Ticket lastTicket = 0;
    std::unordered_map<Ticket, Job> jobs; // queued, running, or done and not taken
    std::deque<Ticket> queue;             // waiting for a slot, oldest first
    int running = 0;
    QHash<QString, int> runningPerHost;
    std::unordered_map<curl_socket_t, SocketWatch> sockets;
    std::vector<Ticket> finished; // not announced yet
    bool announceQueued = false;
};

FetchEngine::Private::Private(FetchEngine *engine, const FetchLimits &fetchLimits, int transfers)
    : q(engine), limits(fetchLimits), maxInFlight(InFlightWithinBounds(transfers)), multi(curl_multi_init())
{
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer); // curl's time-outs, not a coarse approximation
    QObject::connect(&timer, &QTimer::timeout, q, [this] { Act(CURL_SOCKET_TIMEOUT, 0); });
    if (multi && (curl_multi_setopt(multi, CURLMOPT_SOCKETFUNCTION, &Private::OnSocket) != CURLM_OK ||
                  curl_multi_setopt(multi, CURLMOPT_SOCKETDATA, this) != CURLM_OK ||
                  curl_multi_setopt(multi, CURLMOPT_TIMERFUNCTION, &Private::OnTimer) != CURLM_OK ||
                  curl_multi_setopt(multi, CURLMOPT_TIMERDATA, this) != CURLM_OK)) {
        curl_multi_cleanup(multi);
        multi = nullptr;
    }
    // Without a multi handle every transfer fails as it is launched, instead of never ending.
}

FetchEngine::Private::~Private()
{
    AbortAll();
    if (multi)
        curl_multi_cleanup(multi);
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
    curl_multi_socket_action(multi, socket, events, &stillRunning);

    bool slotFreed = false;
    int left = 0;
    while (CURLMsg *message = curl_multi_info_read(multi, &left)) {
        if (message->msg != CURLMSG_DONE)
            continue;
        char *job = nullptr;
        curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &job);
        const CURLcode code = message->data.result; // the message dies with the removal
        Release(*reinterpret_cast<Job *>(job));
        Settle(*reinterpret_cast<Job *>(job), code);
        slotFreed = true;
    }
    if (slotFreed)
        StartWaiting();
}

void FetchEngine::Private::StartWaiting()
{
    for (auto next = queue.begin(); next != queue.end() && running < maxInFlight;) {
        Job &job = jobs.at(*next);
        if (runningPerHost.value(job.host) >= kMaxPerHost) {
            ++next;
            continue;
        }
        next = queue.erase(next);
        Launch(job);
    }
}

void FetchEngine::Private::Launch(Job &job)
{
    job.transfer = std::make_unique<CurlTransfer>(job.url, limits);
    CURL *handle = job.transfer->Handle();
    if (multi && handle && curl_easy_setopt(handle, CURLOPT_PRIVATE, &job) == CURLE_OK &&
        curl_multi_add_handle(multi, handle) == CURLM_OK) {
        ++running;
        ++runningPerHost[job.host];
        return;
    }
    Settle(job, CURLE_FAILED_INIT);
}

void FetchEngine::Private::Release(Job &job)
{
    curl_multi_remove_handle(multi, job.transfer->Handle());
    --running;
    if (--runningPerHost[job.host] == 0)
        runningPerHost.remove(job.host);
}

void FetchEngine::Private::Settle(Job &job, CURLcode code)
{
    job.result = job.transfer->Finish(code);
    job.transfer.reset();
    finished.push_back(job.ticket);
    if (!announceQueued) {
        announceQueued = true;
        QMetaObject::invokeMethod(q, [this] { Announce(); }, Qt::QueuedConnection);
    }
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
        if (job.transfer)
            Release(job);
    }
    jobs.clear();
    queue.clear();
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
    d_->StartWaiting();
}

void FetchEngine::SetLimits(const FetchLimits &limits)
{
    d_->limits = limits;
}

FetchEngine::Ticket FetchEngine::Start(const QString &url)
{
    const Ticket ticket = ++d_->lastTicket;
    d_->jobs.emplace(ticket, Private::Job{ticket, url, HostOf(url), nullptr, std::nullopt});
    d_->queue.push_back(ticket);
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
    if (found->second.transfer)
        d_->Release(found->second);
    else
        std::erase(d_->queue, ticket);
    d_->jobs.erase(found);
    d_->StartWaiting();
}

void FetchEngine::AbortAll()
{
    d_->AbortAll();
}

} // namespace vantorel
