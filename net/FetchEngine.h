#pragma once

#include "FetchResult.h"

#include <QObject>

#include <memory>
#include <optional>

namespace vantorel {

// Fetches pages inside the event loop of the thread it lives in, never blocking it. Requests
// wait until a slot is free, the host with the most requests waiting first and the oldest
// request first among equals (for a list that takes the hosts in turn, the order the requests
// were made): at most maxInFlight transfers at once and at most two per host (a host name in
// any case with its port, the scheme's own when none is written), and a transfer's time-outs
// count from when it really starts, never while it waits paused. A host's name is looked up
// once, by its first transfer, and only a few lookups run at once (a lookup's slot is free
// once it ended, while its connection is being made). A host that refused a connection or let
// one time out is down until AbortAll(): its other pages end at once the same way, with
// hostDown set. Servers are verified against the certificate store the environment names when
// the engine is made (TransferCaStore). A failure of curl's multi interface ends the transfers
// it concerns with FetchError::Other, never leaving them waiting.
class FetchEngine final : public QObject {
    Q_OBJECT
public:
    using Ticket = quint64;

    explicit FetchEngine(FetchLimits limits = {}, int maxInFlight = 8, QObject *parent = nullptr);
    ~FetchEngine() override; // aborts everything

    void SetMaxInFlight(int transfers);        // 1..256
    void SetLimits(const FetchLimits &limits); // for every transfer not running yet
    // While held, transfers pause at their next body bytes: the caller has enough bodies to
    // work through. A paused transfer's time-out stops until it goes on. Whether held or not,
    // the bodies' bytes past the first 64 KiB of each stay within 56 MiB together (the oldest
    // body may always go on), the others paused until a body's result is taken.
    void HoldBodies(bool held);
    // The bytes of the bodies the caller still holds (waiting to be judged, or being judged):
    // they take their part of that room, so that large bodies fetched faster than they are
    // judged wait unread instead of piling up in memory.
    void CountBodiesHeldByCaller(qsizetype bytes);
    Ticket Start(const QString &url);          // queued in call order; never blocks
    // The same, asked otherwise: a HEAD, or limits of its own (whose time-outs never put the host down).
    Ticket Start(const QString &url, const FetchRequest &request);
    bool IsDone(Ticket ticket) const;
    std::optional<FetchResult> Take(Ticket ticket); // the result once done (then forgotten)
    void Abort(Ticket ticket);                      // queued or in flight; no signal for it afterwards
    void AbortAll(); // and forgets which hosts are down

signals:
    // Emitted from the event loop, never from inside Start(); not for a ticket that was taken
    // or aborted in the meantime.
    void Finished(FetchEngine::Ticket ticket);

private:
    struct Private;
    std::unique_ptr<Private> d_;
};

} // namespace vantorel
