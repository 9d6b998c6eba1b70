#include "CheckCommand.h"

#include "ConsoleOutput.h"
#include "ConsoleProgress.h"
#include "HistoryCommand.h"
#include "WatchCommand.h"

#include <ChangeNotice.h>
#include <DesktopNotifier.h>
#include <Domain.h>
#include <HistoryDatabase.h>
#include <HistoryReader.h>
#include <RunHistory.h>
#include <Network.h>
#include <Webhook.h>

#include <QCoreApplication>
#include <QFile>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace vantorel {

namespace {

// Ctrl+C stops the run from inside the event loop: the signal handler only writes to a pipe.
class InterruptWatch {
public:
    explicit InterruptWatch(BacklinkAnalysis &analysis)
    {
        if (::pipe(pipe_) != 0)
            return;
        writeEnd_ = pipe_[1];
        notifier_ = std::make_unique<QSocketNotifier>(pipe_[0], QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this, &analysis] {
            char byte;
            [[maybe_unused]] const ssize_t got = ::read(pipe_[0], &byte, 1);
            analysis.Stop();
        });
        previous_ = std::signal(SIGINT, [](int) {
            const char byte = 1;
            [[maybe_unused]] const ssize_t written = ::write(writeEnd_, &byte, 1);
        });
    }
    ~InterruptWatch()
    {
        if (notifier_) {
            std::signal(SIGINT, previous_);
            notifier_.reset();
            ::close(pipe_[0]);
            ::close(pipe_[1]);
        }
    }
    InterruptWatch(const InterruptWatch &) = delete;
    InterruptWatch &operator=(const InterruptWatch &) = delete;

private:
    static inline volatile std::sig_atomic_t writeEnd_ = -1;
    int pipe_[2] = {-1, -1};
    std::unique_ptr<QSocketNotifier> notifier_;
    void (*previous_)(int) = SIG_DFL;
};

// The addresses of --urls, or nothing after saying why there are none.
std::optional<QStringList> ListedAddresses(const QString &path, ConsoleStreams &streams)
{
    const auto Say = [&streams](const QString &text) { streams.Say(text); };
    QFile file;
    const bool opened = path == u"-" ? file.open(stdin, QIODevice::ReadOnly) : (file.setFileName(path), file.open(QIODevice::ReadOnly));
    if (!opened) {
        Say(QStringLiteral("无法读取 %1：%2").arg(path, file.errorString()));
        return std::nullopt;
    }
    const AddressList list = ReadAddressList(file.readAll());
    for (const QString &note : AddressListNotes(list))
        Say(note);
    if (list.addresses.isEmpty())
        return std::nullopt;
    return list.addresses;
}

// What the stored run changed against the run before it; nothing when the store cannot tell.
std::optional<ChangeNotice> StoredNotice(const HistoryWriter &writer, qint64 runId, const QString &historyFile,
                                         ConsoleStreams &streams)
{
    if (runId == 0 || !writer.FirstFailure().isEmpty())
        return std::nullopt;
    HistoryReader reader(historyFile);
    std::optional<ChangeNotice> notice = ReadNotice(reader, runId);
    if (!notice)
        streams.Say(HistoryReadFailureText(reader.Error()));
    return notice;
}

// Tells the desktop and the webhooks what the run changed; a failure is a line on standard
// error and changes nothing else.
void Tell(const ChangeNotice &notice, const CommandLine &line, ConsoleStreams &streams)
{
    if (line.notify) {
        DesktopNotifier notifier;
        QObject::connect(&notifier, &DesktopNotifier::Failed, [&streams](const QString &reason) { streams.Say(reason); });
        if (notifier.Notify(notice))
            notifier.WaitForAnswers();
    }
    for (const QString &failure : PostNotice(line.notifyUrls, notice))
        streams.Say(failure);
}

} // namespace

int RunCheck(const CommandLine &line, AnalysisSettings settings)
{
    ConsoleStreams streams;
    const QString historyFile = line.historyFile.value_or(DefaultHistoryPath());
    if (line.command == Command::History || line.command == Command::Changes)
        return ShowHistory(line, historyFile, streams);
    if (line.command == Command::Watch || line.command == Command::Unwatch || line.command == Command::Watched)
        return RunWatchCommand(line, historyFile, streams);
    if (line.command == Command::RecheckDue)
        return RecheckDue(line, historyFile, streams, settings);

    settings.pause = std::chrono::milliseconds(0);
    // Every check from the command line is a list check, however its rows were found.
    settings.jobs = line.jobs.value_or(settings.listJobs);
    settings.listJobs = settings.jobs;
    if (line.retries)
        settings.retry.retries = *line.retries;
    if (line.timeoutSeconds) {
        settings.fetchLimits.totalTimeout = std::chrono::seconds(*line.timeoutSeconds);
        settings.fetchLimits.connectTimeout = std::min(settings.fetchLimits.connectTimeout, settings.fetchLimits.totalTimeout);
    }
    // Each page in flight takes descriptors: as many as the system allows, said when fewer.
    const DescriptorBudget budget = RaiseDescriptorLimit(settings.jobs);
    if (!budget.warning.isEmpty())
        streams.Say(budget.warning);
    settings.jobs = settings.listJobs = budget.jobs;
    std::optional<QStringList> urls;
    if (line.urlsFile && !(urls = ListedAddresses(*line.urlsFile, streams)))
        return streams.ReportFailure() ? kExitOutputFailed : kExitUsage;
    const QString domain = line.checkDomain.value_or(QString());
    if (line.command == Command::Recheck) {
        HistoryReader reader(historyFile);
        urls = reader.KnownValidAddresses(ReduceToHost(domain));
        if (!reader.Error().isEmpty()) {
            streams.Say(HistoryReadFailureText(reader.Error()));
            return kExitOutputFailed;
        }
        // Still a run: a schedule shows that it ran, and --history that it found nothing.
        if (urls->isEmpty())
            streams.Say(QStringLiteral("历史记录中没有 %1 曾经有效的外链").arg(ReduceToHost(domain)));
    }

    BacklinkAnalysis analysis(settings);
    std::optional<HistoryWriter> writer;
    std::optional<RunHistory> history;
    if (line.storeRun) {
        writer.emplace(historyFile);
        history.emplace(analysis, *writer);
        QObject::connect(&*history, &RunHistory::FailureToShow, [&streams](const QString &text) { streams.Say(text); });
    }
    ConsoleProgress progress(analysis, streams, ::isatty(STDERR_FILENO) == 1);
    // Results nobody can read are not worth waiting for.
    streams.onFailure = [&analysis] { analysis.Stop(); };
    QObject::connect(&analysis, &BacklinkAnalysis::Finished, QCoreApplication::instance(),
                     [] { QCoreApplication::exit(); });
    {
        InterruptWatch interrupts(analysis);
        if (urls)
            analysis.CheckAddresses(*urls, domain, line.command == Command::Recheck ? RunKind::Recheck : RunKind::AddressList);
        else
            analysis.RunAnalysis(domain);
        if (analysis.Running())
            QCoreApplication::exec();
    }
    progress.Finish();
    if (writer) {
        // The run's id and any failure of the store arrive as queued signals.
        writer->WaitUntilWritten();
        QCoreApplication::sendPostedEvents();
    }
    if (streams.ReportFailure())
        return kExitOutputFailed;

    switch (analysis.Outcome()) {
    case RunOutcome::NoDomain:
        streams.Say(progress.Status());
        return kExitUsage;
    case RunOutcome::EngineUnreachable:
        streams.Say(progress.Status());
        return kExitEngineUnreachable;
    case RunOutcome::EngineRefused:
    case RunOutcome::PageUnrecognised:
        streams.Say(progress.Status());
        return kExitEngineRefused;
    case RunOutcome::Running:
    case RunOutcome::Completed:
    case RunOutcome::Stopped:
        break;
    }
    if (!streams.Out(FormatResults(line.format, analysis.Domain(), analysis.CountText(), analysis.Rows()))) {
        streams.ReportFailure();
        return kExitOutputFailed;
    }
    if (analysis.Outcome() != RunOutcome::Completed)
        return kExitInterrupted;
    const bool tells = line.notify || !line.notifyUrls.isEmpty();
    const std::optional<ChangeNotice> notice =
        writer && (tells || line.failOnLost) ? StoredNotice(*writer, history->CurrentRunId(), historyFile, streams)
                                             : std::nullopt;
    if (notice && tells)
        Tell(*notice, line, streams);
    if (line.failOnLost && notice && notice->Count(kLostKind) > 0)
        return kExitLinksLost;
    return kExitCompleted;
}

} // namespace vantorel
