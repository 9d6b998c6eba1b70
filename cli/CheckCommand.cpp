#include "CheckCommand.h"

#include "ConsoleOutput.h"
#include "ConsoleProgress.h"
#include "HistoryCommand.h"
#include "ReportCommand.h"
#include "WatchCommand.h"

#include <AddressList.h>
#include <ChangeNotice.h>
#include <DesktopNotifier.h>
#include <Domain.h>
#include <HistoryDatabase.h>
#include <HistoryReader.h>
#include <HistoryReport.h>
#include <Mail.h>
#include <RunHistory.h>
#include <Network.h>
#include <Webhook.h>

#include <QCoreApplication>
#include <QFile>
#include <QFutureWatcher>
#include <QSet>
#include <QtConcurrent/QtConcurrentRun>
#include <QSocketNotifier>

#include <algorithm>
#include <csignal>
#include <iterator>
#include <cstdio>
#include <unistd.h>
#include <variant>

namespace vantorel {

// The signals stop the runs from inside the event loop: the handler only writes the signal's
// number to a pipe.
InterruptWatch::InterruptWatch(std::function<void()> stop)
{
    if (::pipe(pipe_) != 0)
        return;
    writeEnd_ = pipe_[1];
    notifier_ = std::make_unique<QSocketNotifier>(pipe_[0], QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this, stop = std::move(stop)] {
        char byte = 0;
        if (::read(pipe_[0], &byte, 1) == 1 && signal_ == 0)
            signal_ = byte;
        stop();
    });
    for (std::size_t i = 0; i < std::size(kSignals); ++i)
        previous_[i] = std::signal(kSignals[i], [](int signal) {
            const char byte = static_cast<char>(signal);
            [[maybe_unused]] const ssize_t written = ::write(writeEnd_, &byte, 1);
        });
}

int InterruptWatch::StoppedStatus(int status) const
{
    return signal_ != 0 && status == kExitInterrupted ? 128 + signal_ : status;
}

InterruptWatch::~InterruptWatch()
{
    if (notifier_) {
        for (std::size_t i = 0; i < std::size(kSignals); ++i)
            std::signal(kSignals[i], previous_[i]);
        notifier_.reset();
        ::close(pipe_[0]);
        ::close(pipe_[1]);
    }
}

namespace {

// Why the loss cannot be judged when the history could not be read.
QString UnreadableHistory(const QString &reason)
{
    return QStringLiteral("无法读取历史记录（%1）").arg(reason);
}

// The list of --urls for the site, or nothing after saying why it has no address.
std::optional<AddressList> ListedAddresses(const QString &path, const QString &site, ConsoleStreams &streams)
{
    const auto Say = [&streams](const QString &text) { streams.Say(text); };
    QFile file;
    const bool opened = path == u"-" ? file.open(stdin, QIODevice::ReadOnly) : (file.setFileName(path), file.open(QIODevice::ReadOnly));
    if (!opened) {
        Say(QStringLiteral("无法读取 %1：%2").arg(path, file.errorString()));
        return std::nullopt;
    }
    AddressList list = ReadAddressList(file, site);
    list.source = path == u"-" ? QStringLiteral("标准输入") : path;
    if (const QString summary = AddressListSummary(list); !summary.isEmpty())
        Say(summary);
    for (const QString &note : AddressListNotes(list))
        Say(note);
    if (list.addresses.isEmpty())
        return std::nullopt;
    return list;
}

// The words that start each exit 6.
QString CannotJudgeText(const QString &reason)
{
    return QStringLiteral("无法判断是否丢失外链：") + reason;
}

// The addresses of a run without the engine: --urls, or those the history knows for --recheck;
// for a monitoring run, those the history knows, which may be none. An exit status instead when
// there are none to check.
std::variant<std::optional<AddressList>, int> AddressesToCheck(const CommandLine &line, const QString &historyFile,
                                                               ConsoleStreams &streams)
{
    const QString domain = line.checkDomain.value_or(QString());
    if (line.urlsFile) {
        if (std::optional<AddressList> list = ListedAddresses(*line.urlsFile, domain, streams))
            return list;
        return streams.ReportFailure() ? kExitOutputFailed : kExitUsage;
    }
    if (line.command != Command::Recheck && line.command != Command::Monitor)
        return std::nullopt;
    HistoryReader reader(historyFile);
    const QStringList known = reader.KnownValidAddresses(domain);
    QString nothing;
    if (!reader.Error().isEmpty()) {
        if (!line.failOnLost) {
            streams.Say(HistoryReadFailureText(reader.Error()));
            return kExitOutputFailed;
        }
        nothing = UnreadableHistory(reader.Error());
    } else if (known.isEmpty() && line.command == Command::Recheck) {
        // Not a run: a re-check of nothing would only make the history longer.
        nothing = QStringLiteral("历史记录中没有 %1 曾经有效的外链").arg(SiteShown(SiteKey(domain)));
        if (!line.failOnLost) {
            streams.Say(nothing);
            const auto out = [&streams](QByteArrayView bytes) { return streams.Out(bytes); };
            return WriteResults(line.format, ReduceToHost(domain), std::nullopt, {}, out) ? kExitCompleted : kExitOutputFailed;
        }
    } else {
        AddressList list;
        list.addresses = known;
        return list;
    }
    streams.Say(CannotJudgeText(nothing));
    return kExitCannotJudge;
}

// The stored run's changes, or why they cannot be had.
struct StoredChanges {
    std::vector<RowChange> changes;
    QString unknown;
    QString readError; // the run was stored, and could not be read back
    std::optional<ChangeNotice> notice; // when the run is to be told
};

StoredChanges ReadChanges(const HistoryWriter &writer, qint64 runId, const QString &historyFile, bool toTell)
{
    if (const QString failure = writer.FirstFailure(); !failure.isEmpty())
        return {{}, QStringLiteral("历史记录无法保存（%1）").arg(failure), {}, {}};
    if (runId == 0)
        return {{}, QStringLiteral("这次检测没有保存到历史记录"), {}, {}};
    HistoryReader reader(historyFile);
    const std::optional<RunChanges> changes = reader.Changes(runId);
    std::optional<ChangeNotice> notice = changes && toTell ? ReadNotice(reader, *changes) : std::nullopt;
    if (!changes || (toTell && !notice))
        return {{}, UnreadableHistory(reader.Error()), reader.Error(), {}};
    return {changes->changes, {}, {}, std::move(notice)};
}

bool NoPageHad(const std::vector<ResultRow> &rows)
{
    return !rows.empty() && std::all_of(rows.begin(), rows.end(), [](const ResultRow &row) {
        return !row.evidence || Strength(*row.evidence) == VerdictStrength::Unreachable;
    });
}

// After a run kept in the history: its changes, a line per kind, on standard error, and with
// --fail-on-lost, whether a link was lost or why that cannot be told.
int TellChanges(const CommandLine &line, const StoredChanges &stored, const std::vector<ResultRow> &rows,
                ConsoleStreams &streams)
{
    for (const QString &summary : ChangeSummary(stored.changes))
        streams.Say(summary);
    if (!line.failOnLost) {
        if (!stored.readError.isEmpty())
            streams.Say(HistoryReadFailureText(stored.readError));
        return kExitCompleted;
    }
    if (std::any_of(stored.changes.begin(), stored.changes.end(),
                    [](const RowChange &change) { return IsLoss(change.kind); }))
        return kExitLinksLost;
    QString unknown = stored.unknown;
    if (unknown.isEmpty() && NoPageHad(rows))
        unknown = QStringLiteral("没有一个网页能够访问（%1 条均未能检测）").arg(rows.size());
    if (unknown.isEmpty())
        return kExitCompleted;
    streams.Say(CannotJudgeText(unknown));
    return kExitCannotJudge;
}

} // namespace

// Every check from the command line is a list check, however its rows were found, with as many
// pages at once as the system's descriptors allow, shared evenly by the runs at once.
AnalysisSettings CheckSettings(const CommandLine &line, AnalysisSettings settings, ConsoleStreams &streams, int runsAtOnce)
{
    settings.pause = std::chrono::milliseconds(0);
    bool isNumber = false;
    if (const int gap = qEnvironmentVariableIntValue("VANTOREL_SEARCH_GAP_MS", &isNumber); isNumber && gap >= 0)
        settings.searchGap = std::chrono::milliseconds(gap);
    settings.jobs = settings.listJobs = line.jobs.value_or(settings.listJobs) * runsAtOnce;
    if (line.retries)
        settings.retry.retries = *line.retries;
    if (line.render)
        settings.render = *line.render;
    settings.checkTargets = line.checkTargets;
    if (line.timeoutSeconds) {
        settings.fetchLimits.totalTimeout = std::chrono::seconds(*line.timeoutSeconds);
        settings.fetchLimits.connectTimeout = std::min(settings.fetchLimits.connectTimeout, settings.fetchLimits.totalTimeout);
    }
    if (const QString warning = FitDescriptorBudget(settings); !warning.isEmpty())
        streams.Say(warning);
    settings.jobs = settings.listJobs = std::max(1, settings.listJobs / runsAtOnce);
    return settings;
}

int RunCheck(const CommandLine &line, AnalysisSettings settings)
{
    ConsoleStreams streams;
    // As the window's export: Chinese spreadsheets read UTF-8 only after its byte order mark,
    // once at the start of the output, however many tables follow.
    if (line.format == OutputFormat::Csv)
        streams.outLead = QByteArrayLiteral("\xEF\xBB\xBF");
    const QString historyFile = line.historyFile.value_or(DefaultHistoryPath());
    if (line.command == Command::History || line.command == Command::Changes)
        return ShowHistory(line, historyFile, streams);
    if (line.command == Command::Watch || line.command == Command::Unwatch || line.command == Command::Watched)
        return RunWatchCommand(line, historyFile, streams);
    if (line.command == Command::RecheckDue)
        return RecheckDue(line, historyFile, streams, settings);
    if (line.command == Command::CopyHistory)
        return CopyHistoryCommand(line, streams);
    if (line.command == Command::Prune)
        return PruneCommand(line, historyFile, streams);
    if (line.command == Command::Forget)
        return ForgetCommand(line, historyFile, streams);
    if (line.command == Command::Disavow)
        return DisavowCommand(line, historyFile, streams);
    if (line.command == Command::Expect)
        return ExpectCommand(line, historyFile, streams);
    if (line.command == Command::Report)
        return RunReport(line, historyFile, streams);

    CheckRun run(line, CheckSettings(line, std::move(settings), streams), streams, ::isatty(STDERR_FILENO) == 1);
    // Results nobody can read are not worth waiting for.
    streams.onFailure = [&run] { run.Stop(); };
    const InterruptWatch interrupts([&run] { run.Stop(); });
    if (const std::optional<int> status = run.Start())
        return *status;
    int status = kExitCompleted;
    QObject::connect(&run, &CheckRun::Done, [&status](int done) {
        status = done;
        QCoreApplication::exit();
    });
    QCoreApplication::exec();
    return interrupts.StoppedStatus(status);
}

CheckRun::CheckRun(CommandLine line, AnalysisSettings settings, ConsoleStreams &streams, bool progressBar,
                   bool keepResults)
    : line_(std::move(line)), historyFile_(line_.historyFile.value_or(DefaultHistoryPath())),
      settings_(std::move(settings)), streams_(streams), progressBar_(progressBar), keepResults_(keepResults)
{
    pool_.setMaxThreadCount(1);
}

CheckRun::~CheckRun() = default;

std::optional<int> CheckRun::Start()
{
    const auto addresses = AddressesToCheck(line_, historyFile_, streams_);
    if (const int *status = std::get_if<int>(&addresses))
        return *status;
    const std::optional<AddressList> &urls = std::get<std::optional<AddressList>>(addresses);
    const QString domain = line_.checkDomain.value_or(QString());

    analysis_ = std::make_unique<BacklinkAnalysis>(settings_);
    if (line_.storeRun) {
        writer_ = std::make_unique<HistoryWriter>(historyFile_);
        history_ = std::make_unique<RunHistory>(*analysis_, *writer_);
        history_->SetConfirmChecks(line_.confirmChecks);
        history_->SetExpectFromFirst(line_.expectFromFirst);
        connect(history_.get(), &RunHistory::FailureToShow, this, [this](const QString &text) { streams_.Say(text); });
    }
    progress_ = std::make_unique<ConsoleProgress>(*analysis_, streams_, progressBar_);
    connect(analysis_.get(), &BacklinkAnalysis::BrowserFailed, this, [this](const QString &line) { streams_.Say(line); });
    connect(analysis_.get(), &BacklinkAnalysis::Finished, this, [this] {
        if (!starting_ && !finished_)
            Finish();
    });
    starting_ = true;
    if (urls && history_)
        history_->KeepExported(domain, urls->exported);
    if (line_.command == Command::Monitor)
        analysis_->MonitorSite(domain, urls->addresses);
    else if (urls)
        analysis_->CheckAddresses(urls->addresses, domain,
                                  line_.command == Command::Recheck ? RunKind::Recheck : RunKind::AddressList);
    else
        analysis_->RunAnalysis(domain);
    starting_ = false;
    // A run that ended while it was being started ends from the event loop, as any other.
    if (!analysis_->Running())
        QMetaObject::invokeMethod(this, &CheckRun::Finish, Qt::QueuedConnection);
    return std::nullopt;
}

void CheckRun::Stop()
{
    if (analysis_)
        analysis_->Stop();
}

bool CheckRun::Stopped() const
{
    return analysis_ && analysis_->Outcome() == RunOutcome::Stopped;
}

struct CheckRun::Conclusion {
    StoredChanges stored;
    QStringList failures; // of the webhooks and the mail, a line each
};

void CheckRun::Finish()
{
    if (std::exchange(finished_, true))
        return;
    progress_->Finish();
    if (const std::optional<int> status = Conclude()) {
        emit Done(*status);
        return;
    }
    // What the store and the notices take (waiting for the writer, reading the changes back, a
    // webhook that never answers) runs on this run's own thread: the event loop goes on driving
    // every other run's transfers meanwhile.
    auto *written = new QFutureWatcher<void>(this);
    connect(written, &QFutureWatcher<void>::finished, this, [this, written] {
        written->deleteLater();
        // The writer is done: the run's id came before this, posted from its thread.
        const qint64 runId = history_->CurrentRunId();
        const bool toTell = line_.notify || !line_.notifyUrls.isEmpty() || !line_.mail.to.isEmpty();
        auto *read = new QFutureWatcher<Conclusion>(this);
        connect(read, &QFutureWatcher<Conclusion>::finished, this, [this, read] {
            read->deleteLater();
            Told(read->result());
        });
        read->setFuture(QtConcurrent::run(&pool_, [writer = writer_.get(), runId, historyFile = historyFile_, toTell,
                                                   urls = line_.notifyUrls, mail = line_.mail] {
            Conclusion conclusion{ReadChanges(*writer, runId, historyFile, toTell), {}};
            if (conclusion.stored.notice)
                conclusion.failures = SendNotice(urls, mail, *conclusion.stored.notice);
            return conclusion;
        }));
    });
    written->setFuture(QtConcurrent::run(&pool_, [writer = writer_.get()] { writer->WaitUntilWritten(); }));
}

std::optional<int> CheckRun::Conclude()
{
    if (streams_.ReportFailure())
        return kExitOutputFailed;
    const BacklinkAnalysis &analysis = *analysis_;
    switch (analysis.Outcome()) {
    case RunOutcome::NoDomain:
        streams_.Say(progress_->Status());
        return kExitUsage;
    case RunOutcome::EngineUnreachable:
        streams_.Say(progress_->Status());
        return kExitEngineUnreachable;
    case RunOutcome::EngineRefused:
    case RunOutcome::PageUnrecognised:
        streams_.Say(progress_->Status());
        return kExitEngineRefused;
    case RunOutcome::Running:
    case RunOutcome::Completed:
    case RunOutcome::Stopped:
        break;
    }
    // A stopped run prints what it judged; the rows it never reached are no results. A completed
    // run's rows are printed where they are: a copy of 100,000 would weigh tens of megabytes.
    const bool stopped = analysis.Outcome() != RunOutcome::Completed;
    std::vector<ResultRow> judged;
    if (stopped || keepResults_)
        std::copy_if(analysis.Rows().begin(), analysis.Rows().end(), std::back_inserter(judged),
                     [stopped](const ResultRow &row) { return !stopped || row.evidence; });
    std::span<const ResultRow> rows = stopped ? judged : analysis.Rows();
    if (keepResults_)
        rows = (results_ = SiteResults{analysis.Domain(), analysis.CountText(), std::move(judged)})->rows;
    else if (!WriteResults(line_.format, analysis.Domain(), analysis.CountText(), rows,
                           [this](QByteArrayView bytes) { return streams_.Out(bytes); })) {
        streams_.ReportFailure();
        return kExitOutputFailed;
    }
    if (stopped) {
        streams_.Say(QStringLiteral("已停止：检测了 %1/%2 条").arg(rows.size()).arg(analysis.Rows().size()));
        return streams_.ReportFailure() ? kExitOutputFailed : kExitInterrupted;
    }
    if (!analysis.EngineProblem().isEmpty())
        streams_.Say(progress_->Status());
    else if (rows.empty() && line_.command == Command::Check && !line_.urlsFile)
        streams_.Say(QStringLiteral("搜索引擎没有找到外链"));
    if (!writer_)
        return kExitCompleted;
    return std::nullopt;
}

// Standard error ends with the changes, each kind a line, after what the notices said.
void CheckRun::Told(const Conclusion &conclusion)
{
    for (const QString &failure : conclusion.failures)
        streams_.Say(failure);
    const std::vector<RowChange> &changes = conclusion.stored.changes;
    lost_ = static_cast<int>(std::count_if(changes.begin(), changes.end(), [](const RowChange &change) { return IsLoss(change.kind); }));
    unconfirmed_ = static_cast<int>(std::count_if(changes.begin(), changes.end(), [](const RowChange &change) {
        return change.kind == ChangeKind::UnconfirmedLoss;
    }));
    const auto end = [this, conclusion] {
        const int status = TellChanges(line_, conclusion.stored, analysis_->Rows(), streams_);
        emit Done(streams_.ReportFailure() ? kExitOutputFailed : status);
    };
    if (!line_.notify || !conclusion.stored.notice)
        return end();
    auto *notifier = new DesktopNotifier(this);
    connect(notifier, &DesktopNotifier::Failed, this, [this](const QString &reason) { SayOnce(reason); });
    connect(notifier, &DesktopNotifier::Settled, this, [notifier, end] {
        notifier->deleteLater();
        end();
    });
    if (!notifier->Notify(*conclusion.stored.notice) || !notifier->Pending()) {
        notifier->deleteLater();
        end();
    }
}

// A missing session bus is the same for every site of a process: said once.
void CheckRun::SayOnce(const QString &reason)
{
    static QSet<QString> said;
    if (!said.contains(reason)) {
        said.insert(reason);
        streams_.Say(reason);
    }
}

} // namespace vantorel
