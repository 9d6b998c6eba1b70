#include "Network.h"

#include <curl/curl.h>

#include <sys/resource.h>

#include <algorithm>

namespace vantorel {

namespace {

// The engine keeps up to four connections per transfer in flight, open or kept for reuse. The
// reserve covers the name lookups in progress (a socket pair each), the event loop, the
// standard streams and the files a run reads or writes.
constexpr rlim_t kDescriptorsPerJob = 4;
constexpr rlim_t kReservedDescriptors = 128;

} // namespace

bool InitNetwork()
{
    return curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
}

CaStore ChooseCaStore(const CaStore &library, const std::function<QByteArray(const char *)> &environment)
{
    QByteArray file = environment("CURL_CA_BUNDLE");
    if (file.isEmpty())
        file = environment("SSL_CERT_FILE");
    if (!file.isEmpty())
        return {file, {}};
    if (QByteArray directory = environment("SSL_CERT_DIR"); !directory.isEmpty())
        return {library.file, directory};
    return {library.file, library.file.isEmpty() ? library.directory : QByteArray()};
}

CaStore TransferCaStore()
{
    static const CaStore library = [] {
        CaStore defaults;
        if (CURL *probe = curl_easy_init()) {
            char *file = nullptr;
            char *directory = nullptr;
            if (curl_easy_getinfo(probe, CURLINFO_CAINFO, &file) == CURLE_OK && file)
                defaults.file = file;
            if (curl_easy_getinfo(probe, CURLINFO_CAPATH, &directory) == CURLE_OK && directory)
                defaults.directory = directory;
            curl_easy_cleanup(probe);
        }
        return defaults;
    }();
    return ChooseCaStore(library, [](const char *name) { return qgetenv(name); });
}

DescriptorBudget RaiseDescriptorLimit(int jobs)
{
    rlimit limit{};
    if (jobs < 1 || ::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return {jobs, {}};
    const rlim_t needed = static_cast<rlim_t>(jobs) * kDescriptorsPerJob + kReservedDescriptors;
    if (limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur >= needed)
        return {jobs, {}};
    rlimit raised = limit;
    raised.rlim_cur = limit.rlim_max == RLIM_INFINITY ? needed : std::min(needed, limit.rlim_max);
    if (raised.rlim_cur > limit.rlim_cur && ::setrlimit(RLIMIT_NOFILE, &raised) == 0)
        limit = raised;
    if (limit.rlim_cur >= needed)
        return {jobs, {}};
    const rlim_t room = limit.rlim_cur > kReservedDescriptors ? limit.rlim_cur - kReservedDescriptors : 0;
    const int fit = static_cast<int>(std::max<rlim_t>(1, room / kDescriptorsPerJob));
    return {fit, QStringLiteral("可同时打开的文件数上限为 %1，不够同时检查 %2 个网页，改为同时检查 %3 个。")
                     .arg(limit.rlim_cur)
                     .arg(jobs)
                     .arg(fit)};
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

} // namespace vantorel
