#include "HtmlParse.h"

#include <climits>
#include <memory>

namespace vantorel {

namespace {

struct ContextDeleter {
    void operator()(htmlParserCtxtPtr context) const { htmlFreeParserCtxt(context); }
};

} // namespace

void ParseHtml(QByteArrayView bytes, const char *encoding, const htmlSAXHandler &handler, void *userData)
{
    [[maybe_unused]] static const bool initialised = (xmlInitParser(), true);

    const std::unique_ptr<htmlParserCtxt, ContextDeleter> context(htmlNewParserCtxt());
    if (!context)
        return;
    *context->sax = handler;
    context->userData = userData;
    // HUGE lifts the depth limit of 256, past which the parser would drop the rest of the page.
    const htmlDocPtr document = htmlCtxtReadMemory(
        context.get(), bytes.data(), static_cast<int>(std::min<qsizetype>(bytes.size(), INT_MAX)), nullptr,
        encoding, HTML_PARSE_RECOVER | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_NONET | XML_PARSE_HUGE);
    xmlFreeDoc(document); // none without a tree-building handler
}

} // namespace vantorel
