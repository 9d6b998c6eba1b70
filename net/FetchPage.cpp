#include "FetchPage.h"

#include "CurlTransfer.h"
#include "DecodeBody.h"

namespace vantorel {

bool InitNetwork()
{
    return curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
}

QByteArray UrlForRequest(const QString &url)
{
    const QByteArray utf8 = url.toUtf8();
    QByteArray out;
    out.reserve(utf8.size());
    static constexpr char kHex[] = "0123456789ABCDEF";
    for (const char c : utf8) {
        const auto byte = static_cast<unsigned char>(c);
        // Bytes that may not stand in a request line as they are.
        if (byte <= 0x20 || byte >= 0x7F) {
            out.append('%');
            out.append(kHex[byte >> 4]);
            out.append(kHex[byte & 0x0F]);
        } else {
            out.append(c);
        }
    }
    return out;
}

FetchResult FetchOnce(const QString &url, const FetchLimits &limits)
{
    CurlTransfer transfer(url, limits);
    CURL *handle = transfer.Handle();
    return transfer.Finish(handle ? curl_easy_perform(handle) : CURLE_FAILED_INIT);
}

std::optional<QString> FetchPage(const QString &url, QStringView charset, const FetchLimits &limits)
{
    const FetchResult result = FetchOnce(url, limits);
    if (!result.ok())
        return std::nullopt;
    return DecodePage(result.body, result.contentType, charset);
}

} // namespace vantorel
