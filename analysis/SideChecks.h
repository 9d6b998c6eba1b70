#pragma once

#include "RobotsTxt.h"
#include "Verdict.h"

#include <FetchEngine.h>

#include <QHash>
#include <QString>

#include <optional>
#include <unordered_map>
#include <vector>

namespace vantorel {

// What a judged row's evidence needs from other fetches of its run: the robots.txt of the
// linking page's host and the status of each page its links point to on the site. Each is
// fetched once a run through the run's engine, so that they share its per-host limits and its
// transfers in flight, with short time-outs of their own; rows wait for their answers.
class SideChecks {
public:
    explicit SideChecks(FetchEngine &engine) : engine_(engine) {}

    // A new run: everything fetched before is forgotten (the engine's transfers are the caller's
    // to abort). pageLimits: the run's, which the checks' own limits stay within.
    void Begin(const QString &domain, const FetchLimits &pageLimits, bool readRobotsTxt, bool checkTargets);

    // Asks for what the row's evidence needs and was not asked yet; false when nothing is missing.
    bool Wait(int row, const RowEvidence &evidence);
    // Takes the ticket's result if it is one of the checks'; the rows it leaves with nothing
    // missing are added to ready.
    bool Take(FetchEngine::Ticket ticket, std::vector<int> &ready);
    // Fills in what the checks found for the evidence's page and links.
    void Complete(RowEvidence &evidence) const;

private:
    struct Check {
        bool answered = false;
        std::optional<RobotsTxt> robots;     // a robots.txt's: none when it could not be had
        std::optional<QString> failure;      // a target's (TargetFailure)
        std::vector<int> waiting;            // rows
    };
    struct Pending {
        QString key;
        bool robots = false;
        bool head = false;
    };
    static QString RobotsKey(const RowEvidence &evidence);
    void Ask(const QString &key, bool robots, bool head);
    void Answer(Check &check, std::vector<int> &ready);

    FetchEngine &engine_;
    QString domain_;
    FetchLimits robotsLimits_, targetLimits_;
    bool readRobotsTxt_ = true, checkTargets_ = true;
    QHash<QString, Check> robots_;  // by robots.txt address
    QHash<QString, Check> targets_; // by target address
    std::unordered_map<FetchEngine::Ticket, Pending> pending_;
    std::unordered_map<int, int> missing_; // a waiting row's checks not answered yet
};

} // namespace vantorel
