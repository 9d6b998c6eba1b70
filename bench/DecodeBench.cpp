#include "DecodeBody.h"

#include <benchmark/benchmark.h>

#include <unicode/ucnv.h>

#include <array>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr size_t kPageBytes = 1024 * 1024;

// Result-page markup with Chinese text runs, the same every run, encoded by ICU.
std::string MakePage(const char *encoding)
{
    static constexpr std::array<const char16_t *, 6> sentences = {
        u"\u4E2D\u6587\u7F51\u9875\u7684\u6807\u9898\u548C\u6458\u8981",
        u"\u4ECA\u5929\u5929\u6C14\u5F88\u597D\uFF0C\u6211\u4EEC\u53BB\u516C\u56ED\u6563\u6B65\u3002",
        u"\u641C\u7D22\u7ED3\u679C\u7B2C\u4E00\u9875",
        u"\u767E\u5EA6\u4E00\u4E0B\uFF0C\u4F60\u5C31\u77E5\u9053",
        u"\u5173\u4E8E\u6211\u4EEC | \u8054\u7CFB\u65B9\u5F0F | \u7F51\u7AD9\u5730\u56FE",
        u"\u6570\u636E\u5206\u6790\u4E0E\u94FE\u63A5\u7EDF\u8BA1",
    };
    UErrorCode status = U_ZERO_ERROR;
    UConverter *converter = ucnv_open(encoding, &status);
    std::vector<std::string> encoded;
    for (const char16_t *sentence : sentences) {
        char out[256];
        const int32_t length = ucnv_fromUChars(converter, out, sizeof out, sentence, -1, &status);
        encoded.emplace_back(out, static_cast<size_t>(length));
    }
    ucnv_close(converter);
    if (U_FAILURE(status))
        throw std::runtime_error(u_errorName(status));

    std::mt19937 random(42);
    std::string page = "<!DOCTYPE html><html><head><title>results</title></head><body>\n";
    while (page.size() < kPageBytes) {
        const std::string &text = encoded[random() % encoded.size()];
        const std::string id = std::to_string(random() % 100000);
        page += "<div class=\"result c-container\" id=\"" + id + "\"><h3 class=\"t\"><a href=\"" +
                "http://www.example.com/link?url=" + id + "&amp;wd=\" target=\"_blank\">" + text +
                "</a></h3>\n<div class=\"c-abstract\">" + text + encoded[random() % encoded.size()] +
                "</div><span class=\"g\">www.example.com/" + id + "/ 2023-05-01</span></div>\n";
    }
    page.resize(page.rfind('\n', kPageBytes - 1) + 1); // whole lines: no cut-off character
    return page;
}

void RunDecodeBody(benchmark::State &state, const std::string &page, const char16_t *charset)
{
    const QByteArrayView bytes(page.data(), static_cast<qsizetype>(page.size()));
    CharFromBytePair(0xD6, 0xD0); // builds the pair table outside the timing
    for (auto _ : state)
        benchmark::DoNotOptimize(DecodeBody(bytes, charset));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(page.size()));
}

void RunIcu(benchmark::State &state, const std::string &page, const char *encoding)
{
    UErrorCode status = U_ZERO_ERROR;
    UConverter *converter = ucnv_open(encoding, &status);
    std::vector<UChar> out(page.size() + 1);
    for (auto _ : state) {
        status = U_ZERO_ERROR;
        ucnv_reset(converter);
        benchmark::DoNotOptimize(ucnv_toUChars(converter, out.data(), static_cast<int32_t>(out.size()),
                                               page.data(), static_cast<int32_t>(page.size()), &status));
        benchmark::ClobberMemory();
    }
    if (U_FAILURE(status))
        state.SkipWithError(u_errorName(status));
    ucnv_close(converter);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(page.size()));
}

const std::string &GbkPage()
{
    static const std::string page = MakePage("windows-936");
    return page;
}

const std::string &Utf8Page()
{
    static const std::string page = MakePage("UTF-8");
    return page;
}

void BM_DecodeBodyPairs(benchmark::State &state) { RunDecodeBody(state, GbkPage(), u"gb2312"); }
void BM_IcuWindows936(benchmark::State &state) { RunIcu(state, GbkPage(), "windows-936"); }
void BM_DecodeBodyUtf8(benchmark::State &state) { RunDecodeBody(state, Utf8Page(), u"UTF-8"); }
void BM_IcuUtf8(benchmark::State &state) { RunIcu(state, Utf8Page(), "UTF-8"); }

} // namespace

BENCHMARK(BM_DecodeBodyPairs);
BENCHMARK(BM_IcuWindows936);
BENCHMARK(BM_DecodeBodyUtf8);
BENCHMARK(BM_IcuUtf8);
