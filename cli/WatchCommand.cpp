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
        if (!list.Watch(domain, line.everyHours, QDateTime::currentDateTime())) {
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

int RecheckDue(const CommandLine &line, const QString &historyFile, ConsoleStreams &streams,
               const AnalysisSettings &settings)
{
    WatchList list(historyFile);
    const QString worker = WorkerName();
    const std::chrono::seconds hold = ClaimHold(line, settings);
    CommandLine recheck = line;
    recheck.command = Command::Recheck;
    recheck.failOnLost = true;
    int worst = kExitCompleted;
    QSet<QString> done; // a site whose release failed stays due: once is enough
    for (;;) {
        const QDateTime started = QDateTime::currentDateTime();
        const std::optional<QString> domain = list.ClaimDue(worker, started, hold);
        if (!domain || done.contains(*domain)) {
            if (!list.Error().isEmpty()) { // the sites due cannot be known, nor their losses
                streams.Say(HistoryReadFailureText(list.Error()));
                worst = std::max<int>(worst, kExitCannotJudge);
            }
            return worst;
        }
        done.insert(*domain);
        streams.Say(QStringLiteral("到期复查：%1").arg(SiteShown(*domain)));
        QTimer renewal;
        renewal.setInterval(std::max<std::chrono::milliseconds>(hold / 3, std::chrono::seconds(1)));
        QObject::connect(&renewal, &QTimer::timeout, [&] {
            list.Renew(*domain, worker, QDateTime::currentDateTime().addSecs(hold.count()));
        });
        renewal.start();
        recheck.checkDomain = *domain;
        const int status = RunCheck(recheck, settings);
        renewal.stop();
        if (!list.Release(*domain, worker, started))
            streams.Say(HistoryFailureText(list.Error()));
        if (status == kExitInterrupted)
            return status;
        worst = std::max(worst, status);
    }
}

} // namespace vantorel
