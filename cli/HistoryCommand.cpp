#include "HistoryCommand.h"

#include "CheckCommand.h"
#include "ConsoleOutput.h"

#include <Disavow.h>
#include <Domain.h>
#include <HistoryCopy.h>
#include <HistoryPrune.h>
#include <HistoryReader.h>
#include <HistoryReport.h>

#include <QJsonArray>

#include <functional>

namespace vantorel {

QString HistoryReadFailureText(const QString &reason)
{
    return QStringLiteral("无法读取历史记录：") + reason;
}

int ShowHistory(const CommandLine &line, const QString &historyFile, ConsoleStreams &streams)
{
    const QString domain = SiteKey(line.checkDomain.value_or(QString()));
    if (domain.isEmpty()) {
        streams.Say(QStringLiteral("vantorel: 缺少域名"));
        return streams.ReportFailure() ? kExitOutputFailed : kExitUsage;
    }
    HistoryReader reader(historyFile);
    QByteArray output;
    if (line.command == Command::History) {
        const std::vector<RunSummary> runs = reader.Runs(domain);
        output = FormatCells(line.format, RunsTable(runs), RunsJson(domain, runs));
    } else {
        // The latest run, or the one asked for; a domain without runs has no changes.
        std::optional<qint64> runId = line.runId;
        if (!runId) {
            const std::vector<RunSummary> runs = reader.Runs(domain);
            if (!runs.empty())
                runId = runs.front().run.id;
        }
        const std::optional<RunChanges> changes = runId ? reader.Changes(*runId) : std::nullopt;
        const bool found = changes && changes->run.domain == domain;
        if (line.runId && !found && reader.Error().isEmpty()) {
            streams.Say(QStringLiteral("vantorel: %1 没有编号为 %2 的检测").arg(SiteShown(domain)).arg(*line.runId));
            return streams.ReportFailure() ? kExitOutputFailed : kExitUsage;
        }
        output = found ? FormatCells(line.format, ChangesTable(*changes), ChangesJson(*changes))
                       : FormatCells(line.format, ChangesTable({}),
                                     {{QStringLiteral("run"), QJsonValue()},
                                      {QStringLiteral("previous"), QJsonValue()},
                                      {QStringLiteral("changes"), QJsonArray()}});
    }
    if (!reader.Error().isEmpty()) {
        streams.Say(HistoryReadFailureText(reader.Error()));
        return kExitOutputFailed;
    }
    if (!streams.Out(output)) {
        streams.ReportFailure();
        return kExitOutputFailed;
    }
    return kExitCompleted;
}

int CopyHistoryCommand(const CommandLine &line, ConsoleStreams &streams)
{
    QString error;
    const std::optional<std::vector<CopiedCount>> copied = CopyHistory(line.copyFrom, line.copyTo, line.merge, error);
    if (!copied) {
        streams.Say(QStringLiteral("无法复制历史记录：") + error);
        return kExitOutputFailed;
    }
    QStringList counts;
    for (const CopiedCount &count : *copied)
        counts << count.words.arg(count.count);
    if (!streams.Out((QStringLiteral("已复制：") + counts.join(QStringLiteral("，")) + u'\n').toUtf8())) {
        streams.ReportFailure();
        return kExitOutputFailed;
    }
    return kExitCompleted;
}

int PruneCommand(const CommandLine &line, const QString &historyFile, ConsoleStreams &streams)
{
    const QString domain = line.checkDomain ? SiteKey(*line.checkDomain) : QString();
    if (line.checkDomain && domain.isEmpty()) {
        streams.Say(QStringLiteral("vantorel: 缺少域名"));
        return streams.ReportFailure() ? kExitOutputFailed : kExitUsage;
    }
    HistoryConnection connection(historyFile, QStringLiteral("prune"));
    std::optional<qint64> deleted;
    const QDateTime before = QDateTime::currentDateTime().addDays(-*line.keepDays);
    QString reason = InTransaction(connection, true, [&](QSqlDatabase &db, QSqlError &error) {
        deleted = PruneRuns(db, domain, before, error);
        return deleted.has_value();
    });
    if (reason.isEmpty() && *deleted > 0) {
        QSqlDatabase db = connection.Database();
        if (QSqlError error; !GiveSpaceBack(db, error))
            reason = StoreFailureReason(error, historyFile);
    }
    if (!reason.isEmpty()) {
        streams.Say(QStringLiteral("无法清理历史记录：") + reason);
        return kExitOutputFailed;
    }
    if (!streams.Out(QStringLiteral("已删除 %1 次检测\n").arg(*deleted).toUtf8())) {
        streams.ReportFailure();
        return kExitOutputFailed;
    }
    return kExitCompleted;
}

namespace {

// Changes one of the site's known addresses (change: false when the history holds no such
// address), then prints what it did.
int ChangeAddress(const CommandLine &line, const QString &historyFile, ConsoleStreams &streams, const QString &name,
                  const std::function<bool(QSqlDatabase &, const QString &domain, QSqlError &)> &change, const QString &done)
{
    const QString domain = SiteKey(line.checkDomain.value_or(QString()));
    HistoryConnection connection(historyFile, name);
    bool known = false;
    const QString reason = InTransaction(connection, true, [&](QSqlDatabase &db, QSqlError &error) {
        known = change(db, domain, error);
        return known || !error.isValid();
    });
    if (!reason.isEmpty()) {
        streams.Say(QStringLiteral("无法保存到历史记录：") + reason);
        return kExitOutputFailed;
    }
    if (!known) {
        streams.Say(QStringLiteral("vantorel: 历史记录中 %1 没有网址 %2").arg(SiteShown(domain), line.forgetAddress));
        return streams.ReportFailure() ? kExitOutputFailed : kExitUsage;
    }
    if (!streams.Out((done + u'\n').toUtf8())) {
        streams.ReportFailure();
        return kExitOutputFailed;
    }
    return kExitCompleted;
}

} // namespace

int ForgetCommand(const CommandLine &line, const QString &historyFile, ConsoleStreams &streams)
{
    return ChangeAddress(
        line, historyFile, streams, QStringLiteral("forget"),
        [&](QSqlDatabase &db, const QString &domain, QSqlError &error) { return ForgetAddress(db, domain, line.forgetAddress, error); },
        ForgottenText(SiteKey(line.checkDomain.value_or(QString())), line.forgetAddress));
}

int ExpectCommand(const CommandLine &line, const QString &historyFile, ConsoleStreams &streams)
{
    const LinkExpectation agreed{line.expectTarget, line.expectAnchor, line.expectFollow ? std::optional(true) : std::nullopt};
    const QString domain = SiteKey(line.checkDomain.value_or(QString()));
    const std::optional<AddressCheck> latest =
        HistoryReader(historyFile).LastChecks(domain, {line.forgetAddress}).value(line.forgetAddress).lastReachable;
    return ChangeAddress(
        line, historyFile, streams, QStringLiteral("expect"),
        [&](QSqlDatabase &db, const QString &domain, QSqlError &error) {
            return AgreeLink(db, domain, line.forgetAddress, agreed, error);
        },
        AgreedText(line.forgetAddress, agreed, latest));
}

int DisavowCommand(const CommandLine &line, const QString &historyFile, ConsoleStreams &streams)
{
    const QString domain = SiteKey(line.checkDomain.value_or(QString()));
    if (domain.isEmpty()) {
        streams.Say(QStringLiteral("vantorel: 缺少域名"));
        return streams.ReportFailure() ? kExitOutputFailed : kExitUsage;
    }
    HistoryReader reader(historyFile);
    const QStringList known = reader.KnownValidAddresses(domain);
    const QHash<QString, AddressPast> pasts = reader.LastChecks(domain, known);
    if (!reader.Error().isEmpty()) {
        streams.Say(HistoryReadFailureText(reader.Error()));
        return kExitOutputFailed;
    }
    // A page that could not be had says nothing of its link: its check before counts.
    QStringList listed;
    for (const QString &address : known) {
        const std::optional<AddressCheck> &check = pasts.value(address).lastReachable;
        const bool wanted = line.disavowRows == DisavowRows::All ||
                            (check && check->outcome == (line.disavowRows == DisavowRows::Removed ? StoredOutcome::Removed
                                                                                                : StoredOutcome::NoWeight));
        if (wanted)
            listed << address;
    }
    const DisavowFile file = MakeDisavowFile(SiteShown(domain), listed, QDateTime::currentDateTime());
    if (!file.refusal.isEmpty()) {
        streams.Say(QStringLiteral("无法生成拒绝链接文件：") + file.refusal);
        return kExitOutputFailed;
    }
    if (!streams.Out(file.text)) {
        streams.ReportFailure();
        return kExitOutputFailed;
    }
    return kExitCompleted;
}

} // namespace vantorel
