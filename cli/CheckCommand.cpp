#include "CheckCommand.h"

#include "ConsoleOutput.h"
#include "ConsoleWindow.h"

#include <DecodeBody.h>

#include <QFile>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace vantorel {

namespace {

void Say(const QString &text)
{
    std::fputs((text + u'\n').toUtf8().constData(), stderr);
}

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
std::optional<QStringList> ListedAddresses(const QString &path)
{
    QFile file;
    const bool opened = path == u"-" ? file.open(stdin, QIODevice::ReadOnly) : (file.setFileName(path), file.open(QIODevice::ReadOnly));
    if (!opened) {
        Say(QStringLiteral("无法读取 %1：%2").arg(path, file.errorString()));
        return std::nullopt;
    }
    // A list saved in a Chinese locale may be GBK; a byte order mark or UTF-8 bytes say otherwise.
    const AddressList list = ReadAddressList(DecodePage(file.readAll(), {}, u"gb2312"));
    for (const int line : list.rejectedLines)
        Say(QStringLiteral("第 %1 行不是网址，已跳过。").arg(line));
    if (list.truncated)
        Say(QStringLiteral("地址超过 %1 个，只检测前 %1 个。").arg(kMaxListedAddresses));
    if (list.addresses.isEmpty()) {
        Say(QStringLiteral("没有可以检测的网址。"));
        return std::nullopt;
    }
    return list.addresses;
}

} // namespace

int RunCheck(const CommandLine &line, AnalysisSettings settings)
{
    settings.pause = std::chrono::milliseconds(0);
    settings.jobs = line.jobs;
    if (line.timeoutSeconds) {
        settings.fetchLimits.totalTimeout = std::chrono::seconds(*line.timeoutSeconds);
        settings.fetchLimits.connectTimeout = std::min(settings.fetchLimits.connectTimeout, settings.fetchLimits.totalTimeout);
    }
    std::optional<QStringList> urls;
    if (line.urlsFile && !(urls = ListedAddresses(*line.urlsFile)))
        return kExitUsage;

    ConsoleWindow window(line.checkDomain.value_or(QString()), stderr, ::isatty(STDERR_FILENO) == 1);
    BacklinkAnalysis analysis(window, settings);
    {
        InterruptWatch interrupts(analysis);
        if (urls)
            analysis.CheckAddresses(*urls);
        else
            analysis.RunAnalysis();
    }
    window.FinishProgress();

    switch (analysis.Outcome()) {
    case RunOutcome::NoDomain:
        Say(window.Status());
        return kExitUsage;
    case RunOutcome::EngineUnreachable:
        Say(window.Status());
        return kExitEngineUnreachable;
    case RunOutcome::EngineRefused:
    case RunOutcome::PageUnrecognised:
        Say(window.Status());
        return kExitEngineRefused;
    case RunOutcome::Running:
    case RunOutcome::Completed:
    case RunOutcome::Stopped:
        break;
    }
    const QByteArray output =
        FormatResults(line.format, window.GetDomainText(), analysis.CountText(), window.Results().Rows());
    std::fwrite(output.constData(), 1, static_cast<std::size_t>(output.size()), stdout);
    std::fflush(stdout);
    return analysis.Outcome() == RunOutcome::Completed ? kExitCompleted : kExitInterrupted;
}

} // namespace vantorel
