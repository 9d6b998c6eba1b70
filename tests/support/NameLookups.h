#pragma once

#include <chrono>
#include <string>

namespace vantorel {

// Host names h<N>.pages.test stand for 127.0.0.<N> in any program that links this: the
// program's own getaddrinfo, which curl's lookup threads call, answers them after a DNS
// server's time and counts every lookup. Other names go to the system's resolver.
namespace NameLookups {

constexpr std::chrono::milliseconds kLookupTime{20};

// "hN.pages.test" for 127.0.0.N; the address given must be of that form.
std::string NameFor(const std::string &address);
// "http://127.0.0.N:port/path" written with the host's name instead.
std::string WithName(const std::string &url);

void Reset();
int Count();  // lookups since Reset()
int AtOnce(); // most lookups in progress at one time since Reset()

} // namespace NameLookups

} // namespace vantorel
