#include "PageRendering.h"

#include "Domain.h"

#include <HtmlParse.h>

#include <QUrl>

#include <cstring>

namespace vantorel {

namespace {

struct SignReader {
    ScriptSigns signs;
    int hidden = 0;         // open <script>, <style>, <template> and <noscript> elements
    bool inNoscript = false;
    QString noscriptText;
    int mountDepth = -1;    // the open mount point's depth
    bool mountFilled = false;
    int depth = 0;
};

bool IsMountPoint(const char *name, const xmlChar **attributes)
{
    if (std::strcmp(name, "app-root") == 0)
        return true;
    for (const xmlChar **at = attributes; at && at[0]; at += 2) {
        const char *attribute = reinterpret_cast<const char *>(at[0]);
        const char *value = at[1] ? reinterpret_cast<const char *>(at[1]) : "";
        if (std::strcmp(attribute, "ng-app") == 0 || std::strcmp(attribute, "data-reactroot") == 0)
            return true;
        if (std::strcmp(attribute, "id") == 0)
            for (const char *id : {"root", "app", "__next", "__nuxt", "___gatsby", "svelte", "main-app", "application"})
                if (std::strcmp(value, id) == 0)
                    return true;
    }
    return false;
}

// Scripts of these types hold data or templates, which nothing runs.
bool RunsAsScript(const xmlChar **attributes)
{
    for (const xmlChar **at = attributes; at && at[0]; at += 2) {
        if (std::strcmp(reinterpret_cast<const char *>(at[0]), "type") != 0 || !at[1])
            continue;
        const QByteArray type = QByteArray(reinterpret_cast<const char *>(at[1])).trimmed().toLower();
        return type.isEmpty() || type == "module" || type.contains("javascript") || type.contains("ecmascript");
    }
    return true;
}

void StartElement(void *context, const xmlChar *tag, const xmlChar **attributes)
{
    SignReader &reader = *static_cast<SignReader *>(context);
    const char *name = reinterpret_cast<const char *>(tag);
    ++reader.depth;
    if (reader.mountDepth >= 0)
        reader.mountFilled = true;
    else if (IsMountPoint(name, attributes))
        reader.mountDepth = reader.depth;
    const bool script = std::strcmp(name, "script") == 0;
    if (script && RunsAsScript(attributes))
        ++reader.signs.scripts;
    const bool noscript = std::strcmp(name, "noscript") == 0;
    reader.inNoscript = reader.inNoscript || noscript;
    if (script || noscript || std::strcmp(name, "style") == 0 || std::strcmp(name, "template") == 0)
        ++reader.hidden;
}

void EndElement(void *context, const xmlChar *tag)
{
    SignReader &reader = *static_cast<SignReader *>(context);
    const char *name = reinterpret_cast<const char *>(tag);
    if (reader.depth == reader.mountDepth) {
        reader.signs.emptyMountPoint = reader.signs.emptyMountPoint || !reader.mountFilled;
        reader.mountDepth = -1;
        reader.mountFilled = false;
    }
    --reader.depth;
    if (std::strcmp(name, "noscript") == 0)
        reader.inNoscript = false;
    if (reader.hidden > 0 && (std::strcmp(name, "script") == 0 || std::strcmp(name, "noscript") == 0 ||
                              std::strcmp(name, "style") == 0 || std::strcmp(name, "template") == 0))
        --reader.hidden;
}

void Characters(void *context, const xmlChar *characters, int length)
{
    SignReader &reader = *static_cast<SignReader *>(context);
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(characters), length);
    if (reader.inNoscript)
        reader.noscriptText += text;
    if (reader.hidden > 0)
        return;
    for (const QChar c : text)
        if (!c.isSpace()) {
            ++reader.signs.visibleText;
            if (reader.mountDepth >= 0)
                reader.mountFilled = true;
        }
}

bool IsHtml(const FetchResult &result)
{
    const QByteArray type = result.contentType.toLower();
    return type.isEmpty() || type.contains("html");
}

} // namespace

std::optional<RenderMode> RenderModeNamed(QStringView name)
{
    for (const RenderMode mode : {RenderMode::Auto, RenderMode::Never, RenderMode::Always})
        if (name == RenderModeName(mode))
            return mode;
    return std::nullopt;
}

QString RenderModeName(RenderMode mode)
{
    switch (mode) {
    case RenderMode::Never: return QStringLiteral("never");
    case RenderMode::Always: return QStringLiteral("always");
    case RenderMode::Auto: break;
    }
    return QStringLiteral("auto");
}

ScriptSigns ReadScriptSigns(QStringView html)
{
    SignReader reader;
    htmlSAXHandler handler{};
    handler.startElement = StartElement;
    handler.endElement = EndElement;
    handler.characters = Characters;
    handler.cdataBlock = Characters; // the parser hands a script's and a style's text over so
    ParseHtml(html.toUtf8(), "UTF-8", handler, &reader);
    reader.signs.asksForJavaScript = reader.noscriptText.contains(QStringLiteral("javascript"), Qt::CaseInsensitive);
    return reader.signs;
}

bool LooksScriptBuilt(const ScriptSigns &signs)
{
    return signs.scripts > 0 &&
           (signs.asksForJavaScript || signs.emptyMountPoint || signs.visibleText < kLittleVisibleText);
}

bool WantsRendering(RenderMode mode, const FetchResult &result, const JudgedPage &judged)
{
    const RowEvidence &evidence = judged.evidence;
    if (mode == RenderMode::Never || !evidence.pageHad || !evidence.failureCause.isEmpty() || !judged.refreshTo.isEmpty() ||
        evidence.httpStatus < 200 || evidence.httpStatus > 299 || !evidence.page.links.empty() || !IsHtml(result))
        return false;
    return mode == RenderMode::Always || LooksScriptBuilt(ReadScriptSigns(judged.text));
}

RowEvidence WithRenderedPage(RowEvidence fetched, const RenderedPage &page, QStringView domain, QByteArrayView robotsHeader)
{
    if (!page.ok) {
        fetched.renderFailure = page.error;
        return fetched;
    }
    PageEvidence rendered = ExtractPageEvidence(page.html, QUrl(page.url), domain, robotsHeader);
    const bool mentions = PageMentionsDomain(page.html, domain);
    if (rendered.links.empty() && (fetched.mentionsDomain || !mentions))
        return fetched; // nothing more than the fetch found
    fetched.page = std::move(rendered);
    fetched.mentionsDomain = true;
    fetched.rendered = true;
    return fetched;
}

} // namespace vantorel
