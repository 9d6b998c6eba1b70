// Arbitrary bytes as the UTF-8 text of a checked page on the domain (and as its X-Robots-Tag
// header): every link found must point to the domain, and every anchor must be at most 100
// characters with no half of a surrogate pair.

#include <PageEvidence.h>

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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArrayView bytes(data, static_cast<qsizetype>(size));
    const QUrl page(QStringLiteral("http://www.example.com/dir/page.html"));
    const PageEvidence evidence = ExtractPageEvidence(QString::fromUtf8(bytes), page, u"example.com", bytes);

    for (const LinkEvidence &link : evidence.links) {
        const QUrl url(link.url);
        if (!url.isValid() || (url.scheme() != u"http" && url.scheme() != u"https") ||
            !HostMatchesDomain(url.host(), u"example.com"))
            __builtin_trap();
        if (link.anchor.size() > 100 || HasLoneSurrogate(link.anchor))
            __builtin_trap();
    }
    return 0;
}
