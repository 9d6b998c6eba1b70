#pragma once

#include <QObject>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <chrono>
#include <memory>

namespace vantorel {

// Bounds of one page rendered in the browser; the defaults are the program's.
struct RenderLimits {
    std::chrono::milliseconds pageTimeout{15'000};
    // The page is read this long after it loaded and its network went idle, so that what its
    // timers add soon after loading is there.
    std::chrono::milliseconds settle{2'000};
    qsizetype maxBytes = 16 * 1024 * 1024; // received by the page, and of its document once rendered
    int pagesAtOnce = 2;
};

// A page as the browser left it once its scripts ran, or why it could not be had.
struct RenderedPage {
    bool ok = false;
    QString url;   // where the page ended
    QString html;  // the document's outerHTML
    QString error; // in Chinese, when not ok
};

// The browser to start: VANTOREL_CHROMIUM when set (a path, or a name looked up in PATH), else
// "chromium".
QString BrowserProgram(const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment());

// The browser's proxy arguments for the proxy the HTTP client takes from the environment
// (http_proxy, HTTPS_PROXY, ALL_PROXY, NO_PROXY and their lower-case forms). A proxy's user
// name and password are left out: the browser cannot use them, and command lines are public.
QStringList ProxyArguments(const QProcessEnvironment &environment);

// Renders pages in one headless Chromium driven over the DevTools protocol on a pipe (its file
// descriptors 3 and 4, so no port is opened), inside the event loop, never waiting: the browser
// starts with the first page asked for and stays until Close(). At most limits.pagesAtOnce pages
// render at once, each in a browser context of its own (no cookies or storage shared), with its
// dialogs and pop-ups refused; a page past its time-out or byte limit is dropped with its
// context. A browser that cannot start or dies fails every page it had, and BrowserFailed says
// so once; pages asked for afterwards fail at once until Close().
class HeadlessBrowser final : public QObject {
    Q_OBJECT
public:
    using Ticket = quint64;

    explicit HeadlessBrowser(QString program = BrowserProgram(), RenderLimits limits = {}, QObject *parent = nullptr);
    ~HeadlessBrowser() override; // the browser killed, its profile removed

    Ticket Render(const QString &url); // never blocks; Rendered comes from the event loop
    // Drops every page without a signal and ends the browser: asked to close, killed when it
    // does not within a few seconds. Its temporary profile goes with it.
    void Close();

signals:
    void Rendered(vantorel::HeadlessBrowser::Ticket ticket, const vantorel::RenderedPage &page);
    // One line: "未找到 Chromium，跳过渲染：…" or "渲染失败：…".
    void BrowserFailed(const QString &line);

private:
    struct Private;
    std::unique_ptr<Private> d_;
};

} // namespace vantorel
