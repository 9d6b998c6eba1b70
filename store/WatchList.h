#pragma once

#include "HistoryDatabase.h"

#include <QDateTime>
#include <QString>

#include <chrono>
#include <optional>
#include <vector>

namespace vantorel {

// A site re-checked on a schedule.
struct WatchedDomain {
    QString domain;
    int intervalHours = 24;
    QDateTime addedAt;
    QDateTime lastRecheck; // invalid until its first due re-check
    QString claimedBy;     // the worker re-checking it now; empty when none
    QDateTime claimExpires;
    int confirmChecks = 1;      // how many checks in a row confirm a loss
    int unconfirmedLosses = 0;  // found by its last re-check, still to confirm

    // Due at once when newly watched; then its interval after its last re-check, or an hour
    // after it while losses wait to be confirmed.
    QDateTime NextRecheck() const
    {
        const int hours = unconfirmedLosses > 0 ? 1 : intervalHours;
        return lastRecheck.isValid() ? lastRecheck.addSecs(qint64(hours) * 3600) : addedAt;
    }
};

// A site claimed for its re-check, with how many checks in a row confirm its losses.
struct DueSite {
    QString domain;
    int confirmChecks = 1;
    bool operator==(const DueSite &) const = default;
};

// The watch list in the history (a file or a server), through a connection of its own made on the thread that
// makes it and used only there; each call is one short transaction. The calls block on the
// file: never on the window's thread.
class WatchList {
public:
    explicit WatchList(QString path);
    ~WatchList();
    WatchList(const WatchList &) = delete;
    WatchList &operator=(const WatchList &) = delete;

    // Why the last call failed, in Chinese; empty when it did not.
    const QString &Error() const { return error_; }

    // Adds the site, or sets the interval and confirmation of a site already watched.
    bool Watch(const QString &domain, int intervalHours, const QDateTime &now, int confirmChecks = 1);
    // Whether the site was watched; nothing when the file failed.
    std::optional<bool> Unwatch(const QString &domain);
    // Every watched site, by name; nothing when the file failed.
    std::optional<std::vector<WatchedDomain>> Watched();

    // Claims one site that is due at now and that no live claim holds, the longest due first,
    // for worker until now + hold: two workers never hold the same site. Nothing when none is
    // due (Error() empty) or the file failed.
    std::optional<DueSite> ClaimDue(const QString &worker, const QDateTime &now, std::chrono::seconds hold);
    // Moves the worker's claim on, while its re-check goes on; false when it no longer holds it.
    bool Renew(const QString &domain, const QString &worker, const QDateTime &until);
    // Ends the worker's claim and keeps when the re-check started, which makes the site due
    // again one interval later, or an hour later when it left unconfirmedLosses; without that
    // time the site stays as due as it was.
    bool Release(const QString &domain, const QString &worker, const std::optional<QDateTime> &recheckedAt,
                 int unconfirmedLosses = 0);

private:
    // A write transaction holds the store for writing at once (BeginWriting): on a file two
    // workers claiming together wait for each other instead of both reading the same site as free.
    enum class Access { Read, Write };
    template <typename Work>
    bool Transaction(Access access, Work work);

    HistoryConnection connection_;
    QString error_;
};

} // namespace vantorel
