#include "FetchPage.h"

#include "DecodeBody.h"

#include <curl/curl.h>

#include <memory>
#include <mutex>

namespace {

constexpr const char *kUserAgent =
    "Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/120.0 Safari/537.36";

void EnsureCurlInitialised()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct BodySink {
    QByteArray bytes;
    qsizetype cap = 0;
};

// Returning less than offered makes curl abort the transfer: that is how the cap holds for
// chunked and compressed bodies too.
size_t AppendToBody(char *data, size_t size, size_t count, void *userdata)
{
    auto *sink = static_cast<BodySink *>(userdata);
    const size_t offered = size * count;
    if (static_cast<qsizetype>(offered) > sink->cap - sink->bytes.size())
        return 0;
    sink->bytes.append(data, static_cast<qsizetype>(offered));
    return offered;
}

struct CurlEasyDeleter {
    void operator()(CURL *handle) const { curl_easy_cleanup(handle); }
};
struct CurlListDeleter {
    void operator()(curl_slist *list) const { curl_slist_free_all(list); }
};

} // namespace

QByteArray UrlForRequest(const QString &url)
{
    const QByteArray utf8 = url.toUtf8();
    QByteArray out;
    out.reserve(utf8.size());
    static constexpr char kHex[] = "0123456789ABCDEF";
    for (const char c : utf8) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            out.append(c);
        } else {
            out.append('%');
            out.append(kHex[byte >> 4]);
            out.append(kHex[byte & 0x0F]);
        }
    }
    return out;
}

std::optional<QByteArray> FetchBody(const QString &url, const FetchLimits &limits, QByteArray *contentType)
{
    EnsureCurlInitialised();
    std::unique_ptr<CURL, CurlEasyDeleter> easy(curl_easy_init());
    if (!easy)
        return std::nullopt;

    std::unique_ptr<curl_slist, CurlListDeleter> headers(
        curl_slist_append(nullptr, "Content-Type: text/XML"));
    if (!headers)
        return std::nullopt;

    const QByteArray requestUrl = UrlForRequest(url);
    BodySink sink;
    sink.cap = limits.maxBodyBytes;

    CURL *h = easy.get();
    curl_easy_setopt(h, CURLOPT_URL, requestUrl.constData());
    curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, limits.maxRedirects);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(limits.connectTimeout.count()));
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, static_cast<long>(limits.totalTimeout.count()));
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_ACCEPT_ENCODING, ""); // every encoding this libcurl decodes
    curl_easy_setopt(h, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(limits.maxBodyBytes));
    curl_easy_setopt(h, CURLOPT_USERAGENT, kUserAgent);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &AppendToBody);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &sink);

    if (curl_easy_perform(h) != CURLE_OK)
        return std::nullopt;
    const char *type = nullptr;
    if (contentType && curl_easy_getinfo(h, CURLINFO_CONTENT_TYPE, &type) == CURLE_OK && type)
        *contentType = type;
    return std::move(sink.bytes);
}

std::optional<QString> FetchPage(const QString &url, QStringView charset, const FetchLimits &limits)
{
    QByteArray contentType;
    std::optional<QByteArray> body = FetchBody(url, limits, &contentType);
    if (!body)
        return std::nullopt;
    return DecodePage(*body, contentType, charset);
}
