#include "NameLookups.h"

#include <dlfcn.h>
#include <netdb.h>

#include <atomic>
#include <cstring>
#include <string_view>
#include <thread>

namespace {

constexpr std::string_view kPrefix = "h";
constexpr std::string_view kSuffix = ".pages.test";

std::atomic<int> gCount{0};
std::atomic<int> gNow{0};
std::atomic<int> gPeak{0};

} // namespace

extern "C" int getaddrinfo(const char *node, const char *service, const addrinfo *hints, addrinfo **result)
{
    using Real = int (*)(const char *, const char *, const addrinfo *, addrinfo **);
    static const auto real = reinterpret_cast<Real>(::dlsym(RTLD_NEXT, "getaddrinfo"));
    const std::string_view name = node ? node : "";
    if (name.size() <= kPrefix.size() + kSuffix.size() || !name.starts_with(kPrefix) || !name.ends_with(kSuffix))
        return real(node, service, hints, result);
    ++gCount;
    const int now = ++gNow;
    for (int peak = gPeak; now > peak && !gPeak.compare_exchange_weak(peak, now);) {
    }
    std::this_thread::sleep_for(vantorel::NameLookups::kLookupTime);
    --gNow;
    const std::string address =
        "127.0.0." + std::string(name.substr(kPrefix.size(), name.size() - kPrefix.size() - kSuffix.size()));
    return real(address.c_str(), service, hints, result);
}

namespace vantorel::NameLookups {

std::string NameFor(const std::string &address)
{
    return std::string(kPrefix) + address.substr(std::strlen("127.0.0.")) + std::string(kSuffix);
}

std::string WithName(const std::string &url)
{
    const size_t host = url.find("://") + 3;
    const size_t end = url.find_first_of(":/", host);
    return url.substr(0, host) + NameFor(url.substr(host, end - host)) + url.substr(end);
}

void Reset()
{
    gCount = 0;
    gPeak = 0;
}

int Count()
{
    return gCount;
}

int AtOnce()
{
    return gPeak;
}

} // namespace vantorel::NameLookups
