#pragma once

#include "FetchResult.h"

#include <QObject>

#include <memory>
#include <optional>

namespace vantorel {

// Fetches pages inside the event loop of the thread it lives in, never blocking it. Requests
// wait in a queue, in the order they were made, until a slot is free: at most maxInFlight
// transfers at once and at most two per host, and a transfer's time-outs count from when it
// really starts.
class FetchEngine final : public QObject {
    Q_OBJECT
public:
    using Ticket = quint64;

    explicit FetchEngine(FetchLimits limits = {}, int maxInFlight = 8, QObject *parent = nullptr);
    ~FetchEngine() override; // aborts everything

    void SetMaxInFlight(int transfers);        // 1..16
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
