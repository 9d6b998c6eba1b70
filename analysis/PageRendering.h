#pragma once

#include "Verdict.h"

#include <HeadlessBrowser.h>

#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <optional>

namespace vantorel {

// When a fetched page gets a second look in the browser: when it looks built by script (auto),
// never, or whenever no link was found in it (always).
enum class RenderMode { Auto, Never, Always };

std::optional<RenderMode> RenderModeNamed(QStringView name); // "auto", "never" or "always"
QString RenderModeName(RenderMode mode);

// What a page's HTML shows of being built in the browser.
struct ScriptSigns {
    int scripts = 0;                // <script> elements that run (JSON and templates do not)
    qsizetype visibleText = 0;      // characters other than white space outside scripts, styles and <noscript>
    bool asksForJavaScript = false; // a <noscript> that names JavaScript
    bool emptyMountPoint = false;   // an element that script frameworks fill (#root, #app, #__next, <app-root>…) left empty
};
ScriptSigns ReadScriptSigns(QStringView html);

// Less visible text than this on a page that runs scripts: its content comes from them.
inline constexpr qsizetype kLittleVisibleText = 500;

// A page that runs scripts and asks for JavaScript, leaves a framework's root empty or shows
// little text of its own.
bool LooksScriptBuilt(const ScriptSigns &signs);

// Whether a fetched page is rendered: a complete 2xx HTML page, judged without a failure or a
// refresh to follow, in which no link to the domain was found, and (auto) that looks built by script.
bool WantsRendering(RenderMode mode, const FetchResult &result, const JudgedPage &judged);

// The row's evidence once its page was rendered: what the rendered document shows of the domain
// when it shows more than the fetched page did (rendered set), else the fetched evidence as it
// was, with why rendering failed when it did. robotsHeader: the fetch's X-Robots-Tag values.
RowEvidence WithRenderedPage(RowEvidence fetched, const RenderedPage &page, QStringView domain, QByteArrayView robotsHeader);

} // namespace vantorel
