#include "HistoryCommand.h"

#include "CheckCommand.h"
#include "ConsoleOutput.h"

#include <Domain.h>
#include <HistoryCopy.h>
#include <HistoryReader.h>
#include <HistoryReport.h>

#include <QJsonArray>

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

} // namespace vantorel
