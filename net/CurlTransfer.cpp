#include "CurlTransfer.h"

#include "Network.h"

#include <algorithm>

namespace vantorel {

namespace {

constexpr const char *kUserAgent =
    "Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/120.0 Safari/537.36";

// Curl's cap on all response headers together, redirects included (MAX_HTTP_RESP_HEADER_SIZE);
// it ends a transfer that passes it with a receive error.
constexpr long kCurlHeaderCap = 300 * 1024;

// Curl reads a socket a buffer at a time, one buffer each time the event loop finds the socket
// readable: its default of 16 KiB held each large page to about 1 MB/s (200 pages of 2 MB over
// a 100 ms round trip took 16 s instead of 6).
constexpr long kReadBufferBytes = 64 * 1024;

// Curl keeps the parsed certificate file this long for the transfers of one multi handle (an
// engine): a window left open sees an updated system store within the hour.
constexpr long kCaCacheSeconds = 3600;

const char *OrNull(const QByteArray &text)
{
    return text.isEmpty() ? nullptr : text.constData();
}

struct Outcome {
    CURLcode code = CURLE_OK;
    bool requestSent = false; // the last request went out: a connection, new or reused, was ready
    bool overCap = false;     // our write callback refused the body
    bool httpUrl = false;     // the last address tried was http or https
    long headerBytes = 0;     // of every response in the chain
};

FetchError ErrorFromCurl(const Outcome &outcome)
{
    switch (outcome.code) {
    case CURLE_OK:
        return FetchError::None;
    case CURLE_COULDNT_RESOLVE_HOST:
        return FetchError::Resolve;
    case CURLE_COULDNT_CONNECT:
        return FetchError::Refused;
    case CURLE_OPERATION_TIMEDOUT:
        // A reused connection has no connect time of its own, and a redirect's target keeps the
        // first hop's: only whether the last request went out tells the two time-outs apart.
        return outcome.requestSent ? FetchError::TransferTimeout : FetchError::ConnectTimeout;
    case CURLE_RECV_ERROR:
        if (outcome.headerBytes > kCurlHeaderCap)
            return FetchError::HeaderTooLarge;
        [[fallthrough]];      // a reset, before or during the response
    case CURLE_SEND_ERROR:
    case CURLE_GOT_NOTHING:  // closed before any response
    case CURLE_PARTIAL_FILE: // closed before the announced end of the body
        return FetchError::Reset;
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_CRL_BADFILE:
        return FetchError::Certificate;
    case CURLE_OUT_OF_MEMORY:
        // Curl refuses one header line over its limit (100 KiB) with this code.
        return outcome.requestSent ? FetchError::HeaderTooLarge : FetchError::Other;
    case CURLE_WRITE_ERROR:
        return outcome.overCap ? FetchError::TooLarge : FetchError::Other;
    case CURLE_FILESIZE_EXCEEDED:
        return FetchError::TooLarge;
    case CURLE_TOO_MANY_REDIRECTS:
        return FetchError::TooManyRedirects;
    case CURLE_UNSUPPORTED_PROTOCOL:
        // With HTTP/0.9 off, a reply that is no HTTP at all ends with this code too; then the
        // address was http and the request went out.
        return outcome.httpUrl && outcome.requestSent ? FetchError::NotHttp : FetchError::UnsupportedProtocol;
    case CURLE_WEIRD_SERVER_REPLY:
        return FetchError::NotHttp;
    default:
        return FetchError::Other;
    }
}

QByteArray HeaderValues(CURL *easy, const char *name)
{
    QByteArray joined;
    curl_header *header = nullptr;
    for (size_t index = 0;
         curl_easy_header(easy, name, index, CURLH_HEADER, -1, &header) == CURLHE_OK; ++index) {
        if (index > 0)
            joined += '\n'; // one header a line: a crawler name applies to its own header only
        joined += header->value;
        if (index + 1 >= header->amount)
            break;
    }
    return joined;
}

} // namespace

// Returning less than offered makes curl abort the transfer: that is how the cap holds for
// chunked and compressed bodies too.
size_t CurlTransfer::AppendToBody(char *data, size_t size, size_t count, void *userdata)
{
    auto *transfer = static_cast<CurlTransfer *>(userdata);
    const size_t offered = size * count;
    if (static_cast<qsizetype>(offered) > transfer->bodyCap_ - transfer->body_.size()) {
        transfer->overCap_ = true;
        return 0;
    }
    if (transfer->bodyGate_ && !transfer->bodyGate_(transfer->gateData_, transfer->body_.size(),
                                                     static_cast<qsizetype>(offered), transfer->AnnouncedLength()))
        return CURL_WRITEFUNC_PAUSE;
    // Room for the announced length at once, when there is one, or once the body passes what it
    // may keep before the gate pauses it: the body need not be copied as it grows. Without one
    // (chunked, or a compressed body that inflates) it grows as it comes, never reserved at the
    // cap: 16 MiB for each page in flight.
    const qsizetype grown = transfer->body_.size() + static_cast<qsizetype>(offered);
    if (!transfer->reserved_ && grown > transfer->growsUpTo_) {
        transfer->reserved_ = true;
        if (const qsizetype length = transfer->AnnouncedLength(); length > 0)
            transfer->body_.reserve(std::min(length, transfer->bodyCap_));
    }
    transfer->body_.append(data, static_cast<qsizetype>(offered));
    return offered;
}

qsizetype CurlTransfer::AnnouncedLength() const
{
    curl_off_t length = -1;
    if (curl_easy_getinfo(easy_.get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) != CURLE_OK)
        return -1;
    return static_cast<qsizetype>(length);
}

// Curl calls this for every request in a chain, once its connection is ready.
int CurlTransfer::OnRequestReady(void *userdata, char *primaryIp, char *localIp, int primaryPort, int localPort)
{
    auto *transfer = static_cast<CurlTransfer *>(userdata);
    curl_easy_getinfo(transfer->easy_.get(), CURLINFO_REDIRECT_COUNT, &transfer->sentOnHop_);
    return transfer->alsoOnRequestReady_
               ? transfer->alsoOnRequestReady_(transfer->alsoData_, primaryIp, localIp, primaryPort, localPort)
               : CURL_PREREQFUNC_OK;
}

CurlTransfer::CurlTransfer(const QString &url, const FetchLimits &limits, const CaStore &store)
    : started_(std::chrono::steady_clock::now()),
      headers_(curl_slist_append(nullptr, "Content-Type: text/XML")),
      url_(UrlForRequest(url)),
      bodyCap_(limits.maxBodyBytes),
      easy_(curl_easy_init())
{
    if (!easy_ || !headers_) {
        setUpFailure_ = QStringLiteral("out of memory setting up the transfer");
        return;
    }
    // Curl reads a zero time-out as none, a negative one as weeks, and -1 redirects as any number.
    if (limits.connectTimeout <= std::chrono::milliseconds::zero() ||
        limits.totalTimeout <= std::chrono::milliseconds::zero() || limits.maxBodyBytes < 0 ||
        limits.maxRedirects < 0) {
        setUpFailure_ = QStringLiteral("fetch limits out of range");
        return;
    }
    // Every option counts: a transfer that lost one of its limits must not run unbounded.
    const auto check = [this](CURLcode code, const char *what) {
        if (code != CURLE_OK && setUpFailure_.isEmpty())
            setUpFailure_ = QStringLiteral("cannot set %1: %2").arg(QLatin1String(what), QLatin1String(curl_easy_strerror(code)));
    };
    CURL *h = easy_.get();
    check(curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorText_), "the error buffer");
    check(curl_easy_setopt(h, CURLOPT_URL, url_.constData()), "the address");
    check(curl_easy_setopt(h, CURLOPT_HTTPGET, 1L), "the method");
    check(curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers_.get()), "the request headers");
    check(curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https"), "the protocols");
    check(curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https"), "the redirect protocols");
    check(curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L), "redirect following");
    check(curl_easy_setopt(h, CURLOPT_MAXREDIRS, limits.maxRedirects), "the redirect limit");
    check(curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(limits.connectTimeout.count())),
          "the connect time-out");
    check(curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, static_cast<long>(limits.totalTimeout.count())),
          "the transfer time-out");
    check(curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L), "signal-free time-outs");
    check(curl_easy_setopt(h, CURLOPT_PREREQFUNCTION, &CurlTransfer::OnRequestReady), "the request watch");
    check(curl_easy_setopt(h, CURLOPT_PREREQDATA, this), "the request watch");
    check(curl_easy_setopt(h, CURLOPT_ACCEPT_ENCODING, ""), "the accepted encodings"); // all this libcurl decodes
    check(curl_easy_setopt(h, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(limits.maxBodyBytes)),
          "the body cap");
    check(curl_easy_setopt(h, CURLOPT_USERAGENT, kUserAgent), "the user agent");
    check(curl_easy_setopt(h, CURLOPT_CAINFO, OrNull(store.file)), "the certificate file");
    check(curl_easy_setopt(h, CURLOPT_CAPATH, OrNull(store.directory)), "the certificate directory");
    check(curl_easy_setopt(h, CURLOPT_CA_CACHE_TIMEOUT, kCaCacheSeconds), "the certificate cache");
    check(curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &CurlTransfer::AppendToBody), "the body sink");
    check(curl_easy_setopt(h, CURLOPT_WRITEDATA, this), "the body sink");
    check(curl_easy_setopt(h, CURLOPT_BUFFERSIZE, kReadBufferBytes), "the read buffer");
}

void CurlTransfer::LeaveTimeOutsToCaller()
{
    if (easy_ && (curl_easy_setopt(easy_.get(), CURLOPT_TIMEOUT_MS, 0L) != CURLE_OK ||
                  curl_easy_setopt(easy_.get(), CURLOPT_CONNECTTIMEOUT_MS, 0L) != CURLE_OK) &&
        setUpFailure_.isEmpty())
        setUpFailure_ = QStringLiteral("cannot leave the time-outs to the caller");
}

void CurlTransfer::AskHeadOnly()
{
    if (easy_ && curl_easy_setopt(easy_.get(), CURLOPT_NOBODY, 1L) != CURLE_OK && setUpFailure_.isEmpty())
        setUpFailure_ = QStringLiteral("cannot ask for the head alone");
}

FetchResult CurlTransfer::Finish(CURLcode code)
{
    using namespace std::chrono;
    FetchResult result;
    result.elapsed = duration_cast<milliseconds>(steady_clock::now() - started_);
    if (!setUpFailure_.isEmpty()) {
        result.error = FetchError::Other;
        result.errorText = setUpFailure_;
        return result;
    }

    CURL *h = easy_.get();
    char *finalUrl = nullptr;
    char *contentType = nullptr;
    long headerBytes = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &result.httpStatus);
    curl_easy_getinfo(h, CURLINFO_REDIRECT_COUNT, &result.redirects);
    curl_easy_getinfo(h, CURLINFO_HEADER_SIZE, &headerBytes);
    if (curl_easy_getinfo(h, CURLINFO_EFFECTIVE_URL, &finalUrl) == CURLE_OK && finalUrl)
        result.finalUrl = QString::fromUtf8(finalUrl);
    if (curl_easy_getinfo(h, CURLINFO_CONTENT_TYPE, &contentType) == CURLE_OK && contentType)
        result.contentType = contentType;
    result.robotsTag = HeaderValues(h, "X-Robots-Tag");
    result.retryAfter = HeaderValues(h, "Retry-After");
    result.server = HeaderValues(h, "Server");
    result.cfMitigated = HeaderValues(h, "cf-mitigated");

    const bool httpUrl = result.finalUrl.startsWith(u"http://", Qt::CaseInsensitive) ||
                         result.finalUrl.startsWith(u"https://", Qt::CaseInsensitive);
    result.error = ErrorFromCurl({code, sentOnHop_ == result.redirects, overCap_, httpUrl, headerBytes});
    if (result.ok())
        result.body = std::move(body_);
    else
        result.errorText = QString::fromUtf8(errorText_[0] ? errorText_ : curl_easy_strerror(code));
    // A proxy's refusal or a proxy that cannot be found says nothing of the page's own host.
    long tunnelStatus = 0;
    curl_easy_getinfo(h, CURLINFO_HTTP_CONNECTCODE, &tunnelStatus);
    if (!result.ok() && tunnelStatus >= 300) {
        result.error = FetchError::Other;
        result.errorText = QStringLiteral("代理服务器拒绝连接（HTTP %1）").arg(tunnelStatus);
    } else if (code == CURLE_COULDNT_RESOLVE_PROXY) {
        result.error = FetchError::Other;
        result.errorText = QStringLiteral("代理服务器的域名无法解析");
    }
    return result;
}

} // namespace vantorel
