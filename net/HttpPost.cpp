#include "HttpPost.h"

#include "CurlTransfer.h"

namespace vantorel {

FetchResult PostJson(const QString &url, const QByteArray &body, const FetchLimits &limits)
{
    CurlTransfer transfer(url, limits);
    CURL *easy = transfer.Handle();
    if (!easy)
        return transfer.Finish(CURLE_FAILED_INIT);
    // No "Expect: 100-continue": the body goes out with the head, whatever the server.
    curl_slist *list = curl_slist_append(nullptr, "Content-Type: application/json; charset=utf-8");
    if (list)
        if (curl_slist *more = curl_slist_append(list, "Expect:"))
            list = more;
    const std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> headers(list, &curl_slist_free_all);
    // The body is sent from the caller's bytes; the headers replace the GET's own. A redirect is
    // the caller's to judge: followed, curl would turn the POST into a GET on 301-303, or send
    // the body to whatever host a 307 names.
    const bool set = headers && curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers.get()) == CURLE_OK &&
                     curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L) == CURLE_OK &&
                     curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size())) == CURLE_OK &&
                     curl_easy_setopt(easy, CURLOPT_POSTFIELDS, body.constData()) == CURLE_OK;
    return transfer.Finish(set ? curl_easy_perform(easy) : CURLE_FAILED_INIT);
}

} // namespace vantorel
