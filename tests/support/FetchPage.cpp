#include "FetchPage.h"

#include <CurlTransfer.h>
#include <DecodeBody.h>

namespace vantorel {

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
