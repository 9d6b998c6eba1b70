// Arbitrary bytes as the UTF-8 text of a checked page on the domain (and as its X-Robots-Tag
// header): every link found must point to the domain, and every anchor must be at most 100
// characters with no half of a surrogate pair; the page read in one pass of our own gives the
// same evidence as libxml2's reading of it. The verdict's tool tip built from the page, and
// from a failure the HTTP client described in the same bytes, holds no markup but the
// program's own.

#include <PageEvidence.h>
#include <PlainText.h>
#include <Verdict.h>

#include <cstddef>
#include <cstdint>

using namespace vantorel;

namespace {

bool HasLoneSurrogate(const QString &text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            ++i;
        else if (text[i].isSurrogate())
            return true;
    }
    return false;
}

// True when markup, less the fixed wrapper and line breaks that ToolTipMarkup adds, has a '<'.
bool HasForeignMarkup(QString markup)
{
    const QString open = QStringLiteral("<p style=\"white-space:pre-wrap\">");
    const QString close = QStringLiteral("</p>");
    if (!markup.startsWith(open) || !markup.endsWith(close))
        return true;
    markup = markup.mid(open.size(), markup.size() - open.size() - close.size());
    return markup.remove(QStringLiteral("<br>")).contains(u'<');
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArrayView bytes(data, static_cast<qsizetype>(size));
    const QUrl page(QStringLiteral("http://www.example.com/dir/page.html"));
    const QString text = QString::fromUtf8(bytes);
    const PageEvidence evidence = ExtractPageEvidence(text, page, u"example.com", bytes);
    if (evidence != ExtractPageEvidence(text, page, u"example.com", bytes, PageReading::Parsed))
        __builtin_trap();

    for (const LinkEvidence &link : evidence.links) {
        const QUrl url(link.url);
        if (!url.isValid() || (url.scheme() != u"http" && url.scheme() != u"https") ||
            !HostMatchesDomain(url.host(), u"example.com"))
            __builtin_trap();
        if (link.anchor.size() > 100 || HasLoneSurrogate(link.anchor))
            __builtin_trap();
    }

    FetchResult fetched;
    fetched.error = FetchError::None;
    fetched.httpStatus = 200;
    fetched.finalUrl = page.toString();
    fetched.body = bytes.toByteArray();
    fetched.robotsTag = fetched.body;
    FetchResult failed;
    failed.error = FetchError::Other;
    failed.errorText = QString::fromUtf8(bytes);
    for (const FetchResult &result : {fetched, failed})
        if (HasForeignMarkup(ToolTipMarkup(VerdictToolTip(JudgePage(result, u"example.com", u"utf-8").evidence))))
            __builtin_trap();
    return 0;
}
