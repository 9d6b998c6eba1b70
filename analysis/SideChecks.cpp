#include "SideChecks.h"

#include <QSet>
#include <QUrl>

#include <algorithm>
#include <utility>

namespace vantorel {

namespace {

using namespace std::chrono_literals;

// A robots.txt is small and quick or not worth waiting for; a target is a page of the user's own site.
constexpr FetchLimits kRobotsLimits{3s, 5s, 512 * 1024, 5};
constexpr FetchLimits kTargetLimits{5s, 10s, 16 * 1024 * 1024, 10};

FetchLimits Within(FetchLimits own, const FetchLimits &page)
{
    own.connectTimeout = std::min(own.connectTimeout, page.connectTimeout);
    own.totalTimeout = std::min(own.totalTimeout, page.totalTimeout);
    own.maxBodyBytes = std::min(own.maxBodyBytes, page.maxBodyBytes);
    own.maxRedirects = std::min(own.maxRedirects, page.maxRedirects);
    return own;
}

QString TargetKey(const QString &url)
{
    return QUrl(url).adjusted(QUrl::RemoveFragment).toString();
}

} // namespace

void SideChecks::Begin(const QString &domain, const FetchLimits &pageLimits, bool readRobotsTxt, bool checkTargets)
{
    readRobotsTxt_ = readRobotsTxt;
    domain_ = domain;
    robotsLimits_ = Within(kRobotsLimits, pageLimits);
    targetLimits_ = Within(kTargetLimits, pageLimits);
    checkTargets_ = checkTargets;
    robots_.clear();
    targets_.clear();
    pending_.clear();
    missing_.clear();
}

QString SideChecks::RobotsKey(const RowEvidence &evidence)
{
    const QUrl page(evidence.finalUrl);
    return page.scheme() == u"http" || page.scheme() == u"https" ? RobotsTxtUrl(page) : QString();
}

bool SideChecks::Wait(int row, const RowEvidence &evidence)
{
    // Only a page that links to the domain is worth what its robots.txt and targets say.
    if (evidence.page.links.empty())
        return false;
    int missing = 0;
    const auto need = [&](QHash<QString, Check> &checks, const QString &key, bool robots) {
        auto check = checks.find(key);
        if (check == checks.end()) {
            check = checks.insert(key, {});
            Ask(key, robots, !robots);
        }
        if (!check->answered) {
            check->waiting.push_back(row);
            ++missing;
        }
    };
    if (const QString key = RobotsKey(evidence); readRobotsTxt_ && !key.isEmpty())
        need(robots_, key, true);
    if (checkTargets_) {
        QSet<QString> asked;
        for (const LinkEvidence &link : evidence.page.links)
            if (const QString key = TargetKey(link.url); !asked.contains(key)) {
                asked.insert(key);
                need(targets_, key, false);
            }
    }
    if (missing > 0)
        missing_[row] = missing;
    return missing > 0;
}

void SideChecks::Ask(const QString &key, bool robots, bool head)
{
    const FetchEngine::Ticket ticket = engine_.Start(key, {head, robots ? robotsLimits_ : targetLimits_});
    pending_[ticket] = {key, robots, head};
}

bool SideChecks::Take(FetchEngine::Ticket ticket, std::vector<int> &ready)
{
    const auto found = pending_.find(ticket);
    if (found == pending_.end())
        return false;
    const Pending pending = found->second;
    pending_.erase(found);
    const std::optional<FetchResult> result = engine_.Take(ticket);
    if (!result)
        return true;
    if (pending.robots) {
        Check &check = robots_[pending.key];
        // A robots.txt that is missing (4xx) bars nothing, as crawlers read it; one that could not
        // be had (no answer, too many requests, a server error) is not known.
        if (result->ok() && result->httpStatus >= 200 && result->httpStatus < 300)
            check.robots = RobotsTxt::Parse(result->body);
        else if (result->ok() && result->httpStatus >= 400 && result->httpStatus < 500 && result->httpStatus != 429)
            check.robots = RobotsTxt();
        Answer(check, ready);
        return true;
    }
    // Servers that refuse a HEAD are asked for the page itself.
    if (pending.head && result->ok() && (result->httpStatus == 405 || result->httpStatus == 501)) {
        Ask(pending.key, false, false);
        return true;
    }
    Check &check = targets_[pending.key];
    check.failure = TargetFailure(*result, domain_);
    Answer(check, ready);
    return true;
}

void SideChecks::Answer(Check &check, std::vector<int> &ready)
{
    check.answered = true;
    for (const int row : std::exchange(check.waiting, {}))
        if (const auto missing = missing_.find(row); missing != missing_.end() && --missing->second == 0) {
            missing_.erase(missing);
            ready.push_back(row);
        }
}

void SideChecks::Complete(RowEvidence &evidence) const
{
    if (evidence.page.links.empty())
        return;
    if (const auto check = robots_.constFind(RobotsKey(evidence)); check != robots_.cend() && check->robots)
        evidence.robotsTxt = BarredCrawlers(*check->robots, QUrl(evidence.finalUrl));
    for (LinkEvidence &link : evidence.page.links)
        if (const auto check = targets_.constFind(TargetKey(link.url)); check != targets_.cend())
            link.targetFailure = check->failure;
}

} // namespace vantorel
