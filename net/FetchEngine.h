#pragma once

#include "FetchResult.h"

#include <QObject>

#include <memory>
#include <optional>

namespace vantorel {

// Fetches pages inside the event loop of the thread it lives in, never blocking it. Requests
// wait until a slot is free, the host with the most requests waiting first and the oldest
// request first among equals (for a list that takes the hosts in turn, the order the requests
// were made): at most maxInFlight transfers at once and at most two per host (a host name in any case with its port, the
// scheme's own when none is written), and a transfer's time-outs count from when it really
// starts. A host's name is looked up once, by its first transfer, and only a few lookups run
// at once. A failure of curl's multi interface ends the transfers it concerns with
// FetchError::Other, never leaving them waiting.
class FetchEngine final : public QObject {
    Q_OBJECT
public:
    using Ticket = quint64;

    explicit FetchEngine(FetchLimits limits = {}, int maxInFlight = 8, QObject *parent = nullptr);
    ~FetchEngine() override; // aborts everything

    void SetMaxInFlight(int transfers);        // 1..256
    void SetLimits(const FetchLimits &limits); // for every transfer not running yet
    Ticket Start(const QString &url);          // queued in call order; never blocks
    bool IsDone(Ticket ticket) const;
    std::optional<FetchResult> Take(Ticket ticket); // the result once done (then forgotten)
    void Abort(Ticket ticket);                      // queued or in flight; no signal for it afterwards
    void AbortAll();

signals:
    // Emitted from the event loop, never from inside Start(); not for a ticket that was taken
    // or aborted in the meantime.
    void Finished(FetchEngine::Ticket ticket);

private:
    struct Private;
    std::unique_ptr<Private> d_;
};

} // namespace vantorel
