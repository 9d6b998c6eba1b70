#include "Charset.h"
#include "DecodeBody.h"

#include <benchmark/benchmark.h>

#include <unicode/ucnv.h>

#include <iconv.h>

#include <chrono>
#include <initializer_list>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

using namespace vantorel;

namespace {

constexpr size_t kPageBytes = 1024 * 1024;

// Sentences in the given encoding, by ICU.
std::vector<std::string> Encode(const char *encoding, std::initializer_list<const char16_t *> sentences)
{
    UErrorCode status = U_ZERO_ERROR;
    UConverter *converter = ucnv_open(encoding, &status);
    std::vector<std::string> encoded;
    for (const char16_t *sentence : sentences) {
        char out[512];
        const int32_t length = ucnv_fromUChars(converter, out, sizeof out, sentence, -1, &status);
        encoded.emplace_back(out, static_cast<size_t>(length));
    }
    ucnv_close(converter);
    if (U_FAILURE(status))
        throw std::runtime_error(u_errorName(status));
    return encoded;
}

// Result-page markup with Chinese text runs, the same every run.
std::string MakeMarkupPage(const char *encoding)
{
    const std::vector<std::string> encoded = Encode(encoding, {
        u"\u4E2D\u6587\u7F51\u9875\u7684\u6807\u9898\u548C\u6458\u8981",
        u"\u4ECA\u5929\u5929\u6C14\u5F88\u597D\uFF0C\u6211\u4EEC\u53BB\u516C\u56ED\u6563\u6B65\u3002",
        u"\u641C\u7D22\u7ED3\u679C\u7B2C\u4E00\u9875",
        u"\u767E\u5EA6\u4E00\u4E0B\uFF0C\u4F60\u5C31\u77E5\u9053",
        u"\u5173\u4E8E\u6211\u4EEC | \u8054\u7CFB\u65B9\u5F0F | \u7F51\u7AD9\u5730\u56FE",
        u"\u6570\u636E\u5206\u6790\u4E0E\u94FE\u63A5\u7EDF\u8BA1",
    });
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

// An article: paragraphs of Chinese sentences, hardly any ASCII.
std::string MakeProsePage(const char *encoding)
{
    const std::vector<std::string> encoded = Encode(encoding, {
        u"\u4ECA\u5929\u5929\u6C14\u5F88\u597D\uFF0C\u6211\u4EEC\u53BB\u516C\u56ED\u6563\u6B65\u3002",
        u"\u7F51\u7AD9\u7684\u5916\u94FE\u6570\u91CF\u662F\u8861\u91CF\u5176\u5F71\u54CD\u529B\u7684"
        u"\u91CD\u8981\u6307\u6807\u4E4B\u4E00\u3002",
        u"\u5F88\u591A\u7AD9\u957F\u6BCF\u5929\u90FD\u4F1A\u68C0\u67E5\u53CB\u60C5\u94FE\u63A5\u662F"
        u"\u5426\u4F9D\u7136\u6709\u6548\uFF0C\u4EE5\u514D\u6392\u540D\u4E0B\u964D\u3002",
        u"\u201C\u5185\u5BB9\u4E3A\u738B\u201D\uFF0C\u8FD9\u53E5\u8BDD\u5728\u641C\u7D22\u5F15\u64CE"
        u"\u4F18\u5316\u754C\u5E7F\u4E3A\u6D41\u4F20\u3002",
        u"\u5982\u679C\u4E00\u4E2A\u9875\u9762\u957F\u671F\u65E0\u6CD5\u8BBF\u95EE\uFF0C\u6307\u5411"
        u"\u5B83\u7684\u94FE\u63A5\u4E5F\u5C31\u5931\u53BB\u4E86\u4EF7\u503C\uFF1B",
        u"\u56E0\u6B64\uFF0C\u5B9A\u671F\u5206\u6790\u53CD\u5411\u94FE\u63A5\u662F\u6BCF\u4F4D\u7F51"
        u"\u7AD9\u7BA1\u7406\u5458\u7684\u5FC5\u4FEE\u8BFE\u3002",
    });
    std::mt19937 random(7);
    std::string page;
    while (page.size() < kPageBytes) {
        page += "<p>";
        for (int n = 4 + static_cast<int>(random() % 8); n > 0; --n)
            page += encoded[random() % encoded.size()];
        page += "</p>\n";
    }
    page.resize(page.rfind('\n', kPageBytes - 1) + 1);
    return page;
}

void RunDecodeBody(benchmark::State &state, const std::string &page, const char16_t *charset)
{
    const QByteArrayView bytes(page.data(), static_cast<qsizetype>(page.size()));
    DecodeBody(bytes, charset); // builds the pair table outside the timing
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

// glibc's iconv, GB18030 to UTF-16 as DecodeBody gives it.
void RunIconv(benchmark::State &state, const std::string &page)
{
    const iconv_t converter = iconv_open("UTF-16LE", "GB18030");
    if (converter == reinterpret_cast<iconv_t>(-1)) {
        state.SkipWithError("iconv_open failed");
        return;
    }
    std::vector<char> out(page.size() * 2 + 16);
    for (auto _ : state) {
        iconv(converter, nullptr, nullptr, nullptr, nullptr);
        char *in = const_cast<char *>(page.data());
        size_t inLeft = page.size();
        char *target = out.data();
        size_t outLeft = out.size();
        if (iconv(converter, &in, &inLeft, &target, &outLeft) == static_cast<size_t>(-1))
            state.SkipWithError("iconv failed");
        benchmark::DoNotOptimize(target);
        benchmark::ClobberMemory();
    }
    iconv_close(converter);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(page.size()));
}

const std::string &MarkupPage()
{
    static const std::string page = MakeMarkupPage("gb18030");
    return page;
}

const std::string &ProsePage()
{
    static const std::string page = MakeProsePage("gb18030");
    return page;
}

const std::string &Utf8Page()
{
    static const std::string page = MakeMarkupPage("UTF-8");
    return page;
}

// The first 1,024 bytes of a portal page: links, scripts and a comment before the <meta>, which
// ends at the last byte, so the prescan reads the whole window.
std::string MakeHead()
{
    std::string head = "<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Transitional//EN\" "
                       "\"http://www.w3.org/TR/xhtml1/DTD/xhtml1-transitional.dtd\">\n"
                       "<html xmlns=\"http://www.w3.org/1999/xhtml\"><head>\n";
    for (int i = 0; i < 4; ++i)
        head += "<link rel=\"stylesheet\" type=\"text/css\" href=\"/css/style" + std::to_string(i) + ".css?v=20230501\" />\n";
    head += "<script type=\"text/javascript\">var w = window.innerWidth; if (w<1000 && w>0) { "
            "document.write('<link rel=stylesheet href=/css/narrow.css>'); }</script>\n"
            "<script type=\"text/javascript\" src=\"/js/jquery.min.js\"></script>\n"
            "<meta name=\"keywords\" content=\"\u53cb\u60c5\u94fe\u63a5,\u7f51\u7ad9\" />\n<!-- ";
    const std::string meta = " --><meta http-equiv=\"Content-Type\" content=\"text/html; charset=gb2312\" />";
    head.append(1024 - head.size() - meta.size(), '=');
    return head + meta;
}

// Target: under 20 us a head on average, else the benchmark reports an error.
void BM_PrescanHead(benchmark::State &state)
{
    static const std::string head = MakeHead();
    const QByteArrayView bytes(head.data(), static_cast<qsizetype>(head.size()));
    if (head.size() != 1024 || PrescanEncoding(bytes) != QStringLiteral("GBK")) {
        state.SkipWithError("the head is not 1,024 bytes with its <meta> at the end");
        return;
    }
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state)
        benchmark::DoNotOptimize(PrescanEncoding(bytes));
    const std::chrono::duration<double, std::micro> elapsed = std::chrono::steady_clock::now() - start;
    if (elapsed.count() / static_cast<double>(state.iterations()) > 20)
        state.SkipWithError("slower than 20 us a head");
}

// What DecodePage adds for a page without a <meta>: the look for one through all of it.
void BM_FirstMetaMarkup(benchmark::State &state)
{
    const std::string &page = MarkupPage();
    const QByteArrayView bytes(page.data(), static_cast<qsizetype>(page.size()));
    for (auto _ : state)
        benchmark::DoNotOptimize(FirstMetaEncoding(bytes));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(page.size()));
}

void BM_DecodeBodyMarkup(benchmark::State &state) { RunDecodeBody(state, MarkupPage(), u"gb2312"); }
void BM_IcuWindows936Markup(benchmark::State &state) { RunIcu(state, MarkupPage(), "windows-936"); }
void BM_IcuGb18030Markup(benchmark::State &state) { RunIcu(state, MarkupPage(), "gb18030"); }
void BM_IconvGb18030Markup(benchmark::State &state) { RunIconv(state, MarkupPage()); }
void BM_DecodeBodyProse(benchmark::State &state) { RunDecodeBody(state, ProsePage(), u"gb2312"); }
void BM_IcuWindows936Prose(benchmark::State &state) { RunIcu(state, ProsePage(), "windows-936"); }
void BM_IcuGb18030Prose(benchmark::State &state) { RunIcu(state, ProsePage(), "gb18030"); }
void BM_IconvGb18030Prose(benchmark::State &state) { RunIconv(state, ProsePage()); }
void BM_DecodeBodyUtf8(benchmark::State &state) { RunDecodeBody(state, Utf8Page(), u"UTF-8"); }
void BM_IcuUtf8(benchmark::State &state) { RunIcu(state, Utf8Page(), "UTF-8"); }

} // namespace

BENCHMARK(BM_DecodeBodyMarkup);
BENCHMARK(BM_IcuWindows936Markup);
BENCHMARK(BM_IcuGb18030Markup);
BENCHMARK(BM_IconvGb18030Markup);
BENCHMARK(BM_DecodeBodyProse);
BENCHMARK(BM_IcuWindows936Prose);
BENCHMARK(BM_IcuGb18030Prose);
BENCHMARK(BM_IconvGb18030Prose);
BENCHMARK(BM_DecodeBodyUtf8);
BENCHMARK(BM_IcuUtf8);
BENCHMARK(BM_PrescanHead);
BENCHMARK(BM_FirstMetaMarkup);
