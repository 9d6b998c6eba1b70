#include "FetchEngine.h"

#include "CurlTransfer.h"

#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>
#include <QUrl>

#include <arpa/inet.h>
#include <sys/socket.h>

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
// Every transfer may keep this much of its body; past it, bodies take room from what they may
// hold together, so that the bodies in memory stay bounded however many large pages arrive
// together. Those that find none wait paused, their bytes in the kernel's buffers or the
// server's, until a body's result is taken and its room given back. Room is taken a step at a
// time, never past the announced length: a new connection climbs to speed slowly, and room
// taken for all of a body at once would stand empty meanwhile (200 pages of 2 MB over a 100 ms
// round trip: 5.1 s with 72 MiB of room taken whole, 4.6 s with 56 MiB taken by steps).
constexpr qsizetype kFreeBodyBytes = 64 * 1024;
// How often the engine looks whether it was left without running; a beat late by another is.
constexpr std::chrono::milliseconds kBeat{250};
constexpr qsizetype kBodyRoom = 56 * 1024 * 1024;
constexpr qsizetype kRoomStep = 1024 * 1024;

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
        Clock::time_point lookedUp;  // when a transfer to it last had its address
        std::optional<FetchResult> down; // how a connection to it failed: its pages end so too
        std::optional<ReadyKey> listed; // in one of the ready sets
        bool listedLookedUp = false;    // in which
    };
    struct Job {
        Private *engine = nullptr;
        Ticket ticket = 0;
        QString url;
        FetchRequest request;
        FetchLimits limits;
        Host *host = nullptr;
        bool lookingUp = false;                 // launched before its host was looked up
        bool requestReady = false;              // a connection was ready for a request
        qsizetype room = 0;                     // taken for its body past kFreeBodyBytes
        qsizetype roomWanted = 0;               // in all, when it paused for want of room
        Clock::duration unpausedLeft{};         // of its transfer time-out, as of its last pause
        // While it runs unpaused; a running transfer without one waits for room or for judging.
        std::optional<Clock::time_point> deadline;
        std::optional<Clock::time_point> connectBy; // until a connection is ready for its request
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
    static curl_socket_t OnOpenSocket(void *job, curlsocktype, curl_sockaddr *address);
    void HostReached(Job &job);
    static bool AllowBody(void *job, qsizetype kept, qsizetype offered, qsizetype announced);
    bool RoomFor(const Job &job, qsizetype wanted) const;
    void Erase(std::unordered_map<Ticket, Job>::iterator found);
    void ResumeBodies();
    void StartClock(Job &job);
    void StopClock(Job &job);
    void StartConnectClock(Job &job);
    void StopConnectClock(Job &job);
    void ArmDeadline();
    void CatchUp();
    void EndOverdue();
    void WatchSocket(curl_socket_t socket, int what);
    void SetNotifier(QSocketNotifier *&notifier, curl_socket_t socket, QSocketNotifier::Type type, bool wanted);
    void Act(curl_socket_t socket, int events);
    void SetPoolSize();

    bool LookedUp(const Host &host) const;
    void Relist(Host &host);
    void StartWaiting();
    void Launch(Job &job);
    void Release(Job &job);
    void End(Job &job, CURLcode code);
    void Settle(Job &job, CURLcode code, const char *multiFailure = nullptr);
    void Conclude(Job &job, FetchResult result);
    void MarkDown(Host &host, const FetchResult &failure);
    void Forget(Job &job);
    void Announce();
    void AbortAll();

    FetchEngine *q;
    FetchLimits limits;
    const CaStore caStore = TransferCaStore(); // as the environment was when the engine was made
    int maxInFlight;
    CURLM *multi;
    // TLS sessions and looked-up addresses for every transfer, whichever easy handle asks: a
    // transfer's handle lives as long as the transfer. One thread uses it: no locks.
    CURLSH *share;
    const char *multiFailure = nullptr; // why no transfer can run, once curl refused a setting
    QTimer timer;
    // The transfer time-out counts only the time a transfer runs unpaused: a body that waited
    // for judging to catch up is no slow server. Curl would count the pauses too.
    QTimer deadlineTimer;
    std::set<std::pair<Clock::time_point, Ticket>> deadlines; // of the transfers running unpaused
    // Connections are timed by the same clock: curl's would count the time the program did not
    // run them and put a host that answered down.
    std::set<std::pair<Clock::time_point, Ticket>> connectDeadlines;
    // The time the program did not run (its loop held, the process stopped) is no server's: a
    // beat that came late tells it, and every deadline moves on by it.
    QTimer beat;
    Clock::time_point lastBeat;
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
    bool bodiesHeld = false;        // the caller has enough bodies to work through
    qsizetype roomTaken = 0;    // by bodies being read and by results not taken yet
    qsizetype heldByCaller = 0; // of the bodies already handed over
    std::set<Ticket> roomHolders; // of the bodies being read, the oldest request first
    std::vector<Ticket> pausedBodies; // oldest first; some may have ended since
    bool reached = false; // some host's address was had during the last socket action
    std::unordered_map<curl_socket_t, SocketWatch> sockets;
    std::vector<Ticket> finished; // not announced yet
    bool announceQueued = false;
    std::vector<std::unique_ptr<CurlTransfer>> stranded; // freed after the multi
};

FetchEngine::Private::Private(FetchEngine *engine, const FetchLimits &fetchLimits, int transfers)
    : q(engine), limits(fetchLimits), maxInFlight(InFlightWithinBounds(transfers)), multi(curl_multi_init()), share(curl_share_init())
{
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer); // curl's time-outs, not a coarse approximation
    QObject::connect(&timer, &QTimer::timeout, q, [this] { Act(CURL_SOCKET_TIMEOUT, 0); });
    deadlineTimer.setSingleShot(true);
    deadlineTimer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&deadlineTimer, &QTimer::timeout, q, [this] { EndOverdue(); });
    beat.setInterval(kBeat);
    QObject::connect(&beat, &QTimer::timeout, q, [this] { CatchUp(); });
    if (!multi || !share) {
        multiFailure = "cannot set up the transfers";
        return;
    }
    for (const curl_lock_data shared : {CURL_LOCK_DATA_SSL_SESSION, CURL_LOCK_DATA_DNS}) {
        if (const CURLSHcode code = curl_share_setopt(share, CURLSHOPT_SHARE, shared); code != CURLSHE_OK && !multiFailure)
            multiFailure = curl_share_strerror(code);
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
    if (share)
        curl_share_cleanup(share); // after every handle that used it
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

int FetchEngine::Private::OnConnected(void *data, char *, char *, int, int)
{
    Job &job = *static_cast<Job *>(data);
    job.requestReady = true;
    job.engine->StopConnectClock(job);
    job.engine->HostReached(job); // a reused connection opens no socket
    return CURL_PREREQFUNC_OK;
}

// Curl opens a socket once the lookup ended: the lookup slot is free while the connection is
// still being made.
curl_socket_t FetchEngine::Private::OnOpenSocket(void *data, curlsocktype, curl_sockaddr *address)
{
    Job &job = *static_cast<Job *>(data);
    job.engine->HostReached(job);
    if (!job.connectBy) // a redirect's new connection has a time-out of its own
        job.engine->StartConnectClock(job);
    return ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
}

bool FetchEngine::Private::AllowBody(void *data, qsizetype kept, qsizetype offered, qsizetype announced)
{
    Job &job = *static_cast<Job *>(data);
    Private &d = *job.engine;
    job.roomWanted = 0;
    if (!d.bodiesHeld) {
        const qsizetype needed = kept + offered - kFreeBodyBytes;
        if (needed <= job.room)
            return true;
        const qsizetype rest = announced > kFreeBodyBytes ? std::min(announced, job.limits.maxBodyBytes) - kFreeBodyBytes : -1;
        const qsizetype step = rest > job.room ? std::min(job.room + kRoomStep, rest) : job.room + kRoomStep;
        const qsizetype wanted = std::max(needed, step);
        if (d.RoomFor(job, wanted)) {
            if (job.room == 0)
                d.roomHolders.insert(job.ticket);
            d.roomTaken += wanted - job.room;
            job.room = wanted;
            return true;
        }
        job.roomWanted = wanted;
    }
    d.StopClock(job);
    d.pausedBodies.push_back(job.ticket);
    return false;
}

// Of the bodies being read, the one that took room first may always take more, and any body
// may when none being read holds room: some body always goes on to its end, whatever the others
// wait for and whenever the results holding room are taken.
bool FetchEngine::Private::RoomFor(const Job &job, qsizetype wanted) const
{
    return roomTaken + heldByCaller - job.room + wanted <= kBodyRoom || roomHolders.empty() ||
           *roomHolders.begin() == job.ticket;
}

// A body keeps its room until its result is taken: till then its bytes are still here, and then
// the caller counts them among those it holds.
void FetchEngine::Private::Erase(std::unordered_map<Ticket, Job>::iterator found)
{
    const qsizetype room = found->second.room;
    jobs.erase(found);
    if (room > 0) {
        roomTaken -= room;
        ResumeBodies();
    }
}

// Outside curl's callbacks only: curl hands a resumed transfer its waiting bytes at once, and
// it may pause again. A body goes on once bodies are not held and the room it waited for is free.
void FetchEngine::Private::ResumeBodies()
{
    std::vector<Ticket> stillWaiting;
    for (const Ticket ticket : std::exchange(pausedBodies, {})) {
        const auto found = jobs.find(ticket);
        if (found == jobs.end() || !found->second.transfer || found->second.deadline)
            continue;
        Job &job = found->second;
        if (bodiesHeld || (job.roomWanted > 0 && !RoomFor(job, job.roomWanted))) {
            stillWaiting.push_back(ticket);
            continue;
        }
        StartClock(job); // before curl may pause it again, inside this call
        curl_easy_pause(job.transfer->Handle(), CURLPAUSE_CONT);
    }
    // Before those paused again just now: the oldest first.
    pausedBodies.insert(pausedBodies.begin(), stillWaiting.begin(), stillWaiting.end());
}

void FetchEngine::Private::StartClock(Job &job)
{
    job.deadline = Clock::now() + job.unpausedLeft;
    deadlines.emplace(*job.deadline, job.ticket);
    ArmDeadline();
}

void FetchEngine::Private::StopClock(Job &job)
{
    if (!job.deadline)
        return;
    job.unpausedLeft = std::max(Clock::duration::zero(), *job.deadline - Clock::now());
    deadlines.erase({*job.deadline, job.ticket});
    job.deadline.reset();
    ArmDeadline();
}

void FetchEngine::Private::StartConnectClock(Job &job)
{
    job.connectBy = Clock::now() + job.limits.connectTimeout;
    connectDeadlines.emplace(*job.connectBy, job.ticket);
    ArmDeadline();
}

void FetchEngine::Private::StopConnectClock(Job &job)
{
    if (!job.connectBy)
        return;
    connectDeadlines.erase({*job.connectBy, job.ticket});
    job.connectBy.reset();
    ArmDeadline();
}

void FetchEngine::Private::ArmDeadline()
{
    if (deadlines.empty() && connectDeadlines.empty()) {
        deadlineTimer.stop();
        beat.stop();
        return;
    }
    if (!beat.isActive()) {
        lastBeat = Clock::now();
        beat.start();
    }
    Clock::time_point first = Clock::time_point::max();
    for (const auto *set : {&deadlines, &connectDeadlines})
        if (!set->empty())
            first = std::min(first, set->begin()->first);
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(first - Clock::now());
    deadlineTimer.start(static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(wait.count(), 0, std::numeric_limits<int>::max())));
}

void FetchEngine::Private::CatchUp()
{
    const Clock::time_point now = Clock::now();
    const Clock::duration missed = now - lastBeat - kBeat;
    lastBeat = now;
    if (missed < kBeat)
        return;
    for (auto *set : {&deadlines, &connectDeadlines}) {
        std::set<std::pair<Clock::time_point, Ticket>> moved;
        for (const auto &[deadline, ticket] : *set)
            moved.emplace(deadline + missed, ticket);
        *set = std::move(moved);
    }
    for (auto &[ticket, job] : jobs) {
        if (job.deadline)
            *job.deadline += missed;
        if (job.connectBy)
            *job.connectBy += missed;
    }
    ArmDeadline();
}

// Ends them as curl ends a transfer, or a connection, that ran out of time.
void FetchEngine::Private::EndOverdue()
{
    CatchUp();
    const Clock::time_point now = Clock::now();
    for (auto *set : {&deadlines, &connectDeadlines})
        while (!set->empty() && set->begin()->first <= now)
            End(jobs.at(set->begin()->second), CURLE_OPERATION_TIMEDOUT);
    ArmDeadline();
    ResumeBodies();
    StartWaiting();
}

// The host's address is in curl's cache: the host's next transfers need no lookup of their own.
void FetchEngine::Private::HostReached(Job &job)
{
    job.host->lookedUp = Clock::now();
    if (job.lookingUp) {
        job.lookingUp = false;
        --lookingUp;
    }
    Relist(*job.host);
    reached = true;
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
    reached = false;
    const CURLMcode code = curl_multi_socket_action(multi, socket, events, &stillRunning);
    bool slotFreed = reached;
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
        End(*reinterpret_cast<Job *>(job), result);
        slotFreed = true;
    }
    if (slotFreed) {
        ResumeBodies();
        StartWaiting();
    }
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
    if (host.waiting.empty() || host.down)
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
    job.limits = job.request.limits.value_or(limits);
    job.transfer = std::make_unique<CurlTransfer>(job.url, job.limits, caStore);
    job.transfer->LeaveTimeOutsToCaller();
    if (job.request.head)
        job.transfer->AskHeadOnly();
    CURL *handle = job.transfer->Handle();
    if (!handle || multiFailure) {
        Settle(job, CURLE_FAILED_INIT, multiFailure);
        return;
    }
    job.transfer->AlsoOnRequestReady(&Private::OnConnected, &job);
    job.transfer->GateBody(&Private::AllowBody, &job, kFreeBodyBytes);
    if (curl_easy_setopt(handle, CURLOPT_PRIVATE, &job) != CURLE_OK ||
        curl_easy_setopt(handle, CURLOPT_OPENSOCKETFUNCTION, &Private::OnOpenSocket) != CURLE_OK ||
        curl_easy_setopt(handle, CURLOPT_OPENSOCKETDATA, &job) != CURLE_OK ||
        curl_easy_setopt(handle, CURLOPT_DNS_CACHE_TIMEOUT, kDnsCacheSeconds) != CURLE_OK ||
        curl_easy_setopt(handle, CURLOPT_SHARE, share) != CURLE_OK) {
        Settle(job, CURLE_FAILED_INIT);
        return;
    }
    if (const CURLMcode code = curl_multi_add_handle(multi, handle); code != CURLM_OK) {
        Settle(job, CURLE_FAILED_INIT, curl_multi_strerror(code));
        return;
    }
    ++running;
    ++job.host->running;
    job.unpausedLeft = job.limits.totalTimeout;
    StartClock(job);
    StartConnectClock(job);
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
    roomHolders.erase(job.ticket);
    job.roomWanted = 0;
    StopClock(job);
    StopConnectClock(job);
    if (job.lookingUp) {
        job.lookingUp = false;
        --lookingUp;
    }
    Relist(*job.host);
}

void FetchEngine::Private::End(Job &job, CURLcode code)
{
    Release(job);
    Settle(job, code);
    // Connecting to the page's own host failed: so would its other pages. A transfer with time-outs
    // of its own says nothing of how long the host's pages may take.
    const FetchError error = job.result->error;
    if ((error == FetchError::ConnectTimeout || error == FetchError::Refused) && job.result->redirects == 0 &&
        !job.request.limits)
        MarkDown(*job.host, *job.result);
}

void FetchEngine::Private::Settle(Job &job, CURLcode code, const char *multiFailure)
{
    FetchResult result = job.transfer->Finish(code);
    if (multiFailure)
        result.errorText = QString::fromUtf8(multiFailure);
    Forget(job);
    Conclude(job, std::move(result));
}

// The host stays down until AbortAll: its waiting pages, those still connecting and those
// started later end at once as the failed one did, without a connection of their own.
void FetchEngine::Private::MarkDown(Host &host, const FetchResult &failure)
{
    FetchResult down;
    down.error = failure.error;
    down.errorText = failure.errorText;
    down.hostDown = true;
    host.down = down;
    for (auto &[ticket, job] : jobs) {
        if (job.host == &host && job.transfer && !job.requestReady) {
            Release(job);
            Forget(job);
            Conclude(job, down);
        }
    }
    for (const Ticket ticket : std::exchange(host.waiting, {}))
        Conclude(jobs.at(ticket), down);
    Relist(host);
}

void FetchEngine::Private::Conclude(Job &job, FetchResult result)
{
    job.result = std::move(result);
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
    roomTaken = 0;
    hosts.clear();
    readyLookedUp.clear();
    readyToLookUp.clear();
    finished.clear();
    pausedBodies.clear();
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

void FetchEngine::HoldBodies(bool held)
{
    d_->bodiesHeld = held;
    if (!held)
        d_->ResumeBodies();
}

void FetchEngine::CountBodiesHeldByCaller(qsizetype bytes)
{
    const bool fewer = bytes < d_->heldByCaller;
    d_->heldByCaller = bytes;
    if (fewer)
        d_->ResumeBodies();
}

void FetchEngine::SetLimits(const FetchLimits &limits)
{
    d_->limits = limits;
}

FetchEngine::Ticket FetchEngine::Start(const QString &url)
{
    return Start(url, FetchRequest{});
}

FetchEngine::Ticket FetchEngine::Start(const QString &url, const FetchRequest &request)
{
    const Ticket ticket = ++d_->lastTicket;
    const QUrl parsed(url);
    const auto [place, added] = d_->hosts.try_emplace(HostKey(parsed));
    Private::Host &host = place->second;
    if (added)
        host.address = IsAddress(parsed.host());
    Private::Job &job = d_->jobs[ticket];
    job.engine = d_.get();
    job.ticket = ticket;
    job.url = url;
    job.request = request;
    job.host = &host;
    if (host.down) {
        d_->Conclude(job, *host.down);
        return ticket;
    }
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
    d_->Erase(found);
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
    d_->Erase(found);
    d_->StartWaiting();
}

void FetchEngine::AbortAll()
{
    d_->AbortAll();
}

} // namespace vantorel
