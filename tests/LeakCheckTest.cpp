// Fetching, decoding and reading result pages over and over must leave nothing behind: under
// the asan preset LeakSanitizer checks the heap when the program ends, and in every build the
// resident set must stay flat once the first cycles have warmed up the allocators.

#include "LoopbackServer.h"
#include "ResultPages.h"

#include <BacklinkAnalysis.h>
#include <FetchPage.h>

#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

using namespace vantorel;

#if defined(__SANITIZE_ADDRESS__)
extern "C" void __sanitizer_purge_allocator();

// Freed blocks wait in AddressSanitizer's quarantine (256 MiB by default) before reuse, and
// the allocator keeps much of what passed through it: a small one keeps the resident set
// about live memory.
extern "C" const char *__asan_default_options()
{
    return "quarantine_size_mb=8";
}
#endif

namespace {

// Resident set in bytes, with the sanitizer's quarantine emptied first.
long ResidentBytes()
{
#if defined(__SANITIZE_ADDRESS__)
    __sanitizer_purge_allocator();
#endif
    std::ifstream statm("/proc/self/statm");
    long size = 0;
    long resident = 0;
    statm >> size >> resident;
    return resident * sysconf(_SC_PAGESIZE);
}

TEST(LeakCheck, FetchDecodeParseCyclesKeepTheResidentSetFlat)
{
    std::vector<SearchResult> results;
    for (int i = 0; i < 50; ++i)
        results.push_back({QStringLiteral("www.site%1.cn/page.html").arg(i), i % 7 == 3});
    // Engine pages carry some 100 KiB of inline script besides the results.
    const std::string body = GbkBytes(SearchResultPage(QStringLiteral("约1,234"), results) +
                                      QStringLiteral("<script>%1</script>").arg(QString(100 * 1024, u'x')));

    BacklinkAnalysis analysis;
    // A server per cycle: a server keeps each finished connection's thread until it stops.
    const auto cycle = [&] {
        LoopbackServer engine(LoopbackServer::Pages({{"/s", {200, body, ""}}}));
        std::optional<QString> page = FetchPage(engine.url("/s"), u"gb2312");
        ASSERT_TRUE(page);
        analysis.ParseSearchResults(*page, QStringLiteral("example.com"));
        ASSERT_EQ(analysis.Rows().size(), 50u - 7);
    };

    for (int i = 0; i < 20; ++i)
        ASSERT_NO_FATAL_FAILURE(cycle());
    const long warm = ResidentBytes();
    for (int i = 20; i < 200; ++i)
        ASSERT_NO_FATAL_FAILURE(cycle());
    const long after = ResidentBytes();

    std::cout << "resident set: " << warm / 1024 << " KiB after 20 cycles, " << after / 1024
              << " KiB after 200" << std::endl;
    // Keeping one page per cycle (its bytes alone are ~130 KiB) would add over 20 MiB in 180
    // cycles; allocator noise stays within a few MiB.
    EXPECT_LT(after - warm, 8L * 1024 * 1024);
}

} // namespace
