#include "HeadlessBrowser.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QProcess>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <deque>
#include <functional>
#include <map>
#include <unordered_map>

namespace vantorel {

namespace {

// A browser asked to close that is still there after this long is killed.
constexpr std::chrono::milliseconds kCloseGrace{2'000};
// Room for one protocol message beyond a page's document: JSON may write a character as six.
constexpr qsizetype kMessageOverhead = 1024 * 1024;

// Pop-ups and dialogs are refused before the page's own scripts run; the browser refuses
// what slips past (a frame's own window.open) with --block-new-web-contents and the dialog
// events.
constexpr char kContainment[] = R"((() => {
  const none = () => undefined;
  window.alert = none; window.print = none;
  window.confirm = () => false; window.prompt = () => null; window.open = () => null;
})())";

// The document, or null when it is larger than the limit (kept out of the pipe).
QString ReadDocument(qsizetype limit)
{
    return QStringLiteral("(() => { const h = document.documentElement ? document.documentElement.outerHTML : '';"
                          " return h.length > %1 ? null : [location.href, h]; })()")
        .arg(limit);
}

QString Mebibytes(qsizetype bytes)
{
    return QString::number(bytes / (1024 * 1024));
}

// The proxy as the browser takes it: scheme, host and port, without user name or password.
QString ProxyServer(const QString &value)
{
    QUrl url = QUrl::fromUserInput(value.trimmed());
    if (!url.isValid() || url.host().isEmpty())
        return {};
    url.setUserInfo({});
    url.setPath({});
    return url.toString(QUrl::FullyEncoded);
}

QString FirstSet(const QProcessEnvironment &environment, std::initializer_list<const char *> names)
{
    for (const char *name : names)
        if (const QString value = environment.value(QString::fromLatin1(name)); !value.isEmpty())
            return value;
    return {};
}

} // namespace

QString BrowserProgram(const QProcessEnvironment &environment)
{
    const QString chosen = environment.value(QStringLiteral("VANTOREL_CHROMIUM"));
    return chosen.isEmpty() ? QStringLiteral("chromium") : chosen;
}

QStringList ProxyArguments(const QProcessEnvironment &environment)
{
    // The HTTP client reads http_proxy in lower case only (a CGI program's HTTP_PROXY comes
    // from its request).
    const QString all = ProxyServer(FirstSet(environment, {"ALL_PROXY", "all_proxy"}));
    QString http = ProxyServer(FirstSet(environment, {"http_proxy"}));
    QString https = ProxyServer(FirstSet(environment, {"HTTPS_PROXY", "https_proxy"}));
    if (http.isEmpty())
        http = all;
    if (https.isEmpty())
        https = all;
    QStringList rules;
    if (!http.isEmpty())
        rules << QStringLiteral("http=") + http;
    if (!https.isEmpty())
        rules << QStringLiteral("https=") + https;
    if (rules.isEmpty())
        return {};
    QStringList arguments{QStringLiteral("--proxy-server=") + rules.join(u';')};
    QStringList bypass;
    for (const QString &entry : FirstSet(environment, {"NO_PROXY", "no_proxy"}).split(u',', Qt::SkipEmptyParts))
        bypass << entry.trimmed();
    if (bypass.contains(QStringLiteral("*")))
        return {};
    if (!bypass.isEmpty())
        arguments << QStringLiteral("--proxy-bypass-list=") + bypass.join(u';');
    return arguments;
}

namespace {

// One browser process and its end of the protocol: whole messages out and in, NUL-ended JSON.
// The pipe is a socket pair, so that writing to a browser that died is an error, never SIGPIPE.
class BrowserProcess final : public QObject {
    Q_OBJECT
public:
    BrowserProcess(const QString &program, qsizetype messageLimit, QObject *parent)
        : QObject(parent), messageLimit_(messageLimit)
    {
        process_.setStandardInputFile(QProcess::nullDevice());
        process_.setStandardOutputFile(QProcess::nullDevice());
        process_.setStandardErrorFile(QProcess::nullDevice());
        // Reported from the event loop: Start() may see the failure before it returns.
        connect(&process_, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
            if (error == QProcess::FailedToStart)
                End(QStringLiteral("未找到 Chromium，跳过渲染：%1（%2）").arg(program_, process_.errorString()));
        }, Qt::QueuedConnection);
        connect(&process_, &QProcess::finished, this, [this](int code, QProcess::ExitStatus status) {
            End(status == QProcess::CrashExit ? QStringLiteral("渲染失败：浏览器意外结束")
                                              : QStringLiteral("渲染失败：浏览器意外退出（状态 %1）").arg(code));
        });
        program_ = program;
    }

    ~BrowserProcess() override
    {
        ended_ = true;
        disconnect(&process_, nullptr, this, nullptr); // its end, reaped here, is no news
        Kill();
        process_.waitForFinished(1000); // reaped after SIGKILL, at once
        CloseSocket();
    }

    void Start()
    {
        // Looked for first: a child that cannot run it would close the pipe before QProcess says why.
        if (QStandardPaths::findExecutable(program_).isEmpty())
            return EndLater(QStringLiteral("未找到 Chromium，跳过渲染：%1 不存在或不能执行").arg(program_));
        if (!profile_.isValid()) // QTemporaryDir makes it 0700
            return EndLater(QStringLiteral("渲染失败：无法建立临时目录"));
        int pair[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0)
            return EndLater(QStringLiteral("渲染失败：无法建立与浏览器的管道"));
        socket_ = pair[0];
        // Above 4, so that putting it on 3 and 4 in the child cannot close it first.
        const int theirs = ::fcntl(pair[1], F_DUPFD_CLOEXEC, 5);
        ::close(pair[1]);
        ::fcntl(socket_, F_SETFL, ::fcntl(socket_, F_GETFL) | O_NONBLOCK);
        process_.setChildProcessModifier([theirs] {
            ::dup2(theirs, 3); // dup2 leaves the copies open across exec
            ::dup2(theirs, 4);
            ::setpgid(0, 0); // its helpers in one group with it, ended together by Kill()
        });
        QStringList arguments{
            QStringLiteral("--headless"),
            QStringLiteral("--remote-debugging-pipe"),
            QStringLiteral("--user-data-dir=") + QDir::toNativeSeparators(profile_.path()),
            // Nothing but the pages: no updates, reports, sync, safe browsing or translation.
            QStringLiteral("--no-first-run"),
            QStringLiteral("--no-default-browser-check"),
            QStringLiteral("--disable-background-networking"),
            QStringLiteral("--disable-component-update"),
            QStringLiteral("--disable-sync"),
            QStringLiteral("--disable-default-apps"),
            QStringLiteral("--disable-extensions"),
            QStringLiteral("--disable-breakpad"),
            QStringLiteral("--disable-crash-reporter"),
            QStringLiteral("--disable-domain-reliability"),
            QStringLiteral("--disable-client-side-phishing-detection"),
            QStringLiteral("--safebrowsing-disable-auto-update"),
            QStringLiteral("--no-pings"),
            QStringLiteral("--metrics-recording-only"),
            QStringLiteral("--no-service-autorun"),
            QStringLiteral("--disable-component-extensions-with-background-pages"),
            // What the browser still asks Google for on its own, found by watching its lookups;
            // pages keep every other Google host (their fonts, libraries and maps).
            QStringLiteral("--host-resolver-rules=MAP accounts.google.com ~NOTFOUND, MAP update.googleapis.com ~NOTFOUND, "
                           "MAP clients2.google.com ~NOTFOUND, MAP clientservices.googleapis.com ~NOTFOUND, "
                           "MAP safebrowsing.googleapis.com ~NOTFOUND, MAP optimizationguide-pa.googleapis.com ~NOTFOUND, "
                           "MAP content-autofill.googleapis.com ~NOTFOUND, MAP redirector.gvt1.com ~NOTFOUND"),
            QStringLiteral("--disable-features=Translate,OptimizationHints,MediaRouter,DialMediaRouteProvider,"
                           "AutofillServerCommunication,CertificateTransparencyComponentUpdater,"
                           // No process beyond the pages' own: no spare renderer, no page kept for
                           // going back, no process per site (a page's context is thrown away with
                           // it and holds nothing to isolate), no startup tab, no GPU process.
                           "SpareRendererForSitePerProcess,BackForwardCache,IsolateOrigins,site-per-process"),
            QStringLiteral("--disable-site-isolation-trials"),
            QStringLiteral("--no-startup-window"),
            QStringLiteral("--in-process-gpu"),
            QStringLiteral("--password-store=basic"),
            QStringLiteral("--use-mock-keychain"),
            // Pop-ups, permission prompts and sound are never wanted.
            QStringLiteral("--block-new-web-contents"),
            QStringLiteral("--deny-permission-prompts"),
            QStringLiteral("--mute-audio"),
            QStringLiteral("--disable-gpu"),
            QStringLiteral("--disable-dev-shm-usage"), // containers give /dev/shm 64 MB
        };
        if (::geteuid() == 0) // the browser refuses to run as root inside its sandbox
            arguments << QStringLiteral("--no-sandbox");
        arguments << ProxyArguments(QProcessEnvironment::systemEnvironment());
        process_.start(program_, arguments);
        ::close(theirs);
        reader_ = std::make_unique<QSocketNotifier>(socket_, QSocketNotifier::Read);
        connect(reader_.get(), &QSocketNotifier::activated, this, &BrowserProcess::Read);
        writer_ = std::make_unique<QSocketNotifier>(socket_, QSocketNotifier::Write);
        writer_->setEnabled(false);
        connect(writer_.get(), &QSocketNotifier::activated, this, &BrowserProcess::Write);
    }

    void Send(const QJsonObject &message)
    {
        if (socket_ < 0)
            return;
        out_ += QJsonDocument(message).toJson(QJsonDocument::Compact);
        out_ += '\0';
        Write();
    }

    // Asks the browser to close, kills it if it does not, and goes once it has ended.
    void Shutdown()
    {
        ended_ = true; // its end is expected now, and no failure
        if (process_.state() == QProcess::NotRunning) {
            deleteLater();
            return;
        }
        Send(QJsonObject{{QStringLiteral("id"), 0}, {QStringLiteral("method"), QStringLiteral("Browser.close")}});
        connect(&process_, &QProcess::finished, this, &QObject::deleteLater);
        QTimer::singleShot(kCloseGrace, this, &BrowserProcess::Kill);
    }

signals:
    void Received(const QJsonObject &message);
    void Failed(const QString &line);

private:
    void Kill()
    {
        if (process_.state() == QProcess::NotRunning)
            return;
        if (const qint64 pid = process_.processId(); pid > 0)
            ::kill(-static_cast<pid_t>(pid), SIGKILL);
        process_.kill();
    }

    void CloseSocket()
    {
        reader_.reset();
        writer_.reset();
        if (socket_ >= 0)
            ::close(socket_);
        socket_ = -1;
    }

    void EndLater(const QString &line)
    {
        QMetaObject::invokeMethod(this, [this, line] { End(line); }, Qt::QueuedConnection);
    }

    // The browser is gone or unusable: said once, unless its end was asked for.
    void End(const QString &line)
    {
        if (std::exchange(ended_, true))
            return;
        CloseSocket();
        Kill();
        emit Failed(line);
    }

    void Write()
    {
        while (!out_.isEmpty()) {
            const ssize_t sent = ::send(socket_, out_.constData(), static_cast<size_t>(out_.size()), MSG_NOSIGNAL);
            if (sent < 0) {
                if (errno == EAGAIN || errno == EWOULDBLOCK)
                    break;
                if (errno == EINTR)
                    continue;
                End(QStringLiteral("渲染失败：浏览器关闭了管道"));
                return;
            }
            out_.remove(0, sent);
        }
        writer_->setEnabled(!out_.isEmpty());
    }

    void Read()
    {
        char chunk[64 * 1024];
        for (;;) {
            const ssize_t got = ::read(socket_, chunk, sizeof chunk);
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0)
                break; // EAGAIN: all read
            if (got == 0) {
                End(QStringLiteral("渲染失败：浏览器关闭了管道"));
                return;
            }
            in_.append(chunk, got);
        }
        const QPointer<BrowserProcess> alive(this);
        qsizetype start = 0;
        for (qsizetype end; (end = in_.indexOf('\0', start)) >= 0; start = end + 1) {
            const QJsonDocument message = QJsonDocument::fromJson(QByteArrayView(in_).sliced(start, end - start).toByteArray());
            if (!message.isObject()) {
                End(QStringLiteral("渲染失败：浏览器的回答无法读取"));
                return;
            }
            emit Received(message.object());
            if (!alive || ended_)
                return;
        }
        in_.remove(0, start);
        if (in_.size() > messageLimit_)
            End(QStringLiteral("渲染失败：浏览器的回答过大"));
    }

    QString program_;
    const qsizetype messageLimit_;
    QTemporaryDir profile_;
    QProcess process_;
    int socket_ = -1;
    std::unique_ptr<QSocketNotifier> reader_, writer_;
    QByteArray in_, out_;
    bool ended_ = false;
};

} // namespace

struct HeadlessBrowser::Private {
    HeadlessBrowser *q;
    QString program;
    RenderLimits limits;
    QPointer<BrowserProcess> browser;
    bool failed = false; // until Close(): pages fail at once
    QString failure;
    QString userAgent; // the browser's own, without "Headless"
    bool answered = false; // the browser has answered once

    struct Page {
        QString url;
        QString contextId, sessionId, loaderId;
        std::unordered_map<QString, int> lifecycle; // by loader: kLoaded | kIdle
        qint64 bytes = 0;
        QTimer deadline, settle;
    };
    static constexpr int kLoaded = 1, kIdle = 2;
    Ticket lastTicket = 0;
    std::deque<std::pair<Ticket, QString>> queued;
    std::map<Ticket, std::unique_ptr<Page>> pages;
    std::unordered_map<QString, Ticket> pageOfSession;
    using Answer = std::function<void(const QJsonObject &result, const QJsonObject &error)>;
    std::unordered_map<qint64, Answer> answers;
    qint64 lastId = 0;

    void Send(const QString &method, QJsonObject params = {}, const QString &session = {}, Answer answer = {})
    {
        const qint64 id = ++lastId;
        QJsonObject message{{QStringLiteral("id"), id}, {QStringLiteral("method"), method},
                            {QStringLiteral("params"), params}};
        if (!session.isEmpty())
            message.insert(QStringLiteral("sessionId"), session);
        if (answer)
            answers.emplace(id, std::move(answer));
        browser->Send(message);
    }

    Page *Find(Ticket ticket)
    {
        const auto found = pages.find(ticket);
        return found == pages.end() ? nullptr : found->second.get();
    }

    void StartBrowser()
    {
        answered = false;
        browser = new BrowserProcess(program, limits.maxBytes * 6 + kMessageOverhead, q);
        QObject::connect(browser, &BrowserProcess::Received, q, [this](const QJsonObject &message) { OnMessage(message); });
        // From the event loop: a browser may fail while a page is being asked for.
        QObject::connect(browser, &BrowserProcess::Failed, q,
                         [this, from = QPointer<BrowserProcess>(browser)](const QString &line) {
                             if (from && from == browser)
                                 Fail(line);
                         },
                         Qt::QueuedConnection);
        browser->Start();
        Send(QStringLiteral("Browser.getVersion"), {}, {}, [this](const QJsonObject &result, const QJsonObject &) {
            userAgent = result.value(QStringLiteral("userAgent")).toString().replace(QStringLiteral("HeadlessChrome"),
                                                                                  QStringLiteral("Chrome"));
        });
    }

    void Pump()
    {
        while (!failed && !queued.empty() && static_cast<int>(pages.size()) < limits.pagesAtOnce) {
            if (!browser) {
                StartBrowser();
                continue;
            }
            auto [ticket, url] = std::move(queued.front());
            queued.pop_front();
            Begin(ticket, std::move(url));
        }
    }

    void Begin(Ticket ticket, QString url)
    {
        auto page = std::make_unique<Page>();
        page->url = std::move(url);
        page->deadline.setSingleShot(true);
        QObject::connect(&page->deadline, &QTimer::timeout, q, [this, ticket] { TimedOut(ticket); });
        page->deadline.start(limits.pageTimeout);
        page->settle.setSingleShot(true);
        QObject::connect(&page->settle, &QTimer::timeout, q, [this, ticket] { ReadPage(ticket); });
        pages.emplace(ticket, std::move(page));
        Send(QStringLiteral("Target.createBrowserContext"), {{QStringLiteral("disposeOnDetach"), true}}, {},
             [this, ticket](const QJsonObject &result, const QJsonObject &error) {
                 const QString context = result.value(QStringLiteral("browserContextId")).toString();
                 Page *page = Find(ticket);
                 if (!page) { // dropped meanwhile
                     Dispose(context);
                     return;
                 }
                 if (context.isEmpty())
                     return Finish(ticket, Failure(error));
                 page->contextId = context;
                 Send(QStringLiteral("Target.createTarget"),
                      {{QStringLiteral("url"), QStringLiteral("about:blank")}, {QStringLiteral("browserContextId"), context}},
                      {}, [this, ticket](const QJsonObject &result, const QJsonObject &error) {
                          const QString target = result.value(QStringLiteral("targetId")).toString();
                          if (!Find(ticket))
                              return;
                          if (target.isEmpty())
                              return Finish(ticket, Failure(error));
                          Send(QStringLiteral("Target.attachToTarget"),
                               {{QStringLiteral("targetId"), target}, {QStringLiteral("flatten"), true}}, {},
                               [this, ticket](const QJsonObject &result, const QJsonObject &error) {
                                   Attached(ticket, result.value(QStringLiteral("sessionId")).toString(), error);
                               });
                      });
             });
    }

    void Attached(Ticket ticket, const QString &session, const QJsonObject &error)
    {
        Page *page = Find(ticket);
        if (!page)
            return;
        if (session.isEmpty())
            return Finish(ticket, Failure(error));
        page->sessionId = session;
        pageOfSession[session] = ticket;
        Send(QStringLiteral("Page.enable"), {}, session);
        Send(QStringLiteral("Page.setLifecycleEventsEnabled"), {{QStringLiteral("enabled"), true}}, session);
        Send(QStringLiteral("Network.enable"), {}, session);
        if (!userAgent.isEmpty())
            Send(QStringLiteral("Network.setUserAgentOverride"), {{QStringLiteral("userAgent"), userAgent}}, session);
        // The browser may navigate before the page has taken the commands before: the page is
        // navigated once the last of them is answered.
        Send(QStringLiteral("Page.addScriptToEvaluateOnNewDocument"), {{QStringLiteral("source"), QString::fromLatin1(kContainment)}},
             session, [this, ticket](const QJsonObject &, const QJsonObject &) { Navigate(ticket); });
    }

    void Navigate(Ticket ticket)
    {
        Page *page = Find(ticket);
        if (!page)
            return;
        Send(QStringLiteral("Page.navigate"), {{QStringLiteral("url"), page->url}}, page->sessionId,
             [this, ticket](const QJsonObject &result, const QJsonObject &error) {
                 Page *page = Find(ticket);
                 if (!page)
                     return;
                 if (const QString failed = result.value(QStringLiteral("errorText")).toString(); !failed.isEmpty())
                     return Finish(ticket, {false, {}, {}, QStringLiteral("渲染失败：") + failed});
                 if (!error.isEmpty())
                     return Finish(ticket, Failure(error));
                 page->loaderId = result.value(QStringLiteral("loaderId")).toString();
                 Progressed(*page);
             });
    }

    RenderedPage Failure(const QJsonObject &error) const
    {
        return {false, {}, {}, QStringLiteral("渲染失败：") + error.value(QStringLiteral("message")).toString()};
    }

    // Loaded and idle: read after the settling time.
    void Progressed(Page &page)
    {
        const auto state = page.lifecycle.find(page.loaderId);
        if (!page.loaderId.isEmpty() && state != page.lifecycle.end() && state->second == (kLoaded | kIdle) &&
            !page.settle.isActive())
            page.settle.start(limits.settle);
    }

    void ReadPage(Ticket ticket)
    {
        Page *page = Find(ticket);
        if (!page)
            return;
        Send(QStringLiteral("Runtime.evaluate"),
             {{QStringLiteral("expression"), ReadDocument(limits.maxBytes)}, {QStringLiteral("returnByValue"), true}},
             page->sessionId, [this, ticket](const QJsonObject &result, const QJsonObject &error) {
                 if (!Find(ticket))
                     return;
                 const QJsonValue value = result.value(QStringLiteral("result")).toObject().value(QStringLiteral("value"));
                 if (value.isArray())
                     return Finish(ticket, {true, value.toArray().at(0).toString(), value.toArray().at(1).toString(), {}});
                 if (value.isNull() && result.contains(QStringLiteral("result")))
                     return Finish(ticket, TooLarge());
                 Finish(ticket, Failure(error.isEmpty() ? QJsonObject{{QStringLiteral("message"), QStringLiteral("无法读取网页")}} : error));
             });
    }

    RenderedPage TooLarge() const
    {
        return {false, {}, {}, QStringLiteral("渲染失败：网页超过 %1 MiB").arg(Mebibytes(limits.maxBytes))};
    }

    void TimedOut(Ticket ticket)
    {
        if (!answered) { // a browser that never said a word is no browser
            Fail(QStringLiteral("渲染失败：浏览器没有回应"));
            return;
        }
        Finish(ticket, {false, {}, {}, QStringLiteral("渲染超时（%1 秒）").arg(limits.pageTimeout.count() / 1000)});
    }

    void Dispose(const QString &context)
    {
        if (!context.isEmpty() && browser)
            Send(QStringLiteral("Target.disposeBrowserContext"), {{QStringLiteral("browserContextId"), context}});
    }

    // The page is done: its context goes (a script still running is stopped first), the next
    // page starts, then the page's end is told.
    void Finish(Ticket ticket, const RenderedPage &rendered)
    {
        const auto found = pages.find(ticket);
        if (found == pages.end())
            return;
        const std::unique_ptr<Page> page = std::move(found->second);
        pages.erase(found);
        if (!page->sessionId.isEmpty()) {
            pageOfSession.erase(page->sessionId);
            if (browser)
                Send(QStringLiteral("Runtime.terminateExecution"), {}, page->sessionId);
        }
        Dispose(page->contextId);
        Pump();
        emit q->Rendered(ticket, rendered);
    }

    void OnMessage(const QJsonObject &message)
    {
        answered = true;
        if (const QJsonValue id = message.value(QStringLiteral("id")); !id.isUndefined()) {
            const auto answer = answers.find(id.toInteger());
            if (answer == answers.end())
                return;
            const Answer call = std::move(answer->second);
            answers.erase(answer);
            call(message.value(QStringLiteral("result")).toObject(), message.value(QStringLiteral("error")).toObject());
            return;
        }
        const QString method = message.value(QStringLiteral("method")).toString();
        const QJsonObject params = message.value(QStringLiteral("params")).toObject();
        const QString session = message.value(QStringLiteral("sessionId")).toString();
        const auto owner = pageOfSession.find(session);
        if (owner == pageOfSession.end())
            return;
        const Ticket ticket = owner->second;
        Page &page = *Find(ticket);
        if (method == u"Page.lifecycleEvent") {
            const QString name = params.value(QStringLiteral("name")).toString();
            const int flag = name == u"load" ? kLoaded : name == u"networkIdle" ? kIdle : 0;
            if (flag) {
                page.lifecycle[params.value(QStringLiteral("loaderId")).toString()] |= flag;
                Progressed(page);
            }
        } else if (method == u"Network.dataReceived") {
            page.bytes += params.value(QStringLiteral("encodedDataLength")).toInteger();
            if (page.bytes > limits.maxBytes)
                Finish(ticket, TooLarge());
        } else if (method == u"Page.javascriptDialogOpening") {
            Send(QStringLiteral("Page.handleJavaScriptDialog"), {{QStringLiteral("accept"), false}}, session);
        } else if (method == u"Inspector.targetCrashed") {
            Finish(ticket, {false, {}, {}, QStringLiteral("渲染失败：网页的渲染进程崩溃")});
        }
    }

    // The browser is gone: said once, and every page it had or was to have fails with it.
    void Fail(const QString &line)
    {
        if (std::exchange(failed, true))
            return;
        failure = line;
        if (browser)
            browser->deleteLater();
        browser = nullptr;
        answers.clear();
        pageOfSession.clear();
        std::vector<Ticket> tickets;
        for (const auto &[ticket, page] : pages)
            tickets.push_back(ticket);
        pages.clear();
        for (const auto &[ticket, url] : queued)
            tickets.push_back(ticket);
        queued.clear();
        const QPointer<HeadlessBrowser> alive(q);
        emit q->BrowserFailed(line);
        for (const Ticket ticket : tickets) {
            if (!alive || !failed)
                return; // closed by a watcher: the rest are dropped
            emit q->Rendered(ticket, {false, {}, {}, line});
        }
    }
};

HeadlessBrowser::HeadlessBrowser(QString program, RenderLimits limits, QObject *parent)
    : QObject(parent), d_(std::make_unique<Private>())
{
    d_->q = this;
    d_->program = std::move(program);
    d_->limits = limits;
}

HeadlessBrowser::~HeadlessBrowser()
{
    d_->pages.clear();
    qDeleteAll(findChildren<BrowserProcess *>(Qt::FindDirectChildrenOnly));
}

HeadlessBrowser::Ticket HeadlessBrowser::Render(const QString &url)
{
    const Ticket ticket = ++d_->lastTicket;
    if (d_->failed) {
        QMetaObject::invokeMethod(this, [this, ticket, line = d_->failure] {
            if (d_->failed)
                emit Rendered(ticket, {false, {}, {}, line});
        }, Qt::QueuedConnection);
        return ticket;
    }
    d_->queued.emplace_back(ticket, url);
    d_->Pump();
    return ticket;
}

void HeadlessBrowser::Close()
{
    d_->pages.clear();
    d_->queued.clear();
    d_->pageOfSession.clear();
    d_->answers.clear();
    d_->failed = false;
    d_->failure.clear();
    if (d_->browser) {
        disconnect(d_->browser, nullptr, this, nullptr);
        d_->browser->Shutdown();
    }
    d_->browser = nullptr;
}

} // namespace vantorel

#include "HeadlessBrowser.moc"
