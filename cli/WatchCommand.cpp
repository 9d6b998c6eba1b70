#include "WatchCommand.h"

#include "CheckCommand.h"
#include "ConsoleOutput.h"
#include "HistoryCommand.h"

#include <Domain.h>
#include <HistoryReader.h>
#include <HistoryReport.h>
#include <ServerAddress.h>
#include <WatchList.h>

#include <QCoreApplication>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QSysInfo>
#include <QTimer>

#include <algorithm>
#include <map>
#include <memory>

#include <unistd.h>

namespace vantorel {

namespace {

// A worker is named by its machine and process, so that a claim says who holds it.
QString WorkerName()
{
    return QStringLiteral("%1:%2").arg(QSysInfo::machineHostName()).arg(QCoreApplication::applicationPid());
}

// A claim outlives the longest wait on one page by the margin; the worker renews it while its
// re-check goes on, so only a worker that died lets it lapse.
std::chrono::seconds ClaimHold(const CommandLine &line, const AnalysisSettings &settings)
{
    bool isNumber = false;
    const int margin = qEnvironmentVariableIntValue("VANTOREL_CLAIM_MARGIN", &isNumber);
    const auto page = line.timeoutSeconds ? std::chrono::seconds(*line.timeoutSeconds)
                                          : std::chrono::duration_cast<std::chrono::seconds>(settings.fetchLimits.totalTimeout);
    return page + std::chrono::seconds(isNumber && margin >= 0 ? margin : kClaimMarginSeconds);
}

int ShowWatched(const CommandLine &line, const QString &historyFile, ConsoleStreams &streams)
{
    WatchList list(historyFile);
    // Listing makes no file.
    const std::optional<std::vector<WatchedDomain>> watched =
        IsServerLocation(historyFile) || QFileInfo::exists(historyFile) ? list.Watched() : std::vector<WatchedDomain>{};
    if (!watched) {
        streams.Say(HistoryReadFailureText(list.Error()));
        return kExitOutputFailed;
    }
    HistoryReader reader(historyFile);
    QHash<QString, RunSummary> latest;
    for (const DomainSummary &domain : reader.Domains())
        latest.insert(domain.domain, domain.last);
    if (!reader.Error().isEmpty()) {
        streams.Say(HistoryReadFailureText(reader.Error()));
        return kExitOutputFailed;
    }
    std::vector<WatchedSite> sites;
    for (const WatchedDomain &watch : *watched) {
        const auto found = latest.constFind(watch.domain);
        sites.push_back({watch, found == latest.cend() ? std::nullopt : std::optional(*found)});
    }
    if (!streams.Out(FormatCells(line.format, WatchedTable(sites), WatchedJson(sites)))) {
        streams.ReportFailure();
        return kExitOutputFailed;
    }
    return kExitCompleted;
}

} // namespace

int RunWatchCommand(const CommandLine &line, const QString &historyFile, ConsoleStreams &streams)
{
    if (line.command == Command::Watched)
        return ShowWatched(line, historyFile, streams);
    const QString typed = line.checkDomain.value_or(QString());
    const QString domain = SiteKey(typed); // one watch per site, whatever form of its name
    if (!IsCheckableHost(ReduceToHost(typed))) {
        streams.Say(QStringLiteral("vantorel: 请输入正确的网站地址：%1").arg(typed));
        return streams.ReportFailure() ? kExitOutputFailed : kExitUsage;
    }
    WatchList list(historyFile);
    if (line.command == Command::Watch) {
        if (!list.Watch(domain, line.everyHours, QDateTime::currentDateTime(), line.confirmChecks)) {
            streams.Say(HistoryFailureText(list.Error()));
            return kExitOutputFailed;
        }
        streams.Say(QStringLiteral("已加入自动复查：%1，每 %2 小时一次").arg(SiteShown(domain)).arg(line.everyHours));
        return streams.ReportFailure() ? kExitOutputFailed : kExitCompleted;
    }
    const std::optional<bool> removed = list.Unwatch(domain);
    if (!removed) {
        streams.Say(HistoryFailureText(list.Error()));
        return kExitOutputFailed;
    }
    streams.Say((*removed ? QStringLiteral("已移出自动复查：%1") : QStringLiteral("%1 不在自动复查列表中")).arg(SiteShown(domain)));
    return streams.ReportFailure() ? kExitOutputFailed : kExitCompleted;
}

namespace {

// The watch list failing is said in its own words: the history's runs may still be kept.
QString WatchListFailureText(const QString &reason)
{
    return QStringLiteral("自动复查列表无法读写：") + reason;
}

// The due re-checks of one process: up to --workers sites at once, each claimed, renewed while
// its check goes on and released when it ends; more are claimed as checks end, until none is
// due. All in the event loop of the calling thread.
class DueRechecks final : public QObject {
public:
    DueRechecks(const CommandLine &line, const QString &historyFile, ConsoleStreams &streams, AnalysisSettings settings)
        : list_(historyFile), hold_(ClaimHold(line, settings)), line_(line), streams_(streams),
          // A bar per site would overwrite the others'.
          progressBar_(line.workers == 1 && ::isatty(STDERR_FILENO) == 1),
          settings_(CheckSettings(line, std::move(settings), streams, line.workers))
    {
        line_.command = Command::Monitor;
        line_.failOnLost = true;
    }

    // The worst status of the re-checks, once none is running and none is due.
    int Run()
    {
        streams_.onFailure = [this] { Stop(); };
        const InterruptWatch interrupts([this] { Stop(); });
        Fill();
        if (!rechecks_.empty())
            QCoreApplication::exec();
        // The ended checks, their writers' threads with them, whether or not the loop ran.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        if (!ended_.empty())
            TellAll();
        return interrupts.StoppedStatus(worst_);
    }

private:
    struct Recheck {
        QString domain;
        QDateTime started;
        std::unique_ptr<ConsoleStreams> streams; // its lines start with the site
        std::unique_ptr<CheckRun> run;
        std::unique_ptr<QTimer> renewal;
        bool claimLost = false; // another worker may have the site: this run tells nothing
    };

    struct Ended {
        QString domain;
        int status = kExitCompleted;
        int lost = 0;
        std::optional<SiteResults> results;
        std::unique_ptr<ConsoleStreams> streams; // outlives the run's last posted events
    };

    // Every site's results in one output, then a line for them all:
    // "复查 3 个网站：丢失 3 条（a.com 2，b.com 1），无法判断 1 个".
    void TellAll()
    {
        std::vector<SiteResults> results;
        int lost = 0, unknown = 0;
        QStringList losers;
        for (const Ended &ended : ended_) {
            if (ended.results)
                results.push_back(*ended.results);
            lost += ended.lost;
            if (ended.lost > 0)
                losers << QStringLiteral("%1 %2").arg(SiteShown(ended.domain)).arg(ended.lost);
            else if (ended.status != kExitCompleted && ended.status != kExitLinksLost)
                ++unknown;
        }
        if (!results.empty() && !streams_.Out(FormatSitesResults(line_.format, results))) {
            streams_.ReportFailure();
            worst_ = std::max<int>(worst_, kExitOutputFailed);
            return;
        }
        QString summary = QStringLiteral("复查 %1 个网站：丢失 %2 条").arg(ended_.size()).arg(lost);
        if (!losers.isEmpty())
            summary += u'（' + losers.join(u'，') + u'）';
        if (unknown > 0)
            summary += QStringLiteral("，无法判断 %1 个").arg(unknown);
        streams_.Say(summary);
    }

    void Stop()
    {
        stopping_ = true;
        for (const auto &[id, recheck] : rechecks_)
            recheck.run->Stop();
    }

    // Claims and starts due sites while there are free places; ends the loop when nothing runs.
    void Fill()
    {
        while (!stopping_ && !exhausted_ && static_cast<int>(rechecks_.size()) < line_.workers) {
            const QDateTime started = QDateTime::currentDateTime();
            const std::optional<DueSite> due = list_.ClaimDue(worker_, started, hold_);
            if (due && done_.contains(due->domain)) // its release failed before: let it go again
                list_.Release(due->domain, worker_, std::nullopt);
            if (!due || done_.contains(due->domain)) {
                exhausted_ = true;
                if (!list_.Error().isEmpty()) { // the sites due cannot be known, nor their losses
                    streams_.Say(WatchListFailureText(list_.Error()));
                    worst_ = std::max<int>(worst_, kExitCannotJudge);
                } else if (done_.isEmpty()) {
                    streams_.Say(QStringLiteral("没有到期的网站"));
                }
                break;
            }
            done_.insert(due->domain);
            Begin(*due, started);
        }
        if (rechecks_.empty())
            QCoreApplication::exit();
    }

    void Begin(const DueSite &due, const QDateTime &started)
    {
        const QString &domain = due.domain;
        streams_.Say(QStringLiteral("到期复查：%1").arg(SiteShown(domain)));
        const quint64 id = ++lastId_;
        Recheck &recheck = rechecks_[id];
        recheck.domain = domain;
        recheck.started = started;
        recheck.renewal = std::make_unique<QTimer>();
        recheck.renewal->setInterval(std::max<std::chrono::milliseconds>(hold_ / 3, std::chrono::seconds(1)));
        QObject::connect(recheck.renewal.get(), &QTimer::timeout, this, [this, id, domain] {
            if (list_.Renew(domain, worker_, QDateTime::currentDateTime().addSecs(hold_.count())))
                return;
            // Past its claim the site may be another worker's: two runs would tell its changes twice.
            Recheck &lost = rechecks_.at(id);
            lost.claimLost = true;
            lost.renewal->stop();
            streams_.Say(QStringLiteral("%1：%2，停止复查")
                             .arg(SiteShown(domain), list_.Error().isEmpty() ? QStringLiteral("认领已被其他复查者取得")
                                                                             : WatchListFailureText(list_.Error())));
            lost.run->Stop();
        });
        recheck.renewal->start();
        CommandLine one = line_;
        one.checkDomain = domain;
        one.confirmChecks = due.confirmChecks;
        recheck.streams = std::make_unique<ConsoleStreams>(streams_, SiteShown(domain) + u'：');
        recheck.run = std::make_unique<CheckRun>(one, settings_, *recheck.streams, progressBar_, true);
        QObject::connect(recheck.run.get(), &CheckRun::Done, this, [this, id](int status) { End(id, status); });
        if (const std::optional<int> status = recheck.run->Start())
            End(id, *status);
    }

    void End(quint64 id, int status)
    {
        const auto found = rechecks_.find(id);
        Recheck &recheck = found->second;
        recheck.renewal->stop();
        // A re-check that did not go to the end leaves its site due, for the next worker to take;
        // one that left losses to confirm makes it due again within the hour.
        if (!list_.Release(recheck.domain, worker_, recheck.run->Stopped() ? std::nullopt : std::optional(recheck.started),
                           recheck.run->Unconfirmed()))
            streams_.Say(WatchListFailureText(list_.Error()));
        if (recheck.claimLost)
            status = kExitCannotJudge;
        else if (status == kExitInterrupted)
            Stop();
        worst_ = std::max(worst_, status);
        ended_.push_back({recheck.domain, status, recheck.claimLost ? 0 : recheck.run->Lost(), recheck.run->Results(),
                          std::move(recheck.streams)});
        // The run that said Done is still in its signal.
        recheck.run.release()->deleteLater();
        rechecks_.erase(found);
        QMetaObject::invokeMethod(this, &DueRechecks::Fill, Qt::QueuedConnection);
    }

    WatchList list_;
    const QString worker_ = WorkerName();
    const std::chrono::seconds hold_;
    CommandLine line_;
    ConsoleStreams &streams_;
    const bool progressBar_;
    const AnalysisSettings settings_;
    std::map<quint64, Recheck> rechecks_;
    std::vector<Ended> ended_; // in the order they ended
    quint64 lastId_ = 0;
    QSet<QString> done_; // a site whose release failed stays due: once is enough
    bool exhausted_ = false;
    bool stopping_ = false;
    int worst_ = kExitCompleted;
};

} // namespace

int RecheckDue(const CommandLine &line, const QString &historyFile, ConsoleStreams &streams,
               const AnalysisSettings &settings)
{
    return DueRechecks(line, historyFile, streams, settings).Run();
}

} // namespace vantorel
